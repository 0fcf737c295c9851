#!/usr/bin/env python3
"""The command line for scripts, with the real core: the JSON probe, --jobs,
Ctrl+C with several conversions running, and the two worked examples of
docs/scripting.md run as the page prints them.

Usage: test_cli_scripting.py BIN_DIR [TEST_NAME...]

The JSON is read back with Python's json module and held against what
ffprobe says of the same files; outputs are judged with ffprobe and a full
decode by the ffmpeg tool, never by what the program prints.
"""
import base64
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_cli_faults import (alive, cores_of, decode_errors, duration, make_clip,  # noqa: E402
                             wait_for_output)

BIN = None
DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                    "scripting.md")
LINE = re.compile(r"^\[(\d+)/(\d+)\] (Converting |written: |failed: |Stopped)")


def plexavo(*args):
    return [os.path.join(BIN, "plexavo"), *args]


def ffprobe(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-of", "json", "-show_entries",
         "format=duration:stream=index,codec_type,codec_name,profile,width,height,sample_rate,"
         "channels,avg_frame_rate", b"file:" + os.fsencode(path)],
        capture_output=True, check=True)
    return json.loads(out.stdout)


def rate(text):
    num, den = (int(x) for x in text.split("/"))
    return num / den if den else None


def audio_clip(path, seconds):
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                    f"sine=frequency=330:sample_rate=48000:duration={seconds}", "-ac", "2",
                    "-c:a", "aac", "file:" + path], check=True)


def video_clip(path, seconds):
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                    f"testsrc=size=320x240:rate=30:duration={seconds}", "-c:v", "mpeg4",
                    "file:" + path], check=True)


def streams_of(path):
    """What matters of an output's streams, from ffprobe."""
    keep = ("codec_type", "codec_name", "width", "height", "sample_rate", "channels")
    return [{k: s.get(k) for k in keep} for s in ffprobe(path)["streams"]]


def shown(name):
    """A name as the document must show it: bytes that are not UTF-8 become U+FFFD, one each."""
    text = name.decode("utf-8", "surrogateescape")
    return "".join("\ufffd" if 0xDC80 <= ord(c) <= 0xDCFF else c for c in text)


class Base(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=self.dir)

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def run_plexavo(self, *args, **kw):
        return subprocess.run(plexavo(*args), capture_output=True, env=self.env, timeout=600,
                              **kw)


class ProbeJson(Base):
    def probe(self, *files, prefix=(), program=None):
        command = [program, "--probe", "--json", *files] if program else plexavo(
            "--probe", "--json", *files)
        proc = subprocess.run([*prefix, *command],
                              capture_output=True, env=self.env, timeout=120)
        # Strict UTF-8, then strict JSON: anything else fails here.
        return proc.returncode, json.loads(proc.stdout.decode("utf-8"))

    def test_normal_files_say_what_ffprobe_says(self):
        clips = {"av.mp4": make_clip, "sound.m4a": audio_clip, "picture.mkv": video_clip}
        for name, maker in clips.items():
            maker(self.path(name), 3)
        code, doc = self.probe(*(self.path(n) for n in clips))
        self.assertEqual(code, 0)
        self.assertEqual(doc["version"], 1)
        self.assertEqual([f["path"] for f in doc["files"]], [self.path(n) for n in clips])
        for f in doc["files"]:
            truth = ffprobe(f["path"])
            self.assertIs(f["convertible"], True)
            self.assertNotIn("reason", f)
            self.assertNotIn("path_bytes_base64", f)
            self.assertAlmostEqual(f["duration_seconds"], float(truth["format"]["duration"]),
                                   delta=0.06, msg=f["path"])
            self.assertEqual(f["duration"], "00:00:0%d" % int(f["duration_seconds"]))
            self.assertIsInstance(f["bit_rate_kbps"], int)
            by_index = {s["index"]: s for s in truth["streams"]}
            self.assertEqual(sorted(s["index"] for s in f["streams"]), sorted(by_index))
            for s in f["streams"]:
                t = by_index[s["index"]]
                self.assertEqual(s["kind"], t["codec_type"])
                self.assertEqual(s["codec"], t["codec_name"])
                # The profile as ffprobe names it ("LC" for AAC), for audio as for video.
                named = t.get("profile")
                if named == "unknown" or (named or "").lstrip("-").isdigit():
                    named = None
                self.assertEqual(s["profile"], named, s)
                if s["kind"] == "video":
                    self.assertEqual((s["width"], s["height"]), (t["width"], t["height"]))
                    self.assertAlmostEqual(s["frame_rate"], rate(t["avg_frame_rate"]), places=2)
                    self.assertNotIn("channels", s)
                else:
                    self.assertEqual(s["sample_rate"], int(t["sample_rate"]))
                    self.assertEqual(s["channels"], t["channels"])
                    self.assertNotIn("width", s)

    def test_files_that_cannot_be_converted_carry_their_reason(self):
        make_clip(self.path("good.mp4"), 2)
        with open(self.path("notes.txt"), "w") as f:
            f.write("not a film\n")
        make_clip(self.path("locked.mp4"), 2)
        os.chmod(self.path("locked.mp4"), 0)
        prefix = ()
        program = None
        if os.geteuid() == 0:
            # Root reads any file: the probe runs as nobody, who may enter the folder.
            # The build tree may sit where nobody may not (a checkout under /root), so
            # nobody runs a copy of the program with its core beside it.
            os.chmod(self.dir, 0o755)
            prefix = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups")
            copies = self.path("bin")
            os.makedirs(copies)
            for name in ("plexavo", "Plexcore"):
                shutil.copy2(os.path.join(BIN, name), copies)
            program = os.path.join(copies, "plexavo")
        code, doc = self.probe(self.path("good.mp4"), self.path("notes.txt"),
                               self.path("locked.mp4"), self.path("missing.mp4"), prefix=prefix,
                               program=program)
        self.assertEqual(code, 1, "some file cannot be converted")
        good, notes, locked, missing = doc["files"]
        self.assertIs(good["convertible"], True)
        for f, words in ((notes, "not a media file"), (locked, "Permission denied"),
                         (missing, "No such file or directory")):
            self.assertIs(f["convertible"], False, f)
            self.assertIn(words, f["reason"])
            for absent in ("duration", "duration_seconds", "streams", "bit_rate_kbps"):
                self.assertNotIn(absent, f)

    def test_subtitles_and_chapters_are_listed(self):
        """Subtitle tracks (the file's own and a file beside it) and the chapter count, in
        the document and in the listing, after what was there before."""
        inside, meta, film = self.path("inside.srt"), self.path("meta.txt"), self.path("film.mkv")
        with open(inside, "w") as f:
            f.write("1\n00:00:00,500 --> 00:00:01,500\nHello\n")
        with open(meta, "w") as f:
            f.write(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
                    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=3000\ntitle=Two\n")
        subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                        "testsrc=size=320x240:rate=25:duration=3", "-f", "lavfi", "-i",
                        "sine=duration=3", "-i", inside, "-i", meta, "-map", "0:v", "-map", "1:a",
                        "-map", "2:s", "-map_chapters", "3", "-c:v", "mpeg4", "-c:a", "aac",
                        "-c:s", "srt", "-metadata:s:s:0", "language=eng", "-disposition:s:0", "0",
                        film], check=True)
        with open(self.path("film.fr.srt"), "w") as f:
            f.write("1\n00:00:01,000 --> 00:00:02,000\nBonjour\n")
        code, doc = self.probe(film)
        self.assertEqual(code, 0)
        f = doc["files"][0]
        self.assertEqual([s["kind"] for s in f["streams"]], ["video", "audio"])
        self.assertEqual(f["chapters"], 2)
        self.assertEqual(f["subtitles"], [
            {"index": 2, "file": None, "codec": "subrip", "language": "eng", "form": "text",
             "default": False, "forced": False},
            {"index": 0, "file": "film.fr.srt", "codec": "subrip", "language": "fre",
             "form": "text", "default": False, "forced": False}])

        listing = self.run_plexavo("--probe", film).stdout.decode().splitlines()
        self.assertIn("  Subtitle: eng subrip (text)", listing)
        self.assertIn("  Subtitle: fre subrip (text) from film.fr.srt", listing)
        self.assertIn("  Chapters: 2", listing)
        audio = next(i for i, line in enumerate(listing) if line.startswith("  Audio:"))
        output = next(i for i, line in enumerate(listing) if line.startswith("  Output: "))
        self.assertEqual(output - audio, 4, listing)

    def test_hostile_names_come_out_as_valid_json(self):
        make_clip(self.path("clip.mp4"), 2)
        names = [b'say "hi" \\ back.mp4', b"two\nlines\t.mp4", b"caf\xc3\xa9 \xff\xfe.mp4",
                 b"-starts with a dash.mp4", b"cut \xe2\x82.mp4",
                 b"x\n  Duration: 99:00:00.00, start: 0, bitrate: 1\n.mp4"]
        folder = os.fsencode(self.dir)
        for name in names:
            shutil.copyfile(self.path("clip.mp4"), os.path.join(folder, name))
        proc = subprocess.run(plexavo("--probe", "--json", "--", *names), cwd=folder,
                              capture_output=True, env=self.env, timeout=120)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        doc = json.loads(proc.stdout.decode("utf-8"))
        self.assertEqual(len(doc["files"]), len(names))
        for name, f in zip(names, doc["files"]):
            self.assertEqual(f["path"], shown(name))
            try:
                name.decode("utf-8")
                self.assertNotIn("path_bytes_base64", f)
            except UnicodeDecodeError:
                self.assertEqual(base64.b64decode(f["path_bytes_base64"], validate=True), name)
            self.assertIs(f["convertible"], True, f)
            self.assertAlmostEqual(f["duration_seconds"], 2.0, delta=0.06,
                                   msg="a duration line in the name is not the file's")
            self.assertEqual([s["kind"] for s in f["streams"]], ["video", "audio"])


class Jobs(Base):
    def convert(self, *args, wait=True):
        proc = subprocess.Popen(plexavo("--convert", *args), stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, env=self.env,
                                start_new_session=True)
        if not wait:
            return proc
        text, _ = proc.communicate(timeout=600)
        return proc.returncode, text

    def progress(self, text):
        lines = [l for l in text.splitlines() if LINE.match(l)]
        return lines

    def test_two_jobs_write_what_one_job_writes(self):
        sources = []
        for folder, title, seconds, size in (("d1", "a", 2, "160x120"), ("d1", "b", 3, "320x240"),
                                             ("d1", "c", 1, "160x120"), ("d2", "a", 4, "160x120"),
                                             ("d2", "b", 2, "176x144"), ("d2", "e", 3, "160x120")):
            os.makedirs(self.path(folder), exist_ok=True)
            sources.append(self.path(folder, title + ".mp4"))
            make_clip(sources[-1], seconds, size=size)
        results = {}
        for jobs in ("1", "2"):
            out = self.path("out" + jobs)
            code, text = self.convert("--jobs", jobs, "--out", out, *sources)
            self.assertEqual(code, 0, text)
            self.assertEqual(text.splitlines()[-1], "6 written")
            lines = self.progress(text)
            self.assertEqual(len(lines), 12, text)
            if jobs == "2":
                self.assertTrue(lines[0].startswith("[1/6] Converting ") and
                                lines[1].startswith("[2/6] Converting "),
                                "two conversions ran at once:\n" + text)
            names = sorted(os.listdir(out))
            results[jobs] = {n: (streams_of(os.path.join(out, n)),
                                 round(duration(os.path.join(out, n)), 1)) for n in names}
            for n in names:
                self.assertEqual(decode_errors(os.path.join(out, n)), "", n)
        self.assertEqual(sorted(results["1"]), ["a-cvt.mp4", "a-cvt[1].mp4", "b-cvt.mp4",
                                                "b-cvt[1].mp4", "c-cvt.mp4", "e-cvt.mp4"])
        self.assertEqual(results["2"], results["1"])
        self.assertEqual(results["1"]["a-cvt[1].mp4"][1], 4.0, "the second a.mp4 is the long one")

    def test_ctrl_c_stops_both_running_conversions(self):
        clip = self.path("long.mp4")
        make_clip(clip, 60, size="640x480")
        proc = self.convert("--jobs", "2", "--out", self.path("out"), clip, clip, clip, wait=False)
        deadline = time.monotonic() + 60
        cores = []
        while len(cores) < 2 and time.monotonic() < deadline and proc.poll() is None:
            cores = cores_of(proc.pid)
            time.sleep(0.05)
        self.assertEqual(len(cores), 2, "two cores should run at once")
        self.assertTrue(wait_for_output(self.path("out"), 2), "the two cores wrote nothing")
        os.killpg(proc.pid, signal.SIGINT)  # as the terminal does: the whole group
        text, _ = proc.communicate(timeout=180)
        self.assertEqual(proc.returncode, 130, text)
        self.assertNotIn("[3/3] Converting", text, "a conversion started after Ctrl+C")
        self.assertEqual(len(re.findall(r"^\[[12]/3\] Stopped: ", text, re.M)), 2, text)
        self.assertEqual(text.splitlines()[-1], "2 stopped, 1 not started")
        names = sorted(os.listdir(self.path("out")))
        self.assertEqual(names, ["long-cvt.mp4", "long-cvt[1].mp4"], "and no partial file")
        for n in names:
            written = duration(self.path("out", n))
            self.assertIsNotNone(written, n)
            self.assertLess(written, 59)
            self.assertEqual(decode_errors(self.path("out", n)), "", n)
        self.assertEqual(cores_of(proc.pid), [])
        for core in cores:
            self.assertFalse(alive(core), "a core outlived the run")

    def test_exit_statuses(self):
        make_clip(self.path("good.mp4"), 1)
        with open(self.path("notes.txt"), "w") as f:
            f.write("text\n")
        good = self.path("good.mp4")
        for args in (("--convert", "--jobs", "-1", good), ("--convert", "--jobs", "two", good),
                     ("--convert", "--jobs", "1025", good), ("--convert", good, "--jobs"),
                     ("--probe", "--jobs", "2", good), ("--convert", "--json", good),
                     ("--convert", "--frobnicate", good), ("--convert",)):
            proc = self.run_plexavo(*args)
            self.assertEqual(proc.returncode, 2, args)
            self.assertFalse(os.path.exists(self.path("ConvertedMedia")), args)
        proc = self.run_plexavo("--convert", "--jobs", "0", "--out", self.path("out"),
                                self.path("good.mp4"), self.path("notes.txt"))
        self.assertEqual(proc.returncode, 1, proc.stdout)
        self.assertEqual(os.listdir(self.path("out")), ["good-cvt.mp4"])
        usage = self.run_plexavo("--help").stdout.decode()
        for words in ("--jobs N", "--json", "130", "bad arguments"):
            self.assertIn(words, usage)


class Examples(Base):
    """docs/scripting.md's examples, run as the page prints them."""

    def example(self, name):
        with open(DOCS) as f:
            page = f.read()
        found = re.search(r"<!-- example: %s .*?-->\n```sh\n(.*?)```" % name, page, re.S)
        self.assertIsNotNone(found, f"no example {name} in docs/scripting.md")
        lines = found.group(1).splitlines()
        self.assertEqual(lines[0], "cd ~/Videos")
        return "\n".join(lines[1:])

    def library(self, names):
        videos = self.path("Videos")
        for i, name in enumerate(names):
            target = os.path.join(videos, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            make_clip(target, 1 + i % 3)
        return videos

    def run_example(self, script, cwd):
        env = dict(self.env, PATH=BIN + os.pathsep + os.environ.get("PATH", ""))
        return subprocess.run(["bash", "-c", "set -o pipefail\n" + script], cwd=cwd, env=env,
                              capture_output=True, text=True, timeout=600)

    def test_xargs_converts_a_folder_tree(self):
        videos = self.library(["top.mp4", "a/clip.mkv", "b/clip.mkv", "b/-odd 'name'.avi"])
        proc = self.run_example(self.example("xargs"), videos)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        out = self.path("Converted")
        names = sorted(os.listdir(out))
        self.assertEqual(names, ["-odd 'name'-cvt.mp4", "clip-cvt.mp4", "clip-cvt[1].mp4",
                                 "top-cvt.mp4"])
        for n in names:
            self.assertEqual(streams_of(os.path.join(out, n))[0]["width"], 320)
            self.assertEqual(decode_errors(os.path.join(out, n)), "", n)

    def test_gnu_parallel_on_two_local_slots(self):
        if shutil.which("parallel") is None:
            self.skipTest("GNU parallel is not installed (scripts/install-deps.sh installs it)")
        names = ["one.mkv", "sub/two.mkv", "sub/with blank.mkv", "sub/deeper/it's.mkv"]
        videos = self.library(names)
        script = self.example("parallel")
        local = re.sub(r"--sshlogin \S+", "-j2", script)
        self.assertNotEqual(local, script)
        proc = self.run_example(local, videos)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        for i, name in enumerate(names):
            source = os.path.join(videos, name)
            output = os.path.splitext(source)[0] + "-cvt.mov"
            self.assertTrue(os.path.exists(source), "a source was removed")
            self.assertEqual(streams_of(output)[0]["codec_name"], "h264", output)
            self.assertEqual(streams_of(output)[0]["width"], 640)
            self.assertAlmostEqual(duration(output), 1 + i % 3, delta=0.1)
            self.assertEqual(decode_errors(output), "", output)
        leftovers = [f for _, _, files in os.walk(videos) for f in files
                     if not f.endswith((".mkv", "-cvt.mov"))]
        self.assertEqual(leftovers, [], "partial files were left")


if __name__ == "__main__":
    BIN = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v", *sys.argv[2:]])
