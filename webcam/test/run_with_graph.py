#!/usr/bin/env python3
"""run_with_graph.py PROGRAM [ARGS...]: runs a test program with a master
and an X server of its own, and returns its status."""
import subprocess
import sys

import harness

if __name__ == '__main__':
    harness.start_graph(display=True)
    sys.exit(subprocess.call(sys.argv[1:]))
