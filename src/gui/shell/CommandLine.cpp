#include "gui/shell/CommandLine.h"

#include "engine/convert/EncodeJob.h"
#include "engine/convert/EncodingOptions.h"
#include "engine/convert/OutputNaming.h"
#include "engine/media/SourceItem.h"
#include "engine/media/SourcePaths.h"
#include "engine/services/ResourceText.h"
#include "engine/settings/ConversionSettings.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace plexavo::cli {

namespace {

constexpr unsigned kStrStopped = 62009;
constexpr unsigned kStrStoppedEmpty = 62010;
// The shell's status for a run ended by Ctrl+C (128 + SIGINT).
constexpr int kExitInterrupted = 130;

// The conversion a Ctrl+C stops. A signal handler may only touch lock-free atomics.
std::atomic<CEncodeJob*> g_runningJob{nullptr};
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free &&
              std::atomic<CEncodeJob*>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    // The second Ctrl+C insists: the core is killed, its partial file left
    // for the next conversion into the folder to clear away.
    const bool again = g_interrupted.exchange(true);
    if (CEncodeJob* job = g_runningJob.load())
        (again ? job->killRequested : job->stopRequested).store(true);
}

// Ctrl+C, a hang-up or a kill asks the running conversion to stop as the
// window's Cancel All does: its file is finished, playable, and kept.
class InterruptGuard {
  public:
    explicit InterruptGuard(CEncodeJob& job) {
        g_interrupted = false;
        g_runningJob = &job;
        struct sigaction sa {};
        sa.sa_handler = onInterrupt;
        sigemptyset(&sa.sa_mask);
        for (int i = 0; i < 3; ++i)
            sigaction(kSignals[i], &sa, &m_old[i]);
    }
    ~InterruptGuard() {
        for (int i = 0; i < 3; ++i)
            sigaction(kSignals[i], &m_old[i], nullptr);
        g_runningJob = nullptr;
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

  private:
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction m_old[3]{};
};

bool isFrontEndOption(const char* arg) {
    return std::strcmp(arg, "--probe") == 0 || std::strcmp(arg, "--convert") == 0 ||
           std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

int runFrontEnd(const std::vector<std::string>& args) {
    ConversionSettings settings;
    bool convert = false;
    bool optionsEnded = false;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            files.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--probe") {
            continue;
        } else if (arg == "--convert") {
            convert = true;
        } else if (arg == "--h264") {
            settings.targetFormat = kTargetH264;
        } else if (arg == "--size" && i + 1 < args.size()) {
            char* end = nullptr;
            const long row = std::strtol(args[++i].c_str(), &end, 10);
            if (!end || *end || row < 0 || row > static_cast<long>(VideoSizes.size())) {
                std::fprintf(stderr, "plexavo: --size takes a row number from 0 to %zu\n",
                             VideoSizes.size());
                return 2;
            }
            settings.sizeChoice = static_cast<int>(row);
            settings.applySizeChoice();
        } else if (arg == "--out" && i + 1 < args.size()) {
            settings.outputPath = absoluteSourcePath(args[++i]);
            if (settings.outputPath.back() != '/')
                settings.outputPath += '/';
        } else if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        } else if (std::error_code ec; std::filesystem::exists(arg, ec)) {
            files.push_back(arg); // a file whose name starts with '-'
        } else {
            std::fprintf(stderr, "plexavo: unknown option %s (see plexavo --help)\n", arg.c_str());
            return 2;
        }
    }
    if (files.empty()) {
        printUsage(stderr);
        return 2;
    }

    int failures = 0;
    std::vector<CSourceItem> items;
    for (const auto& file : files) {
        CSourceItem item;
        if (item.probe(absoluteSourcePath(file)) < 0) {
            std::printf("%s\n  %s\n", LoadResString(61205).c_str(), file.c_str());
            ++failures;
            continue;
        }
        item.assignOutputName(settings.outputPath, TargetExtensions[settings.targetFormat], "cvt");
        std::printf("%s\n  Duration: %s\n  Bit rate: %s\n  Video:%s\n  Audio:%s\n  Output: %s\n",
                    item.displayName().c_str(), item.durationText.c_str(), item.bitrateText.c_str(),
                    item.videoDescription.c_str(), item.audioDescription.c_str(),
                    item.outputFileName().c_str());
        items.push_back(item);
    }
    if (!convert)
        return failures ? 1 : 0;

    settings.equalizeSize();
    const std::string options = buildOptionText(settings);
    CEncodeJob job;
    const InterruptGuard guard(job);
    for (auto& item : items) {
        if (g_interrupted)
            break;
        ensureFolder(settings.outputPath); // again for every file: it may have been removed
        item.assignOutputName(settings.outputPath, TargetExtensions[settings.targetFormat], "cvt");
        std::printf("Converting %s -> %s\n", item.displayName().c_str(),
                    item.outputFilePath().c_str());
        std::fflush(stdout);
        const int result = job.run(item.path, item.outputFilePath(), item.title, options,
                                   item.startSeconds, item.endSeconds);
        if (result < 0) {
            std::printf("  failed: %s\n", job.failureReason().c_str());
            ++failures;
        } else if (job.outcome() == CEncodeJob::Outcome::Stopped) {
            if (job.writtenPath().empty()) {
                std::printf("  %s\n", LoadResString(kStrStoppedEmpty).c_str());
            } else {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%.1f", job.secondsWritten());
                std::printf("  %s\n",
                            LoadResString(kStrStopped, job.writtenPath().c_str(), seconds).c_str());
            }
        } else {
            std::printf("  written: %s\n", job.writtenPath().empty() ? item.outputFilePath().c_str()
                                                                     : job.writtenPath().c_str());
        }
        std::fflush(stdout);
    }
    if (g_interrupted)
        return kExitInterrupted;
    return failures ? 1 : 0;
}

} // namespace

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "Plexavo: converts audio and video files for iPod, iPhone and iPad.\n\n"
                 "usage: plexavo [FILE|FOLDER]...\n"
                 "         opens the window; the files (and the media files directly inside\n"
                 "         each folder) are added to the source list\n"
                 "       plexavo --probe FILE...\n"
                 "         probes each file and prints its duration, bit rate and streams\n"
                 "       plexavo --convert [--h264] [--size N] [--out FOLDER] FILE...\n"
                 "         probes and converts the files into FOLDER (default %s)\n\n"
                 "  --h264        H.264 instead of MPEG-4\n"
                 "  --size N      frame size row N of the size list (0 keeps the source size):\n",
                 defaultOutputPath().c_str());
    const auto sizes = sizeListTexts();
    for (std::size_t i = 0; i < sizes.size(); ++i)
        std::fprintf(out, "                  %2zu  %s\n", i, sizes[i].c_str());
    std::fprintf(out, "  --            ends the options: every later argument is a file\n"
                      "  --help        shows this text\n");
}

std::optional<int> runIfRequested(int argc, char** argv) {
    bool frontEnd = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (isFrontEndOption(argv[i]))
            frontEnd = true;
    }
    if (!frontEnd)
        return std::nullopt;
    std::vector<std::string> args(argv + 1, argv + argc);
    return runFrontEnd(args);
}

WindowArguments parseWindowArguments(const std::vector<std::string>& args) {
    WindowArguments result;
    bool optionsEnded = false;
    for (const auto& arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::error_code ec;
        // A file that exists is a file, whatever it starts with.
        if (!optionsEnded && !arg.empty() && arg[0] == '-' && !std::filesystem::exists(arg, ec)) {
            result.error = arg;
            return result;
        }
        if (!arg.empty())
            result.files.push_back(absoluteSourcePath(arg));
    }
    return result;
}

} // namespace plexavo::cli
