#!/usr/bin/env python3
"""Start, memory and first preview of the window against an empty Qt 6 window.

Both programs report their window's first expose (the moment it is mapped)
the same way, when PLEXAVO_REPORT_SHOWN is set: "shown <realtime ns>
<monotonic ns>". The floor is bench_empty_window (QApplication + QMainWindow
of the main window's size), built by the same build as the program.

start   launch to window mapped, rounds interleaved (empty, program, program
        on an empty cache, empty on an empty cache); warm starts share one
        XDG_CACHE_HOME, cold ones get a new empty one each (GStreamer's
        registry, fontconfig's and Qt's caches live there). Medians of the
        wall times, and of the processor time of each start (user + system,
        which a machine busy with other work disturbs far less).
memory  RSS and PSS 5 s after the window maps: the empty window, the
        program with no file and with one file in the list, each run
        several times (medians); then where the program's memory goes
        beyond the empty window's, from /proc/PID/smaps. Two more floors tell
        what Qt itself costs: the empty window with one label (any text:
        the font database, the first font) and with the program's widgets,
        kind for kind, laid out alike, with no program behind them.
preview the first preview of a process (bench/preview's preview_bench first:
        the player's module loaded and GStreamer started on the way), open
        to first frame painted on a 720p H.264 clip: warm, on an empty cache
        (GStreamer builds its registry first), and on an empty cache once
        the window's preview check has run (as when the preview is opened
        after the window has been up for a moment).

Prints the figures and the targets; sets no exit status on a missed target.
"""
import argparse
import collections
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

TARGET_WARM = 1.4  # program warm / empty window warm
TARGET_COLD = 1.3  # program cold / program warm
TARGET_MEMORY = 1.2  # program / empty window, RSS and PSS
TARGET_PREVIEW_WARM = 300  # ms, first frame of the first preview
TARGET_PREVIEW_COLD = 700  # ms, the same on an empty cache
SETTLE_S = 5.0


class Display:
    """A private virtual X screen (Xvfb picks a free display number)."""

    def __init__(self):
        read, write = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(read)
        self.name = ":" + number.decode().strip()

    def close(self):
        self.proc.terminate()
        self.proc.wait()


class Workspace:
    def __init__(self, display):
        self.root = tempfile.mkdtemp(prefix="plexavo-start-")
        runtime = os.path.join(self.root, "runtime")
        os.mkdir(runtime, 0o700)
        config = os.path.join(self.root, "config")
        os.mkdir(config)
        # Not a first start: the help window would open a second later.
        with open(os.path.join(config, "plexavo.conf"), "w") as f:
            f.write("[Settings]\nHiddenToolTips=true\n")
        self.warm_cache = os.path.join(self.root, "cache")
        os.mkdir(self.warm_cache)
        # The kept lists live under XDG_STATE_HOME: the memory runs end on
        # SIGTERM, which keeps a list to offer at the next start, so each
        # gets a state folder of its own (see settled()).
        self.state = os.path.join(self.root, "state")
        os.mkdir(self.state)
        self.env = dict(os.environ, DISPLAY=display.name, XDG_RUNTIME_DIR=runtime,
                        PLEXAVO_CONFIG_DIR=config, QT_QPA_PLATFORM="xcb",
                        XDG_STATE_HOME=self.state)
        self.env.pop("WAYLAND_DISPLAY", None)

    def cold_cache(self):
        return tempfile.mkdtemp(prefix="cache-", dir=self.root)

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def launch(argv, env, keep=False):
    """Starts argv and waits for its report; returns (process, ms to mapped)."""
    env = dict(env, PLEXAVO_REPORT_SHOWN="keep" if keep else "1")
    begin = time.monotonic_ns()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL)
    for line in proc.stdout:
        fields = line.split()
        if len(fields) == 3 and fields[0] == b"shown":
            return proc, (int(fields[2]) - begin) / 1e6
    proc.wait()
    raise RuntimeError(f"{argv[0]} ended without showing its window")


def timed_start(argv, env):
    """One start to the report; the program leaves by itself. (ms, cpu ms)."""
    proc, ms = launch(argv, env)
    proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return ms, (usage.ru_utime + usage.ru_stime) * 1000


def bench_start(args, ws, programs):
    names = ["empty window", "program", "program, empty cache", "empty window, empty cache",
             "window with one label"]
    wall = collections.defaultdict(list)
    cpu = collections.defaultdict(list)
    # One start of each before measuring, so both meet warm system caches.
    for argv in programs.values():
        timed_start(argv, dict(ws.env, XDG_CACHE_HOME=ws.warm_cache))
    for _ in range(args.rounds):
        for name in names:
            argv = programs["program" if name.startswith("program") else "empty"]
            if "label" in name:
                argv = argv + ["--label"]
            cache = ws.cold_cache() if "empty cache" in name else ws.warm_cache
            ms, cpu_ms = timed_start(argv, dict(ws.env, XDG_CACHE_HOME=cache))
            wall[name].append(ms)
            cpu[name].append(cpu_ms)
    med = {n: statistics.median(wall[n]) for n in names}
    cmed = {n: statistics.median(cpu[n]) for n in names}
    print(f"== launch to window mapped (Xvfb), {args.rounds} interleaved rounds")
    for n in names:
        runs = " ".join(f"{v:.0f}" for v in wall[n])
        print(f"  {n:28s} median {med[n]:6.1f} ms, processor {cmed[n]:6.1f} ms  (runs: {runs})")
    warm = med["program"] / med["empty window"]
    cold = med["program, empty cache"] / med["program"]
    print(f"  program / empty window, warm: {warm:.2f} x (target <= {TARGET_WARM}) "
          f"{'met' if warm <= TARGET_WARM else 'MISSED'}; processor time "
          f"{cmed['program'] / cmed['empty window']:.2f} x")
    print(f"  program empty cache / warm:   {cold:.2f} x (target <= {TARGET_COLD}) "
          f"{'met' if cold <= TARGET_COLD else 'MISSED'}; against the empty window on an "
          f"empty cache {med['program, empty cache'] / med['empty window, empty cache']:.2f} x")
    print(f"  (one word of text costs the empty window "
          f"{med['window with one label'] / med['empty window']:.2f} x; the program against "
          f"that window {med['program'] / med['window with one label']:.2f} x. The program's "
          f"processor time counts the preview check's child too, started once the window "
          f"is up and ended with the program.)")


def smaps(pid):
    """{mapping: (rss kB, pss kB)} from /proc/PID/smaps."""
    sizes = collections.defaultdict(lambda: [0, 0])
    current = None
    header = re.compile(r"^[0-9a-f]+-[0-9a-f]+ ")
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            if header.match(line):
                parts = line.split(None, 5)
                current = parts[5].strip() if len(parts) > 5 else "[anonymous]"
            elif line.startswith("Rss:"):
                sizes[current][0] += int(line.split()[1])
            elif line.startswith("Pss:"):
                sizes[current][1] += int(line.split()[1])
    return sizes


def rollup(pid):
    values = {}
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            fields = line.split()
            if len(fields) >= 2 and fields[0].endswith(":") and fields[1].isdigit():
                values[fields[0][:-1]] = int(fields[1])
    return values


def settled(argv, env):
    """Rollup and smaps 5 s after the window maps; then stops the program."""
    # A fresh state folder: no list an earlier run kept is offered.
    env = dict(env, XDG_STATE_HOME=tempfile.mkdtemp(prefix="state-", dir=env["XDG_STATE_HOME"]))
    proc, _ = launch(argv, env, keep=True)
    time.sleep(SETTLE_S)
    values, maps = rollup(proc.pid), smaps(proc.pid)
    proc.send_signal(signal.SIGTERM)
    proc.stdout.read()
    proc.wait()
    return values, maps


def category(mapping, build_bin):
    name = os.path.basename(mapping)
    if mapping in ("[heap]", "[anonymous]") or mapping.startswith("[anon"):
        return "heap and anonymous"
    if mapping.startswith("[") or mapping.startswith("/memfd:") or mapping.startswith("/SYSV"):
        return "stack, vdso, shared with the X server"
    if re.search(r"\.(ttf|otf|ttc|pcf(\.gz)?)$", name) or "/fontconfig/" in mapping:
        return "fonts and font caches"
    if "/icons/" in mapping or "imageformats" in mapping or "iconengines" in mapping:
        return "icons, icon caches and image plugins"
    if re.match(r"(?i)lanres.*dll\.so$", name):
        return "language packs"
    if mapping.startswith(build_bin) or "/plexavo/" in mapping:
        return "the program and its own libraries"
    if "libQt6" in name or "/qt6/plugins/" in mapping:
        return "Qt libraries and plugins"
    if "/locale/" in mapping:
        return "locale data"
    return "other libraries"


def bench_memory(args, ws, programs, clip):
    cases = [("empty window", programs["empty"]), ("program, no file", programs["program"]),
             ("program, one file", programs["program"] + [clip]),
             ("window with one label", programs["empty"] + ["--label"]),
             ("Qt, the same widgets", programs["empty"] + ["--widgets"])]
    env = dict(ws.env, XDG_CACHE_HOME=ws.warm_cache)
    results = collections.defaultdict(list)
    maps = {}
    for _ in range(args.memory_rounds):
        for name, argv in cases:
            values, m = settled(argv, env)
            results[name].append(values)
            maps.setdefault(name, m)
    print(f"== memory {SETTLE_S:.0f} s after the window maps, median of {args.memory_rounds}"
          " (PSS shares each library among the processes mapping it: it moves with what"
          " else runs)")
    med = {}
    for name, _ in cases:
        med[name] = {k: statistics.median(v[k] for v in results[name])
                     for k in ("Rss", "Pss", "Pss_Anon", "Pss_File", "Anonymous")}
        m = med[name]
        print(f"  {name:21s} RSS {m['Rss'] / 1024:5.1f} MiB, PSS {m['Pss'] / 1024:5.1f} MiB "
              f"(anonymous {m['Anonymous'] / 1024:4.1f}, files {m['Pss_File'] / 1024:4.1f})")
    base = med["empty window"]
    for name, _ in cases[1:3]:
        rss, pss = med[name]["Rss"] / base["Rss"], med[name]["Pss"] / base["Pss"]
        ok = rss <= TARGET_MEMORY and pss <= TARGET_MEMORY
        print(f"  {name} / empty window: RSS {rss:.2f} x, PSS {pss:.2f} x "
              f"(target <= {TARGET_MEMORY}) {'met' if ok else 'MISSED'}")

    label = med["window with one label"]
    print(f"  (one word of text costs the empty window RSS {label['Rss'] / base['Rss']:.2f} x; "
          f"the program, no file, against that window RSS "
          f"{med['program, no file']['Rss'] / label['Rss']:.2f} x)")
    widgets = med["Qt, the same widgets"]
    print(f"  (the window's widgets alone, in a Qt window with nothing behind them, cost the "
          f"empty window RSS {widgets['Rss'] / base['Rss']:.2f} x, PSS "
          f"{widgets['Pss'] / base['Pss']:.2f} x; the program, no file, against that window "
          f"RSS {med['program, no file']['Rss'] / widgets['Rss']:.2f} x, PSS "
          f"{med['program, no file']['Pss'] / widgets['Pss']:.2f} x)")
    build_bin = os.path.dirname(programs["program"][0]) + "/"
    program, empty = maps["program, no file"], maps["empty window"]
    print("  where the program's RSS goes beyond the empty window's (kB, no file):")
    extra = collections.defaultdict(int)
    for mapping in set(program) | set(empty):
        extra[category(mapping, build_bin)] += program.get(mapping, (0, 0))[0] - \
            empty.get(mapping, (0, 0))[0]
    for cat, kb in sorted(extra.items(), key=lambda x: -x[1]):
        if kb:
            print(f"    {kb:+7d}  {cat}")
    print("  the biggest mappings the program has beyond the empty window's (RSS kB):")
    diffs = sorted(((program.get(k, (0, 0))[0] - empty.get(k, (0, 0))[0], k)
                    for k in set(program) | set(empty)), reverse=True)
    for kb, mapping in diffs[:args.top]:
        if kb > 0:
            print(f"    {kb:+7d}  {mapping}")
    only = sorted(k for k in program if k not in empty and k.startswith("/"))
    print(f"  mapped by the program only: {len(only)} files")
    for mapping in only:
        print(f"    {program[mapping][0]:7d}  {mapping}")


def first_preview(preview, clip, env):
    out = subprocess.run([preview, "first", clip], env=env, capture_output=True, text=True)
    for line in out.stdout.splitlines():
        if line.startswith("first "):
            return float(line.split()[1])
    raise RuntimeError(f"preview_bench first failed: {out.stderr.strip()}")


def bench_preview(args, ws, clip):
    preview = os.path.join(args.bin, "preview_bench")
    check = [os.path.join(args.bin, "plexavo"), "--check-preview"]
    # No sound device here: a silent clocked sink either way.
    env = dict(ws.env, PLEXAVO_AUDIO_SINK="fake")
    warm = dict(env, XDG_CACHE_HOME=ws.warm_cache)
    first_preview(preview, clip, warm)
    times = collections.defaultdict(list)
    for _ in range(args.preview_rounds):
        times["warm"].append(first_preview(preview, clip, warm))
        times["empty cache"].append(
            first_preview(preview, clip, dict(env, XDG_CACHE_HOME=ws.cold_cache())))
        after = dict(env, XDG_CACHE_HOME=ws.cold_cache())
        subprocess.run(check, env=after, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times["empty cache, after the check"].append(first_preview(preview, clip, after))
    print(f"== the first preview of a process: open to first frame painted (720p H.264, "
          f"includes the preview's 100 ms tick before it opens the file), median of "
          f"{args.preview_rounds}")
    targets = {"warm": TARGET_PREVIEW_WARM, "empty cache": TARGET_PREVIEW_COLD,
               "empty cache, after the check": TARGET_PREVIEW_COLD}
    for name, values in times.items():
        m = statistics.median(values)
        runs = " ".join(f"{v:.0f}" for v in values)
        print(f"  {name:30s} median {m:6.0f} ms (target <= {targets[name]} ms) "
              f"{'met' if m <= targets[name] else 'MISSED'}  (runs: {runs})")


def make_preview_clip(folder):
    clip = os.path.join(folder, "h264-720p.mp4")
    if not os.path.exists(clip):
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                        "testsrc2=size=1280x720:rate=30:duration=10", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=10", "-c:v", "libx264", "-preset",
                        "veryfast", "-pix_fmt", "yuv420p", "-g", "30", "-c:a", "aac",
                        "-movflags", "+faststart", clip + ".part.mp4"], check=True)
        os.rename(clip + ".part.mp4", clip)
    return clip


def make_clip(folder):
    clip = os.path.join(folder, "one clip.mp4")
    if not os.path.exists(clip):
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                        "testsrc=size=320x240:rate=25:duration=5", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=5", "-c:v", "libx264", "-pix_fmt",
                        "yuv420p", "-c:a", "aac", "-shortest", clip + ".part.mp4"], check=True)
        os.rename(clip + ".part.mp4", clip)
    return clip


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True, help="the build's bin folder")
    parser.add_argument("--work", required=True, help="where the clip is kept")
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--memory-rounds", type=int, default=3)
    parser.add_argument("--preview-rounds", type=int, default=5)
    parser.add_argument("--top", type=int, default=25)
    parser.add_argument("--only", choices=["start", "memory", "preview"])
    args = parser.parse_args()
    programs = {"empty": [os.path.join(args.bin, "bench_empty_window")],
                "program": [os.path.join(args.bin, "plexavo")]}
    for argv in programs.values():
        if not os.access(argv[0], os.X_OK):
            sys.exit(f"start: {argv[0]} not found; build it first")
    display = Display()
    ws = Workspace(display)
    try:
        if args.only in (None, "start"):
            bench_start(args, ws, programs)
        if args.only in (None, "memory"):
            bench_memory(args, ws, programs, make_clip(args.work))
        if args.only in (None, "preview"):
            bench_preview(args, ws, make_preview_clip(args.work))
    finally:
        ws.close()
        display.close()


if __name__ == "__main__":
    main()
