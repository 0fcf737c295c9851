#include "gui/shell/CommandLine.h"

#include "engine/convert/EncodingOptions.h"
#include "engine/convert/ParallelRunner.h"
#include "engine/media/ProbeJson.h"
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

// Exit statuses, as --help and docs/scripting.md state them.
constexpr int kExitAllDone = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitBadArguments = 2;
// The shell's status for a run ended by Ctrl+C (128 + SIGINT).
constexpr int kExitInterrupted = 130;
// More conversions at once than this is a typing error, not a machine.
constexpr long kMaxJobs = 1024;

// The conversions a Ctrl+C stops. A signal handler may only touch lock-free atomics.
std::atomic<ParallelRunner*> g_runner{nullptr};
static_assert(std::atomic<ParallelRunner*>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    if (ParallelRunner* runner = g_runner.load())
        runner->requestStop();
}

// Ctrl+C, a hang-up or a kill asks every running conversion to stop as the
// window's Cancel All does: their files are finished, playable, and kept.
// The second one insists: the cores are killed.
class InterruptGuard {
  public:
    explicit InterruptGuard(ParallelRunner& runner) {
        g_runner = &runner;
        struct sigaction sa {};
        sa.sa_handler = onInterrupt;
        sigemptyset(&sa.sa_mask);
        for (int i = 0; i < 3; ++i)
            sigaction(kSignals[i], &sa, &m_old[i]);
    }
    ~InterruptGuard() {
        for (int i = 0; i < 3; ++i)
            sigaction(kSignals[i], &m_old[i], nullptr);
        g_runner = nullptr;
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

struct Request {
    bool convert = false;
    bool json = false;
    bool jobsGiven = false;
    unsigned jobs = 1;
    ConversionSettings settings;
    std::vector<std::string> files;
};

int badArguments(const char* text, const std::string& detail = {}) {
    std::fprintf(stderr, "plexavo: %s%s (see plexavo --help)\n", text, detail.c_str());
    return kExitBadArguments;
}

// Reads the arguments into request; an exit status when the run ends here
// (--help, or arguments that make no sense).
std::optional<int> readArguments(const std::vector<std::string>& args, Request& request) {
    ConversionSettings& settings = request.settings;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            request.files.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--probe") {
            continue;
        } else if (arg == "--convert") {
            request.convert = true;
        } else if (arg == "--json") {
            request.json = true;
        } else if (arg == "--h264") {
            settings.targetFormat = kTargetH264;
        } else if (arg == "--jobs") {
            char* end = nullptr;
            const std::string value = hasValue ? args[++i] : std::string();
            const long jobs = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || !end || *end || jobs < 0 || jobs > kMaxJobs)
                return badArguments("--jobs takes a number from 0 (one per processor) to ",
                                    std::to_string(kMaxJobs));
            request.jobs = static_cast<unsigned>(jobs);
            request.jobsGiven = true;
        } else if (arg == "--size" && hasValue) {
            char* end = nullptr;
            const long row = std::strtol(args[++i].c_str(), &end, 10);
            if (!end || *end || row < 0 || row > static_cast<long>(VideoSizes.size()))
                return badArguments("--size takes a row number from 0 to ",
                                    std::to_string(VideoSizes.size()));
            settings.sizeChoice = static_cast<int>(row);
            settings.applySizeChoice();
        } else if (arg == "--out" && hasValue) {
            settings.outputPath = absoluteSourcePath(args[++i]);
            if (settings.outputPath.back() != '/')
                settings.outputPath += '/';
        } else if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return kExitAllDone;
        } else if (std::error_code ec; std::filesystem::exists(arg, ec)) {
            request.files.push_back(arg); // a file whose name starts with '-'
        } else {
            return badArguments("unknown option ", arg);
        }
    }
    if (request.json && request.convert)
        return badArguments("--json goes with --probe, not with --convert");
    if (request.jobsGiven && !request.convert)
        return badArguments("--jobs goes with --convert");
    if (request.files.empty()) {
        printUsage(stderr);
        return kExitBadArguments;
    }
    return std::nullopt;
}

// One JSON document for all files on standard output.
int probeAsJson(const Request& request) {
    std::vector<ProbedFile> probed;
    probed.reserve(request.files.size());
    bool anyFailed = false;
    for (const auto& file : request.files) {
        CSourceItem item;
        const bool convertible = item.probe(absoluteSourcePath(file)) == 0;
        anyFailed = anyFailed || !convertible;
        probed.push_back({file, convertible, item.report, item.durationSeconds});
    }
    const std::string document = probeJsonDocument(probed);
    std::fwrite(document.data(), 1, document.size(), stdout);
    std::fflush(stdout);
    return anyFailed ? kExitSomeFailed : kExitAllDone;
}

int runFrontEnd(const std::vector<std::string>& args) {
    Request request;
    if (const auto done = readArguments(args, request))
        return *done;
    if (request.json)
        return probeAsJson(request);

    ConversionSettings& settings = request.settings;
    const std::string extension = TargetExtensions[settings.targetFormat];
    int failures = 0;
    std::vector<CSourceItem> items;
    for (const auto& file : request.files) {
        CSourceItem item;
        if (item.probe(absoluteSourcePath(file)) < 0) {
            // The same reason the JSON document gives, on the line under the name.
            std::printf("%s\n  %s\n    %s\n", LoadResString(61205).c_str(), file.c_str(),
                        probeFailureReason(item.report).c_str());
            ++failures;
            continue;
        }
        items.push_back(item);
    }
    // Every name is planned before anything is written: the listing shows
    // the names the conversions will use, one after the other or at once.
    const auto plan = planConversions(items, settings.outputPath, extension);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const CSourceItem& item = items[i];
        const std::string& output = plan[i].output;
        std::printf("%s\n  Duration: %s\n  Bit rate: %s\n  Video:%s\n  Audio:%s\n  Output: %s\n",
                    item.displayName().c_str(), item.durationText.c_str(), item.bitrateText.c_str(),
                    item.videoDescription.c_str(), item.audioDescription.c_str(),
                    output.substr(output.rfind('/') + 1).c_str());
    }
    std::fflush(stdout);
    if (!request.convert)
        return failures ? kExitSomeFailed : kExitAllDone;

    settings.equalizeSize();
    ParallelRunner runner(plan, buildOptionText(settings), request.jobs);
    runner.onEvent = [](const ConversionEvent& event) {
        // Called under the runner's one lock: each line leaves whole.
        const std::string line = progressLine(event) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    };
    RunSummary summary;
    {
        const InterruptGuard guard(runner);
        summary = runner.run();
    }
    summary.failed += static_cast<std::size_t>(failures); // the files the probe turned away
    std::printf("%s\n", summaryLine(summary).c_str());
    std::fflush(stdout);
    if (summary.interrupted)
        return kExitInterrupted;
    return failures || summary.failed ? kExitSomeFailed : kExitAllDone;
}

} // namespace

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "Plexavo: converts audio and video files for iPod, iPhone and iPad.\n\n"
                 "usage: plexavo [FILE|FOLDER]...\n"
                 "         opens the window; the files (and the media files directly inside\n"
                 "         each folder) are added to the source list\n"
                 "       plexavo --probe [--json] FILE...\n"
                 "         probes each file and prints its duration, bit rate and streams\n"
                 "       plexavo --convert [--h264] [--size N] [--out FOLDER] [--jobs N] FILE...\n"
                 "         probes and converts the files into FOLDER (default %s)\n\n"
                 "  --json        with --probe: one JSON document for all files (the fields\n"
                 "                are listed in the scripting guide,\n"
                 "                /usr/share/doc/plexavo/scripting.md)\n"
                 "  --jobs N      with --convert: up to N conversions at once (default 1;\n"
                 "                0 means one per processor); the outputs and their names\n"
                 "                are the same as one after the other\n"
                 "  --h264        H.264 instead of MPEG-4\n"
                 "  --size N      frame size row N of the size list (0 keeps the source size):\n",
                 defaultOutputPath().c_str());
    const auto sizes = sizeListTexts();
    for (std::size_t i = 0; i < sizes.size(); ++i)
        std::fprintf(out, "                  %2zu  %s\n", i, sizes[i].c_str());
    std::fprintf(out, "  --            ends the options: every later argument is a file\n"
                      "  --help        shows this text\n\n"
                      "Exit status: 0 every file probed or converted; 1 some file could not be\n"
                      "probed or converted; 2 bad arguments; 130 stopped by Ctrl+C (or SIGTERM,\n"
                      "SIGHUP): the running conversions were stopped, their files kept and\n"
                      "playable, and no further one was started.\n");
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
