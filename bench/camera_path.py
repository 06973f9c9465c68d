#!/usr/bin/env python3
"""The path a robot team runs: a camera publishing sensor_msgs at 1920x1080
and 30 fps, and on the viewing side either Debian's image_view or the
user's exact roslaunch line of ours (the relay and the viewer in one
process, or as two programs), all in one run, each case in rounds (ROUNDS,
3) of SECONDS_EACH (6) seconds, the median reported.

For each case: CPU per frame of every process the viewing side starts (all
threads; Xvfb's own CPU apart), frames shown per frame sent (the '#' on the
console; image_view has no such count), and the latency from publishing a
frame to its '#' (median and 99th percentile, frames paired in order). The
relay's minor page faults per frame are read from /proc/PID/stat. Then one
more run per form reads the frame numbers drawn into the frames back from
window captures: the frames counted as shown were drawn.

The camera is this script: camera-like content (smooth shapes, sensor
noise, a frame number in big blocks along the top), serialized beforehand so
that publishing costs it little; also as a 3840x2160 JPEG camera.

With BEFORE_DEVEL (the devel space of the tree that landed before, built
apart: bench/before), each of our cases runs once more on that viewer, in
the same rounds, and the report gives before and now side by side."""
import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'webcam', 'test'))
import camera as test_camera  # noqa: E402
import harness  # noqa: E402
import xserver  # noqa: E402

import cv2  # noqa: E402

WIDTH, HEIGHT = 1920, 1080
RATE = float(os.environ.get('RATE', '30'))
SECONDS = float(os.environ.get('SECONDS_EACH', '6'))
ROUNDS = int(os.environ.get('ROUNDS', '3'))
FRAMES = 16     # distinct frames, sent in turn, each with its number drawn in (camera.numbered)
RAW, COMPRESSED = '/camera/image_raw', '/camera/image_raw/compressed'
BEFORE = os.environ.get('BEFORE_DEVEL')


def stat(pid):
    """(CPU seconds, minor faults) of pid, or None when it is gone."""
    try:
        fields = open('/proc/%d/stat' % pid).read().rsplit(')', 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK'), int(fields[7])


def descendants(pid):
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        try:
            for task in os.listdir('/proc/%d/task' % p):
                children = open('/proc/%d/task/%s/children' % (p, task)).read().split()
                found += [int(c) for c in children]
                todo += [int(c) for c in children]
        except OSError:
            pass
    return found


def name_of(pid):
    try:
        return open('/proc/%d/cmdline' % pid).read().split('\0')[0].rsplit('/', 1)[-1]
    except OSError:
        return '?'


class Camera:
    def __init__(self):
        import rospy
        from sensor_msgs.msg import CompressedImage, Image
        pictures = [test_camera.numbered(f, n) for n, f in enumerate(test_camera.pictures(WIDTH, HEIGHT, FRAMES))]
        self.raw = {}
        for encoding in ('bgr8', 'rgb8'):  # rgb8 carries the same bytes: the relay reorders them
            self.raw[encoding] = [harness.wire(Image(height=HEIGHT, width=WIDTH, encoding=encoding, step=3 * WIDTH,
                                                     data=p.tobytes())) for p in pictures]
        def jpeg(p):
            return harness.wire(CompressedImage(format='jpeg', data=cv2.imencode(
                '.jpg', p, [cv2.IMWRITE_JPEG_QUALITY, 80])[1].tobytes()))
        self.jpeg = [jpeg(p) for p in pictures]
        self.jpeg4k = [jpeg(test_camera.numbered(f, n))
                       for n, f in enumerate(test_camera.pictures(2 * WIDTH, 2 * HEIGHT, FRAMES))]
        RawImage, RawCompressed = harness.raw_class(Image), harness.raw_class(CompressedImage)
        self.pubs = {RAW: (rospy.Publisher(RAW, RawImage, queue_size=2), RawImage),
                     COMPRESSED: (rospy.Publisher(COMPRESSED, RawCompressed, queue_size=2), RawCompressed)}

    def messages(self, topic, encoding):
        if topic == COMPRESSED:
            return self.jpeg4k if encoding == 'jpeg4k' else self.jpeg
        return self.raw[encoding]

    def connected(self, topic):
        return self.pubs[topic][0].get_num_connections() > 0

    def publish(self, topic, raw):
        pub, cls = self.pubs[topic]
        pub.publish(cls(raw))


def start(case):
    """The viewing side as the user starts it, its '#' stamped as they come."""
    args = case['args']
    if case['viewer'] == 'image_view':
        cmd = ['/usr/lib/nodelet/nodelet', 'standalone', 'image_view/image', 'image:=' + RAW]
    else:
        cmd = ['/usr/bin/roslaunch', 'webcam', 'viewer.launch'] + args
        if case.get('before'):
            cmd = [os.path.join(BEFORE, 'env.sh')] + cmd
    return harness.Viewer(cmd=cmd, wait=False)


def run_case(camera, case, xvfb, captures=0):
    viewer = start(case)
    proc = viewer.proc
    topic = COMPRESSED if 'compressed' in case['args'][1] else RAW
    messages = camera.messages(topic, case['encoding'])
    if case['viewer'] != 'image_view':
        harness.wait_for('the viewer', lambda: '/webcam_show' in harness.graph_state()[2], 60, period=0.2)
        harness.rosservice('/webcam_show', "{args: ''}")
        harness.rosservice('/webcam_set', "{setting: 'he', value: '%s'}" % ('on' if case.get('equalize') else 'off'))
    harness.wait_for('the viewing side to connect', lambda: camera.connected(topic), 30)
    for i in range(int(RATE)):  # warm up: window open, first frames drawn
        camera.publish(topic, messages[i % FRAMES])
        time.sleep(1.0 / RATE)
    time.sleep(0.5)
    pids = [proc.pid] + descendants(proc.pid) if case['viewer'] == 'image_view' else descendants(proc.pid)
    names = {p: name_of(p) for p in pids}
    before = {p: stat(p) for p in pids}
    x_before = stat(xvfb)[0]
    marks_before = len(viewer.marks)
    sent_at, seen = [], []
    begin = time.monotonic()
    while time.monotonic() - begin < SECONDS:
        n = len(sent_at)
        camera.publish(topic, messages[n % FRAMES])
        sent_at.append(time.time())  # the clock of the marks
        if captures and n % max(1, int(SECONDS * RATE / captures)) == 0:
            shot = harness.screenshot()
            number = test_camera.read_number(shot, 640) if shot is not None else None
            seen.append((number, n))
        time.sleep(max(0.0, begin + len(sent_at) / RATE - time.monotonic()))
    time.sleep(0.5)
    after = {p: stat(p) for p in pids}
    x_cpu = stat(xvfb)[0] - x_before
    harness.interrupt(proc)
    sent = len(sent_at)
    per = {}
    for p in pids:
        if before[p] and after[p]:
            name = names[p]
            cpu, faults = per.get(name, (0.0, 0))
            per[name] = (cpu + after[p][0] - before[p][0], faults + after[p][1] - before[p][1])
    marks = viewer.marks[marks_before:]
    latencies = sorted(m - s for m, s in zip(marks, sent_at))
    return dict(ms=1000.0 * sum(c for c, _ in per.values()) / sent, sent=sent,
                shown=len(marks) if case['viewer'] != 'image_view' else None,
                per={name: (1000.0 * c / sent, f / sent) for name, (c, f) in per.items()},
                x_ms=1000.0 * x_cpu / sent,
                latency=(latencies[len(latencies) // 2] * 1000, latencies[int(len(latencies) * 0.99)] * 1000)
                if latencies else None,
                seen=seen)


NOW = [
    dict(name='one process, bgr8', viewer='orlin', encoding='bgr8', base='bgr8', target=0.8,
         args=['source:=topic', 'topic:=' + RAW]),
    dict(name='one process, rgb8', viewer='orlin', encoding='rgb8', base='rgb8', target=0.8,
         args=['source:=topic', 'topic:=' + RAW]),
    dict(name='one process, rgb8 equalizing', viewer='orlin', encoding='rgb8', base='rgb8', target=1.2, equalize=True,
         args=['source:=topic', 'topic:=' + RAW]),
    dict(name='one process, 1080p JPEG', viewer='orlin', encoding='jpeg', base='bgr8', target=1.5,
         args=['source:=topic', 'topic:=' + COMPRESSED]),
    dict(name='one process, 2160p JPEG', viewer='orlin', encoding='jpeg4k', base='jpeg',
         args=['source:=topic', 'topic:=' + COMPRESSED]),
    dict(name='two processes, bgr8', viewer='orlin', encoding='bgr8', base='bgr8', optional=True,
         args=['source:=topic', 'topic:=' + RAW, 'nodelet:=false']),
    dict(name='one process, 1080p JPEG full size', viewer='orlin', encoding='jpeg', base='bgr8', optional=True,
         args=['source:=topic', 'topic:=' + COMPRESSED, 'full_jpeg:=true']),
]
CASES = [
    dict(name='image_view, bgr8', viewer='image_view', encoding='bgr8', args=['', RAW]),
    dict(name='image_view, rgb8', viewer='image_view', encoding='rgb8', args=['', RAW]),
] + [c for c in NOW if not c.get('optional')]


def befores():
    return [dict(c, name='before: ' + c['name'], before=True) for c in NOW if not c.get('optional')]


def main():
    if os.environ.get('ONLY'):  # a |-separated subset of our cases, by name (the optional ones too)
        only = os.environ['ONLY'].split('|')
        CASES[:] = CASES[:2] + [c for c in NOW if c['name'] in only]
    if BEFORE:
        CASES.extend(c for c in befores() if c['name'][len('before: '):] in [x['name'] for x in CASES])
    xvfb_proc, display = xserver.start_xvfb(harness._spawn, first=90)
    os.environ['DISPLAY'] = display
    harness.start_graph(display=False)
    camera = Camera()
    rounds = {c['name']: [] for c in CASES}
    for _ in range(ROUNDS):
        for case in CASES:
            rounds[case['name']].append(run_case(camera, case, xvfb_proc.pid))
    results = {name: sorted(r, key=lambda x: x['ms'])[len(r) // 2] for name, r in rounds.items()}
    drawn = {}
    for case in CASES if not os.environ.get('ONLY') else []:
        if case['name'] in ('one process, bgr8', 'one process, 1080p JPEG'):
            drawn[case['name']] = run_case(camera, case, xvfb_proc.pid, captures=20)['seen']

    cpu = re.search(r'model name\s*:\s*(.*)', open('/proc/cpuinfo').read())
    print('CPU: %s, %d cores' % (cpu.group(1) if cpu else '?', os.cpu_count()))
    print('%dx%d camera-like frames at %.0f fps from a sensor_msgs camera, %.0f s a run, median of %d rounds.'
          % (WIDTH, HEIGHT, RATE, SECONDS, ROUNDS))
    print('CPU per frame of every process on the viewing side (Xvfb apart), frames shown, latency publish -> #:')
    def ms(name):
        return results[name]['ms'] if name in results else None
    base = {'bgr8': ms('image_view, bgr8'), 'rgb8': ms('image_view, rgb8'), 'jpeg': ms('one process, 1080p JPEG')}
    baseName = {'bgr8': 'image_view bgr8', 'rgb8': 'image_view rgb8', 'jpeg': 'the 1080p JPEG'}
    for case in CASES:
        r = results[case['name']]
        b = base[case.get('base', case['encoding'])]
        shown = '%3d/%3d (%3.0f%%)' % (r['shown'], r['sent'], 100.0 * r['shown'] / r['sent']) \
            if r['shown'] is not None else '%3d sent      ' % r['sent']
        latency = '%5.1f / %5.1f ms' % r['latency'] if r['latency'] and r['shown'] else '      -        '
        target = ' (at most %.1fx)' % case['target'] if case.get('target') else ''
        print('  %-38s %6.2f ms  %5.2fx %s%s  %s  %s  Xvfb %4.2f ms' % (
            case['name'], r['ms'], r['ms'] / b, baseName[case.get('base', case['encoding'])], target, shown, latency,
            r['x_ms']))
        if case['viewer'] != 'image_view':
            for name, (per, faults) in sorted(r['per'].items()):
                print('      %-32s %6.2f ms  %5.2fx  %7.1f minor faults a frame' % (name, per, per / b, faults))
    if BEFORE:
        print('Before (%s) and now, in the same rounds:' % BEFORE)
        for case in CASES:
            if case.get('before'):
                now, then = case['name'][len('before: '):], case['name']
                b = base[case.get('base', case['encoding'])]
                print('  %-38s before %6.2f ms (%5.2fx), now %6.2f ms (%5.2fx): %5.2fx of before' % (
                    now, ms(then), ms(then) / b, ms(now), ms(now) / b, ms(now) / ms(then)))
    print('Frame numbers (of %d) read back from window captures, as drawn@sent:' % FRAMES)
    for name, seen in drawn.items():
        good = [(d, n) for d, n in seen if d is not None and any((n - k) % FRAMES == d for k in range(10))]
        print('  %-32s %2d of %2d captures show one of the 10 frames sent before: %s' % (
            name, len(good), len(seen), ' '.join('%s@%d' % (d, n % FRAMES) for d, n in seen[:8])))
    full = ms('one process, 1080p JPEG full size')
    if full and ms('one process, 1080p JPEG'):
        print('one process, 1080p JPEG reduced / full: %.2fx (decoding alone: bench/run)'
              % (ms('one process, 1080p JPEG') / full))

if __name__ == '__main__':
    main()
