#!/usr/bin/env python3
"""The Python module's speed: the packets of the 60-second dense capture walked in Python, reading each
one's type and time, and the samples of a one-hour capture sampled every millisecond as one array.

    python3 bench/python_speed.py BUILD [REPEATS]

BUILD is a build folder with the module (BUILD/python) and bench/dense_capture; the dense capture is
written to /tmp/dense60.qxc when it is not there, the one-hour capture is synthesized for the run.
Prints the best of REPEATS (default 5) runs of each.
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import time

build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 5
sys.path.insert(0, str(build / "python"))
import ambrio  # noqa: E402

# A fixed-supply negotiation, then the sink's load; the samples come every millisecond for an hour.
HOUR = {
    "seconds": 3600,
    "analog": {"sampleIntervalMs": 1},
    "steps": [{"message": "Source_Capabilities", "from": "source"}, {"message": "Request", "from": "sink"},
              {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"}],
}


def best(run):
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        result = run()
        times.append(time.perf_counter() - t0)
    return min(times), result


def walk(cap):
    n = 0
    for p in cap:
        p.message_type
        p.time_us
        n += 1
    return n


def main():
    dense = pathlib.Path("/tmp/dense60.qxc")
    if not dense.exists():
        subprocess.run([str(build / "bench" / "dense_capture"), str(dense), "60"], check=True)
    seconds, cap = best(lambda: ambrio.open(dense))
    print(f"open {dense.name}: {len(cap)} packets, {cap.info['samples']} samples in {seconds * 1000:.0f} ms")
    seconds, n = best(lambda: walk(cap))
    print(f"packets walked, type and time read: {n} in {seconds * 1000:.1f} ms = "
          f"{n / seconds / 1e6:.2f} M packets/s")

    with tempfile.TemporaryDirectory() as folder:
        t0 = time.perf_counter()
        hour = ambrio.synth(HOUR, path=os.path.join(folder, "hour.qxc"))
        print(f"one-hour capture synthesized and opened in {time.perf_counter() - t0:.1f} s")
    seconds, samples = best(hour.samples)
    print(f"samples as an array: {len(samples)} in {seconds * 1000:.1f} ms = "
          f"{len(samples) / seconds / 1e6:.0f} M samples/s ({samples.nbytes / 1e6:.0f} MB)")


if __name__ == "__main__":
    main()
