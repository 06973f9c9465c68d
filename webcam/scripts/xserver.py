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
