#!/usr/bin/env python3
"""The viewer as a user runs it: a real master, the real rosservice and
rostopic tools, a real X server, frames from a rospy publisher."""
import subprocess
import time
import unittest

import cv2
import numpy as np

import harness
from harness import Frames, Viewer, image_msg, rosservice, wait_canvas

SOLID = lambda v, h=240, w=320: np.full((h, w, 3), v, np.uint8)


class ViewerTest(unittest.TestCase):
    def setUp(self):
        self.viewer = Viewer()
        self.addCleanup(self.viewer.stop)

    def show(self):
        self.assertEqual(rosservice('/webcam_show', "{args: ''}"), {'ok': 1, 'error': ''})
        harness.wait_for('the window', harness.window_id)

    def test_idle_node_registers_subscribes_and_exits_cleanly_on_sigint(self):
        info = subprocess.run(['rostopic', 'info', '/image'], capture_output=True, text=True).stdout
        self.assertIn('Type: image_msgs/Image', info)
        self.assertIn('/camera_viewer', info.split('Subscribers:')[1])
        self.assertIn('/camera_viewer', subprocess.run(['rosnode', 'list'], capture_output=True, text=True).stdout)
        time.sleep(1.0)
        self.assertEqual(self.viewer.stop(), 0)
        self.assertEqual(self.viewer.out, '')

    def test_hidden_frames_write_one_dot_each_and_nothing_else(self):
        frames = Frames(self.viewer)
        for i in range(50):
            frames.send(image_msg(SOLID(i, 24, 32)))
        time.sleep(0.3)
        self.assertEqual(self.viewer.out, '.' * 50)
        self.assertIsNone(harness.window_id())

    def test_shown_frames_are_scaled_to_the_canvas_in_source_channel_order(self):
        frames = Frames(self.viewer)
        self.show()
        rng = np.random.default_rng(3)
        for w, h in [(320, 240), (640, 480), (1280, 720)]:
            # Smooth content with distinct channels: an rgb frame must not be reordered.
            base = cv2.resize(rng.integers(0, 256, (h // 16, w // 16, 3), dtype=np.uint8), (w, h))
            self.assertEqual(frames.send(image_msg(base, 'rgb')), '#')
            expected = cv2.resize(base, (640, 480), interpolation=cv2.INTER_LINEAR)
            self.assertLessEqual(wait_canvas(expected), 1, '%dx%d' % (w, h))

    def test_show_hide_cycle(self):
        frames = Frames(self.viewer)
        self.assertEqual(frames.send(image_msg(SOLID(10))), '.')
        self.show()
        self.assertEqual(frames.send(image_msg(SOLID(10))), '#')
        self.assertEqual(rosservice('/webcam_hide'), {'ok': 1, 'error': ''})
        harness.wait_for('the window to close', lambda: harness.window_id() is None)
        self.assertEqual(frames.send(image_msg(SOLID(10))), '.')
        self.assertEqual(self.viewer.out, '.#.')

    def test_window_repaints_while_no_frames_arrive(self):
        frames = Frames(self.viewer)
        self.show()
        frames.send(image_msg(SOLID(60)))
        expected = SOLID(60, 480, 640)
        self.assertLessEqual(wait_canvas(expected), 0)
        # Only the viewer's own event pumping can repaint what was covered.
        harness.cover_and_uncover(harness.window_id())
        self.assertLessEqual(wait_canvas(expected, timeout=3), 0)

    def test_window_closed_by_the_user_returns_with_the_next_frame(self):
        frames = Frames(self.viewer)
        self.show()
        frames.send(image_msg(SOLID(60)))
        self.assertLessEqual(wait_canvas(SOLID(60, 480, 640)), 0)
        harness.close_window()
        self.assertEqual(frames.send(image_msg(SOLID(90))), '#')  # still shown: the frame brings it back
        self.assertLessEqual(wait_canvas(SOLID(90, 480, 640)), 0)
        harness.close_window()
        self.assertEqual(rosservice('/webcam_hide'), {'ok': 1, 'error': ''})
        self.assertEqual(frames.send(image_msg(SOLID(90))), '.')

    def test_equalization_switch_through_webcam_set(self):
        frames = Frames(self.viewer)
        self.show()
        self.assertEqual(rosservice('/webcam_set', "{setting: 'HE', value: 'ON'}"), {'ok': 1, 'error': ''})
        frames.send(image_msg(SOLID(128)))
        self.assertLessEqual(wait_canvas(SOLID(141, 480, 640)), 0)
        # An empty value toggles: twice restores the starting state.
        for expect in (128, 141):
            rosservice('/webcam_set', "{setting: 'histogramequalization', value: ''}")
            frames.send(image_msg(SOLID(128)))
            self.assertLessEqual(wait_canvas(SOLID(expect, 480, 640)), 0)

    def test_frames_that_are_not_8_bit_colour_are_still_shown(self):
        frames = Frames(self.viewer)
        self.show()
        grey = np.full((240, 320), 77, np.uint8)
        self.assertEqual(frames.send(image_msg(grey, 'mono')), '#')
        self.assertLessEqual(wait_canvas(SOLID(77, 480, 640)), 0)
        deep = np.full((240, 320, 3), 0x12FF, np.uint16)
        self.assertEqual(frames.send(image_msg(deep, 'bgr')), '#')
        self.assertLessEqual(wait_canvas(SOLID(0x12, 480, 640)), 0)

    def test_services_answer_exactly(self):
        todo = 'todo: dump/stop to file not implemented.'
        table = [
            ('/webcam_help', "{args: ''}", {'text': 'todo: No help available yet.'}),
            ('/webcam_info', "{args: ''}", {'text': 'todo: info not implemented.'}),
            ('/webcam_dump', "{name: ''}", {'ok': 0, 'error': 'todo: dump to file not implemented.'}),
            ('/webcam_dumpstop', "{name: ''}", {'ok': 0, 'error': todo}),
            ('/webcam_play', "{name: ''}", {'ok': 0, 'error': 'todo: playing from file not implemented.'}),
            ('/webcam_playstop', "{name: ''}", {'ok': 0, 'error': todo}),
            ('/webcam_hide', None, {'ok': 1, 'error': ''}),  # before any show
            ('/webcam_set', "{setting: 'Gamma', value: 'on'}",
             {'ok': 0, 'error': "gamma: no such setting. Try 'info camera_viewer' for available settings."}),
            ('/webcam_set', "{setting: 'he ', value: 'on'}",
             {'ok': 0, 'error': "he : no such setting. Try 'info camera_viewer' for available settings."}),
            ('/webcam_show', "{args: ''}", {'ok': 1, 'error': ''}),
            ('/webcam_set', "{setting: 'He', value: 'Off'}", {'ok': 1, 'error': ''}),
        ]
        for name, args, answer in table:
            self.assertEqual(rosservice(name, args), answer, name)
        info = subprocess.run(['rosservice', 'info', '/webcam_set'], capture_output=True, text=True).stdout
        self.assertIn('Type: webcam/setting', info)
        shown = subprocess.run(['rossrv', 'show', 'webcam/setting'], capture_output=True, text=True).stdout
        self.assertEqual(shown.split(), ['string', 'setting', 'string', 'value', '---', 'int8', 'ok', 'string', 'error'])


if __name__ == '__main__':
    harness.start_graph(display=True)
    unittest.main()
