// Plexcore: probes and converts media files for the Plexavo program.
#include "Console.h"
#include "PlexcoreContract.h"
#include "FFmpeg.h"
#include "Options.h"
#include "Probe.h"
#include "Transcoder.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace plex;
    namespace contract = plexavo::contract;
    quietLibraryLogs();
    installStopHandlers();

    Options opt;
    try {
        opt = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        printLine(contract::kErrorPrefix + e.message);
        return contract::kExitUsage;
    }

    if (opt.askedForCapability) {
        const bool yes = canWrite(opt.capability);
        printLine(opt.capability + (yes ? ": can be written" : ": cannot be written") +
                  " with this build");
        return yes ? contract::kExitDone : contract::kExitFailed;
    }

    if (!opt.output) {
        try {
            return runProbe(*opt.input);
        } catch (const Failure& f) {
            printLine(contract::kErrorPrefix + std::string(f.what()));
            return contract::kExitFailed;
        } catch (const std::bad_alloc&) {
            printLine(contract::kErrorPrefix + std::string("out of memory"));
            return contract::kExitFailed;
        }
    }
    return runConversion(opt);
}
