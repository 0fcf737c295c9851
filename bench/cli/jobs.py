#!/usr/bin/env python3
"""plexavo --convert --jobs 1 against --jobs 2 on eight files.

Prints the median wall time of each, their ratio, and the processor time per
file (the program, its probes and its cores, as the kernel counts them for
the whole run), from which the gain on a machine with more processors can be
estimated: one conversion keeps about cpu/wall processors busy.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time

FILES = 8
SECONDS = 10
# The iPhone 4's H.264 at 640x480, from 640x480 sources: a common job.
CONVERT = ["--convert", "--h264", "--size", "9"]


def make_inputs(folder):
    os.makedirs(folder, exist_ok=True)
    paths = []
    for i in range(FILES):
        path = os.path.join(folder, f"clip{i}.mp4")
        if not os.path.exists(path):
            subprocess.run(
                ["ffmpeg", "-v", "error", "-nostdin", "-y",
                 "-f", "lavfi", "-i", f"testsrc2=size=640x480:rate=25:duration={SECONDS}",
                 "-f", "lavfi", "-i", f"sine=frequency={220 + 55 * i}:sample_rate=44100:"
                 f"duration={SECONDS}",
                 "-c:v", "mpeg4", "-q:v", "4", "-c:a", "aac", "-shortest", path + ".part.mp4"],
                check=True)
            os.rename(path + ".part.mp4", path)
        paths.append(path)
    return paths


def run(binary, jobs, inputs):
    """Wall seconds and processor seconds (user + system, cores included) of one run."""
    out = tempfile.mkdtemp(prefix="plexavo-bench-jobs-")
    try:
        start = time.monotonic()
        proc = subprocess.Popen([binary, *CONVERT, "--jobs", str(jobs), "--out", out, *inputs],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        text = proc.stdout.read()
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.monotonic() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0 or len(os.listdir(out)) != len(inputs):
            raise SystemExit(f"--jobs {jobs} failed ({proc.returncode}):\n{text.decode()}")
        return wall, usage.ru_utime + usage.ru_stime
    finally:
        shutil.rmtree(out, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    binary = os.path.join(args.bin, "plexavo")
    inputs = make_inputs(os.path.join(args.work, "inputs"))
    processors = os.cpu_count() or 1

    load_before = os.getloadavg()[0]
    figures = {1: [], 2: []}
    for _ in range(args.rounds):
        for jobs in (1, 2):  # interleaved, so a busy spell of the machine hits both
            figures[jobs].append(run(binary, jobs, inputs))
    wall = {j: statistics.median(w for w, _ in figures[j]) for j in figures}
    cpu = {j: statistics.median(c for _, c in figures[j]) for j in figures}
    busy = cpu[1] / wall[1]  # processors one conversion keeps busy

    print(f"== command line --jobs: {FILES} files of {SECONDS} s 640x480 to H.264 640x480, "
          f"{processors} processors, median of {args.rounds} rounds")
    # The cores run at idle priority: any other load on the machine comes first.
    print(f"load average (1 min) before: {load_before:.2f}, after: {os.getloadavg()[0]:.2f}")
    for j in (1, 2):
        print(f"--jobs {j}: {wall[j]:6.2f} s wall, {cpu[j] / FILES:5.2f} s processor time per file")
    print(f"wall-time ratio (--jobs 1 / --jobs 2): {wall[1] / wall[2]:.2f}")
    print(f"one conversion keeps {busy:.2f} processors busy: on P processors, --jobs P/{busy:.1f} "
          f"should give up to P/{busy:.1f} times the speed of --jobs 1 "
          f"(here {processors / busy:.2f})")

if __name__ == "__main__":
    main()
