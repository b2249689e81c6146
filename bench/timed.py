#!/usr/bin/env python3
"""Runs a shell command and prints the CPU seconds (user + system) that it and
its children used, on standard error as 'cpu SECONDS'."""
import resource
import subprocess
import sys

rc = subprocess.call(sys.argv[1], shell=True)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"cpu {u.ru_utime + u.ru_stime:.3f}", file=sys.stderr)
sys.exit(rc)
