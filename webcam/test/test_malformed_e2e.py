#!/usr/bin/env python3
"""A hostile publisher: thousands of malformed image_msgs/Image messages sent
to the viewer built with AddressSanitizer and UndefinedBehaviorSanitizer.
Every one must give exactly one character, and nothing may be reported."""
import os
import random
import unittest

import harness
from harness import Frames, Viewer, rosservice

COUNT = int(os.environ.get('MALFORMED_COUNT', '3000'))
HUGE = [0, 1, 2, 3, 4, 5, 7, 640, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF]


def malformed(rng):
    from image_msgs.msg import Image
    from std_msgs.msg import MultiArrayDimension
    msg = Image()
    msg.encoding = rng.choice(['rgb', 'bgr', 'mono', 'rgba', '', 'x' * 300])
    msg.depth = rng.choice(['uint8', 'uint8', 'uint16', 'uint16', 'float32', 'int8', '', 'uint8\0'])
    array = msg.uint16_data if msg.depth == 'uint16' else msg.uint8_data
    dims = rng.choice([3, 3, 3, 3, 0, 1, 2, 4])
    for _ in range(dims):
        small = rng.random() < 0.7
        size = rng.randint(0, 9) if small else rng.choice(HUGE)
        stride = rng.randint(0, 40) if small else rng.choice(HUGE)
        array.layout.dim.append(MultiArrayDimension('d', size, stride))
    array.layout.data_offset = rng.choice([0, 0, 0, 1, 3, 0xFFFFFFFF])
    length = rng.randint(0, 600)
    if array is msg.uint8_data:
        array.data = bytes(rng.getrandbits(8) for _ in range(length))
    else:
        array.data = [rng.getrandbits(16) for _ in range(length)]
    return msg


class MalformedFrames(unittest.TestCase):
    def test_no_report_and_one_character_each(self):
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'lsan.supp')
        env = dict(os.environ,
                   ASAN_OPTIONS='detect_leaks=1:abort_on_error=0:halt_on_error=1',
                   LSAN_OPTIONS='suppressions=%s:print_suppressions=0' % supp,
                   UBSAN_OPTIONS='print_stacktrace=1:halt_on_error=1')
        viewer = Viewer('orlin_asan', env=env)
        frames = Frames(viewer)
        rng = random.Random(5)
        for i in range(COUNT):
            if i == COUNT // 2:
                self.assertEqual(rosservice('/webcam_show', "{args: ''}")['ok'], 1)
                rosservice('/webcam_set', "{setting: 'he', value: 'on'}")
            mark = frames.send(malformed(rng))
            self.assertEqual(mark, '.' if i < COUNT // 2 else '#', 'message %d' % i)
        rc = viewer.stop(timeout=60)
        self.assertNotIn('Sanitizer', viewer.err)
        self.assertNotIn('runtime error', viewer.err)
        self.assertEqual(rc, 0, viewer.err[-3000:])
        self.assertEqual(viewer.out, '.' * (COUNT // 2) + '#' * (COUNT - COUNT // 2))


if __name__ == '__main__':
    harness.start_graph(display=True)
    unittest.main()
