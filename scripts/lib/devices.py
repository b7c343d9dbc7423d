#!/usr/bin/env python3
"""The simulator's account of a simulated batch, device by device: whether devices 0..N-1 hold
the image WORK/images/nor.mbn after the run (WORK/state.json), and whether they kept the identity
(serial number, MEID, test flag) and the NV items they had before it (WORK/before.json,
scripts/sim-bench.sh snapshot_devices).

    devices.py WORK DEVICES [HISTORY]

prints the account as a table: the station slot of the device's newest job in HISTORY (the lines
of `vornex history --json`), the device key, and yes or no for the image digest, the serial
number and the NV items; then each problem, or one line saying that there is none. Exits 1 when
there is a problem.
"""
import hashlib
import json
import sys


def load_devices(path):
    with open(path) as f:
        return {d["index"]: d for d in json.load(f)["devices"]}


def account(work, devices):
    """One row per device: index, key, image (holds it), sn, identity and nv (kept)."""
    with open(f"{work}/images/nor.mbn", "rb") as f:
        image = hashlib.sha256(f.read()).hexdigest()
    before, after = load_devices(f"{work}/before.json"), load_devices(f"{work}/state.json")
    rows = []
    for index in range(devices):
        old, new = before[index], after[index]
        rows.append({
            "index": index,
            "key": new["key"],
            "flash": new["flash"]["sha256"],
            "image": new["flash"]["sha256"] == image,
            "sn": new["identity"].get("sn") == old["identity"].get("sn"),
            "identity": new["identity"] == old["identity"],
            "nv": new["nv"] == old["nv"],
        })
    return image, rows


def problems(rows):
    found = []
    for row in rows:
        if not row["image"]:
            found.append(f"device {row['index']}: flash {row['flash'][:16]} is not the image")
        if not row["identity"] or not row["nv"]:
            found.append(f"device {row['index']}: identity or NV items changed")
    return found


def slots(history_path):
    """Device key -> slot of its newest job (history lists the newest first)."""
    found = {}
    with open(history_path) as f:
        for line in f:
            if line.strip():
                job = json.loads(line)
                found.setdefault(job.get("key", ""), job.get("slot") or "-")
    return found


def table(rows, slot_of):
    yes = {True: "yes", False: "no"}
    lines = [("slot", "device key", "image digest", "SN kept", "NV kept")]
    for row in sorted(rows, key=lambda r: (slot_of.get(r["key"], "~"), r["index"])):
        lines.append((slot_of.get(row["key"], "-"), row["key"], yes[row["image"]],
                      yes[row["sn"]], yes[row["nv"]]))
    widths = [max(len(line[i]) for line in lines) for i in range(len(lines[0]))]
    return ["  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip()
            for line in lines]


def main(argv):
    work, devices = argv[1], int(argv[2])
    image, rows = account(work, devices)
    slot_of = slots(argv[3]) if len(argv) > 3 else {}
    for line in table(rows, slot_of):
        print(line)
    found = problems(rows)
    for problem in found:
        print(problem)
    if found:
        return 1
    print(f"Every one of {devices} devices holds the image (sha256 {image[:16]}...) and kept its "
          "identity and NV items.")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
