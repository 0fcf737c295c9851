// Plexcore: probes and converts media files for the Plexavo program.
#include "Console.h"
#include "FFmpeg.h"
#include "Options.h"
#include "Probe.h"
#include "Transcoder.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace plex;
    quietLibraryLogs();
    installStopHandlers();

    Options opt;
    try {
        opt = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        printLine("Error: " + e.message);
        return 2;
    }

    if (opt.askedForCapability) {
        const bool yes = canWrite(opt.capability);
        printLine(opt.capability + (yes ? ": can be written" : ": cannot be written") +
                  " with this build");
        return yes ? 0 : 1;
    }

    if (!opt.output) {
        try {
            return runProbe(*opt.input);
        } catch (const Failure& f) {
            printLine(std::string("Error: ") + f.what());
            return 1;
        } catch (const std::bad_alloc&) {
            printLine("Error: out of memory");
            return 1;
        }
    }
    return runConversion(opt);
}
