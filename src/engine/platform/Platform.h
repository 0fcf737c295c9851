// The small OS layer the engine stands on.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace plexavo::platform {

// Milliseconds of the monotonic clock.
std::uint64_t monotonicMs();

// Folder of the running executable, with a trailing '/'; "./" when the
// system will not say (no /proc).
std::string programFolder();
// The same, but "" when the system will not say: for what must never be taken
// from the current folder, such as the language packs the program loads.
std::string knownProgramFolder();
// The folder of the program that the link `exeLink` points to, with a
// trailing '/', or "" when it cannot be read. knownProgramFolder() reads
// "/proc/self/exe".
std::string folderOfLink(const char* exeLink);

// path made absolute against the current folder, as every path that enters
// the program must be (a bare "clip.mp4" has no folder to split a title
// from). Symbolic links are not resolved, "." parts and repeated separators
// are dropped, ".." stays as written, and the file need not exist. Empty
// stays empty.
std::string absolutePath(const std::string& path);

// What a running process is doing, from /proc: its processor time, the bytes
// it has read and written (any file or pipe), and its state letter ('R'
// runnable, 'S' asleep, 'D' in the disk, 'Z' ended ...). Values that cannot be
// read stay 0 and '?'.
struct ProcessActivity {
    std::uint64_t cpuTicks = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
    char state = '?';

    // True when other shows work done since this sample.
    bool progressedTo(const ProcessActivity& other) const {
        return other.cpuTicks != cpuTicks || other.bytesRead != bytesRead ||
               other.bytesWritten != bytesWritten;
    }
};
ProcessActivity readProcessActivity(pid_t pid);
// Clock ticks of ProcessActivity::cpuTicks per second.
long cpuTicksPerSecond();

// Gives the system back the memory pages the allocator holds free, after
// work on other threads: each thread that allocates gets an arena of its own,
// which keeps the pages its work freed for as long as the process lives.
// Cheap (it walks the free lists once); for the end of a long piece of work.
void releaseFreeMemory();

// Folder for per-user runtime files (locks): $XDG_RUNTIME_DIR or the temp folder.
std::string runtimeFolder();

// Undoes what a parent may hand down that the program's child handling and
// stop requests depend on: SIGCHLD set to be ignored (or with SA_NOCLDWAIT),
// which lets the kernel reap the cores so that their exit status is lost,
// and blocked signals, which would hold back stops and child notices. For
// the very start of main(), before any thread exists.
void resetInheritedSignals();

} // namespace plexavo::platform
