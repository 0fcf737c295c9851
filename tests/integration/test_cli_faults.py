#!/usr/bin/env python3
"""A user's files under faults, through `plexavo --convert` and the real core.

Usage: test_cli_faults.py BIN_DIR [TEST_NAME...]

Two copies converting same-named sources into one folder at the same instant,
a program killed mid-conversion, Ctrl+C, a full and a read-only file system,
names at the file system's length limit, clips that end at a fraction of a
second, a program started with SIGCHLD ignored whose core is killed, a
truncated source, and a core that is there but cannot run. Outputs are
judged with ffprobe and a full decode by the ffmpeg tool, never by what the
program says.
"""
import json
import os
import re
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

BIN = None


def make_clip(path, seconds, size="160x120", rate=25, extra=()):
    subprocess.run(
        ["ffmpeg", "-v", "error", "-nostdin", "-y",
         "-f", "lavfi", "-i", f"testsrc=size={size}:rate={rate}:duration={seconds}",
         "-f", "lavfi", "-i", f"sine=frequency=440:sample_rate=44100:duration={seconds}",
         "-c:v", "mpeg4", "-q:v", "5", "-c:a", "aac", "-shortest", *extra, "file:" + path],
        check=True)


def duration(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
         "file:" + path], capture_output=True, text=True)
    return float(out.stdout.strip()) if out.returncode == 0 and out.stdout.strip() else None


def decode_errors(path):
    """What the ffmpeg tool says while decoding every frame; empty when clean."""
    out = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-i", "file:" + path,
                          "-f", "null", "-"], capture_output=True, text=True)
    return out.stderr.strip() if out.returncode == 0 else f"exit {out.returncode}: {out.stderr}"


def cores_of(pid):
    """Converting Plexcore processes whose parent is pid (not its probes)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
            with open(f"/proc/{entry}/comm") as f:
                comm = f.read().strip()
        except OSError:
            continue
        ppid = int(stat.rsplit(")", 1)[1].split()[1])
        if comm != "Plexcore" or ppid != pid:
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                if b"\0-claim\0" in f.read():
                    found.append(int(entry))
        except OSError:
            pass
    return found


def session_members(sid):
    """Live processes of session sid: a core the dying program started a moment
    before it was killed is there though no list taken earlier names it."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[3]) == sid and fields[0] != "Z":
            found.append(int(entry))
    return found


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_for_output(folder, count, size=64 * 1024, timeout=120):
    """Waits until count files in folder hold at least size bytes each: the
    cores run at idle priority, and on a busy machine a fixed pause may find
    them not yet begun."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            sizes = [os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder)]
        except OSError:
            sizes = []
        if len([s for s in sizes if s >= size]) >= count:
            return True
        time.sleep(0.05)
    return False


def plexavo(*args, **kw):
    return [os.path.join(BIN, "plexavo"), *args]


def signal_masks(pid):
    """The ignored and blocked signal sets of a process, from /proc."""
    masks = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            name, _, value = line.partition(":")
            if name in ("SigIgn", "SigBlk"):
                masks[name] = int(value.strip(), 16)
    return masks


def bit(sig):
    return 1 << (sig - 1)


def as_a_careless_parent_starts_it():
    """What a service manager or a script may hand down: SIGCHLD ignored and
    the stop signals blocked (run in the child before exec)."""
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)
    signal.pthread_sigmask(signal.SIG_BLOCK,
                           {signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGCHLD})


def without_loader(program, copy):
    """A copy of an ELF program whose loader path names nothing; False for a
    program that names no loader."""
    with open(program, "rb") as f:
        data = bytearray(f.read())
    if data[:4] != b"\x7fELF" or data[4] != 2:
        return False
    table, = struct.unpack_from("<Q", data, 0x20)
    size, count = struct.unpack_from("<HH", data, 0x36)
    for i in range(count):
        kind, = struct.unpack_from("<I", data, table + i * size)
        if kind == 3:  # PT_INTERP
            at, = struct.unpack_from("<Q", data, table + i * size + 8)
            data[at + 1] = ord("X")  # /lib64/ld-... becomes /Xib64/ld-...
            with open(copy, "wb") as f:
                f.write(data)
            os.chmod(copy, 0o755)
            return True
    return False


class Faults(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        # Cleanups run last in, first out: a file system mounted inside goes first.
        self.addCleanup(self.tmp.cleanup)
        self.dir = self.tmp.name
        self.out = os.path.join(self.dir, "out")
        # The core's notes in a state folder of the test's own, not the user's.
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                        XDG_STATE_HOME=os.path.join(self.dir, "state"))

    def convert(self, *files, out=None, wait=True):
        proc = subprocess.Popen(plexavo("--convert", "--out", out or self.out, *files),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                env=self.env, start_new_session=True)
        if not wait:
            return proc
        text, _ = proc.communicate(timeout=300)
        return proc.returncode, text

    def outputs(self, folder=None):
        return sorted(os.listdir(folder or self.out)) if os.path.isdir(folder or self.out) else []

    def test_two_copies_never_write_the_same_file(self):
        """Same-named sources of different lengths, converted at the same instant."""
        for d, seconds in (("d1", 2), ("d2", 4)):
            os.makedirs(os.path.join(self.dir, d))
            make_clip(os.path.join(self.dir, d, "clip.mp4"), seconds)
        rounds = int(os.environ.get("PLEXAVO_CLASH_ROUNDS", "5"))
        for n in range(rounds):
            out = os.path.join(self.dir, f"round{n}")
            procs = [self.convert(os.path.join(self.dir, d, "clip.mp4"), out=out, wait=False)
                     for d in ("d1", "d2")]
            texts = [p.communicate(timeout=300)[0] for p in procs]
            self.assertEqual([p.returncode for p in procs], [0, 0], texts)
            names = self.outputs(out)
            self.assertEqual(names, ["clip-cvt.mp4", "clip-cvt[1].mp4"], texts)
            lengths = sorted(round(duration(os.path.join(out, f))) for f in names)
            self.assertEqual(lengths, [2, 4], "one conversion was lost")
            for f in names:
                self.assertEqual(decode_errors(os.path.join(out, f)), "", f)
            # Each copy says which of the two names it wrote.
            written = sorted(line.split("written: ", 1)[1].strip()
                             for t in texts for line in t.splitlines() if "written: " in line)
            self.assertEqual(written, [os.path.join(out, f) for f in names])

    def test_a_killed_program_takes_its_core_with_it(self):
        clip = os.path.join(self.dir, "long.mp4")
        make_clip(clip, 60, size="640x480")
        proc = self.convert(clip, wait=False)
        deadline = time.monotonic() + 60
        cores = []
        while not cores and time.monotonic() < deadline and proc.poll() is None:
            cores = cores_of(proc.pid)
            time.sleep(0.05)
        self.assertTrue(cores, "the core never started")
        self.assertTrue(wait_for_output(self.out, 1), "the core wrote nothing")  # well into it
        proc.kill()
        killed = time.monotonic()
        proc.wait()
        while alive(cores[0]) and time.monotonic() - killed < 30:
            time.sleep(0.02)
        gone_after = time.monotonic() - killed
        print(f"core gone {gone_after:.2f} s after the program's death", file=sys.stderr)
        self.assertFalse(alive(cores[0]), "the core outlived its program")
        self.assertLess(gone_after, 10)
        names = self.outputs()
        finals = [f for f in names if f.endswith(".mp4")]
        self.assertEqual(finals, ["long-cvt.mp4"], names)
        self.assertEqual(decode_errors(os.path.join(self.out, finals[0])), "")
        self.assertEqual(names, finals, "a partial file was left behind")

    def test_ctrl_c_keeps_a_playable_file_and_exits_130(self):
        clip = os.path.join(self.dir, "long.mp4")
        make_clip(clip, 60, size="640x480")
        proc = self.convert(clip, wait=False)
        deadline = time.monotonic() + 60
        while not cores_of(proc.pid) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(wait_for_output(self.out, 1), "the core wrote nothing")
        os.killpg(proc.pid, signal.SIGINT)  # as the terminal does: the whole group
        text, _ = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 130, text)
        self.assertIn("Stopped: ", text)
        self.assertIn(" seconds", text)
        self.assertNotIn("failed", text)
        self.assertEqual(self.outputs(), ["long-cvt.mp4"])
        written = duration(os.path.join(self.out, "long-cvt.mp4"))
        self.assertIsNotNone(written)
        self.assertLess(written, 59)
        self.assertEqual(decode_errors(os.path.join(self.out, "long-cvt.mp4")), "")
        self.assertEqual(cores_of(proc.pid), [])

    def finals_and_partials(self):
        names = self.outputs()
        return ([f for f in names if f.endswith(".mp4")],
                [f for f in names if ".partial-" in f])

    def test_kills_at_random_moments_never_cost_an_output(self):
        """kill -9 of the program at a random moment once its cores write, with one and two
        jobs: the death of the program is a stop, however many stop signals the dying
        program's cores receive, so every started output is finished, kept and plays."""
        import random
        rng = random.Random(int(os.environ.get("PLEXAVO_KILL_SEED", "22")))
        clips = []
        for n in ("a", "b"):
            clips.append(os.path.join(self.dir, f"{n}.mp4"))
            make_clip(clips[-1], 20, size="640x480")
        rounds = int(os.environ.get("PLEXAVO_KILL_ROUNDS", "3"))
        for jobs in (1, 2):
            for n in range(rounds):
                shutil.rmtree(self.out, ignore_errors=True)
                proc = subprocess.Popen(
                    plexavo("--convert", "--jobs", str(jobs), "--out", self.out, *clips),
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env,
                    start_new_session=True)
                self.assertTrue(wait_for_output(self.out, jobs, size=16 * 1024),
                                "the cores wrote nothing")
                time.sleep(rng.uniform(0.0, 1.5))
                cores = cores_of(proc.pid)
                proc.kill()
                proc.wait()
                killed = time.monotonic()
                while session_members(proc.pid) and time.monotonic() - killed < 30:
                    time.sleep(0.02)
                self.assertEqual(session_members(proc.pid), [], "a core outlived its program")
                finals, partials = self.finals_and_partials()
                label = f"{jobs} job(s), round {n}: {self.outputs()}"
                self.assertEqual(partials, [], label)
                self.assertGreaterEqual(len(finals), len(cores), label)
                for f in finals:
                    path = os.path.join(self.out, f)
                    self.assertEqual(decode_errors(path), "", f"{label}: {f}")
                    # A core started just before the kill keeps what it had: maybe a tenth of a second.
                    self.assertGreater(duration(path) or 0, 0, f"{label}: {f}")

    def test_stops_from_every_side_keep_the_file_and_a_second_ctrl_c_aborts(self):
        clip = os.path.join(self.dir, "long.mp4")
        make_clip(clip, 60, size="640x480")
        # A logout: a hang-up and SIGTERMs to the program, several times over.
        proc = self.convert(clip, wait=False)
        self.assertTrue(wait_for_output(self.out, 1), "the core wrote nothing")
        for signum in (signal.SIGHUP, signal.SIGTERM, signal.SIGTERM, signal.SIGHUP):
            os.kill(proc.pid, signum)
        text, _ = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 130, text)
        self.assertEqual(self.outputs(), ["long-cvt.mp4"], text)
        self.assertEqual(decode_errors(os.path.join(self.out, "long-cvt.mp4")), "")

        # The user's Ctrl+C twice: the unfinished file is dropped, nothing broken stays.
        shutil.rmtree(self.out)
        proc = self.convert(clip, wait=False)
        self.assertTrue(wait_for_output(self.out, 1), "the core wrote nothing")
        cores = cores_of(proc.pid)
        os.killpg(proc.pid, signal.SIGINT)
        os.killpg(proc.pid, signal.SIGINT)
        text, _ = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 130, text)
        self.assertFalse(any(alive(c) for c in cores), "a core outlived the abort")
        finals, partials = self.finals_and_partials()
        self.assertEqual(partials, [], "the abort left its partial file")
        for f in finals:  # finished before the abort arrived: whole, then
            self.assertEqual(decode_errors(os.path.join(self.out, f)), "", f)

    def mount_tmpfs(self, options):
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system needs root")
        target = os.path.join(self.dir, "mnt")
        os.makedirs(target)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", target],
                          capture_output=True).returncode != 0:
            self.skipTest("this machine does not let the test mount a tmpfs")
        self.addCleanup(subprocess.run, ["umount", "-l", target], capture_output=True)
        return target

    def test_a_full_disk_is_named_as_the_reason(self):
        clip = os.path.join(self.dir, "clip.mp4")
        make_clip(clip, 20, size="640x480")
        target = self.mount_tmpfs("size=64k")
        code, text = self.convert(clip, out=target)
        self.assertEqual(code, 1, text)
        self.assertIn("failed: ", text)
        self.assertIn("No space left on device", text)
        self.assertEqual(self.outputs(target), [], "nothing half-written is left")

    def test_a_read_only_folder_is_named_as_the_reason(self):
        clip = os.path.join(self.dir, "clip.mp4")
        make_clip(clip, 2)
        target = self.mount_tmpfs("size=1m,ro")
        code, text = self.convert(clip, out=target)
        self.assertEqual(code, 1, text)
        self.assertIn("Read-only file system", text)

    def test_a_name_at_the_length_limit_converts_twice(self):
        limit = os.pathconf(self.dir, "PC_NAME_MAX")
        clip = os.path.join(self.dir, "n" * (limit - 5) + ".mp4")
        make_clip(clip, 1)
        for _ in range(2):
            code, text = self.convert(clip)
            self.assertEqual(code, 0, text)
        names = self.outputs()
        self.assertEqual(len(names), 2, names)
        self.assertTrue(names[0].endswith("-cvt.mp4") or names[1].endswith("-cvt.mp4"), names)
        self.assertTrue(any(n.endswith("-cvt[1].mp4") for n in names), names)
        for n in names:
            self.assertLessEqual(len(n.encode()), limit)
            self.assertEqual(decode_errors(os.path.join(self.out, n)), "")

    def test_a_whole_clip_is_converted_to_its_end(self):
        """Clips that end at a fraction of a second lose nothing of it."""
        clips = []
        for seconds in (1.92, 3.96):
            clips.append(os.path.join(self.dir, f"clip{seconds}.mp4"))
            make_clip(clips[-1], seconds)
        code, text = self.convert(*clips)
        self.assertEqual(code, 0, text)
        for clip in clips:
            out = os.path.join(self.out, os.path.basename(clip)[:-4] + "-cvt.mp4")
            self.assertIn("written: " + out, text)
            source, converted = duration(clip), duration(out)
            print(f"{os.path.basename(clip)}: {source:.3f} s, converted {converted:.3f} s",
                  file=sys.stderr)
            self.assertAlmostEqual(converted, source, delta=0.05)
            self.assertEqual(decode_errors(out), "")

    def test_a_core_killed_with_sigchld_ignored_is_a_failure(self):
        """Started with SIGCHLD ignored and the stop signals blocked, the program
        still learns how its core ended: killed from outside, it is no success."""
        clip = os.path.join(self.dir, "long.mp4")
        make_clip(clip, 60, size="640x480")
        proc = subprocess.Popen(plexavo("--convert", "--out", self.out, clip),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                env=self.env, start_new_session=True,
                                preexec_fn=as_a_careless_parent_starts_it)
        deadline = time.monotonic() + 60
        cores = []
        while not cores and time.monotonic() < deadline and proc.poll() is None:
            cores = cores_of(proc.pid)
            time.sleep(0.05)
        self.assertTrue(cores, "the core never started")
        masks = signal_masks(proc.pid)
        self.assertEqual(masks["SigIgn"] & bit(signal.SIGCHLD), 0, "SIGCHLD is still ignored")
        self.assertEqual(masks["SigBlk"], 0, "signals are still blocked")
        self.assertTrue(wait_for_output(self.out, 1), "the core wrote nothing")
        os.kill(cores[0], signal.SIGKILL)
        text, _ = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 1, text)
        self.assertIn("failed: ", text)
        self.assertIn("signal 9", text)
        self.assertNotIn("written: ", text)
        # The killed core named nothing: only its partial file is left.
        self.assertFalse(os.path.exists(os.path.join(self.out, "long-cvt.mp4")), self.outputs())

    def test_a_truncated_source_is_a_failure_that_keeps_its_file(self):
        """A source whose index promises 10 s but whose data ends at about 4.4 s."""
        clip = os.path.join(self.dir, "cut.mp4")
        make_clip(clip, 10, size="320x240", extra=("-movflags", "+faststart"))
        with open(clip, "r+b") as f:
            f.truncate(int(os.path.getsize(clip) * 0.44))
        # What the core at hand makes of it, on its own.
        scratch = os.path.join(self.dir, "scratch")
        os.makedirs(scratch)
        alone = subprocess.run([os.path.join(BIN, "Plexcore"), "-i", clip, "-claim",
                                os.path.join(scratch, "cut.mp4")], capture_output=True, text=True)
        self.assertEqual(alone.returncode, 4, alone.stderr)

        code, text = self.convert(clip)
        self.assertEqual(code, 1, text)
        kept = os.path.join(self.out, "cut-cvt.mp4")
        found = re.search(r"\] failed: (.*): (.*) holds ([0-9.]+) of ([0-9.]+) seconds: "
                          r"the source is damaged$", text, re.M)
        self.assertIsNotNone(found, text)
        self.assertEqual(found.group(1), clip)
        self.assertEqual(found.group(2), kept)
        held, promised = float(found.group(3)), float(found.group(4))
        self.assertEqual(promised, 10.0)
        self.assertNotIn("written: ", text)
        self.assertEqual(self.outputs(), ["cut-cvt.mp4"])
        self.assertAlmostEqual(duration(kept), held, delta=0.5)
        self.assertEqual(decode_errors(kept), "")

    def test_a_core_that_cannot_run_is_named_with_the_reason(self):
        """There but not runnable is not missing: the system's reason is given."""
        clip = os.path.join(self.dir, "clip.mp4")
        make_clip(clip, 1)
        folder = os.path.join(self.dir, "bin")
        os.makedirs(folder)
        shutil.copy2(os.path.join(BIN, "plexavo"), folder)
        core = os.path.join(folder, "Plexcore")

        def no_permission():
            shutil.copy2(os.path.join(BIN, "Plexcore"), core)
            os.chmod(core, 0o644)
            return True

        def not_for_this_machine():
            with open(core, "wb") as f:
                f.write(b"\x7fELF\x01\x02\x03 not for this machine" + bytes(200))
            os.chmod(core, 0o755)
            return True

        cases = (("no execute permission", no_permission, "Permission denied"),
                 ("not an executable here", not_for_this_machine, "Exec format error"),
                 ("a missing loader", lambda: without_loader(os.path.join(BIN, "Plexcore"), core),
                  "No such file or directory"))
        for what, make, reason in cases:
            with self.subTest(what):
                if os.path.lexists(core):
                    os.remove(core)
                self.assertTrue(make(), "no ELF loader to take away")
                for mode in ("--probe", "--convert"):
                    out = subprocess.run([os.path.join(folder, "plexavo"), mode, "--out", self.out,
                                          clip], capture_output=True, text=True, env=self.env)
                    self.assertEqual(out.returncode, 1, out.stdout + out.stderr)
                    self.assertIn(f"The encoder core {core} cannot be started: {reason}",
                                  out.stdout, mode)
                    self.assertNotIn("missing", out.stdout)
        os.remove(core)
        out = subprocess.run([os.path.join(folder, "plexavo"), "--probe", clip],
                             capture_output=True, text=True, env=self.env)
        self.assertIn(f"The encoder core is missing: {core}", out.stdout)


def project_version():
    """The version project() sets in CMakeLists.txt, which --version must print."""
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "CMakeLists.txt")
    with open(top) as f:
        return re.search(r"project\(Plexavo VERSION (\S+)", f.read()).group(1)


def cores_on(folder):
    """Every Plexcore whose command line names something in folder."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/comm") as f:
                if f.read().strip() != "Plexcore":
                    continue
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                if os.fsencode(folder) in f.read():
                    found.append(int(entry))
        except (OSError, ValueError):
            pass
    return found


def children_of(pid, name="Plexcore"):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        if comm == name and int(stat.rsplit(")", 1)[1].split()[1]) == pid:
            found.append(int(entry))
    return found


class Resume(unittest.TestCase):
    """--convert --resume after a stop: a 60 s source stopped with SIGTERM at
    about half goes on from where it stopped into one whole file, a finished
    one is skipped, and a file with no output yet is converted."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.dir = self.tmp.name
        self.out = os.path.join(self.dir, "out")
        self.log = os.path.join(self.dir, "plexavo.log")
        # The stopped notes of the core in a state folder of the test's own.
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", PLEXAVO_LOG=self.log,
                        XDG_STATE_HOME=os.path.join(self.dir, "state"))

    def partial_size(self, stem):
        """The size of the partial file a running core writes for stem."""
        try:
            names = os.listdir(self.out)
        except OSError:
            return 0
        sizes = [os.path.getsize(os.path.join(self.out, n)) for n in names
                 if n.startswith(stem) and ".partial-" in n]
        return max(sizes, default=0)

    def test_a_stopped_file_goes_on_and_a_finished_one_is_skipped(self):
        short = os.path.join(self.dir, "short.mp4")
        clip = os.path.join(self.dir, "long.mp4")
        later = os.path.join(self.dir, "later.mp4")
        make_clip(short, 2)
        make_clip(clip, 60, size="640x480")
        make_clip(later, 2)
        command = plexavo("--convert", "--out", self.out, short, clip, later)
        started = time.monotonic()
        straight = subprocess.run(plexavo("--convert", "--out", os.path.join(self.dir, "straight"),
                                          clip), capture_output=True, text=True, env=self.env)
        straight_seconds = time.monotonic() - started
        self.assertEqual(straight.returncode, 0, straight.stdout)

        # Stopped when the long file's partial file is half the size of the whole.
        whole_size = os.path.getsize(os.path.join(self.dir, "straight", "long-cvt.mp4"))
        proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True, env=self.env, start_new_session=True)
        deadline = time.monotonic() + 240
        while self.partial_size("long-cvt") < whole_size / 2 and time.monotonic() < deadline \
                and proc.poll() is None:
            time.sleep(0.05)
        self.assertGreaterEqual(self.partial_size("long-cvt"), whole_size / 2,
                                "the long file reached its middle")
        proc.send_signal(signal.SIGTERM)
        text, _ = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 130, text)
        kept = os.path.join(self.out, "long-cvt.mp4")
        held = duration(kept)
        self.assertIsNotNone(held)
        self.assertLess(held, 45)
        self.assertGreater(held, 15)

        started = time.monotonic()
        again = subprocess.run(command[:2] + ["--resume"] + command[2:], capture_output=True,
                               text=True, env=self.env)
        resumed_seconds = time.monotonic() - started
        self.assertEqual(again.returncode, 0, again.stdout)
        self.assertIn("[1/3] skipped: " + os.path.join(self.out, "short-cvt.mp4") + " is finished",
                      again.stdout)
        self.assertRegex(again.stdout, r"\[2/3\] Continuing .*long\.mp4 -> .*long-cvt\.mp4 from "
                                       r"[0-9.]+ s")
        self.assertRegex(again.stdout, r"\[2/3\] written: .*long-cvt\.mp4 \(continued from "
                                       r"[0-9.]+ s\)")
        self.assertIn("[3/3] written: " + os.path.join(self.out, "later-cvt.mp4"), again.stdout)
        self.assertIn("2 written, 1 skipped", again.stdout)
        self.assertEqual(sorted(os.listdir(self.out)),
                         ["later-cvt.mp4", "long-cvt.mp4", "short-cvt.mp4"])
        whole = duration(kept)
        reference = duration(os.path.join(self.dir, "straight", "long-cvt.mp4"))
        self.assertLess(abs(whole - reference), 0.1, (whole, reference))
        self.assertEqual(decode_errors(kept), "")
        print(f"straight {straight_seconds:.1f} s, continued from {held:.1f} s "
              f"in {resumed_seconds:.1f} s", file=sys.stderr)

    def test_resume_goes_with_convert_only(self):
        proc = subprocess.run(plexavo("--probe", "--resume", "x.mp4"), capture_output=True,
                              text=True, env=self.env)
        self.assertEqual(proc.returncode, 2)
        self.assertIn("--resume goes with --convert", proc.stderr)


class Arguments(unittest.TestCase):
    """The command line read whole before anything runs, with or without a display."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.dir = self.tmp.name
        # No display of any kind: nothing here may need one.
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        self.env["HOME"] = self.dir
        self.clip = os.path.join(self.dir, "clip.mp4")
        make_clip(self.clip, 1)

    def run_plexavo(self, *args, env=None, cwd=None):
        return subprocess.run(plexavo(*args), capture_output=True, text=True, timeout=120,
                              env=env or self.env, cwd=cwd or self.dir)

    def assert_nothing_written(self, args):
        self.assertFalse(os.path.exists(os.path.join(self.dir, "ConvertedMedia")), args)
        self.assertFalse(os.path.exists("/clip-cvt.mp4"), args)
        self.assertEqual(sorted(os.listdir(self.dir)), ["clip.mp4"], args)

    def test_bad_arguments_are_exit_2_with_the_usage_without_a_display(self):
        with_display = dict(self.env, QT_QPA_PLATFORM="offscreen")
        cases = [("--bogus", self.clip), ("-x", self.clip), (self.clip, "--bogus"),
                 ("-platform",),  # Qt's option, without its value
                 # The mode goes first; later it is no mode.
                 (self.clip, "--probe"), (self.clip, "--convert"), ("--probe", "--convert", self.clip),
                 ("--convert", "--out", "", self.clip), ("--convert", self.clip, "--out"),
                 ("--convert", "--out", self.clip, self.clip),
                 ("--convert", "--size", "", self.clip), ("--convert", "--size", " 5", self.clip),
                 ("--convert", "--size", "+5", self.clip), ("--convert", self.clip, "--size"),
                 ("--convert", "--jobs", "", self.clip), ("--probe",), ("--convert",)]
        for args in cases:
            for env in (self.env, with_display):
                proc = self.run_plexavo(*args, env=env)
                self.assertEqual(proc.returncode, 2, (args, proc.stderr))
                self.assertIn("usage: plexavo", proc.stderr, args)
                self.assertNotIn("display", proc.stderr, args)
                self.assertEqual(proc.stdout, "", args)
                self.assert_nothing_written(args)
        self.assertIn("unknown option --bogus", self.run_plexavo("--bogus").stderr)
        self.assertIn("--probe must be the first argument",
                      self.run_plexavo(self.clip, "--probe").stderr)

    def test_help_and_version_need_no_display(self):
        for args in (("--version",), (self.clip, "--version"), ("--convert", "--version")):
            proc = self.run_plexavo(*args)
            self.assertEqual((proc.returncode, proc.stdout, proc.stderr),
                             (0, f"plexavo {project_version()}\n", ""), args)
        for flag in ("--help", "-h"):
            proc = self.run_plexavo(flag)
            self.assertEqual(proc.returncode, 0, proc.stderr)
            self.assertEqual(proc.stderr, "")
            self.assertIn("-h, --help", proc.stdout)
            self.assertIn("--version", proc.stdout)
            rows = re.findall(r"^ +(\d+)  (.*)$", proc.stdout, re.M)
            self.assertEqual(len(rows), 15, proc.stdout)
            for number, text in rows:
                self.assertFalse(text.endswith("-") or text.endswith(" "), repr(text))
            self.assertIn("  1  160x120\n", proc.stdout)
            self.assertIn("  5  320x240 - iPod nano\n", proc.stdout)
        self.assert_nothing_written("--help")

    def test_a_file_named_like_an_option_is_a_file(self):
        folder = os.path.join(self.dir, "odd")
        os.makedirs(folder)
        for name in ("--convert", "--json", "-x"):
            with open(os.path.join(folder, name), "w") as f:
                f.write("not media\n")
        shutil.copy(self.clip, os.path.join(folder, "a.mp4"))
        names = sorted(os.listdir(folder))  # as "plexavo --probe *" hands them over
        proc = self.run_plexavo("--probe", *names, cwd=folder)
        self.assertEqual(proc.returncode, 1, proc.stdout + proc.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "ConvertedMedia")),
                         "probing converted")
        self.assertEqual(sorted(os.listdir(folder)), names)
        self.assertEqual(proc.stdout.count("Can't playback the following files."), 1, proc.stdout)
        for name in ("--convert", "--json", "-x"):
            self.assertIn(f"\n  {name}\n    ", proc.stdout)
        self.assertIn("\na.mp4\n  Duration: 00:00:01", proc.stdout)
        # The same files as JSON ("plexavo --probe --json odd/*"), each an entry.
        paths = [os.path.join("odd", n) for n in names]
        proc = self.run_plexavo("--probe", "--json", *paths)
        self.assertEqual(proc.returncode, 1)
        files = json.loads(proc.stdout)["files"]
        self.assertEqual([f["path"] for f in files], paths)
        self.assertEqual([f["convertible"] for f in files], [n == "a.mp4" for n in names])

    def test_control_characters_in_names_show_as_question_marks(self):
        good = os.path.join(self.dir, "two\nlines\t.mp4")
        shutil.copy(self.clip, good)
        bad = os.path.join(self.dir, "bad\rname\n.txt")
        with open(bad, "w") as f:
            f.write("text\n")
        missing = os.path.join(self.dir, "gone\x1b[2J.mp4")
        proc = self.run_plexavo("--probe", good, bad, missing)
        self.assertEqual(proc.returncode, 1, proc.stdout)
        lines = proc.stdout.splitlines()
        self.assertEqual(lines.count("Can't playback the following files."), 1, proc.stdout)
        self.assertIn("two?lines?.mp4", lines)
        self.assertIn("  Output: two?lines?-cvt.mp4", lines)
        self.assertIn("  " + os.path.join(self.dir, "bad?name?.txt"), lines)
        self.assertIn("  " + os.path.join(self.dir, "gone?[2J.mp4"), lines)
        self.assertTrue(all(c >= " " for c in proc.stdout.replace("\n", "")), repr(proc.stdout))
        # Each line is one of the listing's: nothing of a name ever starts a line.
        self.assertNotIn("lines", [l.strip() for l in lines])


class NotAFile(unittest.TestCase):
    """A named pipe, a folder, a device or a socket where a file is expected."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.dir = self.tmp.name
        self.out = os.path.join(self.dir, "out")
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        self.env["HOME"] = self.dir
        self.clip = os.path.join(self.dir, "clip.mp4")
        make_clip(self.clip, 1)
        self.fifo = os.path.join(self.dir, "fifo.mp4")
        os.mkfifo(self.fifo)
        self.folder = os.path.join(self.dir, "folder.mp4")
        os.makedirs(self.folder)
        shutil.copy(self.clip, os.path.join(self.folder, "inside.mp4"))
        self.device = os.path.join(self.dir, "null.mp4")
        os.symlink("/dev/null", self.device)
        self.sock_path = os.path.join(self.dir, "sock.mp4")
        self.sock = socket.socket(socket.AF_UNIX)
        self.sock.bind(self.sock_path)
        self.addCleanup(self.sock.close)
        self.refused = {self.fifo: "named pipe", self.folder: "folder", self.device: "device",
                        self.sock_path: "socket"}

    def run_plexavo(self, *args):
        # A hang shows as the timeout; the run itself must end at once.
        return subprocess.run(plexavo(*args), capture_output=True, text=True, timeout=60,
                              env=self.env, cwd=self.dir)

    def assert_untouched(self):
        self.assertTrue(stat.S_ISFIFO(os.stat(self.fifo).st_mode))
        self.assertEqual(os.listdir(self.folder), ["inside.mp4"])
        self.assertEqual(os.readlink(self.device), "/dev/null")

    def test_probe_refuses_with_the_reason(self):
        proc = self.run_plexavo("--probe", self.clip, *self.refused)
        self.assertEqual(proc.returncode, 1, proc.stdout + proc.stderr)
        self.assertEqual(proc.stdout.count("Can't playback the following files."), 1)
        for path, words in self.refused.items():
            self.assertRegex(proc.stdout, re.escape(f"  {path}\n    ") + ".*" + words)
        self.assertIn("clip.mp4\n  Duration: ", proc.stdout)
        self.assert_untouched()

    def test_json_probe_refuses_with_the_reason(self):
        proc = self.run_plexavo("--probe", "--json", *self.refused, self.clip)
        self.assertEqual(proc.returncode, 1, proc.stderr)
        files = json.loads(proc.stdout)["files"]
        self.assertEqual([f["path"] for f in files], [*self.refused, self.clip])
        for f in files[:-1]:
            self.assertIs(f["convertible"], False)
            self.assertIn(self.refused[f["path"]], f["reason"])
        self.assertIs(files[-1]["convertible"], True)
        self.assert_untouched()

    def test_convert_refuses_and_converts_the_rest(self):
        proc = self.run_plexavo("--convert", "--out", self.out, self.fifo, self.clip, self.folder,
                                self.device, self.sock_path)
        self.assertEqual(proc.returncode, 1, proc.stdout + proc.stderr)
        self.assertEqual(proc.stdout.splitlines()[-1], "1 written, 4 failed")
        self.assertEqual(os.listdir(self.out), ["clip-cvt.mp4"])
        self.assertEqual(decode_errors(os.path.join(self.out, "clip-cvt.mp4")), "")
        self.assert_untouched()
        self.assertEqual(cores_on(self.dir), [])


class SignalsWhileProbing(unittest.TestCase):
    """SIGINT, SIGTERM and SIGHUP before the first conversion starts."""

    FILES = 80

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.dir = self.tmp.name
        self.out = os.path.join(self.dir, "out")
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=self.dir)
        clip = os.path.join(self.dir, "clip.mp4")
        make_clip(clip, 1)
        # Many names for one clip: the probes take a while, one core each.
        self.files = []
        for i in range(self.FILES):
            self.files.append(os.path.join(self.dir, f"c{i:03}.mp4"))
            os.link(clip, self.files[-1])

    def start(self, *args):
        return subprocess.Popen(plexavo(*args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True, env=self.env, start_new_session=True)

    def signal_while_probing(self, proc, signum, group):
        deadline = time.monotonic() + 60
        while not children_of(proc.pid) and time.monotonic() < deadline and proc.poll() is None:
            time.sleep(0.005)
        self.assertIsNone(proc.poll(), "the probes ended before the signal")
        if group:
            os.killpg(proc.pid, signum)  # as the terminal does
        else:
            os.kill(proc.pid, signum)  # as a service manager or a logout does
        out, err = proc.communicate(timeout=120)
        return out, err

    def test_convert_exits_130_and_converts_nothing(self):
        for signum, group in ((signal.SIGTERM, False), (signal.SIGHUP, False),
                              (signal.SIGINT, True)):
            proc = self.start("--convert", "--out", self.out, *self.files)
            out, err = self.signal_while_probing(proc, signum, group)
            self.assertEqual(proc.returncode, 130, (signum, out, err))
            self.assertNotIn("Converting", out)
            self.assertRegex(out.splitlines()[-1], r"^(\d+ failed, )?\d+ not started$", out)
            self.assertFalse(os.path.exists(self.out) and os.listdir(self.out),
                             "a conversion was started")
            self.assertEqual(cores_on(self.dir), [], "a core outlived the run")
            self.assertEqual(len(os.listdir(self.dir)), self.FILES + 1, "a source was touched")

    def test_probe_exits_130_and_prints_no_half_document(self):
        for args in (("--probe", "--json"), ("--probe",)):
            proc = self.start(*args, *self.files)
            out, err = self.signal_while_probing(proc, signal.SIGTERM, False)
            self.assertEqual(proc.returncode, 130, (args, err))
            self.assertEqual(out, "", args)


if __name__ == "__main__":
    BIN = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v", *sys.argv[2:]])
