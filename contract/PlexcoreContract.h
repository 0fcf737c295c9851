// What the program and its encoder core agree on. Both sides (and the tests)
// include this file and nothing else from each other, so a change here is a
// change on both sides at once. Dependency-free on purpose: the core must not
// pull in the engine, nor the engine FFmpeg.
#pragma once

#include <cstddef>

namespace plexavo::contract {

// The core's executable name, looked up in the program's own folder.
inline constexpr char kProgramName[] = "Plexcore";

// Always the core's first argument, passed verbatim; the core skips it.
inline constexpr char kAccessCode[] = " wpx93knTR&! ";

// Every failure the core reports is one line starting with this.
inline constexpr char kErrorPrefix[] = "Error: ";

// The capability query: "-can-write wmv" / "-can-write ogm"; exit 0 = yes.
inline constexpr char kCanWriteOption[] = "-can-write";

// Instead of "-y": the finished file takes the output name only if it is free at that
// moment, else the next numbered one ("clip-cvt[1].mp4", ...); an existing file is never
// replaced, and an existing output at the start is no error.
inline constexpr char kClaimOption[] = "-claim";

// After a finished or stopped conversion: one line with the path actually written, which
// differs from the one asked for when "-claim" had to number or shorten it.
inline constexpr char kOutputPrefix[] = "Output: ";

// Something the core decided for the devices that the user did not ask for (a smaller
// frame, say); for the debug log, not an error.
inline constexpr char kNotePrefix[] = "Note: ";

// The program puts its own pid here; a core whose parent is another process by the time
// it starts (the program already died) stops at once, as on SIGTERM.
inline constexpr char kParentPidEnv[] = "PLEXCORE_PARENT_PID";

// Exit codes.
inline constexpr int kExitDone = 0;     // conversion finished; capability present
inline constexpr int kExitFailed = 1;   // failed (output removed); probe done; capability absent
inline constexpr int kExitUsage = 2;    // bad arguments
inline constexpr int kExitAborted = 3;  // second stop signal: unfinished output removed
inline constexpr int kExitStopped = 255; // stopped on request: output finished and playable

// The probe's report is read with one read into a buffer of kProbeReadSize
// bytes that the program NUL-terminates, so the core must write the whole
// report in one write of at most kProbeReportMax bytes.
inline constexpr std::size_t kProbeReadSize = 2048;
inline constexpr std::size_t kProbeReportMax = kProbeReadSize - 1;
static_assert(kProbeReportMax + 1 == kProbeReadSize);

// A running conversion prints a progress line at least this often.
inline constexpr int kProgressIntervalMs = 500;

} // namespace plexavo::contract
