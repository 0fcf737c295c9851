#include "gui/shell/CommandLine.h"

#include "engine/convert/EncodingOptions.h"
#include "engine/convert/ParallelRunner.h"
#include "engine/i18n/ResourceText.h"
#include "engine/media/ProbeInOrder.h"
#include "engine/media/ProbeJson.h"
#include "engine/media/SourceItem.h"
#include "engine/media/SourcePaths.h"
#include "engine/settings/ConversionSettings.h"

#include "PlexavoVersion.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <sys/stat.h>

namespace plexavo::gui {

using convert::buildOptionText;
using convert::ConversionEvent;
using convert::ConversionTask;
using convert::oneLine;
using convert::ParallelRunner;
using convert::planConversions;
using convert::RunSummary;
using convert::summaryLine;
using i18n::loadResString;
using media::absoluteSourcePath;
using media::ProbedFile;
using media::probeFailureReason;
using media::probeInOrder;
using media::probeJsonDocument;
using media::ProbeLimits;
using media::ProbeResult;
using media::probeWorkers;
using media::SourceItem;
using media::subtitleSummary;
using platform::defaultOutputPath;
using settings::ConversionSettings;
using settings::kTargetH264;
using settings::sizeListTexts;
using settings::TargetExtensions;
using settings::VideoSizes;

namespace {

// Exit statuses, as --help and docs/scripting.md state them.
constexpr int kExitAllDone = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitBadArguments = 2;
// The shell's status for a run ended by Ctrl+C (128 + SIGINT).
constexpr int kExitInterrupted = 130;
// More conversions at once than this is a typing error, not a machine.
constexpr long kMaxJobs = 1024;

constexpr unsigned kStrFailedHead = 61205;

// What a Ctrl+C (or SIGTERM, SIGHUP) asks of the front end: the probe in
// hand gives up, and the conversions of a runner in reach stop. A signal
// handler may only touch lock-free atomics.
std::atomic<bool> g_interrupted{false};
std::atomic<int> g_ctrlC{0};
std::atomic<ParallelRunner*> g_runner{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<ParallelRunner*>::is_always_lock_free);

// A stop may come many times from many senders (a logout sends a hang-up and
// a SIGTERM, a dying terminal a hang-up): all are one stop. Only the user's
// own second Ctrl+C is the abort.
extern "C" void onInterrupt(int sig) {
    g_interrupted.store(true);
    const bool abort = sig == SIGINT && g_ctrlC.fetch_add(1) > 0;
    if (ParallelRunner* runner = g_runner.load()) {
        if (abort)
            runner->requestAbort();
        else
            runner->requestStop();
    }
}

// Held for the whole front end, its probes included: whichever phase a
// signal meets, the run ends with the status the usage text promises. The
// conversions stop as the window's Cancel All stops them: their files are
// finished, playable, and kept. A second Ctrl+C aborts them.
class InterruptGuard {
  public:
    InterruptGuard() {
        g_interrupted = false;
        g_ctrlC = 0;
        struct sigaction sa {};
        sa.sa_handler = onInterrupt;
        sigemptyset(&sa.sa_mask);
        for (int i = 0; i < 3; ++i)
            sigaction(kSignals[i], &sa, &m_old[i]);
    }
    ~InterruptGuard() {
        for (int i = 0; i < 3; ++i)
            sigaction(kSignals[i], &m_old[i], nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

  private:
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction m_old[3]{};
};

// The runner that a signal stops while this is in scope.
class RunnerInReach {
  public:
    explicit RunnerInReach(ParallelRunner& runner) { g_runner = &runner; }
    ~RunnerInReach() { g_runner = nullptr; }
    RunnerInReach(const RunnerInReach&) = delete;
    RunnerInReach& operator=(const RunnerInReach&) = delete;
};

ProbeLimits interruptibleProbe() {
    ProbeLimits limits;
    limits.stop = &g_interrupted;
    return limits;
}

bool isMode(std::string_view arg) {
    return arg == "--probe" || arg == "--convert";
}

// Something by that name is there (a dangling link too): such an argument
// is a file, whatever it starts with.
bool namesSomething(const std::string& arg) {
    struct stat st {};
    return lstat(arg.c_str(), &st) == 0;
}

void printVersion() {
    std::printf("plexavo %s\n", kProgramVersion);
}

// The synopsis alone, for a command line that makes no sense.
void printSynopsis(std::FILE* out) {
    std::fprintf(
        out, "usage: plexavo [FILE|FOLDER]...\n"
             "       plexavo --probe [--json] FILE...\n"
             "       plexavo --convert [--h264] [--size N] [--out FOLDER] [--jobs N] [--resume]\n"
             "                         FILE...\n"
             "       plexavo --help | --version\n");
}

int badArguments(const std::string& text) {
    std::fprintf(stderr, "plexavo: %s\n", oneLine(text).c_str());
    printSynopsis(stderr);
    std::fprintf(stderr, "(plexavo --help explains the options)\n");
    return kExitBadArguments;
}

int unknownArgument(const std::string& arg) {
    if (isMode(arg))
        return badArguments(arg + " must be the first argument");
    return badArguments("unknown option " + arg);
}

// The whole text as a number from 0 to max: digits only, so that "", " 5",
// "+5" and "5x" are no number.
std::optional<long> numberUpTo(const std::string& text, long max) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long value = std::stol(text);
    return value <= max ? std::optional<long>(value) : std::nullopt;
}

// Qt's own options, which QApplication reads with one dash or two; those
// with a value take the next argument.
struct QtOption {
    std::string_view name;
    bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},
    {"qwindowtitle", true},    {"session", true},
    {"display", true},         {"geometry", true},
    {"style", true},           {"stylesheet", true},
    {"reverse", false},        {"widgetcount", false},
};
// And those that carry their value after '='.
constexpr std::string_view kQtInlineOptions[] = {
    "style=", "stylesheet=", "qmljsdebugger=", "dialogs=", "fontengine="};

// How many values follow a Qt option (0 or 1); nothing for any other argument.
std::optional<std::size_t> qtOptionValues(std::string_view arg) {
    if (arg.starts_with("--"))
        arg.remove_prefix(2);
    else if (arg.starts_with("-"))
        arg.remove_prefix(1);
    else
        return std::nullopt;
    for (const auto& option : kQtOptions)
        if (arg == option.name)
            return option.takesValue ? 1u : 0u;
    for (const auto prefix : kQtInlineOptions)
        if (arg.starts_with(prefix))
            return 0u;
    return std::nullopt;
}

struct Request {
    bool convert = false;
    bool json = false;
    bool jobsGiven = false;
    bool resume = false;
    unsigned jobs = 1;
    ConversionSettings settings;
    std::vector<std::string> files;
};

// Reads the arguments after the mode (args[0]) into request; an exit status
// when the run ends here (--help, --version, or arguments that make no sense).
std::optional<int> readArguments(const std::vector<std::string>& args, Request& request) {
    ConversionSettings& settings = request.settings;
    request.convert = args.front() == "--convert";
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (optionsEnded || arg.empty() || arg[0] != '-' || namesSomething(arg)) {
            // "plexavo --probe *" in a folder that holds a file called
            // --convert probes that file with the others.
            request.files.push_back(arg);
        } else if (arg == "--json") {
            request.json = true;
        } else if (arg == "--resume") {
            request.resume = true;
        } else if (arg == "--h264") {
            settings.targetFormat = kTargetH264;
        } else if (arg == "--jobs") {
            const auto jobs = numberUpTo(hasValue ? args[++i] : std::string(), kMaxJobs);
            if (!jobs)
                return badArguments("--jobs takes a number from 0 (one per processor) to " +
                                    std::to_string(kMaxJobs));
            request.jobs = static_cast<unsigned>(*jobs);
            request.jobsGiven = true;
        } else if (arg == "--size") {
            const auto row = numberUpTo(hasValue ? args[++i] : std::string(),
                                        static_cast<long>(VideoSizes.size()));
            if (!row)
                return badArguments("--size takes a row number from 0 to " +
                                    std::to_string(VideoSizes.size()));
            settings.sizeChoice = static_cast<int>(*row);
            settings.applySizeChoice();
        } else if (arg == "--out") {
            // An empty value would be the root folder once made absolute.
            const std::string folder = hasValue ? args[++i] : std::string();
            if (folder.empty())
                return badArguments("--out takes a folder");
            struct stat st {};
            if (::stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
                return badArguments("--out takes a folder, and " + folder + " is not one");
            settings.outputPath = absoluteSourcePath(folder);
            if (settings.outputPath.back() != '/')
                settings.outputPath += '/';
        } else if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return kExitAllDone;
        } else if (arg == "--version") {
            printVersion();
            return kExitAllDone;
        } else {
            return unknownArgument(arg);
        }
    }
    if (request.json && request.convert)
        return badArguments("--json goes with --probe, not with --convert");
    if (request.jobsGiven && !request.convert)
        return badArguments("--jobs goes with --convert");
    if (request.resume && !request.convert)
        return badArguments("--resume goes with --convert");
    if (request.files.empty())
        return badArguments(std::string(request.convert ? "--convert" : "--probe") +
                            " needs at least one file");
    return std::nullopt;
}

// Probes the files, up to one per processor at once, and hands each over in
// the order given, as soon as those before it are done. A signal stops it:
// nothing more is started or handed over.
void probeFiles(const std::vector<std::string>& files,
                const std::function<void(const std::string&, SourceItem&, bool)>& take) {
    probeInOrder(
        files.size(), probeWorkers(), &g_interrupted,
        [&](std::size_t i) {
            ProbeResult result;
            result.item = std::make_unique<SourceItem>();
            result.verdict =
                result.item->probe(absoluteSourcePath(files[i]), interruptibleProbe()) == 0;
            return result;
        },
        [&](std::size_t i, ProbeResult& result) {
            take(files[i], *result.item, result.verdict != 0);
        });
}

// One JSON document for all files on standard output; nothing when a signal
// ended the run, rather than a document that leaves files out.
int probeAsJson(const Request& request) {
    std::vector<ProbedFile> probed;
    probed.reserve(request.files.size());
    bool anyFailed = false;
    probeFiles(request.files, [&](const std::string& file, SourceItem& item, bool convertible) {
        anyFailed = anyFailed || !convertible;
        probed.push_back({file, convertible, item.report, item.durationSeconds});
    });
    if (g_interrupted)
        return kExitInterrupted;
    const std::string document = probeJsonDocument(probed);
    std::fwrite(document.data(), 1, document.size(), stdout);
    std::fflush(stdout);
    return anyFailed ? kExitSomeFailed : kExitAllDone;
}

// Probes the files to convert: the convertible ones go to items, in the
// order given; the others are printed with the reason the JSON document
// gives. Returns how many were turned away.
std::size_t probeForConversion(const Request& request, std::vector<SourceItem>& items) {
    std::size_t failures = 0;
    probeFiles(request.files, [&](const std::string& file, SourceItem& item, bool convertible) {
        if (!convertible) {
            // The head once, then each file with its reason on the line under it.
            if (failures++ == 0)
                std::printf("%s\n", loadResString(kStrFailedHead).c_str());
            std::printf("  %s\n    %s\n", oneLine(file).c_str(),
                        oneLine(probeFailureReason(item.report)).c_str());
            std::fflush(stdout);
            return;
        }
        items.push_back(std::move(item));
    });
    return failures;
}

// Each file with what the probe found and the output name it will get.
void printListing(const std::vector<SourceItem>& items, const std::vector<ConversionTask>& plan) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        const SourceItem& item = items[i];
        const std::string& output = plan[i].output;
        std::printf("%s\n  Duration: %s\n  Bit rate: %s\n  Video:%s\n  Audio:%s\n",
                    oneLine(item.displayName()).c_str(), item.durationText.c_str(),
                    item.bitrateText.c_str(), oneLine(item.videoDescription).c_str(),
                    oneLine(item.audioDescription).c_str());
        // Lines of their own, only for files that have them.
        for (const auto& subtitle : item.report.subtitles)
            std::printf("  Subtitle: %s\n", oneLine(subtitleSummary(subtitle)).c_str());
        if (item.report.chapters > 0)
            std::printf("  Chapters: %d\n", item.report.chapters);
        std::printf("  Output: %s\n", oneLine(output.substr(output.rfind('/') + 1)).c_str());
    }
    std::fflush(stdout);
}

// Runs the plan; failures are the files the probe turned away.
int convertPlan(std::vector<ConversionTask> plan, const Request& request, std::string options,
                std::size_t failures) {
    ParallelRunner runner(std::move(plan), std::move(options), request.jobs);
    runner.onEvent = [](const ConversionEvent& event) {
        // Called under the runner's one lock: each line leaves whole.
        const std::string line = progressLine(event) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    };
    RunSummary summary;
    {
        const RunnerInReach inReach(runner);
        // A signal from here on stops the runner; one before, nothing starts.
        if (g_interrupted) {
            summary.notStarted = request.files.size() - failures;
            summary.interrupted = true;
        } else {
            summary = runner.run();
        }
    }
    summary.failed += failures;
    std::printf("%s\n", summaryLine(summary).c_str());
    std::fflush(stdout);
    if (summary.interrupted)
        return kExitInterrupted;
    return summary.failed ? kExitSomeFailed : kExitAllDone;
}

int runFrontEnd(const std::vector<std::string>& args) {
    Request request;
    if (const auto done = readArguments(args, request))
        return *done;
    const InterruptGuard guard;
    if (request.json)
        return probeAsJson(request);

    ConversionSettings& settings = request.settings;
    const std::string extension = TargetExtensions[settings.targetFormat];
    std::vector<SourceItem> items;
    const std::size_t failures = probeForConversion(request, items);
    if (g_interrupted) {
        // Nothing was converted: the files not yet probed are not started.
        if (request.convert) {
            RunSummary summary;
            summary.failed = failures;
            summary.notStarted = request.files.size() - failures;
            std::printf("%s\n", summaryLine(summary).c_str());
            std::fflush(stdout);
        }
        return kExitInterrupted;
    }
    // Every name is planned before anything is written: the listing shows
    // the names the conversions will use, one after the other or at once.
    auto plan = planConversions(items, settings.outputPath, extension);
    settings.equalizeSize();
    std::string options = buildOptionText(settings);
    if (request.resume)
        planResume(plan, extension, options);
    printListing(items, plan);
    if (!request.convert)
        return failures ? kExitSomeFailed : kExitAllDone;
    return convertPlan(std::move(plan), request, std::move(options), failures);
}

} // namespace

void printUsage(std::FILE* out) {
    std::fprintf(
        out,
        "Plexavo: converts audio and video files for iPod, iPhone and iPad.\n\n"
        "usage: plexavo [FILE|FOLDER]...\n"
        "         opens the window; the files (and the media files directly inside\n"
        "         each folder) are added to the source list\n"
        "       plexavo --probe [--json] FILE...\n"
        "         probes each file and prints its duration, bit rate and streams\n"
        "       plexavo --convert [--h264] [--size N] [--out FOLDER] [--jobs N] [--resume]\n"
        "                         FILE...\n"
        "         probes and converts the files into FOLDER (default %s)\n"
        "       plexavo --help | --version\n\n"
        "--probe and --convert come first. After them, an argument that names an\n"
        "existing file is that file, whatever it starts with. A named pipe, a device\n"
        "or a folder is not a file to probe or convert, and is refused.\n\n"
        "  --json        with --probe: one JSON document for all files (the fields\n"
        "                are listed in the scripting guide,\n"
        "                /usr/share/doc/plexavo/scripting.md)\n"
        "  --jobs N      with --convert: up to N conversions at once (default 1;\n"
        "                0 means one per processor); the outputs and their names\n"
        "                are the same as one after the other\n"
        "  --resume      with --convert, run again with the same files, settings and\n"
        "                FOLDER after a run was stopped or killed: each output that\n"
        "                run stopped goes on from where it stopped, the finished\n"
        "                ones are skipped, and the rest are converted\n"
        "  --h264        H.264 instead of MPEG-4\n"
        "  --size N      frame size row N of the size list (0 keeps the source size):\n",
        defaultOutputPath().c_str());
    const auto sizes = sizeListTexts();
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        // The list's rows end in " - " where no device is named; here that
        // would read as a missing word.
        std::string row = sizes[i];
        if (row.ends_with(" - "))
            row.resize(row.size() - 3);
        std::fprintf(out, "                  %2zu  %s\n", i, row.c_str());
    }
    std::fprintf(out, "  --out FOLDER  with --convert: where the outputs go (made when missing)\n"
                      "  --            ends the options: every later argument is a file\n"
                      "  -h, --help    shows this text\n"
                      "  --version     prints the program's version\n\n"
                      "Exit status: 0 every file probed or converted; 1 some file could not be\n"
                      "probed or converted; 2 bad arguments; 130 stopped by Ctrl+C (or SIGTERM,\n"
                      "SIGHUP): the running conversions were stopped, their files kept and\n"
                      "playable, and no further one was started.\n");
}

std::optional<int> runIfRequested(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The first argument says what the run is; later ones cannot change it.
    if (!args.empty() && isMode(args.front()))
        return runFrontEnd(args);
    if (!args.empty() && (args.front() == "--help" || args.front() == "-h")) {
        printUsage(stdout);
        return kExitAllDone;
    }
    if (!args.empty() && args.front() == "--version") {
        printVersion();
        return kExitAllDone;
    }
    const WindowArguments window = parseWindowArguments(args);
    if (!window.error.empty())
        return unknownArgument(window.error);
    if (window.help) {
        printUsage(stdout);
        return kExitAllDone;
    }
    if (window.version) {
        printVersion();
        return kExitAllDone;
    }
    return std::nullopt;
}

WindowArguments parseWindowArguments(const std::vector<std::string>& args) {
    WindowArguments result;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (optionsEnded || arg.empty() || arg[0] != '-' || namesSomething(arg)) {
            // A file that exists is a file, whatever it starts with.
            if (!arg.empty())
                result.files.push_back(absoluteSourcePath(arg));
        } else if (arg == "--help" || arg == "-h") {
            result.help = true;
        } else if (arg == "--version") {
            result.version = true;
        } else if (const auto values = qtOptionValues(arg); values && i + *values < args.size()) {
            for (std::size_t k = 0; k <= *values; ++k)
                result.qtOptions.push_back(args[i + k]);
            i += *values;
        } else {
            result.error = arg;
            return result;
        }
    }
    return result;
}

} // namespace plexavo::gui
