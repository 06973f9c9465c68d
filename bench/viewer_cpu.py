#!/usr/bin/env python3
"""CPU per frame of the whole viewer, against Debian's stock image_view on
the same frames in the same run, and where a shown frame's CPU goes.

Moving 1920x1080 camera-like colour frames at 30 fps (our viewer gets them
as image_msgs/Image, image_view as sensor_msgs/Image, serialized once so the
publisher stays light) are shown in a window on Xvfb; each viewer runs alone
while it is measured, and every run is repeated in rounds (ROUNDS, 3) of
SECONDS_EACH (6) seconds, the median reported. One more run equalizes a flat
test pattern, which is counted by blocks. CPU is user + system time of all
the process's threads. 'shown' counts the frames the viewer marked '#' (image_view has no
such count). Then, with perf sampling the viewer shown and equalizing, each
sample is put into the first stage its call chain passes through."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'webcam', 'test'))
import harness  # noqa: E402

import numpy as np  # noqa: E402

WIDTH, HEIGHT = 1920, 1080
RATE = float(os.environ.get('RATE', '30'))
SECONDS = float(os.environ.get('SECONDS_EACH', '6'))
ROUNDS = int(os.environ.get('ROUNDS', '3'))
# Stages, first match in a sample's call chain wins (innermost frame first).
STAGES = [
    ('equalization', r'EqualizeClipped|EqualizeTables|EqualizeRemap|webcam::\(anonymous namespace\)::(Count|Remap|'
                     r'ByteTables)'),
    ('conversion for display', r'DisplayFrame|CvBridge::fromImage|ArrayView'),
    ('resize', r'CanvasResize|webcam::\(anonymous namespace\)::(Scale|Gather)|cv::resize|resizeGeneric|HResize|'
               r'VResize|ResizeArea|resize_bitExact'),
    ('imshow (Qt paint, X)', r'cv::imshow|cvShowImage|QImage|QPainter|QWidget|xcb_|_XReply|XPutImage'),
    ('event pumping', r'cv::waitKey|cvWaitKey|pumpWindow|QEventDispatcher|g_main_context|QCoreApplication'),
    ('receive and deserialize', r'image_msgs::wire|Serializer<image_msgs|TransportTCP|Connection::read|'
                                r'readTransport|recv|SubscriptionCallbackHelper|MessageDeserializer|PollSet'),
]


def cpu_seconds(pid):
    fields = open('/proc/%d/stat' % pid).read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def camera_frames():
    """Camera-like: smooth shapes with sensor noise (as the equalization
    bench makes them), drifting sideways, a fresh noise draw per frame."""
    import cv2
    rng = np.random.default_rng(7)
    coarse = rng.normal((90, 120, 140), (40, 50, 60), (HEIGHT // 16, WIDTH // 16, 3)).clip(0, 255).astype(np.uint8)
    smooth = cv2.resize(coarse, (WIDTH, HEIGHT), interpolation=cv2.INTER_CUBIC).astype(np.int16)
    return [(np.roll(smooth, 24 * n, axis=1) + rng.normal(0, 4, smooth.shape)).clip(0, 255).astype(np.uint8)
            for n in range(8)]


def pattern_frames():
    """A flat test pattern: four bars and a dark square moving over them."""
    base = np.zeros((HEIGHT, WIDTH, 3), np.uint8)
    for i, colour in enumerate([(255, 255, 255), (0, 255, 255), (255, 255, 0), (0, 255, 0)]):
        base[:, i * WIDTH // 4:(i + 1) * WIDTH // 4] = colour
    out = []
    for n in range(8):
        frame = base.copy()
        x = (n * 200) % (WIDTH - 200)
        frame[400:600, x:x + 200] = 40
        out.append(frame)
    return out


def raw_publisher(topic, msg_class):
    """A publisher of messages serialized beforehand."""
    import rospy
    raw = harness.raw_class(msg_class)
    return rospy.Publisher(topic, raw, queue_size=2), raw


def measure(pid, publish, messages, shown=lambda: 0):
    """Publishes for SECONDS at RATE; returns (CPU ms per frame, frames sent,
    frames shown meanwhile)."""
    for i in range(int(RATE)):  # warm up: window open, first frames drawn
        publish(messages[i % len(messages)])
        time.sleep(1.0 / RATE)
    time.sleep(0.5)
    start, sent, shown_before = cpu_seconds(pid), 0, shown()
    begin = time.monotonic()
    while time.monotonic() - begin < SECONDS:
        publish(messages[sent % len(messages)])
        sent += 1
        time.sleep(max(0.0, begin + sent / RATE - time.monotonic()))
    time.sleep(0.5)
    return 1000.0 * (cpu_seconds(pid) - start) / sent, sent, shown() - shown_before


def stages(pid, seconds):
    """perf samples of pid over seconds, classified into STAGES."""
    if not shutil.which('perf'):
        return None
    data = os.path.join(tempfile.mkdtemp(prefix='viewer-perf-'), 'perf.data')
    # Our libraries and OpenCV keep no frame pointers: unwind with DWARF.
    rec = subprocess.Popen(['perf', 'record', '-q', '-e', 'cpu-clock', '-F', '500', '--call-graph', 'dwarf,16384',
                            '-p', str(pid), '-o', data], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(seconds)
    rec.send_signal(2)
    rec.wait(30)
    script = subprocess.run(['perf', 'script', '-i', data, '-F', 'ip,sym'], capture_output=True, text=True).stdout
    counts = {name: 0 for name, _ in STAGES}
    counts['other (roscpp, kernel, libc)'] = 0
    compiled = [(name, re.compile(pattern)) for name, pattern in STAGES]
    for sample in script.split('\n\n'):
        chain = sample.strip()
        if not chain:
            continue
        stage = next((name for name, pattern in compiled if pattern.search(chain)), 'other (roscpp, kernel, libc)')
        counts[stage] += 1
    return counts


def main():
    harness.start_graph(display=True)
    from image_msgs.msg import Image
    from sensor_msgs.msg import Image as SensorImage

    pictures = camera_frames()
    ours = [harness.wire(harness.image_msg(f)) for f in pictures]
    pattern = [harness.wire(harness.image_msg(f)) for f in pattern_frames()]
    theirs = [harness.wire(SensorImage(height=HEIGHT, width=WIDTH, encoding='bgr8', step=3 * WIDTH, data=f.tobytes()))
              for f in pictures]
    pub, Raw = raw_publisher('/image', Image)
    spub, SRaw = raw_publisher('/camera', SensorImage)

    def orlin(mode, messages, profiled=False):
        viewer = harness.Viewer()
        if mode != 'hidden':
            harness.rosservice('/webcam_show', "{args: ''}")
        harness.rosservice('/webcam_set', "{setting: 'he', value: '%s'}" % ('on' if 'equal' in mode else 'off'))
        harness.wait_for('the viewer', lambda: pub.get_num_connections() > 0)
        time.sleep(0.5)
        profile = []
        if profiled:  # perf samples the run after measure's warm-up (its CPU figure is left out)
            def sample():
                time.sleep(1.5)
                profile.append(stages(viewer.proc.pid, SECONDS - 1.0))
            sampler = threading.Thread(target=sample)
            sampler.start()
        ms, sent, shown = measure(viewer.proc.pid, lambda raw: pub.publish(Raw(raw)), messages,
                                  lambda: viewer.out.count('#'))
        result = (ms, sent, shown if mode != 'hidden' else None)
        if profiled:
            sampler.join()
            result = profile[0]
        viewer.stop()
        return result

    def image_view():
        view = harness._spawn(['/usr/lib/nodelet/nodelet', 'standalone', 'image_view/image', 'image:=/camera'],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        harness.wait_for('image_view', lambda: spub.get_num_connections() > 0, timeout=20)
        time.sleep(0.5)
        ms, sent, _ = measure(view.pid, lambda raw: spub.publish(SRaw(raw)), theirs)
        harness.interrupt(view, 10)
        harness.wait_for('image_view to leave', lambda: spub.get_num_connections() == 0, timeout=20)
        return ms, sent, None

    # Rounds of every run in turn, and the median of each: the machine's
    # slow stretches then fall on all runs alike, not on one.
    runs = [('orlin hidden', lambda: orlin('hidden', ours)), ('orlin shown', lambda: orlin('shown', ours)),
            ('orlin shown + equalizing', lambda: orlin('shown + equalizing', ours)),
            ('orlin shown + equalizing, pattern', lambda: orlin('shown + equalizing', pattern)),
            ('image_view shown (baseline)', image_view)]
    rounds = {name: [] for name, _ in runs}
    for _ in range(ROUNDS):
        for name, run in runs:
            rounds[name].append(run())
    results = {name: sorted(r)[len(r) // 2] for name, r in rounds.items()}
    profile = orlin('shown + equalizing', ours, profiled=True)

    base = results['image_view shown (baseline)'][0]
    cpu = open('/proc/cpuinfo').read()
    model = re.search(r'model name\s*:\s*(.*)', cpu)
    print('CPU: %s, %d cores' % (model.group(1) if model else '?', os.cpu_count()))
    print('%dx%d bgr frames at %.0f fps, %.0f s a run, median of %d rounds; CPU of the viewer process '
          '(all threads) per frame:' % (WIDTH, HEIGHT, RATE, SECONDS, ROUNDS))
    for name, (ms, sent, shown) in results.items():
        shown_text = '%3d of %3d shown (%3.0f%%)' % (shown, sent, 100.0 * shown / sent) if shown is not None else \
            '%3d sent%16s' % (sent, '')
        print('  %-34s %6.2f ms/frame  %s  %5.2fx image_view' % (name, ms, shown_text, ms / base))
    if profile and sum(profile.values()):
        total = sum(profile.values())
        ms = results['orlin shown + equalizing'][0]
        print('Where a shown, equalized frame\'s CPU goes (perf, %d samples):' % total)
        for name, n in sorted(profile.items(), key=lambda kv: -kv[1]):
            print('  %-30s %5.1f%%  ~%5.2f ms' % (name, 100.0 * n / total, ms * n / total))


if __name__ == '__main__':
    main()
