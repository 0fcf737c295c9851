#!/usr/bin/env python3
"""What continuing a stopped conversion costs against converting again from the start.

For each codec: the straight conversion of a minute, the same conversion stopped at half
(SIGTERM once its progress passes 30 s), and its continuation with -resume. Prints the
straight conversion's time, the continuation's time and their ratio (the target is at most
0.60 when stopped at half), the sizes, the SSIM of the joined file against the straight one
over the second around the join, and the sound at the join: the widest gap between two sound
packets, the worst difference from the straight file's sound in 256-sample windows (a gap, a
click or a doubled piece shows there), and the quietest 10 ms there.

Processor time (user and system, of the core alone) is printed beside it, being less at the
mercy of other work on the machine.

Usage: python3 bench/resume.py --core build/bin/Plexcore [--work DIR] [--repeats N]
       [--codec h264 --codec xvid]
The source (1280x720, 25 fps, H.264 and AAC, a minute) is made once in --work. Times are
wall clock around each process, medians of the repeats; the conversions run one at a time.
"""

import argparse
import math
import os
import re
import resource
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time

RATIO_TARGET = 0.60

SETTINGS = {
    "h264": (".mov", ["-vcodec", "h264", "-s", "640x480", "-r", "25", "-b", "1200"]),
    "xvid": (".mp4", ["-vcodec", "xvid", "-s", "640x480", "-r", "25", "-b", "1200"]),
}
AUDIO = ["-ac", "2", "-ab", "128", "-ar", "44100"]


def read_contract(name):
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "contract", "PlexcoreContract.h"), encoding="utf-8") as f:
        m = re.search(r'\b%s\[\]\s*=\s*"([^"]*)"' % re.escape(name), f.read())
    if not m:
        sys.exit("bench: %s not found in the contract" % name)
    return m.group(1)


ACCESS_CODE = read_contract("kAccessCode")
CONTINUE = read_contract("kContinuePrefix")


def make_source(work):
    path = os.path.join(work, "resume-source-720p-60s.mp4")
    if not os.path.exists(path):
        subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y",
                        "-f", "lavfi", "-i", "testsrc2=s=1280x720:r=25:d=60",
                        "-f", "lavfi", "-i", "sine=f=440:sample_rate=44100:d=60",
                        "-c:v", "libx264", "-preset", "veryfast", "-g", "50", "-pix_fmt", "yuv420p",
                        "-c:a", "aac", "-ac", "2", path + ".part.mp4"], check=True)
        os.rename(path + ".part.mp4", path)
    return path


def core_run(core, args, stop_at=None):
    """Runs the core; with stop_at, sends SIGTERM once its progress passes that many seconds.
    Returns (exit status, its text, wall seconds, processor seconds)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    p = subprocess.Popen([core, ACCESS_CODE] + args, stderr=subprocess.PIPE)
    text = b""
    sent = False
    while True:
        chunk = p.stderr.read1(65536)
        if not chunk:
            break
        text += chunk
        if stop_at is not None and not sent:
            times = re.findall(rb"time=([0-9.]+)", text[-4096:])
            if times and float(times[-1]) >= stop_at:
                p.send_signal(signal.SIGTERM)
                sent = True
    status = p.wait()
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return status, text.decode(errors="replace"), wall, cpu


def duration(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                          "-of", "csv=p=0", path], capture_output=True, text=True).stdout
    try:
        return float(out.strip())
    except ValueError:
        return float("nan")


def samples(path, start, length):
    out = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:a:0",
                          "-ss", "%.3f" % start, "-t", "%.3f" % length, "-ac", "1",
                          "-f", "f32le", "-"], capture_output=True).stdout
    return struct.unpack("<%df" % (len(out) // 4), out[: len(out) // 4 * 4])


def db(power):
    return 10 * math.log10(power + 1e-20)


def sound_at_join(joined, straight, join):
    start = max(join - 0.5, 0)
    a, b = samples(joined, start, 1.0), samples(straight, start, 1.0)
    n = min(len(a), len(b))
    worst, quietest = -200.0, 200.0
    for i in range(0, n - 256 + 1, 256):
        diff = sum((a[k] - b[k]) ** 2 for k in range(i, i + 256))
        sig = sum(b[k] ** 2 for k in range(i, i + 256))
        worst = max(worst, db(diff) - db(sig))
    for i in range(0, n - 441 + 1, 441):
        quietest = min(quietest, db(sum(a[k] ** 2 for k in range(i, i + 441)) / 441))
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                          "packet=pts_time,duration_time", "-of", "csv=p=0", joined],
                         capture_output=True, text=True).stdout
    gap, last_end = 0.0, None
    for line in out.split():
        pts, dur = (float(x) for x in line.split(",")[:2])
        if last_end is not None:
            gap = max(gap, pts - last_end)
        last_end = pts + dur
    return gap, worst, quietest


def ssim_at(joined, straight, join):
    trim = "trim=start=%.3f:end=%.3f,setpts=PTS-STARTPTS" % (max(join - 0.5, 0), join + 0.5)
    out = subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-nostats", "-i", joined,
                          "-i", straight, "-lavfi", "[0:v]%s[x];[1:v]%s[y];[x][y]ssim" % (trim, trim),
                          "-f", "null", "-"], capture_output=True, text=True).stderr
    m = re.findall(r"All:([0-9.]+)", out)
    return float(m[-1]) if m else float("nan")


def bench_codec(core, source, work, codec, repeats):
    ext, video = SETTINGS[codec]
    settings = ["-i", source] + video + AUDIO
    straight_times, resume_times, straight_cpu, resume_cpu = [], [], [], []
    result = {}
    for _ in range(repeats):
        straight = os.path.join(work, "straight-" + codec + ext)
        kept = os.path.join(work, "kept-" + codec + ext)
        status, text, secs, cpu = core_run(core, settings + ["-y", straight])
        if status != 0:
            sys.exit("bench: the straight conversion failed:\n" + text[-800:])
        straight_times.append(secs)
        straight_cpu.append(cpu)
        status, text, _, _ = core_run(core, settings + ["-y", kept], stop_at=30.0)
        if status != 255:
            sys.exit("bench: the conversion was not stopped (exit %d)" % status)
        kept_size, kept_len = os.path.getsize(kept), duration(kept)
        status, text, secs, cpu = core_run(core, settings + ["-resume", kept])
        if status != 0:
            sys.exit("bench: the continuation failed:\n" + text[-800:])
        resume_times.append(secs)
        resume_cpu.append(cpu)
        join = float(re.search(re.escape(CONTINUE) + r"([0-9.]+)", text).group(1))
        result = {
            "kept": (kept_len, kept_size),
            "join": join,
            "sizes": (os.path.getsize(straight), os.path.getsize(kept)),
            "durations": (duration(straight), duration(kept)),
            "ssim": ssim_at(kept, straight, join),
            "sound": sound_at_join(kept, straight, join),
        }
    s, r = statistics.median(straight_times), statistics.median(resume_times)
    sc, rc = statistics.median(straight_cpu), statistics.median(resume_cpu)
    gap, worst, quietest = result["sound"]
    print("%s%s: straight %.2f s, continuation %.2f s, ratio %.2f (target <= %.2f%s)"
          % (codec, ext, s, r, r / s, RATIO_TARGET, "" if r / s <= RATIO_TARGET else ", MISSED"))
    print("  processor time: straight %.2f s, continuation %.2f s, ratio %.2f" % (sc, rc, rc / sc))
    print("  stopped at %.2f s of output (%d bytes), continued from %.2f s"
          % (result["kept"][0], result["kept"][1], result["join"]))
    print("  sizes: straight %d bytes, joined %d bytes; lengths %.3f s and %.3f s"
          % (result["sizes"] + result["durations"]))
    print("  SSIM of the joined file against the straight one, %.1f-%.1f s: %.4f"
          % (max(result["join"] - 0.5, 0), result["join"] + 0.5, result["ssim"]))
    print("  sound at the join: widest packet gap %.1f ms, worst difference %.1f dB, "
          "quietest 10 ms %.1f dBFS" % (gap * 1000, worst, quietest))
    print("  runs (wall): straight %s s, continuation %s s"
          % (", ".join("%.2f" % t for t in straight_times),
             ", ".join("%.2f" % t for t in resume_times)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--core", required=True)
    ap.add_argument("--work", default=None)
    ap.add_argument("--repeats", type=int, default=1)
    ap.add_argument("--codec", action="append", choices=sorted(SETTINGS))
    a = ap.parse_args()
    work = a.work or tempfile.mkdtemp(prefix="plexcore-resume-")
    os.makedirs(work, exist_ok=True)
    # The stopped notes go to a folder of the benchmark's own, not the user's.
    os.environ["XDG_STATE_HOME"] = os.path.join(work, "state")
    source = make_source(work)
    for codec in a.codec or ["h264", "xvid"]:
        bench_codec(os.path.abspath(a.core), source, work, codec, a.repeats)


if __name__ == "__main__":
    main()
