#!/usr/bin/env python3
"""Everyday faults around a running viewer: a publisher whose counts lie,
no display, an X connection that breaks, and a second node with the same
name. Real master, real X servers, real tools. (A restarted master is
test_restart_e2e.py: this process's own rospy node would not survive it.)"""
import os
import struct
import subprocess
import time
import unittest

import numpy as np

import harness
from harness import Viewer, graph_state, image_msg, rosservice, wait_for, wire

SHOW = "{args: ''}"
OK = {'ok': 1, 'error': ''}
EMPTY_ARRAY = struct.pack('<III', 0, 0, 0)  # no dimensions, offset 0, no data
# Header (seq, stamp, empty frame_id), empty encoding and depth: 24 bytes.
PREFIX = struct.pack('<IIII', 0, 0, 0, 0) + struct.pack('<II', 0, 0)


_raw = []


def raw_publisher():
    """One publisher of raw image_msgs/Image bytes on /image for the whole run."""
    import rospy
    if not _raw:
        from image_msgs.msg import Image
        RawImage = harness.raw_class(Image)
        _raw.append((rospy.Publisher('/image', RawImage, queue_size=20), RawImage))
    return _raw[0]


class Faults(unittest.TestCase):
    def assert_only_marks(self, viewer):
        self.assertEqual(viewer.out.strip('#.'), '', 'stdout carries only # and .')

    def test_counts_that_lie_are_refused_with_memory_untouched(self):
        pub, RawImage = raw_publisher()
        viewer = Viewer()
        self.addCleanup(viewer.stop)
        wait_for('the viewer to connect', lambda: pub.get_num_connections() > 0)
        time.sleep(0.5)
        self.assertEqual(rosservice('/webcam_show', SHOW), OK)
        # 144 bytes: float64_data claims 2^29 doubles (4 GiB) with no bytes
        # behind them; then a layout claiming 2^31-1 dimensions.
        doubles = PREFIX + EMPTY_ARRAY * 9 + struct.pack('<III', 0, 0, 0x20000000)
        dims = PREFIX + struct.pack('<III', 0x7FFFFFFF, 0, 0) + EMPTY_ARRAY * 9
        self.assertEqual(len(doubles), 144)
        before = harness.rss_kib(viewer.proc.pid)
        for _ in range(5):
            pub.publish(RawImage(doubles))
            pub.publish(RawImage(dims))
        good = np.full((240, 320, 3), 77, np.uint8)
        pub.publish(RawImage(wire(image_msg(good))))
        self.assertEqual(viewer.wait_chars(1), '#', 'refused messages give no character')
        self.assertLessEqual(wait_canvas_value(77), 1)
        grown = harness.rss_kib(viewer.proc.pid) - before
        self.assertLess(grown, 64 * 1024, 'resident memory grew by %d KiB' % grown)
        self.assertEqual(viewer.stop(), 0, viewer.err[-3000:])
        self.assertEqual(viewer.out, '#')
        self.assertIn('claims', viewer.err)

    def test_show_without_a_display_answers_why_and_stays_hidden(self):
        pub, RawImage = raw_publisher()

        def frame_mark(viewer):
            wait_for('the viewer to connect', lambda: pub.get_num_connections() > 0)
            time.sleep(0.5)
            have = len(viewer.out)
            pub.publish(RawImage(wire(image_msg(np.zeros((48, 64, 3), np.uint8)))))
            return viewer.wait_chars(have + 1)[have:]

        env = dict(harness.asan_env())
        env.pop('DISPLAY', None)
        viewer = Viewer('orlin_asan', env=env)
        answer = rosservice('/webcam_show', SHOW)
        self.assertEqual(answer['ok'], 0)
        self.assertIn('DISPLAY is not set', answer['error'])
        self.assertEqual(frame_mark(viewer), '.')
        self.assertEqual(viewer.stop(), 0, viewer.err[-3000:])

        num = harness.free_display(120)
        viewer = Viewer('orlin_asan', env=harness.asan_env(DISPLAY=':%d' % num))
        self.addCleanup(viewer.stop)
        answer = rosservice('/webcam_show', SHOW)
        self.assertEqual(answer['ok'], 0)
        self.assertIn("':%d'" % num, answer['error'])
        self.assertEqual(frame_mark(viewer), '.')
        # The display comes up: the next show works on it.
        harness.start_xvfb(harness._spawn, first=num)
        self.assertEqual(rosservice('/webcam_show', SHOW), OK)
        self.assertEqual(frame_mark(viewer), '#')
        self.assertIsNotNone(harness.window_id(':%d' % num))
        self.assertEqual(viewer.stop(), 0, viewer.err[-3000:])
        self.assertEqual(viewer.out, '.#')

    def check_lost_x_connection(self, break_it):
        xvfb, display = harness.start_xvfb(harness._spawn, first=150)
        viewer = Viewer('orlin', env=dict(os.environ, DISPLAY=display))
        self.addCleanup(viewer.stop)
        self.assertEqual(rosservice('/webcam_show', SHOW), OK)
        wid = wait_for('the window', lambda: harness.window_id(display))
        break_it(xvfb, display, wid)
        rc = viewer.proc.wait(20)
        self.assertNotEqual(rc, 0)

        def gone():
            pubs, subs, services = graph_state()
            return not any('/camera_viewer' in nodes for part in (pubs, subs, services)
                           for nodes in part.values())
        wait_for('the master to forget the viewer', gone, timeout=2)
        nodes = subprocess.run(['rosnode', 'list'], capture_output=True, text=True).stdout
        self.assertNotIn('/camera_viewer', nodes)

    def test_x_server_death_unregisters_and_exits_non_zero(self):
        self.check_lost_x_connection(lambda xvfb, display, wid: xvfb.kill())

    def test_xkill_unregisters_and_exits_non_zero(self):
        self.check_lost_x_connection(lambda xvfb, display, wid: subprocess.run(
            ['xkill', '-display', display, '-id', wid], check=True, capture_output=True))

    def test_a_second_viewer_with_the_same_name_replaces_the_first(self):
        first = Viewer()
        self.addCleanup(first.stop)
        second = Viewer(wait=False)
        self.addCleanup(second.stop)
        self.assertEqual(first.proc.wait(15), 0, first.err[-2000:])
        time.sleep(1.5)
        self.assertIsNone(second.proc.poll(), second.err[-2000:])
        wait_for('the newer viewer to be registered', Viewer.registered)
        self.assertEqual(rosservice('/webcam_show', SHOW), OK)
        # A steady stream: the queue of 2 may drop a frame on a busy machine.
        source = harness.source(width=64, height=48, rate=20)
        self.addCleanup(harness.interrupt, source)
        self.assertEqual(second.wait_chars(5).strip('#'), '')
        self.assertEqual(second.stop(), 0, second.err[-3000:])


def wait_canvas_value(value):
    return harness.wait_canvas(np.full((480, 640, 3), value, np.uint8))


if __name__ == '__main__':
    harness.start_graph(display=True)
    unittest.main()
