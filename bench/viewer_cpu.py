#!/usr/bin/env python3
"""CPU time per displayed frame of the viewer, against Debian's stock
image_view on the same frames in the same run.

Both get the same moving 1920x1080 colour frames at 10 fps (our viewer as
image_msgs/Image, image_view as sensor_msgs/Image) in a window on Xvfb; each
runs alone while it is measured. Prints milliseconds of CPU (user + system)
per frame and the ratio to image_view."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'webcam', 'test'))
import harness  # noqa: E402

import numpy as np  # noqa: E402

WIDTH, HEIGHT, RATE, SECONDS = 1920, 1080, 10, float(os.environ.get('SECONDS_EACH', '8'))


def cpu_seconds(pid):
    fields = open('/proc/%d/stat' % pid).read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def frames():
    base = np.zeros((HEIGHT, WIDTH, 3), np.uint8)
    for i, colour in enumerate([(255, 255, 255), (0, 255, 255), (255, 255, 0), (0, 255, 0)]):
        base[:, i * WIDTH // 4:(i + 1) * WIDTH // 4] = colour
    n = 0
    while True:
        frame = base.copy()
        x = (n * 16) % (WIDTH - 200)
        frame[400:600, x:x + 200] = 40
        yield frame
        n += 1


def measure(pid, publish):
    """Publishes for SECONDS at RATE; returns CPU ms per frame of pid."""
    gen = frames()
    for _ in range(2 * RATE):  # warm up: window open, first frames drawn
        publish(next(gen))
        time.sleep(1.0 / RATE)
    start, sent = cpu_seconds(pid), 0
    deadline = time.monotonic() + SECONDS
    while time.monotonic() < deadline:
        tick = time.monotonic()
        publish(next(gen))
        sent += 1
        time.sleep(max(0.0, 1.0 / RATE - (time.monotonic() - tick)))
    time.sleep(0.5)
    return 1000.0 * (cpu_seconds(pid) - start) / sent, sent


if __name__ == '__main__':
    harness.start_graph(display=True)
    import rospy
    from image_msgs.msg import Image
    from sensor_msgs.msg import Image as SensorImage

    results = {}
    # Our viewer, equalization off and on.
    for he in ('off', 'on'):
        viewer = harness.Viewer()
        harness.rosservice('/webcam_show', "{args: ''}")
        harness.rosservice('/webcam_set', "{setting: 'he', value: '%s'}" % he)
        pub = rospy.Publisher('/image', Image, queue_size=2)
        harness.wait_for('the viewer', lambda: pub.get_num_connections() > 0)
        results['orlin, equalization %s' % he] = measure(viewer.proc.pid,
                                                         lambda f: pub.publish(harness.image_msg(f)))
        pub.unregister()
        viewer.stop()

    # Debian's image_view on the same frames.
    view = harness._spawn(['/usr/lib/nodelet/nodelet', 'standalone', 'image_view/image', 'image:=/camera'],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pub = rospy.Publisher('/camera', SensorImage, queue_size=2)
    harness.wait_for('image_view', lambda: pub.get_num_connections() > 0)

    def publish_sensor(f):
        pub.publish(SensorImage(height=HEIGHT, width=WIDTH, encoding='bgr8', step=3 * WIDTH, data=f.tobytes()))
    results['image_view (baseline)'] = measure(view.pid, publish_sensor)
    view.send_signal(2)

    base = results['image_view (baseline)'][0]
    print('%dx%d bgr frames at %d fps, %.0f s each, CPU of the viewer process per frame:' % (WIDTH, HEIGHT, RATE,
                                                                                          SECONDS))
    for name, (ms, sent) in results.items():
        print('  %-28s %6.2f ms/frame  (%3d frames)  %5.2fx image_view' % (name, ms, sent, ms / base))
