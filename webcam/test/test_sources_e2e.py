#!/usr/bin/env python3
"""Our image sources feed the viewer: generated frames in each encoding and
depth, and the relay of a sensor_msgs/Image topic (what camera drivers,
image_publisher and rosbag play publish)."""
import os
import subprocess
import unittest

import numpy as np

import harness
from harness import Viewer, rosservice, wait_canvas


def source(*params):
    # A node name of its own: private parameters outlive the node on the master.
    source.runs += 1
    name = '__name:=source%d' % source.runs
    return harness._spawn([os.path.join(harness.LIB, 'image_source'), name] + list(params),
                          stdout=subprocess.DEVNULL)


source.runs = 0


class GeneratedFrames(unittest.TestCase):
    def setUp(self):
        self.viewer = Viewer()
        self.addCleanup(self.viewer.stop)
        rosservice('/webcam_show', "{args: ''}")

    def test_solid_colour_keeps_its_channel_order(self):
        src = source('_source:=solid', '_color:=10,20,30', '_encoding:=rgb', '_rate:=20')
        self.addCleanup(src.kill)
        self.assertEqual(wait_canvas(np.full((480, 640, 3), (10, 20, 30), np.uint8)), 0)

    def test_mono_16_bit_pattern_is_shown(self):
        src = source('_encoding:=mono', '_depth:=uint16', '_count:=5', '_rate:=20', '_width:=64', '_height:=48')
        self.assertEqual(src.wait(30), 0)
        self.assertEqual(self.viewer.wait_chars(5), '#####')


class Relay(unittest.TestCase):
    def relay(self, msg, *params, timeout=15):
        import rospy
        from image_msgs.msg import Image as Ours
        from sensor_msgs.msg import Image
        got = []
        sub = rospy.Subscriber('/image', Ours, got.append)
        pub = rospy.Publisher('/camera/image_raw', Image, queue_size=1)
        src = source('_source:=topic', *params)
        try:
            # Resent until one arrives: the first can be lost while links form.
            def arrived():
                pub.publish(msg)
                return got
            harness.wait_for('a relayed frame', arrived, timeout, period=0.2)
        finally:
            src.send_signal(2)
            src.wait(10)
            sub.unregister()
            pub.unregister()
        return got[0]

    def test_rgb8_with_padded_rows(self):
        from sensor_msgs.msg import Image
        rows = [bytes(range(r * 10, r * 10 + 6)) + b'\xee\xee' for r in range(3)]  # 2 px of 3 bytes, 2 padding
        msg = Image(height=3, width=2, encoding='rgb8', step=8, data=b''.join(rows))
        # Red-first samples arrive blue-first, as the window draws them right...
        out = self.relay(msg)
        self.assertEqual((out.encoding, out.depth), ('bgr', 'uint8'))
        self.assertEqual([(d.size, d.stride) for d in out.uint8_data.layout.dim], [(3, 18), (2, 6), (3, 3)])
        swapped = b''.join(bytes(r[p + 2 - c] for p in (0, 3) for c in range(3)) for r in rows)
        self.assertEqual(bytes(out.uint8_data.data), swapped)
        # ...or in their own order when asked.
        out = self.relay(msg, '_keep_order:=true')
        self.assertEqual((out.encoding, out.depth), ('rgb', 'uint8'))
        self.assertEqual(bytes(out.uint8_data.data), b''.join(r[:6] for r in rows))

    def test_bayer_yuv422_and_depth_become_displayable(self):
        import struct
        from sensor_msgs.msg import Image
        # A red scene on an RGGB sensor: the red sites see 200, the others 0.
        mosaic = bytes(200 if y % 2 == 0 and x % 2 == 0 else 0 for y in range(4) for x in range(4))
        out = self.relay(Image(height=4, width=4, encoding='bayer_rggb8', step=4, data=mosaic))
        self.assertEqual((out.encoding, out.depth), ('bgr', 'uint8'))
        b, g, r = out.uint8_data.data[3 * 5:3 * 5 + 3]  # pixel (1, 1), a blue site
        self.assertTrue(r > 150 and g < 50 and b < 50, (b, g, r))
        # UYVY: two red pixels.
        out = self.relay(Image(height=1, width=2, encoding='yuv422', step=4, data=bytes([90, 81, 240, 81])))
        b, g, r = out.uint8_data.data[0:3]
        self.assertTrue(r > 200 and g < 60 and b < 60, (b, g, r))
        # Depth in millimetres, 0 for missing, spread over the grey range.
        out = self.relay(Image(height=1, width=4, encoding='16UC1', step=8, data=struct.pack('<4H', 0, 500, 1000, 4000)))
        self.assertEqual((out.encoding, out.depth), ('mono', 'uint8'))
        self.assertEqual(list(out.uint8_data.data), [0, 0, 36, 255])
        out = self.relay(Image(height=1, width=4, encoding='32FC1', step=16,
                               data=struct.pack('<4f', float('nan'), 0.5, 1.0, 4.0)))
        self.assertEqual(list(out.uint8_data.data), [0, 0, 36, 255])
        # Fixed bounds instead of the frame's own.
        out = self.relay(Image(height=1, width=2, encoding='16UC1', step=4, data=struct.pack('<2H', 1000, 2000)),
                         '_min:=0', '_max:=4000')
        self.assertEqual(list(out.uint8_data.data), [64, 128])

    def test_big_endian_mono16(self):
        from sensor_msgs.msg import Image
        out = self.relay(Image(height=1, width=2, encoding='mono16', is_bigendian=1, step=4,
                               data=b'\x12\x34\xab\xcd'))
        self.assertEqual((out.encoding, out.depth), ('mono', 'uint16'))
        self.assertEqual(list(out.uint16_data.data), [0x1234, 0xABCD])


if __name__ == '__main__':
    harness.start_graph(display=True)
    unittest.main()
