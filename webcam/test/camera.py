#!/usr/bin/env python3
"""camera.py [TOPIC] [--rate R] [--width W] [--height H] [--queue N]: a
camera as a robot has one, publishing TOPIC (sensor_msgs/Image, default
/camera/image_raw) and TOPIC/compressed (sensor_msgs/CompressedImage, JPEG)
at R frames a second, each only while someone subscribes to it, as
image_transport does. Each frame carries its send time in header.stamp and,
drawn along its top as 16 blocks (white for 1), its number: the send time
in 10 ms, modulo 65536 (655 s). So whoever sees a frame knows how old it
is (age), without asking the camera."""
import argparse
import signal
import struct
import time

import cv2
import numpy as np

BITS, UNIT = 16, 0.01


def number_at(t):
    return int(round(t / UNIT)) % (1 << BITS)


def age(number, now):
    """How old a frame numbered number is at now, in s (to the nearest 10
    ms: a frame just sent may seem 10 ms from the future)."""
    units = (number_at(now) - number) % (1 << BITS)
    return (units if units < 1 << (BITS - 1) else units - (1 << BITS)) * UNIT


def read_number(shot, width):
    """The number drawn into a frame that a window shows width pixels wide,
    centred across (the window may be wider: a toolbar), or None. The rows
    of blocks are found as the first rows whose samples are all black or
    white, which the window's own grey never is."""
    h, w = shot.shape[:2]
    block = 64.0 * width / 1280
    x0 = (w - width + 1) // 2
    if x0 < 0 or h < block:
        return None
    xs = [x0 + int((b + 0.5) * block) for b in range(BITS)]
    samples = shot[:, xs].astype(int)  # rows x BITS x B, G, R
    extreme = ((samples >= 248) | (samples <= 20)).all(axis=(1, 2))
    rows = np.flatnonzero(extreme)
    if not len(rows):
        return None
    values = samples[min(h - 1, rows[0] + int(block / 4))].mean(axis=1)
    return sum(1 << b for b, v in enumerate(values) if v > 128)


def numbered(picture, number):
    """A copy of picture with number drawn along its top."""
    out = picture.copy()
    block = 64 * picture.shape[1] // 1280
    for b in range(BITS):
        out[:block, b * block:(b + 1) * block] = 255 if number >> b & 1 else 0
    return out


def pictures(width, height, count=8):
    """Camera-like pictures: smooth shapes, each shifted, and sensor noise."""
    rng = np.random.default_rng(7)
    coarse = rng.normal((90, 120, 140), (40, 50, 60), (height // 16, width // 16, 3)).clip(0, 255).astype(np.uint8)
    smooth = cv2.resize(coarse, (width, height), interpolation=cv2.INTER_CUBIC).astype(np.int16)
    return [(np.roll(smooth, 24 * n, axis=1) + rng.normal(0, 4, smooth.shape)).clip(0, 255).astype(np.uint8)
            for n in range(count)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('topic', nargs='?', default='/camera/image_raw')
    parser.add_argument('--rate', type=float, default=30)
    parser.add_argument('--width', type=int, default=1280)
    parser.add_argument('--height', type=int, default=720)
    parser.add_argument('--queue', type=int, default=2)
    args = parser.parse_args()
    import harness
    import rospy
    from sensor_msgs.msg import CompressedImage, Image
    rospy.init_node('camera', disable_signals=True)
    raw_cls, jpeg_cls = harness.raw_class(Image), harness.raw_class(CompressedImage)
    raw_pub = rospy.Publisher(args.topic, raw_cls, queue_size=args.queue)
    jpeg_pub = rospy.Publisher(args.topic + '/compressed', jpeg_cls, queue_size=args.queue)
    frames = pictures(args.width, args.height)
    # The fields after the header, serialized once.
    raw_tail = harness.wire(Image(height=args.height, width=args.width, encoding='bgr8', step=3 * args.width))
    raw_tail = raw_tail[12 + 4:-4]  # without the header's seq, stamp, empty frame_id and the empty data
    start, n = time.time(), 0
    try:
        while not rospy.is_shutdown():
            due = start + n / args.rate
            time.sleep(max(0.0, due - time.time()))
            raw, jpeg = raw_pub.get_num_connections() > 0, jpeg_pub.get_num_connections() > 0
            if raw or jpeg:
                now = time.time()
                picture = numbered(frames[n % len(frames)], number_at(now))
                header = struct.pack('<III', n, int(now), int((now % 1) * 1e9)) + struct.pack('<I', 0)
                if raw:
                    data = picture.tobytes()
                    raw_pub.publish(raw_cls(header + raw_tail + struct.pack('<I', len(data)) + data))
                if jpeg:
                    data = cv2.imencode('.jpg', picture, [cv2.IMWRITE_JPEG_QUALITY, 80])[1].tobytes()
                    jpeg_pub.publish(jpeg_cls(header + struct.pack('<I', 4) + b'jpeg' + struct.pack('<I', len(data))
                                              + data))
            n += 1
    except KeyboardInterrupt:
        pass
    # Unregistering is not to be cut short by another Ctrl-C.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    rospy.signal_shutdown('done')


if __name__ == '__main__':
    try:
        main()
    except KeyboardInterrupt:  # also while it is starting
        pass
