// Media files for the preview's tests, made by the ffmpeg tool into a
// temporary folder once per test program, and a runner for ffmpeg/ffprobe.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace preview_test {

namespace fs = std::filesystem;

struct ToolResult {
    int status = -1;
    std::string output;
};

// Runs a tool with an explicit argv (no shell), output and error joined.
inline ToolResult runTool(const std::vector<std::string>& args) {
    ToolResult result;
    int fds[2];
    if (pipe(fds) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc == 0) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
            result.output.append(buffer, static_cast<std::size_t>(n));
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    close(fds[0]);
    return result;
}

// Duration of a file's container in seconds as ffprobe reads it; -1 on failure.
inline double probeDuration(const std::string& path) {
    const ToolResult r = runTool({"ffprobe", "-v", "error", "-show_entries", "format=duration",
                                  "-of", "default=noprint_wrappers=1:nokey=1", path});
    return r.status == 0 ? std::atof(r.output.c_str()) : -1.0;
}

class Clips {
  public:
    Clips() {
        std::string tmpl = (fs::temp_directory_path() / "plexavo-preview-XXXXXX").string();
        m_dir = mkdtemp(tmpl.data());
    }
    ~Clips() {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    Clips(const Clips&) = delete;
    Clips& operator=(const Clips&) = delete;

    std::string path(const std::string& name) const { return m_dir + "/" + name; }
    const std::string& dir() const { return m_dir; }

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
        const ToolResult r = runTool(args);
        if (r.status != 0)
            std::fprintf(stderr, "ffmpeg failed for %s: %s\n", name.c_str(), r.output.c_str());
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
        std::ifstream in(from, std::ios::binary);
        std::string bytes(size, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(size));
        const std::string out = path(name);
        std::ofstream(out, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(size));
        return out;
    }
    std::string copy(const std::string& from, const std::string& name) {
        const std::string out = path(name);
        fs::copy_file(from, out, fs::copy_options::overwrite_existing);
        return out;
    }

  private:
    std::string m_dir;
};

// Descriptors of this process that point at `path`.
inline int openHandlesTo(const std::string& path) {
    int count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkError;
        if (fs::read_symlink(entry.path(), linkError).string() == path)
            ++count;
    }
    return count;
}

inline int openHandles() {
    std::error_code ec;
    return static_cast<int>(
        std::distance(fs::directory_iterator("/proc/self/fd", ec), fs::directory_iterator()));
}

inline int threadCount() {
    std::error_code ec;
    return static_cast<int>(
        std::distance(fs::directory_iterator("/proc/self/task", ec), fs::directory_iterator()));
}

} // namespace preview_test
