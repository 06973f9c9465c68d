"""End-to-end test harness: a ROS master on a free port, an X server
(Xvfb) on a free display, and the viewer as a real process whose stdout is
collected byte by byte. Everything started here is torn down at exit, also
when a test fails."""
import atexit
import os
import re
import signal
import socket
import subprocess
import tempfile
import sys
import threading
import time

import cv2
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts'))
import xserver  # noqa: E402
from xserver import free_display, start_xvfb, wait_for  # noqa: E402

DEVEL = os.environ.get('WEBCAM_DEVEL', os.path.join(os.path.dirname(__file__), '../../build/devel'))
LIB = os.path.join(DEVEL, 'lib', 'webcam')
WINDOW = 'camera_window'
_started = []


def _cleanup():
    """SIGTERM first, so that an X server or master can tidy up after
    itself; SIGKILL for whatever is still there a few seconds later."""
    live = [p for p in reversed(_started) if p.poll() is None]
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for proc in live:
            try:
                os.killpg(proc.pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 3
        for proc in live:
            try:
                proc.wait(max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                pass
        live = [p for p in live if p.poll() is None]


atexit.register(_cleanup)


def _spawn(cmd, **kw):
    proc = subprocess.Popen(cmd, start_new_session=True, **kw)
    _started.append(proc)
    return proc


def interrupt(proc, timeout=20.0):
    """SIGINT, as Ctrl-C would; SIGKILL if proc is still there after timeout."""
    proc.send_signal(signal.SIGINT)
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def _free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


_master = []


def start_master():
    """A master on the port of ROS_MASTER_URI (rosmaster alone: no rosout)."""
    port = os.environ['ROS_MASTER_URI'].rsplit(':', 1)[1]
    _master[:] = [_spawn(['rosmaster', '--core', '-p', port], stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)]
    import rosgraph
    wait_for('the master', lambda: rosgraph.is_master_online())


def stop_master():
    """Kills the master; everything it knew is gone with it."""
    proc = _master[0]
    os.killpg(proc.pid, signal.SIGKILL)
    proc.wait()
    import rosgraph
    wait_for('the master to go', lambda: not rosgraph.is_master_online())


def start_graph(display=False):
    """Starts a master (and Xvfb) and points this process's environment at
    them, before rospy is initialised."""
    home = tempfile.mkdtemp(prefix='orlin-e2e-')
    port = _free_port()
    os.environ.update(ROS_MASTER_URI='http://127.0.0.1:%d' % port, ROS_HOME=home,
                      ROS_LOG_DIR=home, XDG_RUNTIME_DIR=home, ROS_IP='127.0.0.1')
    os.chmod(home, 0o700)
    start_master()
    if display:
        _, os.environ['DISPLAY'] = start_xvfb(_spawn, first=90)
    import rospy
    rospy.init_node('e2e_test', anonymous=True, disable_signals=True)


class Viewer:
    """The viewer as a process (or cmd: a launch that runs it); stdout is
    gathered as it comes, each '#' stamped in marks."""

    def __init__(self, program='orlin', env=None, args=(), wait=True, prefix=(), timeout=10.0, cmd=None):
        cmd = cmd or list(prefix) + [os.path.join(LIB, program)] + list(args)
        self.proc = _spawn(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self._out = bytearray()
        self._err = bytearray()
        self.marks = []
        self._readers = [threading.Thread(target=self._read, args=(self.proc.stdout, self._out), daemon=True),
                         threading.Thread(target=self._read, args=(self.proc.stderr, self._err), daemon=True)]
        for r in self._readers:
            r.start()
        if wait:
            wait_for('/camera_viewer to register', self.registered, timeout)

    def _read(self, stream, into):
        while True:
            chunk = os.read(stream.fileno(), 65536)
            if not chunk:
                return
            if into is self._out:
                self.marks += [time.time()] * chunk.count(b'#')
            into.extend(chunk)

    @staticmethod
    def registered():
        import rosgraph
        pubs, subs, services = rosgraph.Master('/e2e').getSystemState()
        subscribed = any(t == '/image' and '/camera_viewer' in n for t, n in subs)
        return subscribed and any(s == '/webcam_set' for s, _ in services)

    @property
    def out(self):
        return bytes(self._out).decode('latin-1')

    @property
    def err(self):
        return bytes(self._err).decode('latin-1')

    def wait_chars(self, count, timeout=10.0):
        try:
            wait_for('%d characters on stdout' % count, lambda: len(self._out) >= count, timeout)
        except AssertionError as e:
            raise AssertionError('%s (have %d: ...%r)' % (e, len(self._out), self.out[-20:])) from None
        return self.out

    def frame_callbacks(self):
        """The count a sanitized viewer reports at exit."""
        found = re.findall(r'camera_viewer: (\d+) frame callbacks', self.err)
        return int(found[-1]) if found else None

    def stop(self, timeout=20.0, sig=signal.SIGINT):
        """SIGINT, as Ctrl-C would (or sig); returns the exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            rc = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            rc = self.proc.wait()
        for r in self._readers:
            r.join(5)
        return rc


def asan_env(**extra):
    """The environment for the sanitized viewer: stop at the first report;
    leaks are a matter for the runs that check them."""
    return dict(os.environ, ASAN_OPTIONS='detect_leaks=0:halt_on_error=1', **extra)


def source(node=None, **params):
    """image_source with its private parameters, e.g. source(width=320, rate=30);
    node names it (private parameters outlive a node on the master)."""
    return _spawn([os.path.join(LIB, 'image_source')] + (['__name:=' + node] if node else []) +
                  ['_%s:=%s' % kv for kv in params.items()],
                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def raw_class(msg_class):
    """A message class that goes on the wire as msg_class but carries bytes
    given to it (serialized beforehand, or malformed on purpose)."""
    import genpy

    class Raw(genpy.Message):
        _md5sum, _type, _full_text = msg_class._md5sum, msg_class._type, msg_class._full_text
        _has_header = False
        __slots__ = ['raw']
        _slot_types = ['string']

        def __init__(self, raw=b''):
            self.raw = raw

        def serialize(self, buff):
            buff.write(self.raw)
    return Raw


def wire(msg):
    """msg's bytes on the wire."""
    import io
    buff = io.BytesIO()
    msg.serialize(buff)
    return buff.getvalue()


def graph_state():
    """(publishers, subscribers, services) as {name: [nodes]} from the master."""
    import rosgraph
    return [dict(part) for part in rosgraph.Master('/e2e').getSystemState()]


def rss_kib(pid):
    with open('/proc/%d/status' % pid) as f:
        return int(re.search(r'VmRSS:\s+(\d+)', f.read()).group(1))


class Frames:
    """A rospy publisher on /image that sends one frame at a time and waits
    for the viewer's character, so the queue of 2 never drops one."""

    def __init__(self, viewer):
        import rospy
        from image_msgs.msg import Image
        self.viewer = viewer
        self.pub = rospy.Publisher('/image', Image, queue_size=10)
        wait_for('the viewer to connect to /image', lambda: self.pub.get_num_connections() > 0)
        # rospy counts the link before roscpp has finished its side of the
        # handshake; a frame sent at once can be lost, and nothing tells when.
        time.sleep(0.5)

    def send(self, msg, timeout=10.0):
        before = len(self.viewer.out)
        self.pub.publish(msg)
        return self.viewer.wait_chars(before + 1, timeout)[before:]


def image_msg(frame, encoding='bgr', depth=None):
    """image_msgs/Image carrying a numpy frame (H x W x C)."""
    from image_msgs.msg import Image
    from std_msgs.msg import MultiArrayDimension
    if frame.ndim == 2:
        frame = frame[:, :, None]
    h, w, c = frame.shape
    msg = Image(encoding=encoding, depth=depth or {np.uint8: 'uint8', np.uint16: 'uint16'}[frame.dtype.type])
    array = msg.uint8_data if frame.dtype == np.uint8 else msg.uint16_data
    array.layout.dim = [MultiArrayDimension('height', h, h * w * c), MultiArrayDimension('width', w, w * c),
                        MultiArrayDimension('channel', c, c)]
    array.data = frame.tobytes() if frame.dtype == np.uint8 else frame.flatten().tolist()
    return msg


def rosservice(name, args=None):
    """Calls a service with the real rosservice tool; returns its YAML answer."""
    import yaml
    cmd = ['rosservice', 'call', name] + ([args] if args is not None else [])
    out = subprocess.run(cmd, check=True, capture_output=True, text=True, timeout=30).stdout
    return yaml.safe_load(out)


def window_id(display=None):
    """The viewer's window while it is on the screen, as a hex id, on
    display or this process's own."""
    wid = xserver.find_window(WINDOW, display)
    return None if wid is None else hex(wid)


def screenshot():
    """The viewer's window as a B, G, R array, or None."""
    shot = xserver.window_image(WINDOW)
    if shot is None:
        return None
    w, h, pixels = shot
    return np.ascontiguousarray(np.frombuffer(pixels, np.uint8).reshape(h, w, 4)[:, :, :3])


def canvas(expected):
    """The 640 x 480 region of the window that best matches expected (Qt puts
    a toolbar around the image), or None."""
    shot = screenshot()
    if shot is None or shot.shape[0] < 480 or shot.shape[1] < 640:
        return None
    score = cv2.matchTemplate(shot, expected, cv2.TM_SQDIFF)
    _, _, (x, y), _ = cv2.minMaxLoc(score)
    return shot[y:y + 480, x:x + 640]


def wait_canvas(expected, tolerance=1, timeout=10.0):
    """Waits until the window shows expected within tolerance per sample;
    returns the largest difference last seen."""
    last = [None]

    def shows():
        got = canvas(expected)
        if got is None:
            return False
        last[0] = int(np.abs(got.astype(int) - expected.astype(int)).max())
        return last[0] <= tolerance
    try:
        wait_for('the window to show the frame', shows, timeout, period=0.1)
    except AssertionError:
        pass
    return last[0]


def close_like_a_user(wid):
    """Sends the window manager's close request (WM_DELETE_WINDOW), as the
    title bar's close button does."""
    from Xlib import X, display, protocol
    d = display.Display()
    window = d.create_resource_object('window', int(wid, 16))
    protocols = d.intern_atom('WM_PROTOCOLS')
    event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                         data=(32, [d.intern_atom('WM_DELETE_WINDOW'), X.CurrentTime, 0, 0, 0]))
    window.send_event(event, event_mask=X.NoEventMask)
    d.flush()
    d.close()


def close_window(timeout=10.0):
    """Closes the viewer's window as a user would, clicking close again when
    nothing happens: under heavy load Qt at times does not act on the first
    request."""
    def closed():
        wid = window_id()
        if wid is None:
            return True
        close_like_a_user(wid)
        return wait_for_quietly(lambda: window_id() is None, 1.0)
    wait_for('the window to close', closed, timeout, period=0)


def wait_for_quietly(predicate, timeout):
    try:
        return wait_for('', predicate, timeout)
    except AssertionError:
        return False


def cover_and_uncover(wid, seconds=0.5):
    """Maps a black window over the viewer's and takes it away again: the
    viewer must repaint what was under it."""
    from Xlib import X, display
    d = display.Display()
    target = d.create_resource_object('window', int(wid, 16)).get_geometry()
    screen = d.screen()
    cover = screen.root.create_window(0, 0, 1920, 1080, 0, screen.root_depth, X.InputOutput, X.CopyFromParent,
                                      background_pixel=screen.black_pixel, override_redirect=True)
    cover.map()
    d.sync()
    time.sleep(seconds)
    cover.destroy()
    d.sync()
    d.close()
    return target

