#!/usr/bin/env python3
"""The simulator's side of a run: whether devices 0..N-1 hold the image WORK/images/nor.mbn and,
after the run (WORK/state.json), the identity and NV items they had before it (WORK/before.json,
scripts/sim-bench.sh snapshot_devices). Prints each problem and exits 1, else prints one line.

    check-devices.py LABEL WORK DEVICES
"""
import hashlib
import json
import sys

label, work, devices = sys.argv[1], sys.argv[2], int(sys.argv[3])
image = hashlib.sha256(open(f"{work}/images/nor.mbn", "rb").read()).hexdigest()
before = {d["index"]: d for d in json.load(open(f"{work}/before.json"))["devices"]}
after = {d["index"]: d for d in json.load(open(f"{work}/state.json"))["devices"]}
problems = []
for index in range(devices):
    old, new = before[index], after[index]
    if new["flash"]["sha256"] != image:
        problems.append(f"device {index}: flash {new['flash']['sha256'][:16]} is not the image")
    if new["identity"] != old["identity"] or new["nv"] != old["nv"]:
        problems.append(f"device {index}: identity or NV items changed")
for problem in problems:
    print(f"{label}:", problem)
if problems:
    sys.exit(1)
print(f"{label}: every one of {devices} devices holds the image (sha256 {image[:16]}...) "
      "and its own identity")
