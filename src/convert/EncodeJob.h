// One conversion: runs the encoder core on one item, pumps its output and
// turns the "time=" field into a percentage.
#pragma once

#include "PlexcoreContract.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace plexavo {

class CChildProcess;

class CEncodeJob {
public:
    // Buffer rules of the output pump.
    static constexpr std::size_t kBufferSize = contract::kProbeReadSize; // same buffer as the probe
    static constexpr std::uint32_t kLookIntervalMs = contract::kProgressIntervalMs;

    // 0..99 while the core runs, 100 once its output has ended.
    std::atomic<int> percent{0};
    // Length of the part being converted, whole seconds.
    std::int64_t duration = 0;
    // Set from the window thread to end the running conversion early.
    std::atomic<bool> stopRequested{false};

    virtual ~CEncodeJob() = default;

    // Runs one conversion to its end on the calling thread. 0 when the core
    // finished or was stopped on request; negative when it could not be started
    // (-1), failed (-2), or had to be killed without a request (-3).
    int run(const std::string& sourcePath, const std::string& outputFilePath, const std::string& title,
            const std::string& options, std::uint64_t startSeconds, std::uint64_t endSeconds);

    // The read loop of a started child.
    void pumpOutput(CChildProcess& child);

    // One parse of a chunk of output: 0 when a "time=" value was taken.
    int parseProgress(const char* text, std::size_t length);

    // The last "Error: ..." line the core printed during the last run (no line break).
    const std::string& errorText() const { return m_errorText; }

    // The command line of one conversion as logged, and the argv that runs it.
    static std::string formatCommandLine(const std::string& sourcePath, const std::string& outputFilePath,
                                         const std::string& title, const std::string& options,
                                         std::uint64_t startSeconds, std::uint64_t length);
    static std::vector<std::string> buildArguments(const std::string& sourcePath,
                                                   const std::string& outputFilePath,
                                                   const std::string& title, const std::string& options,
                                                   std::uint64_t startSeconds, std::uint64_t length);

private:
    void noteErrorLine(const char* text);

    std::string m_errorText;
};

} // namespace plexavo
