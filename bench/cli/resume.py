#!/usr/bin/env python3
"""plexavo --convert stopped with SIGTERM at about half, then --resume, against
one straight conversion of the same 60 s source.

Prints the wall time of the straight conversion and of the continuation (and
the share it took), the instant it went on from, both files' durations and
sizes, and the SSIM of the joined file against the straight one over the
second around the join (the ffmpeg tool's ssim filter). No thresholds.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import time

SECONDS = 60


def duration(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                          "-of", "csv=p=0", "file:" + path], capture_output=True, text=True)
    return float(out.stdout.strip())


def ssim(a, b, start, length):
    out = subprocess.run(
        ["ffmpeg", "-v", "info", "-nostdin", "-ss", str(start), "-t", str(length), "-i",
         "file:" + a, "-ss", str(start), "-t", str(length), "-i", "file:" + b,
         "-lavfi", "[0:v][1:v]ssim", "-f", "null", "-"], capture_output=True, text=True)
    found = re.findall(r"All:([0-9.]+)", out.stderr)
    return float(found[-1]) if found else float("nan")


def partial_size(folder, stem):
    try:
        return max((os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder)
                    if n.startswith(stem) and ".partial-" in n), default=0)
    except OSError:
        return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    env = dict(os.environ, XDG_STATE_HOME=os.path.join(args.work, "state"))
    source = os.path.join(args.work, "clip.mp4")
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                    f"testsrc2=size=640x480:rate=25:duration={SECONDS}", "-f", "lavfi", "-i",
                    f"sine=frequency=440:sample_rate=44100:duration={SECONDS}", "-c:v", "mpeg4",
                    "-q:v", "4", "-c:a", "aac", "-shortest", source], check=True)
    plexavo = os.path.join(args.bin, "plexavo")
    straight_dir = os.path.join(args.work, "straight")
    out = os.path.join(args.work, "out")

    start = time.monotonic()
    subprocess.run([plexavo, "--convert", "--out", straight_dir, source], check=True, env=env,
                   stdout=subprocess.DEVNULL)
    straight_s = time.monotonic() - start
    straight = os.path.join(straight_dir, "clip-cvt.mp4")
    whole = os.path.getsize(straight)

    proc = subprocess.Popen([plexavo, "--convert", "--out", out, source], env=env,
                            stdout=subprocess.DEVNULL, start_new_session=True)
    while partial_size(out, "clip-cvt") < whole / 2 and proc.poll() is None:
        time.sleep(0.05)
    proc.send_signal(signal.SIGTERM)
    proc.wait()
    joined = os.path.join(out, "clip-cvt.mp4")
    kept_s = duration(joined)

    start = time.monotonic()
    again = subprocess.run([plexavo, "--convert", "--resume", "--out", out, source], env=env,
                           capture_output=True, text=True, check=True)
    resumed_s = time.monotonic() - start
    found = re.search(r"continued from ([0-9.]+) s", again.stdout)
    join = float(found.group(1)) if found else kept_s

    print(f"straight conversion     {straight_s:6.1f} s  {whole / 1e6:6.2f} MB  "
          f"{duration(straight):.3f} s long")
    print(f"stopped at              {kept_s:6.1f} s of the output")
    print(f"continuation            {resumed_s:6.1f} s  ({100 * resumed_s / straight_s:.0f} % of "
          f"straight, {straight_s - resumed_s:.1f} s saved)")
    print(f"joined file             {os.path.getsize(joined) / 1e6:6.2f} MB  "
          f"{duration(joined):.3f} s long, went on from {join:.2f} s")
    print(f"SSIM over the join      {ssim(joined, straight, max(join - 0.5, 0), 1.0):.4f}")


if __name__ == "__main__":
    main()
