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

// Write into a partial file and give it the output name only when finished;
// if that name is taken then, the next free numbered name; never replace a file.
inline constexpr char kClaimOption[] = "-claim";

// The line naming the file a conversion actually wrote.
inline constexpr char kOutputPrefix[] = "Output: ";

// A line saying what the core chose on its own (copied into the program's log).
inline constexpr char kNotePrefix[] = "Note: ";

// The program's pid: the core stops when its parent is not (or no longer) this one.
inline constexpr char kParentPidEnv[] = "PLEXCORE_PARENT_PID";

// Exit codes.
inline constexpr int kExitDone = 0;      // conversion finished; capability present
inline constexpr int kExitFailed = 1;    // failed (output removed); probe done; capability absent
inline constexpr int kExitUsage = 2;     // bad arguments
inline constexpr int kExitAborted = 3;   // second stop signal: unfinished output removed
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
