// Media files for the preview's tests, made by the ffmpeg tool into a
// temporary folder once per test program.
#pragma once

#include "Process.h"
#include "TestSupport.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace preview_test {

namespace fs = std::filesystem;

class Clips {
  public:
    std::string path(const std::string& name) const { return m_dir / name; }
    const std::string& dir() const { return m_dir.path(); }

    // A picture of `seconds` with a tone, 25 frames a second, key frames
    // every second; `video`/`audio` are ffmpeg encoder arguments.
    std::string make(const std::string& name, int seconds, std::vector<std::string> video,
                     std::vector<std::string> audio, const std::string& size = "160x120") {
        std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y"};
        const std::string length = std::to_string(seconds);
        if (!video.empty()) {
            args.insert(args.end(), {"-f", "lavfi", "-i",
                                     "testsrc=size=" + size + ":rate=25:duration=" + length});
        }
        if (!audio.empty()) {
            args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=440:duration=" + length});
        }
        args.insert(args.end(), video.begin(), video.end());
        args.insert(args.end(), audio.begin(), audio.end());
        return run(name, args);
    }

    std::string mp4(const std::string& name = "clip.mp4", int seconds = 3) {
        return make(name, seconds, {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "25"},
                    {"-c:a", "aac"});
    }
    std::string mkv() {
        return make("clip.mkv", 3, {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "25"},
                    {"-c:a", "aac"});
    }
    std::string ogg() {
        return make("clip.ogg", 3, {"-c:v", "libtheora", "-g", "25"}, {"-c:a", "libvorbis"});
    }
    std::string audioOnly() { return make("tone.m4a", 3, {}, {"-c:a", "aac"}); }

    // A file of several sound tracks (tones of different pitch, all as long as
    // the file), with a picture unless `video` is false, and optionally
    // subtitles (two cues; .mkv) or a time-code data track (.mov).
    enum class Extra { None, Subtitles, Data };
    std::string tracks(const std::string& name, int seconds, bool video, int soundTracks,
                       Extra extra = Extra::None) {
        const std::string length = std::to_string(seconds);
        std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y"};
        int inputs = 0;
        if (video) {
            args.insert(args.end(),
                        {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=" + length});
            ++inputs;
        }
        for (int i = 0; i < soundTracks; ++i, ++inputs)
            args.insert(args.end(), {"-f", "lavfi", "-i",
                                     "sine=frequency=" + std::to_string(440 + 220 * i) +
                                         ":duration=" + length});
        if (extra == Extra::Subtitles) {
            const std::string cues = path(name + ".srt");
            testing_support::writeFile(cues, "1\n00:00:00,500 --> 00:00:01,000\nOne\n\n"
                                             "2\n00:00:01,500 --> 00:00:02,000\nTwo\n");
            args.insert(args.end(), {"-i", cues});
            ++inputs;
        }
        for (int i = 0; i < inputs; ++i)
            args.insert(args.end(), {"-map", std::to_string(i)});
        if (video)
            args.insert(args.end(), {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "25"});
        args.insert(args.end(), {"-c:a", "aac"});
        if (extra == Extra::Subtitles)
            args.insert(args.end(), {"-c:s", "srt"});
        if (extra == Extra::Data)
            args.insert(args.end(), {"-timecode", "00:00:00:00"});
        return run(name, args);
    }

    // Plays its first two seconds, then every picture is damaged (the
    // container stays sound), so the decoder fails while playing.
    std::string failsPartWay(const std::string& name) {
        const std::string good = make(name + ".good.mkv", 2, {"-c:v", "png"}, {});
        const std::string bad =
            make(name + ".bad.mkv", 3, {"-c:v", "png", "-bsf:v", "noise=amount=20"}, {});
        const std::string list = path(name + ".txt");
        testing_support::writeFile(list, "file '" + good + "'\nfile '" + bad + "'\n");
        return run(name, {"ffmpeg", "-v", "error", "-y", "-f", "concat", "-safe", "0", "-i", list,
                          "-c", "copy"});
    }

    // `from` overwritten with noise of the same size, as happens to a file
    // after it was added to the list.
    std::string overwrittenWithNoise(const std::string& from, const std::string& name) {
        std::string bytes = testing_support::readFile(from);
        std::uint32_t state = 12345;
        for (char& byte : bytes) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<char>(state >> 24);
        }
        const std::string out = path(name);
        testing_support::writeFile(out, bytes);
        return out;
    }

    // The first `size` bytes of `from`, under `name`.
    std::string truncated(const std::string& from, const std::string& name, std::size_t size) {
        const std::string out = path(name);
        testing_support::writeFile(out, testing_support::readFile(from).substr(0, size));
        return out;
    }
    std::string copy(const std::string& from, const std::string& name) {
        const std::string out = path(name);
        testing_support::copyFile(from, out);
        return out;
    }

  private:
    // Runs the ffmpeg command line `args` with `name` as its output; its path.
    std::string run(const std::string& name, std::vector<std::string> args) {
        args.push_back(path(name));
        const auto r = testing_support::run(args, 300);
        if (r.exitCode != 0)
            std::fprintf(stderr, "ffmpeg failed for %s: %s\n", name.c_str(), r.out.c_str());
        return path(name);
    }

    testing_support::TempDir m_dir;
};

} // namespace preview_test
