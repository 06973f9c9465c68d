#!/usr/bin/env python3
"""The relay and the viewer in one process: viewer_manager as viewer.launch
starts it, and the stock nodelet manager with both loaded into it. A camera
publishes sensor_msgs/Image; the relay hands each frame to the viewer inside
the process, and the window shows what the two programs show."""
import re
import subprocess
import time
import unittest

import cv2
import numpy as np

import harness
from harness import Viewer, graph_state, rosservice, wait_for

CAMERA = '/cam/image_raw'


def camera_frame(w=320, h=240):
    """Camera-like: smooth shapes with sensor noise, three distinct channels."""
    rng = np.random.default_rng(5)
    smooth = cv2.resize(rng.normal((90, 120, 150), 50, (h // 16, w // 16, 3)).clip(0, 255).astype(np.uint8), (w, h),
                        interpolation=cv2.INTER_CUBIC)
    return (smooth.astype(np.int16) + rng.normal(0, 4, smooth.shape)).clip(0, 255).astype(np.uint8)


class Camera:
    """A rospy publisher of one frame, sent again at every tick."""

    def __init__(self):
        import rospy
        from sensor_msgs.msg import Image
        self.pub = rospy.Publisher(CAMERA, Image, queue_size=1)
        self.msg = None

    def show(self, frame, encoding):
        from sensor_msgs.msg import Image
        data = (frame[:, :, ::-1] if encoding == 'rgb8' else frame).tobytes()
        h, w = frame.shape[:2]
        self.msg = Image(height=h, width=w, encoding=encoding, step=w * 3, data=data)

    def tick(self):
        self.pub.publish(self.msg)


def settled_canvas(camera, viewer, timeout=30.0):
    """The window once frames are shown and two captures in a row agree."""
    wait_for('shown frames', lambda: camera.tick() or '#' in viewer.out, timeout, period=0.1)
    last = [None]

    def settled():
        camera.tick()
        shot = harness.screenshot()
        same = shot is not None and last[0] is not None and np.array_equal(shot, last[0]) and shot.any()
        last[0] = shot
        return same
    wait_for('a settled window', settled, timeout, period=0.2)
    return last[0]


def show_equalized():
    wait_for('the viewer', lambda: '/webcam_show' in graph_state()[2], 60, period=0.2)
    assert rosservice('/webcam_show', "{args: ''}")['ok'] == 1
    assert rosservice('/webcam_set', "{setting: 'he', value: 'on'}")['ok'] == 1


def bus_transports(node, topic):
    """The transports of node's connections on topic, from its slave API."""
    import rosgraph
    import rosnode
    uri = rosgraph.Master('/e2e').lookupNode(node)
    code, _, info = rosnode.ServerProxy(uri).getBusInfo('/e2e')
    return {c[3] for c in info if c[4] == topic} if code == 1 else set()


class OneProcess(unittest.TestCase):
    @staticmethod
    def start(form):
        """The viewer and the relay of CAMERA, as two programs or in one."""
        if form == 'two programs':
            return Viewer('orlin_asan', env=harness.asan_env()), harness.source(source='topic', topic=CAMERA)
        import rospy
        rospy.set_param('/image_source', {'source': 'topic', 'topic': CAMERA})
        return Viewer('viewer_manager_asan', env=harness.asan_env(), wait=False, args=['webcam/image_source']), None

    def test_looks_like_the_node_and_shows_its_bytes(self):
        frame = camera_frame()
        shots = {}
        camera = None  # made once the first viewer waits for it
        for form in ('one process', 'two programs'):
            for encoding in ('bgr8', 'rgb8'):
                with self.subTest(form=form, encoding=encoding):
                    run, source = self.start(form)
                    try:
                        show_equalized()
                        first, camera = camera is None, camera or Camera()
                        camera.show(frame, encoding)
                        shots[form, encoding] = settled_canvas(camera, run)
                        if form == 'one process':
                            nodes = [n for n in subprocess.run(['rosnode', 'list'], capture_output=True,
                                                               text=True).stdout.split() if 'e2e' not in n]
                            self.assertEqual(nodes, ['/camera_viewer'])
                            pubs, subs, services = graph_state()
                            self.assertEqual(subs.get('/image'), ['/camera_viewer'])
                            self.assertEqual(sorted(s for s in services if s.startswith('/webcam_')),
                                             ['/webcam_' + s for s in sorted(['help', 'dump', 'dumpstop', 'play',
                                              'playstop', 'show', 'hide', 'info', 'set'])])
                            self.assertEqual(bus_transports('/camera_viewer', '/image'), {'INTRAPROCESS'})
                    finally:
                        rc = run.stop()
                        if source:
                            source.terminate()
                            source.wait(20)
                    self.assertEqual(rc, 0, run.err[-2000:])
                    self.assertRegex(run.out, r'^#+$', run.err[-3000:])
                    if first:  # the relay said it waits for the camera, on stderr
                        self.assertIn('waiting for a publisher on ' + CAMERA, run.err)
        for encoding in ('bgr8', 'rgb8'):
            self.assertTrue(np.array_equal(shots['one process', encoding], shots['two programs', encoding]),
                            encoding)
        # rgb8 is reordered to blue first: the same picture either way.
        self.assertTrue(np.array_equal(shots['one process', 'rgb8'], shots['one process', 'bgr8']))


class StockManager(unittest.TestCase):
    """viewer.launch manager:=/mgr into the stock manager, which finds both
    nodelets through pluginlib."""

    def setUp(self):
        self.mgr = harness._spawn(['/usr/lib/nodelet/nodelet', 'manager', '__name:=mgr'], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE)
        wait_for('the manager', lambda: '/mgr/load_nodelet' in graph_state()[2], 30)
        self.addCleanup(self.stop_manager)

    def stop_manager(self):
        if self.mgr.poll() is None:
            self.mgr.send_signal(2)
            self.out, self.err = self.mgr.communicate(timeout=30)

    def launch(self):
        return Viewer('/usr/bin/roslaunch', args=['webcam', 'viewer.launch', 'manager:=/mgr', 'source:=solid'],
                      wait=False)

    def shows(self):
        wait_for('the viewer', lambda: '/webcam_show' in graph_state()[2], 60, period=0.2)
        self.assertEqual(rosservice('/webcam_show', "{args: ''}")['ok'], 1)
        wait_for('the window', harness.window_id, 20)
        wait_for('a grey window', lambda: (harness.screenshot() == 128).all(), 20, period=0.2)

    def test_loads_unloads_and_loads_again_and_refuses_a_second_viewer(self):
        run = self.launch()
        self.shows()
        second = subprocess.run(['/usr/lib/nodelet/nodelet', 'load', 'webcam/viewer', '/mgr', '__name:=another',
                                 '--no-bond'], capture_output=True, text=True, timeout=60)
        self.assertNotEqual(second.returncode, 0)
        self.assertEqual(run.stop(), 0)
        wait_for('the viewer to go', lambda: '/webcam_show' not in graph_state()[2], 30)
        wait_for('the window to go', lambda: harness.window_id() is None, 30)
        run = self.launch()
        self.shows()
        self.assertEqual(run.stop(), 0)
        self.stop_manager()
        self.assertIn('this process shows a camera_window already', self.err.decode())
        self.assertRegex(self.out.decode(), r'#')


if __name__ == '__main__':
    harness.start_graph(display=True)
    unittest.main()
