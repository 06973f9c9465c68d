#!/usr/bin/env python3
"""viewer.launch with each source, started as a user starts it: roslaunch,
webcam_show, then shown frames (#) on the console; in one process (the
default) and as two programs. The camera source, on a machine without a
camera, by its clear refusal. (manager:=NAME: test_nodelet_e2e.)"""
import os
import tempfile
import unittest

import cv2
import numpy as np

import harness
from harness import Viewer, graph_state, rosservice, wait_for


def roslaunch(*args):
    """roslaunch webcam viewer.launch args, its output gathered as it comes."""
    return Viewer('/usr/bin/roslaunch', args=['webcam', 'viewer.launch'] + list(args), wait=False)


def jpeg_feed(topic):
    """Publishes a JPEG sensor_msgs/CompressedImage at each call."""
    import rospy
    from sensor_msgs.msg import CompressedImage
    pub = rospy.Publisher(topic, CompressedImage, queue_size=1)
    data = cv2.imencode('.jpg', np.full((48, 64, 3), 90, np.uint8))[1].tobytes()
    return lambda: pub.publish(CompressedImage(format='jpeg', data=data))


def raw_feed(topic):
    import rospy
    from sensor_msgs.msg import Image
    pub = rospy.Publisher(topic, Image, queue_size=1)
    return lambda: pub.publish(Image(height=2, width=2, encoding='rgb8', step=6, data=bytes(12)))


class Launch(unittest.TestCase):
    def launch(self, *args, ns='', feed=None, image='/image'):
        run = roslaunch(*args)
        try:
            wait_for('the viewer', lambda: ns + '/webcam_show' in graph_state()[2], 60, period=0.2)
            rosservice(ns + '/webcam_show', "{args: ''}")

            def shown():
                if feed:
                    feed()
                return '###' in run.out
            wait_for('shown frames on the console', shown, 30, period=0.1)
            self.assertIn(ns + '/camera_viewer', graph_state()[1].get(ns + image, []))
        finally:
            rc = run.stop()
        self.assertEqual(rc, 0, run.err[-2000:])

    def test_each_source_shows_frames(self):
        image = os.path.join(tempfile.mkdtemp(prefix='orlin-launch-'), 'still.png')
        cv2.imwrite(image, np.full((48, 64, 3), 200, np.uint8))
        for name, args, kw in [
                ('pattern', [], {}),
                ('solid', ['source:=solid', 'color:=0,0,255'], {}),
                ('file', ['source:=file', 'file:=' + image], {}),
                ('topic', ['source:=topic', 'topic:=/cam/image_raw'], dict(feed=raw_feed('/cam/image_raw'))),
                ('compressed topic', ['source:=topic', 'topic:=/cam/image_raw/compressed'],
                 dict(feed=jpeg_feed('/cam/image_raw/compressed'))),
                ('compressed, asked for', ['source:=compressed', 'topic:=/cam2/compressed'],
                 dict(feed=jpeg_feed('/cam2/compressed'))),
                ('image topic renamed', ['image:=/viewer/in'], dict(image='/viewer/in')),
                ('second camera in a namespace', ['ns:=rear', 'source:=solid', 'min:=1', 'max:=2'],
                 dict(ns='/rear')),
                ('two programs', ['nodelet:=false'], {}),
                ('two programs, a topic', ['nodelet:=false', 'source:=topic', 'topic:=/cam/image_raw'],
                 dict(feed=raw_feed('/cam/image_raw')))]:
            with self.subTest(name):
                self.launch(*args, **kw)

    def test_camera_without_a_camera_is_refused_plainly(self):
        for args, process in [([], 'camera_viewer'), (['nodelet:=false'], 'image_source')]:
            run = roslaunch('source:=camera', 'device:=9', *args)
            run.proc.wait(60)
            self.assertIn('cannot open the camera source', run.err)
            self.assertIn('REQUIRED process [%s' % process, run.out + run.err)
            self.assertIn('exit code 1', run.out + run.err)


if __name__ == '__main__':
    harness.start_graph(display=True)
    unittest.main()
