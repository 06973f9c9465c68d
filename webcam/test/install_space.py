#!/usr/bin/python3
"""The viewer from a catkin install space alone, as a user gets it.

    install_space.py WORK IMAGE_MSGS_SRC WEBCAM_SRC

Copies the two packages into WORK/ws/src, runs `catkin_make install`, and
removes src/, build/ and devel/. Then, with only install/setup.bash
sourced, a private master on a free port and Xvfb: the launch file shows
the pattern and answers webcam_show; rossrv and rosmsg read the installed
definitions; the nodelets load into Debian's stock manager; an outside
package finds webcam and image_msgs with find_package and calls the service.
Prints ok or FAIL per check; exits 1 if one failed.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts'))
from xserver import Timeout, start_xvfb, wait_for  # noqa: E402

CATKIN = ['-DCMAKE_BUILD_TYPE=Release', '-DPYTHON_EXECUTABLE=/usr/bin/python3',
          '-DPython3_EXECUTABLE=/usr/bin/python3', '-j2']
started = []
failed = []


def check(what, ok):
    print(('ok: ' if ok else 'FAIL: ') + what, flush=True)
    if not ok:
        failed.append(what)


def workspace_env(setup, base):
    """The environment after `source setup` in a shell started from base."""
    out = subprocess.run(['bash', '-c', 'source "$0" && env -0', setup], env=base,
                         capture_output=True, check=True).stdout
    return dict(item.split('=', 1) for item in out.decode().split('\0') if '=' in item)


def build(ws, packages, env, install):
    os.makedirs(os.path.join(ws, 'src'))
    for src in packages:
        shutil.copytree(src, os.path.join(ws, 'src', os.path.basename(src.rstrip('/'))), symlinks=True)
    log = os.path.join(ws, 'build.log')
    with open(log, 'w') as out:
        cmd = ['catkin_make', '-C', ws] + (['install'] if install else []) + CATKIN
        done = subprocess.run(cmd, env=env, stdout=out, stderr=subprocess.STDOUT).returncode == 0
    if not done:
        sys.stdout.write(open(log).read()[-3000:])
    return done


class Process:
    """A program whose output is gathered as it comes, stopped at exit."""

    def __init__(self, cmd, env):
        self.text = ''
        self.proc = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        started.append(self)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for chunk in iter(lambda: self.proc.stdout.read1(4096), b''):
            self.text += chunk.decode(errors='replace')

    def stop(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGINT)
            try:
                self.proc.wait(20)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()


def run(cmd, env, timeout=60):
    return subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=timeout)


def shows_pattern(env, output):
    """webcam_show answers ok and frames are shown (a '#' on stdout) after it."""
    try:
        wait_for('webcam_show', lambda: '/webcam_show' in run(['rosservice', 'list'], env).stdout.split(),
                 timeout=60, period=0.5)
    except Timeout:
        return False
    before = output.text.count('#')
    answer = run(['rosservice', 'call', '/webcam_show', "{args: ''}"], env).stdout
    try:
        wait_for('a shown frame', lambda: output.text.count('#') > before + 3, timeout=20)
    except Timeout:
        return False
    return 'ok: 1' in answer


def main():
    work, sources = os.path.abspath(sys.argv[1]), sys.argv[2:4]
    ws, outside = os.path.join(work, 'ws'), os.path.join(work, 'outside')
    shutil.rmtree(work, ignore_errors=True)
    home = tempfile.mkdtemp(prefix='orlin-install-')
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        port = s.getsockname()[1]
    base = {'PATH': '/usr/bin:/bin', 'HOME': home, 'ROS_HOME': home, 'ROS_LOG_DIR': home,
            'XDG_RUNTIME_DIR': home, 'ROS_IP': '127.0.0.1', 'ROS_MASTER_URI': 'http://127.0.0.1:%d' % port}
    start = time.monotonic()
    check('catkin_make install', build(ws, sources, base, install=True))
    print('   (built and installed in %.0f s)' % (time.monotonic() - start))
    for gone in ('src', 'build', 'devel'):
        shutil.rmtree(os.path.join(ws, gone), ignore_errors=True)
    setup = os.path.join(ws, 'install', 'setup.bash')
    if failed or not os.path.exists(setup):
        return 1
    env = workspace_env(setup, base)
    check('nothing of the build is left on the package path',
          all(p.startswith(ws + '/install') or p.startswith('/usr') for p in env['ROS_PACKAGE_PATH'].split(':')))
    xvfb, env['DISPLAY'] = start_xvfb(spawn=lambda cmd, **kw: subprocess.Popen(cmd, start_new_session=True, **kw))
    try:
        check('rossrv show webcam/setting',
              run(['rossrv', 'show', 'webcam/setting'], env).stdout.split() == 'string setting string value --- int8 ok string error'.split())
        check('rosmsg show image_msgs/Image', 'string encoding' in run(['rosmsg', 'show', 'image_msgs/Image'], env).stdout)

        launch = Process(['roslaunch', '-p', str(port), 'webcam', 'viewer.launch'], env)
        check('roslaunch webcam viewer.launch shows the pattern and answers webcam_show', shows_pattern(env, launch))
        launch.stop()

        master = Process(['rosmaster', '--core', '-p', str(port)], env)
        manager = Process(['rosrun', 'nodelet', 'nodelet', 'manager', '__name:=stock_manager'], env)
        loaders = Process(['roslaunch', 'webcam', 'viewer.launch', 'manager:=/stock_manager'], env)
        check('the nodelets in the stock manager show the pattern', shows_pattern(env, manager))

        built = build(outside, [os.path.join(os.path.dirname(os.path.abspath(__file__)), 'consumer')], env,
                      install=False)
        check('an outside package builds with find_package(catkin COMPONENTS webcam image_msgs)', built)
        if built:
            outside_env = workspace_env(os.path.join(outside, 'devel', 'setup.bash'), env)
            call = run(['rosrun', 'show_caller', 'show_caller'], outside_env)
            check('and calls webcam_show with the installed record', call.returncode == 0)
        for proc in (loaders, manager, master):
            proc.stop()
    finally:
        for proc in reversed(started):
            proc.stop()
        os.killpg(xvfb.pid, signal.SIGTERM)
        xvfb.wait()
        shutil.rmtree(home, ignore_errors=True)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
