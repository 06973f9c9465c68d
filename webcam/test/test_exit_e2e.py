#!/usr/bin/env python3
"""Ctrl-C and a plain kill end every program within 2 s, status 0, in every
state the graph can be in: frames flowing; the stream quiet with its
publisher up; the publisher gone; the master stopped; the master silent
(it accepts connections and never answers: a stopped process). The
programs as users run them: the relay image_source, the viewer orlin fed
by it, and viewer_manager with a relay of its own; each state is driven
twice, the two signals trading places between the programs. The same under
roslaunch, which must never escalate. (The master's host cut off is in the
two-host test.)"""
import os
import signal
import subprocess
import sys
import time
import unittest

import harness

HERE = os.path.dirname(os.path.abspath(__file__))
CAMERA = '/cam/image_raw'
LIMIT = 2.0  # s


def wake(proc):
    """SIGCONT for a process stopped on purpose, if it is still there."""
    if proc.poll() is None:
        os.kill(proc.pid, signal.SIGCONT)


class Programs:
    """The three programs on the graph, reading the camera's topic."""

    def __init__(self):
        subprocess.run(['rosparam', 'set', '/c/image_source/source', 'topic'], check=True)
        subprocess.run(['rosparam', 'set', '/c/image_source/topic', CAMERA], check=True)
        self.procs = {
            'image_source': harness.Viewer(program='image_source', wait=False, args=[
                '__name:=relay_a', '_source:=topic', '_topic:=' + CAMERA, 'image:=/a/image']),
            'orlin': harness.Viewer(program='orlin', wait=False, args=['__name:=viewer_b', 'image:=/a/image']),
            'viewer_manager': harness.Viewer(program='viewer_manager', wait=False,
                                             args=['webcam/image_source', '__ns:=/c']),
        }

    def frames(self):
        """What the two viewers have written so far."""
        return len(self.procs['orlin'].out) + len(self.procs['viewer_manager'].out)

    def end(self, signals):
        """Sends each program its signal at once; returns {name: (status, seconds)}."""
        sent = {}
        for name, proc in self.procs.items():
            proc.proc.send_signal(signals[name])
            sent[name] = time.monotonic()
        ended = {}
        deadline = time.monotonic() + 10
        while len(ended) < len(self.procs) and time.monotonic() < deadline:
            for name, proc in self.procs.items():
                if name not in ended and proc.proc.poll() is not None:
                    ended[name] = (proc.proc.returncode, time.monotonic() - sent[name])
            time.sleep(0.01)
        for name, proc in self.procs.items():
            if name not in ended:
                ended[name] = (None, 10.0)
                proc.stop(0.1, signal.SIGKILL)
        return ended


class Exit(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        harness.start_graph(display=True)

    def setUp(self):
        if harness._master[0].poll() is not None:
            harness.start_master()

    def camera(self):
        cam = harness._spawn([sys.executable, os.path.join(HERE, 'camera.py'), CAMERA, '--rate', '10',
                              '--width', '320', '--height', '240'], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        self.addCleanup(harness.interrupt, cam)
        self.addCleanup(wake, cam)
        return cam

    def flowing(self, programs):
        start = programs.frames()
        harness.wait_for('frames in both viewers', lambda: programs.procs['orlin'].out and
                         programs.procs['viewer_manager'].out and programs.frames() > start + 10, 30)

    def test_every_program_ends_at_once_in_every_state(self):
        master = lambda: harness._master[0]  # noqa: E731

        def quiet(cam, programs):
            os.kill(cam.pid, signal.SIGSTOP)  # answers every probe, sends nothing
            time.sleep(1.2)

        def gone(cam, programs):
            harness.interrupt(cam)
            time.sleep(1.2)

        def stopped(cam, programs):
            harness.stop_master()
            time.sleep(1.2)

        def silent(cam, programs):
            os.kill(master().pid, signal.SIGSTOP)
            self.addCleanup(lambda: wake(master()))
            before = programs.frames()
            time.sleep(3)
            self.assertGreater(programs.frames(), before + 20, 'frames stopped with the master silent')

        states = [('flowing', lambda cam, programs: None), ('quiet', quiet), ('publisher gone', gone),
                  ('master stopped', stopped), ('master silent', silent)]
        names = ['image_source', 'orlin', 'viewer_manager']
        times = {}
        for state, make in states:
            for turn in range(2):
                with self.subTest(state=state, turn=turn):
                    if master().poll() is not None:
                        harness.start_master()
                    cam = self.camera()
                    programs = Programs()
                    self.flowing(programs)
                    make(cam, programs)
                    signals = {n: (signal.SIGINT, signal.SIGTERM)[(i + turn) % 2] for i, n in enumerate(names)}
                    for name, (status, seconds) in programs.end(signals).items():
                        times.setdefault(state, []).append(seconds)
                        self.assertEqual((status, seconds < LIMIT), (0, True), '%s in state "%s" on %s: %s\n%s' % (
                            name, state, signals[name].name, seconds, programs.procs[name].err[-2000:]))
                    if master().poll() is None:
                        wake(master())
                        harness.stop_master()
                    wake(cam)
                    harness.interrupt(cam)
        for state, values in times.items():
            print('exit, %s: %.2f-%.2f s' % (state, min(values), max(values)), file=sys.stderr)

    def test_roslaunch_never_escalates(self):
        for form in ([],):  # nodelet:=false under roslaunch: in the two-host test
            with self.subTest(form=form):
                # A fresh master: the last one kept what the viewer left on it.
                if harness._master[0].poll() is None:
                    harness.stop_master()
                harness.start_master()
                cam = self.camera()
                v = harness.Viewer(cmd=['roslaunch', 'webcam', 'viewer.launch', 'source:=topic',
                                        'topic:=' + CAMERA] + form, wait=False)
                harness.wait_for('the viewer', harness.Viewer.registered, 30)
                harness.rosservice('/webcam_show', "{args: ''}")
                harness.wait_for('frames', lambda: v.out.count('#') > 10, 30)
                os.kill(harness._master[0].pid, signal.SIGSTOP)  # the hardest: a master that never answers
                time.sleep(1)
                begin = time.monotonic()
                status = v.stop(20)
                took = time.monotonic() - begin
                wake(harness._master[0])
                harness.interrupt(cam)
                print('exit under roslaunch %s: %.2f s' % (form, took), file=sys.stderr)
                self.assertNotIn('escalating', v.out + v.err)
                self.assertEqual(status, 0, v.out[-2000:] + v.err[-2000:])
                self.assertLess(took, LIMIT + 1.5, v.out[-2000:])  # roslaunch's own ending on top


if __name__ == '__main__':
    unittest.main()
