// One file of the source list: where it is, what the probe found in it, the
// part to convert, where its output goes and how far its conversion has come.
#pragma once

#include "engine/media/ProbeReport.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace plexavo::media {

enum SourceStatus : std::int32_t {
    kStatusReady = 0,
    kStatusWaiting = 1,
    kStatusDoing = 2,
    kStatusSkip = 3,
    kStatusDone = 4,
    kStatusError = 5,
};

// String ids of the status texts, indexed by status code.
inline constexpr unsigned kStatusStringIds[] = {61323, 61335, 61316, 61328, 61317, 61313};

// The probe's failure value (a negative result).
inline constexpr int kProbeFailed = -1;

// What every output's name carries between the title and the extension
// ("clip-cvt.mp4"), in the window and on the command line alike.
inline constexpr char kOutputSuffix[] = "cvt";

// When the probe stops waiting for the core's answer. Both limits measure the
// core's own work, not the clock on the wall: the core runs at idle priority,
// and on a busy machine a good file may take long to get any processor time.
struct ProbeLimits {
    // The core has used this much processor time without answering.
    int cpuMs = 30000;
    // The core has been asleep this long without using processor time or
    // reading anything (stuck on a dead mount, say). Time spent runnable but
    // waiting for a processor does not count.
    int stallMs = 30000;
    // When set, the probe gives up (or never starts the core) once it reads
    // true: a stop asked for by a signal must not wait for a slow file.
    const std::atomic<bool>* stop = nullptr;
};

// Which file a path named when it was probed, and as what: its bytes or the
// file itself replaced since then show as a change.
struct FileStamp {
    bool known = false; // false: the file could not be read then
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;

    static FileStamp of(const std::string& path);
    bool operator==(const FileStamp&) const = default;
};

class SourceItem {
  public:
    std::string path;
    std::string extension; // without the dot
    std::string title;     // file name without folder and extension
    std::int32_t bitsPerSample = 0;
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::int32_t durationSeconds = 0;
    std::int32_t formatTag = 0;
    std::int32_t averageBytesPerSecond = 0;
    std::int32_t blockAlign = 0;
    std::string outputFolder; // ends with '/'
    std::string outputName;   // without extension
    std::string outputExtension;
    std::uint32_t startSeconds = 0;
    std::uint32_t endSeconds = 0;
    bool converted = false;
    std::int32_t status = kStatusReady;
    std::string durationText;
    std::string bitrateText;
    std::string videoDescription;
    std::string audioDescription;
    // Everything the last probe printed, field by field.
    ProbeReport report;
    // The file as the last probe found it (taken before the core read it).
    FileStamp probedStamp;
    // The output (outputFilePath) was stopped before its end and kept: the
    // seconds it holds of the whole it would have; 0 when none is known. A
    // later conversion of the row may continue it from there.
    double keptSeconds = 0;
    double keptOfSeconds = 0;
    // A restored list named this file, and it was not there any more.
    bool sourceMissing = false;

    SourceItem() = default;
    virtual ~SourceItem() = default;
    // Ordinary copies and moves keep every field (containers of items copy
    // and move them as they grow).
    SourceItem(const SourceItem&) = default;
    SourceItem(SourceItem&&) noexcept = default;
    SourceItem& operator=(const SourceItem&) = default;
    SourceItem& operator=(SourceItem&&) noexcept = default;

    std::string displayName() const { return title + "." + extension; }
    std::string outputFileName() const { return outputName + "." + outputExtension; }
    std::string outputFilePath() const { return outputFolder + outputName + "." + outputExtension; }

    // Runs the encoder core on the file and fills the probe fields. 0 when a
    // duration of at least one second was read, else kProbeFailed. A path
    // that names something other than a regular file (a named pipe, a device,
    // a socket, a folder) fails at once with the reason in report.error, and
    // no core is started: opening a pipe with no writer would never return.
    int probe(const std::string& path);
    int probe(const std::string& path, const ProbeLimits& limits);

    // True when the file is no longer what the last probe read: its bytes
    // were written since, or another file took its name. False when no
    // probe recorded it.
    bool changedSinceProbe() const;

    // Fills the probe fields from the core's text (as far as it allows) and
    // returns what probe() returns.
    int parseProbeOutput(const std::string& path, const char* text);

    // Names the output file in folder, never over an existing file while one
    // of 1000 numbered names is free. Returns true.
    bool assignOutputName(const std::string& folder, const std::string& extension,
                          const std::string& suffix);
    // The same, with taken saying which paths are not free (the files on the
    // disk, and the names a plan has already given out).
    bool assignOutputName(const std::string& folder, const std::string& extension,
                          const std::string& suffix,
                          const std::function<bool(const std::string&)>& taken);

    // The probe's command line as logged.
    static std::string probeCommandLine(const std::string& path);
};

} // namespace plexavo::media
