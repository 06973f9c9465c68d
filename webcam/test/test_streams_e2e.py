#!/usr/bin/env python3
"""Every stream a robot team plays reaches the viewer whole: a bag played
slowly, fast, paused and resumed, with --clock and use_sim_time; a driver
that stamps once; zero stamps. The viewer runs as the README starts it
(roslaunch webcam viewer.launch source:=topic), and each frame that reaches
it is one character on its stdout. A JPEG that does not decode whole is
dropped and said."""
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

import cv2
import numpy as np

import harness

TOPIC = '/bag/image_raw'


def report(stream, sent, shown):
    print('streams: %s: %d of %d frames reached the viewer' % (stream, shown, sent), file=sys.stderr, flush=True)
    return shown
WIDTH, HEIGHT = 640, 480


def write_bag(path, frames, rate=10.0, start=1.7e9):
    import rosbag
    import rospy
    from sensor_msgs.msg import Image
    with rosbag.Bag(path, 'w') as bag:
        for n in range(frames):
            t = rospy.Time.from_sec(start + n / rate)
            msg = Image(height=HEIGHT, width=WIDTH, encoding='bgr8', step=3 * WIDTH,
                        data=np.full((HEIGHT, WIDTH, 3), n * 10 % 256, np.uint8).tobytes())
            msg.header.stamp = t
            bag.write(TOPIC, msg, t)


class Streams(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        harness.start_graph(display=True)
        cls.dir = tempfile.mkdtemp(prefix='orlin-bags-')
        cls.bags = {}
        for frames in (5, 10, 20, 30):
            cls.bags[frames] = os.path.join(cls.dir, '%d.bag' % frames)
            write_bag(cls.bags[frames], frames)

    def launch(self):
        v = harness.Viewer(cmd=['roslaunch', 'webcam', 'viewer.launch', 'source:=topic', 'topic:=' + TOPIC],
                           wait=False)
        self.addCleanup(v.stop)
        harness.wait_for('the viewer', harness.Viewer.registered, 30)
        harness.rosservice('/webcam_show', "{args: ''}")
        return v

    def play(self, v, frames, *args, pause=None):
        """Plays the bag of frames; pause=(shown, seconds) pauses it, as its
        pause_playback service does, once that many of its frames have been
        shown. Returns the frames that reached the viewer."""
        before = v.out.count('#')
        play = subprocess.Popen(['rosbag', 'play', '--wait-for-subscribers', '-q'] + (['--pause'] if pause else [])
                                + list(args) + [self.bags[frames]],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            if pause:
                # The player starts paused, so that pausing it again lands
                # inside the bag however slowly this machine starts it.
                pause_playback = self.pause_service()
                pause_playback(False)
                harness.wait_for('%d frames before the pause' % pause[0],
                                 lambda: v.out.count('#') - before >= pause[0], 30, period=0.005)
                pause_playback(True)
                time.sleep(pause[1])
                pause_playback(False)
            self.assertEqual(play.wait(120), 0, play.stderr.read())
        finally:
            if play.poll() is None:
                play.kill()
        harness.wait_for_quietly(lambda: v.out.count('#') - before >= frames, 3)
        time.sleep(0.3)  # nothing more comes
        return v.out.count('#') - before

    @staticmethod
    def pause_service():
        import rospy
        from std_srvs.srv import SetBool

        def service():
            found = [name for name in harness.graph_state()[2] if name.endswith('/pause_playback')]
            return found[0] if found else None
        name = harness.wait_for('the player\'s pause service', service, 30)
        rospy.wait_for_service(name, 10)
        call = rospy.ServiceProxy(name, SetBool)
        return lambda paused: call(data=paused)

    def test_bags_at_every_rate_and_paused_and_live_streams_with_odd_stamps(self):
        v = self.launch()
        for rate, frames in ((0.1, 5), (0.25, 10), (0.5, 20), (1, 20), (2, 20)):
            with self.subTest(rate=rate):
                self.assertEqual(report('bag at -r %g' % rate, frames, self.play(v, frames, '-r', str(rate))), frames)
        for rate in (1, 3):
            with self.subTest(paused_at_rate=rate):
                shown = self.play(v, 30, '-r', str(rate), pause=(5, 3))
                self.assertEqual(report('bag at -r %g paused 3 s' % rate, 30, shown), 30)
        # Drivers of another kind, from this process: one stamp for every
        # frame, and none at all.
        import rospy
        from sensor_msgs.msg import Image
        pub = rospy.Publisher(TOPIC, Image, queue_size=10)
        harness.wait_for('the relay to link', lambda: pub.get_num_connections() > 0, 10)
        time.sleep(0.5)
        frame = np.zeros((HEIGHT, WIDTH, 3), np.uint8).tobytes()
        for name, stamp in (('a fixed stamp', rospy.Time(1234, 5)), ('zero stamps', rospy.Time(0))):
            with self.subTest(stream=name):
                before = v.out.count('#')
                for _ in range(20):
                    msg = Image(height=HEIGHT, width=WIDTH, encoding='bgr8', step=3 * WIDTH, data=frame)
                    msg.header.stamp = stamp
                    pub.publish(msg)
                    time.sleep(0.1)
                harness.wait_for_quietly(lambda: v.out.count('#') - before >= 20, 3)
                self.assertEqual(report(name + ', 10 fps', 20, v.out.count('#') - before), 20)
        pub.unregister()

    def test_a_bag_with_its_clock_on_a_viewer_that_uses_sim_time(self):
        subprocess.run(['rosparam', 'set', '/use_sim_time', 'true'], check=True)
        self.addCleanup(subprocess.run, ['rosparam', 'set', '/use_sim_time', 'false'])
        v = self.launch()
        self.assertEqual(report('bag --clock -r 0.5, use_sim_time', 20, self.play(v, 20, '--clock', '-r', '0.5')), 20)
        shown = self.play(v, 30, '--clock', pause=(5, 3))
        self.assertEqual(report('bag --clock paused 3 s, use_sim_time', 30, shown), 30)

    def test_a_jpeg_that_does_not_decode_whole_is_dropped_and_said(self):
        from sensor_msgs.msg import CompressedImage
        import rospy
        v = self.launch()
        jpeg = cv2.imencode('.jpg', np.random.default_rng(1).integers(0, 255, (HEIGHT, WIDTH, 3), np.uint8))[1]
        jpeg = jpeg.tobytes()
        relay = harness.source('jpeg_relay', source='compressed', topic='/cam/compressed')
        self.addCleanup(harness.interrupt, relay)
        pub = rospy.Publisher('/cam/compressed', CompressedImage, queue_size=20)
        harness.wait_for('the relay to link', lambda: pub.get_num_connections() > 0, 10)
        time.sleep(0.5)
        before = v.out.count('#')
        for _ in range(10):
            pub.publish(CompressedImage(format='jpeg', data=jpeg[:len(jpeg) // 2]))
            time.sleep(0.1)
        pub.publish(CompressedImage(format='jpeg', data=jpeg))  # and a whole one
        harness.wait_for_quietly(lambda: v.out.count('#') > before, 5)
        time.sleep(0.3)
        self.assertEqual(report('JPEGs cut to half, then a whole one', 11, v.out.count('#') - before), 1)
        harness.interrupt(relay)
        said = relay.stderr.read()
        self.assertTrue(re.search(r"dropping a 'jpeg' frame that does not decode: Premature end of JPEG file", said),
                        said)


if __name__ == '__main__':
    unittest.main()
