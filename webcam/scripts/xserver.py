"""Polling and a private X server, for the demo and the tests alike."""
import os
import subprocess
import time


class Timeout(AssertionError):
    """What was waited for did not happen in time (a test failure in tests)."""


def wait_for(what, predicate, timeout=10.0, period=0.02):
    """Polls predicate until it returns something true, and returns that."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(period)
    raise Timeout('timed out waiting for ' + what)


def display_free(num):
    """Whether no live X server holds display num. A server killed hard
    leaves its lock file and socket behind: those are cleared here (as the X
    server itself would), so that stale ones never use the displays up."""
    lock, socket = '/tmp/.X%d-lock' % num, '/tmp/.X11-unix/X%d' % num
    try:
        with open(lock) as f:
            pid = int(f.read().strip())
    except FileNotFoundError:
        return True
    except (ValueError, OSError):
        return False
    if os.path.exists('/proc/%d' % pid):
        return False
    for stale in (lock, socket):
        try:
            os.remove(stale)
        except FileNotFoundError:
            pass
    return True


def free_display(first=50):
    """The first free display number from first on."""
    return next(n for n in range(first, 1000) if display_free(n))


def start_xvfb(spawn=subprocess.Popen, first=50):
    """Starts Xvfb on the first free display from :first on, big enough for
    the viewer's window with Qt's toolbar; returns the process and the
    display name once the server accepts connections."""
    num = free_display(first)
    proc = spawn(['Xvfb', ':%d' % num, '-screen', '0', '1920x1080x24', '-nolisten', 'tcp'],
                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for('Xvfb', lambda: os.path.exists('/tmp/.X11-unix/X%d' % num))
    return proc, ':%d' % num


def _find(window, name):
    from Xlib import X
    for child in window.query_tree().children:
        if child.get_wm_name() in (name, name.encode()) and child.get_attributes().map_state == X.IsViewable:
            return child
        found = _find(child, name)
        if found:
            return found
    return None


def find_window(name, display=None):
    """The id of the viewable window called name, on display (default
    $DISPLAY), or None. A closed window's X resource can linger unmapped."""
    return _on_window(name, display, lambda window: window.id)


def window_image(name, display=None):
    """That window's pixels as (width, height, bytes of B, G, R, unused per
    pixel, row after row), or None while there is no such window."""
    from Xlib import X

    def grab(window):
        geometry = window.get_geometry()
        w, h = geometry.width, geometry.height
        return w, h, window.get_image(0, 0, w, h, X.ZPixmap, 0xffffffff).data
    return _on_window(name, display, grab)


def _on_window(name, display, action):
    """action(window) for the window called name, or None when there is no
    display, no such window, or it goes while being looked at."""
    from Xlib import display as xdisplay, error
    try:
        d = xdisplay.Display(display)
    except error.DisplayError:
        return None
    try:
        window = _find(d.screen().root, name)
        return action(window) if window is not None else None
    except error.XError:
        return None
    finally:
        d.close()


def save_window(name, path):
    """Saves the window called name, on $DISPLAY, as a PNG file; returns its
    width and height, or None while there is no such window. Plain
    python3-xlib and zlib: no image library needed."""
    import struct
    import zlib
    shot = window_image(name)
    if shot is None:
        return None
    w, h, pixels = shot
    rows = bytearray()
    for y in range(h):
        line, rgb = pixels[4 * w * y:4 * w * (y + 1)], bytearray(3 * w)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        rows += b'\0' + rgb

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) +
                chunk(b'IDAT', zlib.compress(bytes(rows))) + chunk(b'IEND', b''))
    return w, h
