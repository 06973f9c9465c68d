#!/usr/bin/env python3
"""The ROS master restarted under a running, shown viewer and its image
source: both make themselves known to the new master, frames and service
calls go on, and a publisher started afterwards reaches the viewer; also
with the relay and the viewer in one process, whose one watch registers
what both registered."""
import signal
import subprocess
import time
import unittest

import harness
from harness import Viewer, graph_state, rosservice, wait_for

SHOW = "{args: ''}"
OK = {'ok': 1, 'error': ''}
SERVICES = ['/webcam_help', '/webcam_dump', '/webcam_dumpstop', '/webcam_play', '/webcam_playstop',
            '/webcam_show', '/webcam_hide', '/webcam_info', '/webcam_set']


class Restart(unittest.TestCase):
    def test_master_restart_registers_the_viewer_and_its_source_again(self):
        viewer = Viewer('orlin_asan', env=harness.asan_env())
        self.addCleanup(viewer.stop)
        self.assertEqual(rosservice('/webcam_show', SHOW), OK)
        source = harness.source(width=320, height=240, rate=20)
        viewer.wait_chars(5)
        harness.stop_master()
        # Live connections outlast the master.
        viewer.wait_chars(len(viewer.out) + 5)
        harness.start_master()

        def known_again():
            pubs, subs, services = graph_state()
            return (all(services.get(s) == ['/camera_viewer'] for s in SERVICES) and
                    subs.get('/image') == ['/camera_viewer'] and pubs.get('/image') == ['/image_source'])
        wait_for('both nodes to register with the new master', known_again, timeout=15)
        self.assertEqual(rosservice('/webcam_hide'), OK)
        wait_for('hidden frames', lambda: viewer.out.endswith('...'))
        self.assertEqual(rosservice('/webcam_show', SHOW), OK)
        wait_for('shown frames', lambda: viewer.out.endswith('###'))
        # A publisher that starts after the restart reaches the viewer.
        source.send_signal(signal.SIGINT)
        source.wait(10)
        time.sleep(0.3)
        have = len(viewer.out)
        harness.source(width=64, height=48, rate=50, count=20)
        viewer.wait_chars(have + 20)
        self.assertEqual(viewer.stop(), 0, viewer.err[-2000:])
        self.assertEqual(viewer.out.strip('#.'), '')
        self.assertEqual(viewer.frame_callbacks(), len(viewer.out))

    def test_master_restart_registers_both_nodelets_of_one_process_again(self):
        import rospy
        rospy.set_param('/image_source', {'source': 'topic', 'topic': '/cam'})
        manager = Viewer('viewer_manager_asan', env=harness.asan_env(), args=['webcam/image_source'])
        self.addCleanup(manager.stop)
        # The relay too has read its parameters (they live on the master,
        # and are gone with it) and advertised, with the first master.
        wait_for('the relay', lambda: graph_state()[0].get('/image') == ['/camera_viewer'] and
                 'waiting for a publisher on /cam to learn' in manager.err, timeout=15)
        harness.stop_master()
        harness.start_master()

        def known_again():
            pubs, subs, services = graph_state()
            return (all(services.get(s) == ['/camera_viewer'] for s in SERVICES) and
                    subs.get('/image') == ['/camera_viewer'] and pubs.get('/image') == ['/camera_viewer'])
        try:
            wait_for('both nodelets to register with the new master', known_again, timeout=15)
        except AssertionError as e:
            raise AssertionError("%s\n%s\n%s" % (e, manager.err[-3000:], graph_state())) from None
        self.assertEqual(rosservice('/webcam_show', SHOW), OK)
        # A camera that starts after the restart reaches the viewer through
        # the relay, which was waiting for one.
        camera = harness._spawn(['rostopic', 'pub', '-r', '20', '/cam', 'sensor_msgs/Image',
                                 "{height: 2, width: 2, encoding: 'rgb8', step: 6, data: [%s]}" % ','.join('9' * 12)],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            manager.wait_chars(5, timeout=30)
        except AssertionError as e:
            raise AssertionError("%s\n%s\n%s" % (e, manager.err[-3000:], graph_state())) from None
        camera.send_signal(signal.SIGINT)
        self.assertEqual(manager.stop(), 0, manager.err[-2000:])
        self.assertEqual(manager.out.strip('#'), '')



if __name__ == '__main__':
    harness.start_graph(display=True)
    unittest.main()
