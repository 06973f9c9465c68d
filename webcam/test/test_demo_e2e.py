#!/usr/bin/env python3
"""make demo's job on a machine without a display: the screenshot it leaves
shows the test pattern at 640 x 480."""
import os
import subprocess
import sys
import tempfile
import unittest

import cv2

import harness

DEMO = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts', 'demo.py')
# The pattern's eight bars, left to right, as B, G, R.
BARS = [(255, 255, 255), (0, 255, 255), (255, 255, 0), (0, 255, 0),
        (255, 0, 255), (0, 0, 255), (255, 0, 0), (0, 0, 0)]


class HeadlessDemo(unittest.TestCase):
    def test_screenshot_shows_the_test_pattern(self):
        out = tempfile.mkdtemp(prefix='orlin-demo-')
        env = {k: v for k, v in os.environ.items() if k != 'DISPLAY'}
        # roslaunch brings up a master of its own on this port.
        env.update(ROS_MASTER_URI='http://localhost:%d' % harness._free_port(), ROS_HOME=out, ROS_LOG_DIR=out)
        run = subprocess.run([sys.executable, DEMO, out], env=env, capture_output=True, text=True, timeout=180)
        self.assertEqual(run.returncode, 0, run.stdout[-2000:] + run.stderr[-2000:])
        self.assertIn('screenshot of the window', run.stdout)
        window = cv2.imread(os.path.join(out, 'camera_window.png'))
        self.assertEqual(window.shape, (480, 640, 3), 'the window is the canvas, no toolbar or status bar')
        self.assertEqual([tuple(int(c) for c in window[20, 40 + 80 * i]) for i in range(8)], BARS)


if __name__ == '__main__':
    unittest.main()
