// Media files for the preview's tests, made by the ffmpeg tool into a
// temporary folder once per test program.
#pragma once

#include "Process.h"
#include "TestSupport.h"

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
        const std::string out = path(name);
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
        args.push_back(out);
        const auto r = testing_support::run(args, 300);
        if (r.exitCode != 0)
            std::fprintf(stderr, "ffmpeg failed for %s: %s\n", name.c_str(), r.out.c_str());
        return out;
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
    testing_support::TempDir m_dir;
};

} // namespace preview_test
