#!/usr/bin/env python3
"""ratios.py RESULTS.json BASELINE: each benchmark's median time against the
baseline's with the same arguments, from one Google Benchmark run."""
import json
import sys

results, baseline = sys.argv[1], sys.argv[2]
medians = {}
for b in json.load(open(results))['benchmarks']:
    if b.get('aggregate_name') == 'median':
        name, args = b['run_name'].split('/', 1)
        medians[(name, args)] = b['real_time']
print('%-12s %-10s %12s %10s' % ('benchmark', 'frame', 'median ms', 'vs ' + baseline))
for (name, args), t in sorted(medians.items(), key=lambda kv: (kv[0][1], kv[0][0] != baseline)):
    base = medians[(baseline, args)]
    print('%-12s %-10s %12.3f %9.2fx' % (name, args.replace('/', 'x'), t, base / t))
