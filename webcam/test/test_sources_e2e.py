#!/usr/bin/env python3
"""Our image sources feed the viewer: generated frames in each encoding and
depth, and the relay of a sensor_msgs/Image topic (what camera drivers,
image_publisher and rosbag play publish)."""
import os
import subprocess
import tempfile
import time
import unittest

import cv2
import numpy as np

import harness
from harness import Viewer, rosservice, wait_canvas


def source(**params):
    """image_source under a name of its own each time."""
    source.runs += 1
    return harness.source('source%d' % source.runs, **params)


source.runs = 0


class GeneratedFrames(unittest.TestCase):
    def setUp(self):
        self.viewer = Viewer()
        self.addCleanup(self.viewer.stop)
        rosservice('/webcam_show', "{args: ''}")

    def test_solid_colour_keeps_its_channel_order(self):
        src = source(source='solid', color='10,20,30', encoding='rgb', rate=20)
        self.addCleanup(src.kill)
        self.assertEqual(wait_canvas(np.full((480, 640, 3), (10, 20, 30), np.uint8)), 0)

    def test_mono_16_bit_pattern_is_shown(self):
        src = source(encoding='mono', depth='uint16', count=5, rate=20, width=64, height=48)
        self.assertEqual(src.wait(30), 0)
        self.assertEqual(self.viewer.wait_chars(5), '#####')


class Relay(unittest.TestCase):
    def relay(self, msg, topic='/camera/image_raw', timeout=15, **params):
        import rospy
        from image_msgs.msg import Image as Ours
        got = []
        sub = rospy.Subscriber('/image', Ours, got.append)
        msgs = msg if isinstance(msg, list) else [msg]  # published in turn, the last one relayed
        pub = rospy.Publisher(topic, type(msgs[0]), queue_size=len(msgs))
        src = source(source='topic', topic=topic, **params)
        try:
            # Resent until one arrives: the first can be lost while links form.
            def arrived():
                for m in msgs:
                    pub.publish(m)
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
        out = self.relay(msg, keep_order='true')
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
                         min=0, max=4000)
        self.assertEqual(list(out.uint8_data.data), [64, 128])

    def test_compressed_streams_by_the_topic_type(self):
        import struct
        from sensor_msgs.msg import CompressedImage
        red = np.zeros((8, 8, 3), np.uint8)
        red[:, :, 2] = 255
        jpeg = cv2.imencode('.jpg', red)[1].tobytes()
        out = self.relay(CompressedImage(format='rgb8; jpeg compressed bgr8', data=jpeg), topic='/cam/compressed')
        self.assertEqual((out.encoding, out.depth, out.uint8_data.layout.dim[0].size), ('bgr', 'uint8', 8))
        b, g, r = out.uint8_data.data[0:3]
        self.assertTrue(r > 240 and g < 15 and b < 15, (b, g, r))
        # A depth camera's 16-bit PNG behind its 12-byte header: scaled like raw depth.
        png = cv2.imencode('.png', np.array([[0, 500, 1000, 4000]], np.uint16))[1].tobytes()
        out = self.relay(CompressedImage(format='16UC1; compressedDepth png', data=struct.pack('<iff', 0, 0, 0) + png),
                         topic='/cam/compressedDepth')
        self.assertEqual(list(out.uint8_data.data), [0, 0, 36, 255])
        # Frames that lie are dropped, and the relay goes on: a PNG header
        # claiming 100000 x 100000 pixels, a cut-off JPEG, bytes of neither.
        huge = png[:16] + struct.pack('>II', 100000, 100000) + png[24:]
        out = self.relay([CompressedImage(format='png', data=huge), CompressedImage(format='jpeg', data=jpeg[:40]),
                          CompressedImage(format='jpeg', data=b'GIF89a'), CompressedImage(format='jpeg', data=jpeg)],
                         topic='/cam/compressed')
        self.assertEqual(out.uint8_data.layout.dim[0].size, 8)

    def test_big_endian_mono16(self):
        from sensor_msgs.msg import Image
        out = self.relay(Image(height=1, width=2, encoding='mono16', is_bigendian=1, step=4,
                               data=b'\x12\x34\xab\xcd'))
        self.assertEqual((out.encoding, out.depth), ('mono', 'uint16'))
        self.assertEqual(list(out.uint16_data.data), [0x1234, 0xABCD])


# Frames of the common camera encodings, each with a scene of its own so that
# the window tells which one it shows: three bars in a different order for
# each colour encoding, and grey ramps running different ways for the others.
W, H = 60, 48
RGB = {'r': (255, 0, 0), 'g': (0, 255, 0), 'b': (0, 0, 255)}
# Limited-range BT.601, as UYVY cameras send it.
YUV = {'r': (81, 90, 240), 'g': (145, 54, 34), 'b': (41, 240, 110)}


def bars(order, table=RGB):
    return np.repeat(np.array([[table[c] for c in order]], np.uint8), W // 3, axis=1).repeat(H, axis=0)


def bag_frames():
    """(encoding, samples, what the window should show as B,G,R)"""
    ramp = np.linspace(0, 255, W).round().astype(np.uint8)
    mosaic = bars('brg').copy()
    bayer = np.where((np.arange(H)[:, None] % 2 == 0) & (np.arange(W) % 2 == 0), mosaic[:, :, 0],
                     np.where((np.arange(H)[:, None] % 2 == 1) & (np.arange(W) % 2 == 1), mosaic[:, :, 2],
                              mosaic[:, :, 1]))
    yuv = bars('rbg', YUV).astype(np.uint8)
    uyvy = np.stack([np.where(np.arange(W) % 2 == 0, yuv[:, :, 1], yuv[:, :, 2]), yuv[:, :, 0]], axis=2)
    mm = np.linspace(4000, 500, W)
    metres = np.linspace(0.5, 4.0, H)
    grey = lambda g: np.repeat(np.clip(g, 0, 255).round().astype(np.uint8)[..., None], 3, axis=2)
    return [
        ('rgb8', bars('rgb'), bars('rgb')[:, :, ::-1]),
        ('bgr8', bars('gbr')[:, :, ::-1], bars('gbr')[:, :, ::-1]),
        ('mono8', np.tile(ramp, (H, 1)), grey(np.tile(ramp, (H, 1)))),
        ('bayer_rggb8', bayer.astype(np.uint8), mosaic[:, :, ::-1]),
        ('yuv422', uyvy, bars('rbg')[:, :, ::-1]),
        ('16UC1', np.tile(mm.astype(np.uint16), (H, 1)), grey(np.tile((mm - 500) / 3500 * 255, (H, 1)))),
        ('32FC1', np.tile(metres.astype(np.float32)[:, None], (1, W)),
         grey(np.tile(((metres - 0.5) / 3.5 * 255)[:, None], (1, W)))),
    ]


class UnreachableEnds(unittest.TestCase):
    """A camera, or the relay itself, announcing a host name that does not
    resolve (ROS_IP missing): the relay says so on the console, naming the
    address and the fix, within a few seconds."""

    def test_the_relay_names_the_address_it_cannot_reach(self):
        import rospy
        rospy.set_param('/unreachable_relay', {'source': 'topic', 'topic': '/far/image_raw'})
        no_ip = {k: v for k, v in os.environ.items() if k != 'ROS_IP'}
        cases = [
            ('a camera that announces camera.invalid', '/far/image_raw', dict(no_ip, ROS_HOSTNAME='camera.invalid'),
             dict(os.environ), "http://camera.invalid:"),
            ('a relay that announces desk.invalid', '/image', dict(os.environ),
             dict(no_ip, ROS_HOSTNAME='desk.invalid'), "here at http://desk.invalid:"),
        ]
        for name, _, camera_env, relay_env, said in cases:
            with self.subTest(name):
                camera = harness._spawn(['rostopic', 'pub', '-r', '5', '/far/image_raw', 'sensor_msgs/Image',
                                         "{height: 1, width: 1, encoding: 'mono8', step: 1, data: [7]}"],
                                        env=camera_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                relay = harness._spawn([os.path.join(harness.LIB, 'image_source'), '__name:=unreachable_relay'],
                                       env=relay_env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                viewer = Viewer(env=dict(os.environ))
                try:
                    harness.wait_for('the master to list the camera', lambda: '/far/image_raw' in harness.graph_state()[0])
                    time.sleep(8)  # the relay looks every 3 s
                finally:
                    viewer.stop()
                    relay.send_signal(2)
                    _, err = relay.communicate(timeout=20)
                    camera.send_signal(2)
                    camera.wait(20)
                self.assertIn(said, err)
                self.assertIn('set ros_ip (or ros_hostname)', err.lower())
                self.assertEqual(err.count(said), 1, err)


class Rosbag(unittest.TestCase):
    def test_a_bag_of_camera_encodings_shows_true_colours_and_full_range_depth(self):
        import rosbag
        import rospy
        from sensor_msgs.msg import Image
        frames = bag_frames()
        path = os.path.join(tempfile.mkdtemp(prefix='orlin-bag-'), 'cameras.bag')
        with rosbag.Bag(path, 'w') as bag:
            for i, (encoding, samples, _) in enumerate(frames):
                msg = Image(height=H, width=W, encoding=encoding, step=samples.strides[0],
                            data=samples.tobytes())
                bag.write('/camera/image_raw', msg, rospy.Time(1 + 2 * i))
        viewer = Viewer()
        self.addCleanup(viewer.stop)
        rosservice('/webcam_show', "{args: ''}")
        relay = source(source='topic')
        self.addCleanup(relay.kill)
        play = harness._spawn(['rosbag', 'play', '-q', '-d', '3', path], stdout=subprocess.DEVNULL)
        self.addCleanup(play.kill)
        # Nearest-neighbour probes at the bars' centres, three rows down.
        probes = [(y, x) for y in (80, 240, 400) for x in (106, 320, 533)]
        want = {enc: [cv2.resize(shows, (640, 480), interpolation=cv2.INTER_NEAREST)[p] for p in probes]
                for enc, _, shows in frames}
        seen = set()

        def all_seen():
            shot = harness.screenshot()
            if shot is not None and shot.shape[:2] == (480, 640):
                got = [shot[p].astype(int) for p in probes]
                seen.update(enc for enc, w in want.items()
                            if all(np.abs(g - v).max() <= 16 for g, v in zip(got, w)))
            return len(seen) == len(want)
        harness.wait_for_quietly(all_seen, 3 + 2 * len(frames) + 10)
        self.assertEqual(sorted(set(want) - seen), [], 'frames never shown right')
        self.assertEqual(play.wait(30), 0)


if __name__ == '__main__':
    harness.start_graph(display=True)
    unittest.main()
