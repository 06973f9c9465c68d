#!/usr/bin/env python3
"""The viewer on the built-in test pattern, shown.

With a display it leaves the window open until Ctrl-C. Without one it runs
under Xvfb, saves a screenshot of the window and stops:
  OUT/camera_window.png   the whole window
  OUT/canvas.png          the 640 x 480 image in it (the window is just that)
"""
import os
import signal
import subprocess
import sys
import time

from xserver import Timeout, start_xvfb, wait_for

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.getcwd(), 'build', 'demo')


def service_up():
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
        wait_for('the viewer\'s services', service_up, timeout=60, period=0.2)
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
    import cv2
    time.sleep(2)  # a few frames of the moving pattern
    tree = subprocess.run(['xwininfo', '-root', '-tree'], capture_output=True, text=True).stdout
    wid = next(line.split()[0] for line in tree.splitlines() if '"camera_window"' in line)
    os.makedirs(OUT, exist_ok=True)
    window = os.path.join(OUT, 'camera_window.png')
    subprocess.run(['import', '-window', wid, window], check=True)
    shot = cv2.imread(window)
    # The window is exactly the 640 x 480 canvas.
    canvas = shot[:480, :640]
    cv2.imwrite(os.path.join(OUT, 'canvas.png'), canvas)
    print('demo: screenshot of the window: %s' % window)
    print('demo: the image inside it (%dx%d): %s' % (canvas.shape[1], canvas.shape[0],
                                                     os.path.join(OUT, 'canvas.png')))
    return 0


if __name__ == '__main__':
    sys.exit(main())
