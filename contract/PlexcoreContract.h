// What the program and its encoder core agree on. Both sides (and the tests)
// include this file and nothing else from each other, so a change here is a
// change on both sides at once. Dependency-free on purpose: the core must not
// pull in the engine, nor the engine FFmpeg.
#pragma once

#include <csignal>
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

// Continuing a stopped output (see docs/core.md, "Continue a stopped output").
// "-i SRC [settings] -can-resume FILE": one line, kResumableFormat (seconds kept, seconds of
// the whole) and exit 0 when FILE can be continued with these settings, else
// kNotResumablePrefix and a short reason, exit 1. Nothing is touched.
inline constexpr char kCanResumeOption[] = "-can-resume";
inline constexpr char kResumableFormat[] = "Resumable: %.1f of %.1f";
inline constexpr char kResumablePrefix[] = "Resumable: ";
inline constexpr char kNotResumablePrefix[] = "Not resumable: ";
// "-i SRC [settings] -resume FILE": continues FILE (refused as -can-resume would, with an
// "Error: " line and exit 1). Before anything is written it prints kContinueFormat with the
// instant it continues from, in seconds of the whole output; then it runs as a conversion
// into FILE: progress from that instant on, the "Output: " line, the same exit statuses.
inline constexpr char kResumeOption[] = "-resume";
inline constexpr char kContinueFormat[] = "Continue: from %.2f s";
inline constexpr char kContinuePrefix[] = "Continue: from ";
// Where the core notes the outputs it kept on a stop, one file per output, named after the
// output's device and inode ("%llx-%llx"), under $XDG_STATE_HOME (~/.local/state).
inline constexpr char kStoppedNotesFolder[] = "plexavo/stopped";

// The program puts its own pid here; a core whose parent is another process by the time
// it starts (the program already died) stops at once, as on SIGTERM.
inline constexpr char kParentPidEnv[] = "PLEXCORE_PARENT_PID";

// The two requests a running conversion takes. A stop (SIGTERM, SIGINT or SIGHUP; the
// death of the program counts as one) finishes the file and keeps it, however many times
// and by whomever it is delivered: a dying program, a logout and a terminal's hang-up may
// all deliver it at once. Only the abort signal drops the unfinished file; the program
// sends it on an explicit request alone (a second Ctrl+C at the terminal, its own kill of a
// core past its time limits), then SIGKILL if the core does not go.
inline constexpr int kStopSignal = SIGTERM;
inline constexpr int kAbortSignal = SIGUSR1;

// Exit codes.
inline constexpr int kExitDone = 0;    // conversion finished; capability present
inline constexpr int kExitFailed = 1;  // failed (output removed); probe done; capability absent
inline constexpr int kExitUsage = 2;   // bad arguments
inline constexpr int kExitAborted = 3; // abort signal: unfinished output removed
// The source ended well before the length it promised (truncated or damaged): the output is
// finished and kept under the name on the "Output: " line, and the "Error: " line that
// follows says how much it holds, in kIncompleteFormat (seconds held, seconds promised).
inline constexpr int kExitIncomplete = 4;
inline constexpr char kIncompleteFormat[] =
    "the output holds %.1f of %.1f seconds: the source is damaged";
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
