#!/usr/bin/env python3
"""ratios.py RESULTS.json: from one Google Benchmark run of equalize_bench,
each frame's equalization time per path, against OpenCV's equalizeHist on
the three planes and against a memcpy of the frame."""
import json
import sys

medians = {}
for b in json.load(open(sys.argv[1]))['benchmarks']:
    if b.get('aggregate_name') == 'median' and not b.get('error_occurred'):
        name, w, h, content = b['run_name'].split('/')
        medians[(name, (int(w), int(h), int(content)))] = b['real_time']
paths = sorted({n for n, _ in medians if n.startswith('orlin_')})
print('%-10s %-8s %-15s %9s %14s %9s' % ('frame', 'content', 'path', 'ms', 'x equalizeHist', 'x memcpy'))
for key in sorted({k for _, k in medians}, key=lambda k: (k[2], k[0] * k[1])):
    w, h, content = key
    hist, copy = medians[('equalizeHist_x3', key)], medians[('memcpy', key)]
    for path in paths:
        if (path, key) in medians:
            t = medians[(path, key)]
            print('%-10s %-8s %-15s %9.3f %13.2fx %8.2fx' % ('%dx%d' % (w, h), ('camera', 'one-bin')[content],
                                                             path[6:], t, hist / t, t / copy))
    print('%-10s %-8s %-15s %9.3f %-14s %-9s' % ('', '', 'equalizeHist x3', hist, '', ''))
    print('%-10s %-8s %-15s %9.3f' % ('', '', 'memcpy', copy))
