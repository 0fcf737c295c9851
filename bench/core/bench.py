#!/usr/bin/env python3
"""Plexcore side by side with the ffmpeg tool and HandBrakeCLI.

Every case runs the three on the same cached input with the same settings,
interleaved, several times; the table shows medians. Peak memory comes from
GNU time (%M), wall time from a monotonic clock around the whole process.

Picture quality (SSIM) is measured the same way for every output: the active
picture of the output (its letterbox bars cropped off, found by cropdetect) is
compared with the source scaled straight to that picture size with lanczos.
No tool's own scaler is reused for the reference, so none is favoured.
"""

import argparse
import json
import os
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import time

def read_contract(name):
    """A string constant of the program/core contract header, so the benchmark
    drives the core exactly as the program does."""
    here = os.path.dirname(os.path.abspath(__file__))
    header = os.path.join(here, "..", "..", "contract", "PlexcoreContract.h")
    with open(header, encoding="utf-8") as f:
        m = re.search(r'\b%s\[\]\s*=\s*"([^"]*)"' % re.escape(name), f.read())
    if not m:
        sys.exit("bench: %s not found in %s" % (name, header))
    return m.group(1)


ACCESS_CODE = read_contract("kAccessCode")

# The targets the core is held to, relative to the ffmpeg tool.
WALL_RATIO_MAX = 1.05
# ... and relative to the core before a change (--baseline-core), on a source that change
# does not concern: its processor time per conversion.
BASELINE_RATIO_MAX = 1.02
MEMORY_RATIO_MAX = 1.20
SSIM_SHORTFALL_MAX = 0.002


def log(msg):
    print(msg, flush=True)


def run_quiet(argv, **kw):
    return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def ffmpeg(args, out):
    r = run_quiet(["ffmpeg", "-v", "error", "-nostdin", "-y"] + args + [out])
    if r.returncode != 0:
        sys.exit("making %s failed:\n%s" % (out, r.stdout))


# ---------------------------------------------------------------------------
# Inputs, made once and kept in the work folder.

def make_sources(work, seconds):
    src = os.path.join(work, "sources")
    os.makedirs(src, exist_ok=True)
    hd = os.path.join(src, "hd720-%ds.mp4" % seconds)
    if not os.path.exists(hd):
        log("making %s (one time)" % hd)
        # A moving test pattern with film-like grain: hard enough that rate control matters.
        ffmpeg(["-f", "lavfi", "-i", "testsrc2=s=1280x720:r=25:d=%d,noise=alls=6:allf=t" % seconds,
                "-f", "lavfi", "-i", "sine=f=440:sample_rate=48000:d=%d" % seconds,
                "-ac", "2", "-c:v", "libx264", "-preset", "veryfast", "-crf", "18",
                "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart"],
               hd + ".part.mp4")
        os.rename(hd + ".part.mp4", hd)
    long_mp4 = os.path.join(src, "long-10min.mp4")
    long_mkv = os.path.join(src, "long-10min.mkv")
    if not os.path.exists(long_mp4):
        log("making %s (one time)" % long_mp4)
        clip = os.path.join(src, "clip-10s.mp4")
        ffmpeg(["-f", "lavfi", "-i", "testsrc2=s=640x360:r=25:d=10",
                "-f", "lavfi", "-i", "sine=f=440:sample_rate=44100:d=10",
                "-ac", "2", "-c:v", "libx264", "-preset", "veryfast", "-g", "50",
                "-c:a", "aac", "-b:a", "128k"], clip)
        # Ten minutes for the price of ten seconds: the same packets sixty times over.
        ffmpeg(["-stream_loop", "59", "-i", clip, "-c", "copy"], long_mp4 + ".part.mp4")
        os.rename(long_mp4 + ".part.mp4", long_mp4)
        os.remove(clip)
    if not os.path.exists(long_mkv):
        ffmpeg(["-i", long_mp4, "-c", "copy"], long_mkv + ".part.mkv")
        os.rename(long_mkv + ".part.mkv", long_mkv)
    return hd, long_mp4, long_mkv


def make_extras_source(work, hd, seconds):
    """The 720p source with what the devices show besides: a second and third sound track,
    subtitles (a cue a second) and chapters (one every ten seconds)."""
    src = os.path.join(work, "sources", "hd720-extras-%ds.mkv" % seconds)
    if os.path.exists(src):
        return src
    log("making %s (one time)" % src)
    srt = src + ".srt"
    meta = src + ".meta"
    with open(srt, "w") as f:
        for n in range(seconds):
            f.write("%d\n00:%02d:%02d,100 --> 00:%02d:%02d,900\nLine %d of the film\n\n"
                    % (n + 1, n // 60, n % 60, n // 60, n % 60, n + 1))
    with open(meta, "w") as f:
        f.write(";FFMETADATA1\ntitle=Bench extras\n")
        for c in range(0, seconds, 10):
            f.write("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%d\nEND=%d\ntitle=Part %d\n"
                    % (c * 1000, min(seconds, c + 10) * 1000, c // 10 + 1))
    ffmpeg(["-i", hd, "-f", "lavfi", "-i", "sine=f=330:sample_rate=48000:d=%d" % seconds,
            "-f", "lavfi", "-i", "sine=f=550:sample_rate=44100:d=%d" % seconds,
            "-i", srt, "-i", meta, "-map", "0:v", "-map", "0:a", "-map", "1:a", "-map", "2:a",
            "-map", "3:s", "-map_metadata", "4", "-map_chapters", "4", "-c:v", "copy",
            "-c:a:0", "copy", "-c:a:1", "aac", "-c:a:2", "aac", "-ac", "2", "-c:s", "srt",
            "-metadata:s:a:0", "language=eng", "-metadata:s:a:1", "language=fre",
            "-metadata:s:a:2", "language=ger", "-metadata:s:s:0", "language=eng"],
           src + ".part.mkv")
    os.rename(src + ".part.mkv", src)
    os.remove(srt)
    os.remove(meta)
    return src


# ---------------------------------------------------------------------------
# Measuring one run.

def measure(argv, log_path, env=None):
    """Runs argv under GNU time; returns (wall s, CPU s, peak RSS in KiB, exit code)."""
    stats_file = log_path + ".time"
    start = time.monotonic()
    with open(log_path, "w") as out:
        rc = subprocess.call(["/usr/bin/time", "-f", "@@ %M %U %S", "-o", stats_file] + argv,
                             stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                             env=env)
    wall = time.monotonic() - start
    rss, cpu = 0, 0.0
    with open(stats_file) as f:
        for line in f:
            if line.startswith("@@ "):
                fields = line.split()
                rss, cpu = int(fields[1]), float(fields[2]) + float(fields[3])
    os.remove(stats_file)
    return wall, cpu, rss, rc


def probe_json(path):
    r = subprocess.run(["ffprobe", "-v", "error", "-show_format", "-show_streams", "-of", "json", path],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return json.loads(r.stdout) if r.returncode == 0 else None


def video_stream(info):
    for s in (info or {}).get("streams", []):
        if s.get("codec_type") == "video":
            return s
    return None


def frame_count(path, info):
    v = video_stream(info)
    if v and str(v.get("nb_frames", "")).isdigit():
        return int(v["nb_frames"])
    r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets",
                        "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path],
                       stdout=subprocess.PIPE, text=True)
    return int(r.stdout.strip() or 0)


def active_picture(path):
    """The output's picture area without letterbox bars: (w, h, x, y)."""
    r = run_quiet(["ffmpeg", "-hide_banner", "-nostdin", "-i", path, "-vf",
                   "cropdetect=limit=24:round=2:reset=0", "-frames:v", "100", "-f", "null", "-"])
    found = re.findall(r"crop=(\d+):(\d+):(\d+):(\d+)", r.stdout)
    if not found:
        v = video_stream(probe_json(path))
        return int(v["width"]), int(v["height"]), 0, 0
    return tuple(int(n) for n in found[-1])


def ssim(path, source, seconds):
    w, h, x, y = active_picture(path)
    graph = ("[0:v]crop=%d:%d:%d:%d,setpts=PTS-STARTPTS,setsar=1[o];"
             "[1:v]trim=duration=%s,setpts=PTS-STARTPTS,scale=%d:%d:flags=lanczos,setsar=1[r];"
             "[o][r]ssim" % (w, h, x, y, seconds, w, h))
    r = run_quiet(["ffmpeg", "-hide_banner", "-nostdin", "-nostats", "-i", path, "-i", source,
                   "-filter_complex", graph, "-f", "null", "-"])
    m = re.search(r"SSIM Y:([0-9.]+).*All:([0-9.]+)", r.stdout)
    return (float(m.group(2)) if m else None), "%dx%d+%d+%d" % (w, h, x, y)


# ---------------------------------------------------------------------------
# The equivalent command lines. The ffmpeg one mirrors the core's own choices
# (docs/core.md): same filter chains, encoder options and rate-control buffer.
# The core prints its own equivalent when PLEXCORE_PLAN=1; the report compares the two.

AUDIO = ["-map", "0:a:0", "-af", "atrim=start=0,aresample=48000:async=1:first_pts=0,"
                                 "aformat=sample_fmts=fltp:sample_rates=48000:channel_layouts=stereo",
         "-c:a", "aac", "-b:a", "128k"]

def h264_case(src, seconds):
    core = ["-title", "Bench", "-vcodec", "h264", "-pix_fmt", "yuv420p", "-s", "640x480",
            "-r", "25", "-b", "768", "-ac", "2", "-ab", "128", "-ar", "48000",
            "-ss", "0", "-t", str(seconds)]
    ff = ["-ss", "0", "-i", src, "-t", str(seconds),
          "-map", "0:v:0", "-vf", "fps=25/1:start_time=0,scale=640:360:flags=bicubic,"
                                  "pad=640:480:0:60:black,setsar=1/1,format=yuv420p",
          "-c:v", "libx264", "-preset", "medium", "-profile:v", "baseline", "-level", "3.0",
          "-b:v", "768k", "-maxrate", "10000k", "-bufsize", "10000000"] + AUDIO + \
         ["-f", "mov", "-movflags", "+faststart", "-metadata", "title=Bench"]
    # Closest Apple preset; size, rate and bit rates set to the same values, letterboxed alike.
    hb = ["--preset", "Apple 540p30 Surround", "-e", "x264", "--encoder-preset", "medium",
          "--encoder-profile", "baseline", "--encoder-level", "3.0", "-b", "768",
          "--cfr", "-r", "25", "-w", "640", "-l", "360",
          "--pad", "width=640:height=480:color=black", "--crop", "0:0:0:0",
          "-a", "1", "-E", "av_aac", "-B", "128", "-6", "stereo", "-R", "48", "-O",
          "--stop-at", "seconds:%d" % seconds]
    return {"id": "h264-640x480", "name": "720p H.264 -> 640x480 H.264 768 kb/s", "ext": ".mov", "hb_ext": ".mp4",
            "core": core, "ffmpeg": ff, "handbrake": hb,
            "handbrake_note": "preset Apple 540p30 Surround, size/rate/bit rates overridden"}


def mpeg4_case(src, seconds):
    core = ["-title", "Bench", "-vcodec", "xvid", "-pix_fmt", "yuv420p", "-s", "320x240",
            "-r", "25", "-b", "768", "-ac", "2", "-ab", "128", "-ar", "48000",
            "-ss", "0", "-t", str(seconds)]
    ff = ["-ss", "0", "-i", src, "-t", str(seconds),
          "-map", "0:v:0", "-vf", "fps=25/1:start_time=0,scale=320:180:flags=bicubic,"
                                  "pad=320:240:0:30:black,setsar=1/1,format=yuv420p",
          "-c:v", "mpeg4", "-mbd", "rd", "-flags", "+mv4", "-tag:v", "mp4v", "-profile:v", "0",
          "-level", "3", "-bf", "0", "-g", "250", "-b:v", "768k", "-bt", "768k"] + AUDIO + \
         ["-f", "mp4", "-movflags", "+faststart", "-metadata", "title=Bench"]
    # No Apple preset writes MPEG-4 Simple Profile: the closest one with its encoder swapped.
    hb = ["--preset", "Apple 540p30 Surround", "-e", "mpeg4", "-b", "768",
          "--cfr", "-r", "25", "-w", "320", "-l", "180",
          "--pad", "width=320:height=240:color=black", "--crop", "0:0:0:0",
          "-a", "1", "-E", "av_aac", "-B", "128", "-6", "stereo", "-R", "48", "-O",
          "--stop-at", "seconds:%d" % seconds]
    return {"id": "mpeg4-320x240", "name": "720p H.264 -> 320x240 MPEG-4 768 kb/s", "ext": ".mp4", "hb_ext": ".mp4",
            "core": core, "ffmpeg": ff, "handbrake": hb,
            "handbrake_note": "preset Apple 540p30 Surround with -e mpeg4 (no MPEG-4 preset exists)"}


def run_encode_case(case, core_bin, src, seconds, work, repeats, handbrake, hb_repeats):
    out_dir = os.path.join(work, "out")
    os.makedirs(out_dir, exist_ok=True)
    tag = case["id"]
    tools = {
        "Plexcore": lambda out: [core_bin, ACCESS_CODE, "-i", src] + case["core"] + ["-y", out],
        "ffmpeg": lambda out: ["ffmpeg", "-hide_banner", "-nostdin", "-y"] + case["ffmpeg"] + [out],
    }
    exts = {"Plexcore": case["ext"], "ffmpeg": case["ext"], "HandBrakeCLI": case["hb_ext"]}
    if handbrake:
        tools["HandBrakeCLI"] = lambda out: ["HandBrakeCLI", "-i", src, "-o", out] + case["handbrake"]
    samples = {t: [] for t in tools}
    commands = {}
    for rep in range(repeats):
        for tool, argv_for in tools.items():  # interleaved, so drift hits all alike
            # HandBrakeCLI has no target to meet and is slow: fewer runs of it.
            if samples[tool] is None or (tool == "HandBrakeCLI" and rep >= hb_repeats):
                continue
            out = os.path.join(out_dir, "%s-%s%s" % (tool, tag, exts[tool]))
            if os.path.exists(out):
                os.remove(out)
            argv = argv_for(out)
            commands[tool] = argv
            env = dict(os.environ, PLEXCORE_PLAN="1") if tool == "Plexcore" else None
            wall, cpu, rss, rc = measure(argv, out + ".log", env)
            if rc != 0 or not os.path.exists(out):
                log("  %s failed (exit %d), see %s.log" % (tool, rc, out))
                samples[tool] = None
                continue
            samples[tool].append((wall, rss, cpu))
            log("  run %d %-12s %6.2f s wall %6.2f s CPU %7.1f MB" % (rep + 1, tool, wall, cpu, rss / 1024))
    rows = {"_plan": plan_check(os.path.join(out_dir, "Plexcore-%s%s.log" % (tag, case["ext"])), case["ffmpeg"])}
    for tool in tools:
        out = os.path.join(out_dir, "%s-%s%s" % (tool, tag, exts[tool]))
        if not samples[tool]:
            rows[tool] = None
            continue
        info = probe_json(out)
        frames = frame_count(out, info)
        wall = statistics.median(s[0] for s in samples[tool])
        rss = statistics.median(s[1] for s in samples[tool])
        cpu = statistics.median(s[2] for s in samples[tool])
        quality, picture = ssim(out, src, seconds)
        v = video_stream(info) or {}
        rows[tool] = {
            "wall_s": wall, "cpu_s": cpu, "runs": len(samples[tool]),
            "fps": frames / wall if wall > 0 else 0, "frames": frames,
            "peak_mb": rss / 1024, "size_kb": os.path.getsize(out) / 1024,
            "video_kbps": int(v.get("bit_rate", 0) or 0) / 1000, "ssim": quality,
            "picture": picture, "command": commands[tool],
        }
    return rows


def encoder_settings(argv):
    """The part of an ffmpeg command that decides the encode: from the first -map to +faststart."""
    if "-map" not in argv or "+faststart" not in argv:
        return None
    return argv[argv.index("-map"):argv.index("+faststart") + 1]


def plan_check(core_log, ffmpeg_args):
    """Compares the bench's ffmpeg command with the one the core says it is equal to."""
    plan = None
    try:
        with open(core_log) as f:
            for line in f.read().replace("\r", "\n").splitlines():
                if line.startswith("Plan: "):
                    plan = shlex.split(line[6:])
    except OSError:
        pass
    if not plan:
        return {"same": None, "plan": "the core printed no Plan line"}
    same = encoder_settings(plan) == encoder_settings(ffmpeg_args)
    return {"same": same, "plan": " ".join(plan)}


def run_core_pairs(case, pairs, work, repeats):
    """Interleaved runs of the core on (label, core, source) pairs with the case's settings;
    median wall and CPU seconds per label."""
    out_dir = os.path.join(work, "out")
    os.makedirs(out_dir, exist_ok=True)
    samples = {label: [] for label, _, _ in pairs}
    for rep in range(repeats):
        for label, core_bin, src in pairs:
            out = os.path.join(out_dir, "pair-%s-%s%s" % (case["id"], label, case["ext"]))
            argv = [core_bin, ACCESS_CODE, "-i", src] + case["core"] + ["-y", out]
            wall, cpu, _rss, rc = measure(argv, out + ".log")
            if rc != 0:
                sys.exit("bench: %s failed (exit %d), see %s.log" % (label, rc, out))
            samples[label].append((wall, cpu))
            log("  run %d %-12s %6.2f s wall %6.2f s CPU" % (rep + 1, label, wall, cpu))
    # The least of the runs is shown beside the medians: on a shared machine it is the one
    # other processes disturbed least (x264 at an average rate varies its own work a little).
    return {label: {"wall_s": statistics.median(w for w, _ in v),
                    "cpu_s": statistics.median(c for _, c in v),
                    "cpu_min_s": min(c for _, c in v), "runs": len(v)}
            for label, v in samples.items()}


def pair_table(title, rows, ref_label):
    ref = rows[ref_label]
    lines = ["", "### %s" % title, "",
             "| core | runs | wall s | CPU s | least CPU s | wall/%s | CPU/%s | least CPU/%s |"
             % (ref_label, ref_label, ref_label),
             "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for label, r in rows.items():
        lines.append("| %s | %d | %.2f | %.2f | %.2f | %.3f | %.3f | %.3f |" % (
            label, r["runs"], r["wall_s"], r["cpu_s"], r["cpu_min_s"], r["wall_s"] / ref["wall_s"],
            r["cpu_s"] / ref["cpu_s"], r["cpu_min_s"] / ref["cpu_min_s"]))
    return lines


def run_probe_case(core_bin, path, work, repeats, handbrake):
    tools = {
        "Plexcore": [core_bin, ACCESS_CODE, "-i", path],
        "ffprobe": ["ffprobe", "-hide_banner", path],
    }
    if handbrake:
        tools["HandBrakeCLI"] = ["HandBrakeCLI", "--scan", "--previews", "1:0", "-i", path]
    samples = {t: [] for t in tools}
    logs = os.path.join(work, "out")
    os.makedirs(logs, exist_ok=True)
    for _ in range(repeats):
        for tool, argv in tools.items():
            wall, _cpu, rss, _rc = measure(argv, os.path.join(logs, "probe-%s.log" % tool))
            samples[tool].append((wall, rss))
    return {t: {"wall_s": statistics.median(s[0] for s in v), "peak_mb": statistics.median(s[1] for s in v) / 1024,
                "command": tools[t]}
            for t, v in samples.items()}


# ---------------------------------------------------------------------------
# Reporting.

def verdict(ok):
    return "PASS" if ok else "FAIL"


def encode_table(title, rows, seconds):
    plan = rows.pop("_plan", None)
    ref = rows.get("ffmpeg")
    lines = ["", "### %s (%d s source)" % (title, seconds), "",
             "| tool | runs | wall s | CPU s | enc fps | peak MB | size KB | video kb/s | SSIM | picture | wall/ff | mem/ff | SSIM-ff |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|"]
    for tool, r in rows.items():
        if r is None:
            lines.append("| %s | failed | | | | | | | | | | | |" % tool)
            continue
        ratio = lambda k: ("%.2f" % (r[k] / ref[k])) if ref and ref[k] else "-"
        dq = ("%+.4f" % (r["ssim"] - ref["ssim"])) if ref and r["ssim"] is not None and ref["ssim"] else "-"
        lines.append("| %s | %d | %.2f | %.2f | %.1f | %.1f | %.0f | %.0f | %s | %s | %s | %s | %s |" % (
            tool, r["runs"], r["wall_s"], r["cpu_s"], r["fps"], r["peak_mb"], r["size_kb"], r["video_kbps"],
            "%.4f" % r["ssim"] if r["ssim"] is not None else "-", r["picture"],
            ratio("wall_s"), ratio("peak_mb"), dq))
    if plan:
        if plan["same"]:
            lines += ["", "The ffmpeg command's encoder settings match the core's own plan."]
        else:
            lines += ["", "**The ffmpeg command differs from the core's own plan:** `%s`" % plan["plan"]]
    return lines


def encode_checks(title, rows):
    core, ref = rows.get("Plexcore"), rows.get("ffmpeg")
    if not core or not ref:
        return [(title + ": runs", False, "a tool failed")]
    return [
        (title + ": wall time <= %.2f x ffmpeg" % WALL_RATIO_MAX,
         core["wall_s"] <= WALL_RATIO_MAX * ref["wall_s"],
         "%.2f x" % (core["wall_s"] / ref["wall_s"])),
        (title + ": SSIM within %.3f of ffmpeg" % SSIM_SHORTFALL_MAX,
         core["ssim"] is not None and ref["ssim"] is not None and core["ssim"] >= ref["ssim"] - SSIM_SHORTFALL_MAX,
         "%+.4f" % ((core["ssim"] or 0) - (ref["ssim"] or 0))),
        (title + ": peak memory <= %.2f x ffmpeg" % MEMORY_RATIO_MAX,
         core["peak_mb"] <= MEMORY_RATIO_MAX * ref["peak_mb"],
         "%.2f x" % (core["peak_mb"] / ref["peak_mb"])),
    ]


def probe_table(title, rows):
    ref = rows["ffprobe"]
    lines = ["", "### %s" % title, "", "| tool | median wall ms | peak MB | wall/ffprobe |", "|---|---:|---:|---:|"]
    for tool, r in rows.items():
        lines.append("| %s | %.1f | %.1f | %.2f |" % (tool, r["wall_s"] * 1000, r["peak_mb"], r["wall_s"] / ref["wall_s"]))
    return lines


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--core", required=True, help="path of the Plexcore executable")
    ap.add_argument("--work", required=True, help="folder for cached inputs, outputs and results")
    ap.add_argument("--seconds", type=int, default=24, help="length of the 720p source")
    ap.add_argument("--repeats", type=int, default=5, help="runs of Plexcore and ffmpeg per encode case")
    ap.add_argument("--handbrake-repeats", type=int, default=1, help="runs of HandBrakeCLI per encode case")
    ap.add_argument("--probe-repeats", type=int, default=9)
    ap.add_argument("--no-handbrake", action="store_true")
    ap.add_argument("--baseline-core", help="a Plexcore built before a change: both run the same "
                    "source without extras, and the one with extras is timed against it")
    ap.add_argument("--only-cores", action="store_true",
                    help="only the comparison with --baseline-core and the extras figure")
    ap.add_argument("--strict", action="store_true", help="exit 1 when a target is missed")
    args = ap.parse_args()

    handbrake = not args.no_handbrake and shutil.which("HandBrakeCLI") is not None
    if not handbrake and not args.no_handbrake:
        log("HandBrakeCLI not found: its column is left out")
    os.makedirs(args.work, exist_ok=True)
    began = time.monotonic()
    hd, long_mp4, long_mkv = make_sources(args.work, args.seconds)

    report = ["# Plexcore benchmark", "",
              "Machine: %d cores, load %.2f at start. Medians of the runs shown, interleaved; "
              "%d per probe. CPU s = user + system." % (os.cpu_count(), os.getloadavg()[0], args.probe_repeats),
              "SSIM: output's active picture (cropdetect) vs the source scaled to that size with lanczos."]
    checks = []
    results = {}
    if args.baseline_core:
        extras = make_extras_source(args.work, hd, args.seconds)
        for case in (h264_case(hd, args.seconds), mpeg4_case(hd, args.seconds)):
            title = "%s: the core against the core before" % case["name"]
            log("== " + title)
            rows = run_core_pairs(case, [("before", args.baseline_core, hd), ("now", args.core, hd),
                                         ("now+extras", args.core, extras)],
                                  args.work, args.repeats)
            results[title] = rows
            report += pair_table(title, rows, "before")
            report.append("")
            report.append("now+extras: the same source with two more sound tracks, %d subtitles "
                          "and %d chapters, all kept." % (args.seconds, (args.seconds + 9) // 10))
            ratio = rows["now"]["cpu_s"] / rows["before"]["cpu_s"]
            checks.append((case["name"] + ": CPU time <= %.2f x the core before" % BASELINE_RATIO_MAX,
                           ratio <= BASELINE_RATIO_MAX,
                           "%.3f x; wall %.3f x, least CPU %.3f x" % (
                               ratio, rows["now"]["wall_s"] / rows["before"]["wall_s"],
                               rows["now"]["cpu_min_s"] / rows["before"]["cpu_min_s"])))
    cases = () if args.only_cores else (h264_case(hd, args.seconds), mpeg4_case(hd, args.seconds))
    for case in cases:
        log("== " + case["name"])
        rows = run_encode_case(case, args.core, hd, args.seconds, args.work, args.repeats, handbrake,
                               args.handbrake_repeats)
        results[case["name"]] = rows
        report += encode_table(case["name"], rows, args.seconds)
        if handbrake:
            report.append("")
            report.append("HandBrakeCLI: " + case["handbrake_note"] + ".")
        checks += encode_checks(case["name"], rows)
    probes = () if args.only_cores else (("Probe of a 10-minute MP4", long_mp4),
                                         ("Probe of a 10-minute Matroska", long_mkv))
    for title, path in probes:
        log("== " + title)
        rows = run_probe_case(args.core, path, args.work, args.probe_repeats, handbrake)
        results[title] = rows
        report += probe_table(title, rows)
        core, ref = rows["Plexcore"]["wall_s"], rows["ffprobe"]["wall_s"]
        checks.append((title + ": time <= ffprobe", core <= ref, "%.2f x" % (core / ref)))

    report += ["", "### Targets", ""]
    report += ["- %s %s (%s)" % (verdict(ok), name, detail) for name, ok, detail in checks]
    report += ["", "Command lines of the last run:", ""]
    for name, rows in results.items():
        for tool, r in rows.items():
            if r and "command" in r:
                report.append("- %s / %s: `%s`" % (name, tool, " ".join(
                    '"%s"' % a if (" " in a or not a) else a for a in r["command"])))
    report.append("")
    report.append("Total bench time: %.0f s" % (time.monotonic() - began))

    text = "\n".join(report)
    print("\n" + text)
    with open(os.path.join(args.work, "results.md"), "w") as f:
        f.write(text + "\n")
    with open(os.path.join(args.work, "results.json"), "w") as f:
        json.dump({"results": results, "checks": [{"name": n, "pass": ok, "detail": d} for n, ok, d in checks]},
                  f, indent=1, default=str)
    failed = [c for c in checks if not c[1]]
    print("\n%d of %d targets met; results in %s" % (len(checks) - len(failed), len(checks),
                                                     os.path.join(args.work, "results.md")))
    return 1 if (failed and args.strict) else 0


if __name__ == "__main__":
    sys.exit(main())
