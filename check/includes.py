#!/usr/bin/env python3
"""The layout's rules, read from the includes: every include between rooms
runs downward (to a room on a lower floor), no files include each other in
a circle, and no room holds more than a quarter of the non-test C++ lines.

A room is a folder, or for tessel-smbus one file with its header. Run from
anywhere: python3 check/includes.py. Exits 1 with one line per fault.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (room, floor, paths): a room may include only rooms on lower floors.
# Paths are prefixes from the root; a file belongs to the longest one.
ROOMS = [
    # the viewer's packages and cores, which include no room of ours
    ('image_msgs', 0, ['image_msgs/']),
    ('equalize', 0, ['webcam/equalize/']),
    ('canvas', 0, ['webcam/canvas/']),
    ('records', 0, ['webcam/include/', 'webcam/srv/']),
    # the viewer as its node has it; the relay's pure work; the ROS graph
    ('viewer', 1, ['webcam/src/viewer/']),
    ('relay', 1, ['webcam/src/relay/']),
    ('graph', 1, ['webcam/src/graph/']),
    # what the programs share; the image source
    ('process', 2, ['webcam/src/process/']),
    ('source', 2, ['webcam/src/source/']),
    ('nodelets', 3, ['webcam/src/nodelets/']),
    ('programs', 4, ['webcam/src/programs/']),
    ('bench', 5, ['bench/']),
    ('fuzz', 5, ['webcam/fuzz/']),
    # tessel: the library, then tessel-smbus file by file
    ('tessel', 0, ['tessel/include/', 'tessel/src/', 'tessel/support/']),
    ('pmbus formats', 0, ['tessel/pmbus/']),
    ('tool shared', 1, ['tessel/tools/tool.h', 'tessel/tools/tool_support.cpp']),
    ('tool json', 1, ['tessel/tools/json.']),
    ('tool adapter', 2, ['tessel/tools/adapter.']),
    ('tool transactions', 3, ['tessel/tools/transactions.']),
    ('tool survey', 3, ['tessel/tools/survey.']),
    ('tool pmbus', 4, ['tessel/tools/pmbus.']),
    ('tool args', 5, ['tessel/tools/args.']),
    ('tool device', 5, ['tessel/tools/device.']),
    ('tool main', 6, ['tessel/tools/tessel_smbus.cpp']),
    ('tessel examples', 7, ['tessel/example/', 'tessel/board/', 'tessel/fuzz/']),
]

# Where an include is looked for, as the builds set their include paths.
SEARCH = ['webcam/src', 'webcam/include', 'webcam/equalize/include', 'webcam/canvas/include', 'image_msgs/include', 'tessel/include',
          'tessel/support', 'tessel/tools', 'tessel/pmbus']
SOURCE = re.compile(r'\.(c|cc|cpp|h|hpp)$')
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
SHARE = 0.25


def sources():
    for top, dirs, files in os.walk(ROOT):
        rel = os.path.relpath(top, ROOT)
        dirs[:] = [d for d in dirs if not d.startswith('.') and d not in ('build', 'test')]
        for f in files:
            if SOURCE.search(f):
                yield os.path.normpath(os.path.join(rel, f))


def room_of(path):
    best = None
    for name, floor, prefixes in ROOMS:
        for p in prefixes:
            if path.startswith(p) and (best is None or len(p) > len(best[2])):
                best = (name, floor, p)
    return best


def resolve(path, kind, name, files):
    """The file of this tree an include names, or None (the system's)."""
    here = os.path.dirname(path)
    tries = ([os.path.join(here, name)] if kind == '"' else []) + [os.path.join(d, name) for d in SEARCH]
    for t in tries:
        t = os.path.normpath(t)
        if t in files:
            return t
    # The service records are generated from srv/NAME.srv as <webcam/NAME.h>.
    m = re.match(r'webcam/(\w+)\.h$', name)
    if m and os.path.exists(os.path.join(ROOT, 'webcam/srv', m.group(1) + '.srv')):
        return 'webcam/srv/%s.srv' % m.group(1)
    return None


def main():
    files = set(sources())
    lines, arrows, faults = {}, {}, []
    for path in sorted(files):
        with open(os.path.join(ROOT, path), errors='replace') as f:
            text = f.read()
        lines[path] = text.count('\n')
        arrows[path] = [t for k, n in INCLUDE.findall(text) for t in [resolve(path, k, n, files)] if t]
        if room_of(path) is None:
            faults.append('%s: in no room (add it to ROOMS in check/includes.py)' % path)

    for path, targets in arrows.items():
        a = room_of(path)
        for t in targets:
            b = room_of(t)
            if a and b and a[0] != b[0] and b[1] >= a[1]:
                faults.append('%s (%s, floor %d) includes %s (%s, floor %d): an arrow that does not run down'
                              % (path, a[0], a[1], t, b[0], b[1]))

    # Circles of files, by depth-first search.
    state = {}

    def visit(p, trail):
        state[p] = 1
        for t in arrows.get(p, []):
            if state.get(t) == 1:
                faults.append('circle: ' + ' -> '.join(trail[trail.index(t):] + [t]))
            elif t not in state:
                visit(t, trail + [t])
        state[p] = 2

    for p in sorted(arrows):
        if p not in state:
            visit(p, [p])

    total = sum(lines.values())
    share = {}
    for path, n in lines.items():
        r = room_of(path)
        if r:
            share[r[0]] = share.get(r[0], 0) + n
    for name, n in sorted(share.items(), key=lambda x: -x[1]):
        if n > SHARE * total:
            faults.append('room %s holds %d of %d lines (%.0f %%), over a quarter' % (name, n, total, 100.0 * n / total))

    for f in faults:
        print(f)
    if '-v' in sys.argv[1:] or faults:
        print('%d rooms, %d lines of non-test C++; the largest: %s' % (
            len(share), total, ', '.join('%s %d' % x for x in sorted(share.items(), key=lambda x: -x[1])[:4])))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
