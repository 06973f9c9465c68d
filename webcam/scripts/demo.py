#!/usr/bin/env python3
"""The viewer on the built-in test pattern, shown.

With a display it leaves the window open until Ctrl-C. Without one it runs
under Xvfb, saves a screenshot of the window, OUT/camera_window.png (the
window is just the 640 x 480 canvas), and stops.
"""
import os
import signal
import subprocess
import sys
import time

from xserver import Timeout, save_window, start_xvfb, wait_for

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.getcwd(), 'build', 'demo')


def service_up(launch):
    if launch.poll() is not None:
        sys.exit('demo: roslaunch ended (status %d) before the viewer came up; its output is above' % launch.returncode)
    listed = subprocess.run(['rosservice', 'list'], capture_output=True, text=True).stdout
    return '/webcam_show' in listed.split()


def interrupt(signum, frame):
    raise KeyboardInterrupt


def main():
    # Ctrl-C or a plain kill stops the viewer cleanly, however the demo was
    # started (a shell's background job begins with SIGINT ignored).
    signal.signal(signal.SIGINT, interrupt)
    signal.signal(signal.SIGTERM, interrupt)
    children = []
    headless = not os.environ.get('DISPLAY')
    if headless:
        xvfb, os.environ['DISPLAY'] = start_xvfb()
        children.append(xvfb)
        print('demo: no display here, running under Xvfb %s' % os.environ['DISPLAY'])
    # roslaunch starts a master when none runs.
    launch = subprocess.Popen(['roslaunch', 'webcam', 'viewer.launch'], start_new_session=True)
    children.append(launch)
    try:
        wait_for('the viewer\'s services', lambda: service_up(launch), timeout=60, period=0.2)
        subprocess.run(['rosservice', 'call', '/webcam_show', "{args: ''}"], check=True)
        if not headless:
            print('demo: the window "camera_window" is open; Ctrl-C stops the viewer')
            launch.wait()
            return 0
        return screenshot()
    except KeyboardInterrupt:
        return 0
    except Timeout as err:
        sys.exit('demo: %s' % err)
    finally:
        for child in reversed(children):
            if child.poll() is None:
                child.send_signal(signal.SIGINT)
                try:
                    child.wait(20)
                except subprocess.TimeoutExpired:
                    child.kill()


def screenshot():
    time.sleep(2)  # a few frames of the moving pattern
    os.makedirs(OUT, exist_ok=True)
    window = os.path.join(OUT, 'camera_window.png')
    size = wait_for('the window', lambda: save_window('camera_window', window), timeout=10)
    print('\ndemo: screenshot of the window (%dx%d): %s' % (size + (window,)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
