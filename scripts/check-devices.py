#!/usr/bin/env python3
"""The simulator's side of a run: whether devices 0..N-1 hold the image WORK/images/nor.mbn and,
after the run (WORK/state.json), the identity and NV items they had before it (WORK/before.json,
scripts/sim-bench.sh snapshot_devices). Prints each problem and exits 1, else prints one line.

    check-devices.py LABEL WORK DEVICES
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import devices  # noqa: E402

label, work, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
image, rows = devices.account(work, count)
problems = devices.problems(rows)
for problem in problems:
    print(f"{label}:", problem)
if problems:
    sys.exit(1)
print(f"{label}: every one of {count} devices holds the image (sha256 {image[:16]}...) "
      "and its own identity")
