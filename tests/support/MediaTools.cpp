#include "MediaTools.h"

#include "Process.h"

#include <locale>
#include <sstream>

namespace testing_support {

double probeDuration(const std::string& path) {
    const RunResult r = run({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                             "default=noprint_wrappers=1:nokey=1", "file:" + path},
                            120, separateStderr());
    if (r.exitCode != 0)
        return -1;
    // ffprobe writes a '.' whatever the test's locale; "N/A" or nothing is no length.
    std::istringstream in(r.out);
    in.imbue(std::locale::classic());
    double seconds = -1;
    return in >> seconds && seconds >= 0 ? seconds : -1;
}

bool decodesCleanly(const std::string& path, std::string* complaints) {
    // Complaints come on standard error, which joins the output here.
    const RunResult r =
        run({"ffmpeg", "-v", "error", "-nostdin", "-i", "file:" + path, "-f", "null", "-"}, 300);
    if (complaints)
        *complaints = r.out;
    return r.exitCode == 0 && r.out.find_first_not_of(" \r\n") == std::string::npos;
}

} // namespace testing_support
