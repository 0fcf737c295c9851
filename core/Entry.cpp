#include "Entry.h"
#include "PlexcoreContract.h"

#include "Console.h"
#include "FFmpeg.h"
#include "Options.h"
#include "Probe.h"
#include "Resume.h"
#include "Transcoder.h"

#include <new>
#include <string>
#include <vector>

namespace plexavo::core {
namespace {

namespace contract = plexavo::contract;

int report(const std::string& reason, int status) noexcept {
    try {
        printLine(contract::kErrorPrefix + oneLine(reason));
    } catch (...) {
        // Out of memory for the line itself: the status still tells.
    }
    return status;
}

int dispatch(int argc, char** argv, Task& task) {
    const Options opt = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (opt.askedForCapability) {
        const bool yes = canWrite(opt.capability);
        printLine(opt.capability + (yes ? ": can be written" : ": cannot be written") +
                  " with this build");
        return yes ? contract::kExitDone : contract::kExitFailed;
    }
    if (opt.canResume)
        return runResumeQuestion(opt);
    if (!opt.output)
        return runProbe(*opt.input);
    task = Task::Conversion;
    return runConversion(opt);
}

} // namespace

int runGuarded(const std::function<int(Task& task)>& body) noexcept {
    Task task = Task::Other;
    try {
        return body(task);
    } catch (const UsageError& e) {
        return report(e.what(), contract::kExitUsage);
    } catch (const Failure& f) {
        // A conversion that fails while stopping (say, while opening a stalled input) ends as
        // the stop the program asked for; whatever it had written is removed.
        if (task == Task::Conversion && stopRequested())
            return report(std::string("stopped: ") + f.what(), contract::kExitStopped);
        return report(f.what(), contract::kExitFailed);
    } catch (const std::bad_alloc&) {
        return report("out of memory", contract::kExitFailed);
    } catch (const std::exception& e) {
        return report(std::string("internal error: ") + e.what(), contract::kExitFailed);
    } catch (...) {
        return report("internal error", contract::kExitFailed);
    }
}

int runCore(int argc, char** argv) noexcept {
    quietLibraryLogs();
    installStopHandlers();
    stopWithParent();
    return runGuarded([&](Task& task) { return dispatch(argc, argv, task); });
}

} // namespace plexavo::core
