// How the tests address the encoder core: the same argument order the program uses.
#pragma once

#include "PlexcoreContract.h"
#include "support/Shared.h"

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace coretest {

using plexavo::contract::kAccessCode;

std::string corePath();
// The core's argv: its path, the access code, then `args`.
std::vector<std::string> coreArgv(const std::vector<std::string>& args);

// One conversion as the program asks for it. An unset field is left off the command line.
struct Job {
    std::string input;
    std::string output;
    std::optional<std::string> title = "Plexavo test";
    std::optional<std::string> vcodec = "xvid";
    std::optional<std::string> pixFmt = "yuv420p";
    std::optional<std::string> size = "320x240";
    std::optional<std::string> rate = "23.976";
    std::optional<std::string> bitrate = "768";
    std::optional<std::string> channels = "2";
    std::optional<std::string> audioBitrate = "128";
    std::optional<std::string> sampleRate = "44100";
    std::optional<std::string> start = "0";
    std::optional<std::string> length;
    // Drops every device option, as the program does for disc targets.
    void clearDeviceOptions();
    std::vector<std::string> extra; // more options (-bt, -maxrate, -target ...), before -ss
    bool overwrite = true;

    std::vector<std::string> argv() const;
    RunResult run(double timeoutSec = 180, const std::string& cwd = "") const;
    RunResult run(const SpawnOptions& options, double timeoutSec = 180) const;
};

// Feeds a file into a named pipe on a schedule, so the core sees a slow or stalled source.
class Trickle {
  public:
    struct Step {
        size_t bytes; // how much to write next
        int pauseMs;  // then wait this long
    };
    // Creates the FIFO at fifoPath and starts writing once the core opens it.
    Trickle(const std::string& fifoPath, std::string data, std::vector<Step> steps);
    ~Trickle(); // stops writing and closes the pipe
    void stop();
    size_t written() const { return m_written; }

  private:
    void runSchedule();
    std::string m_path;
    std::string m_data;
    std::vector<Step> m_steps;
    std::atomic<bool> m_stop{false};
    std::atomic<size_t> m_written{0};
    std::thread m_thread;
};

// A schedule that writes `data` at about `bytesPerSecond`, in 100 ms steps.
std::vector<Trickle::Step> steadyRate(size_t total, double bytesPerSecond);

} // namespace coretest
