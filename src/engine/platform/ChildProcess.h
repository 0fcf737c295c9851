// Starts a program as a child process with its output and error joined in one
// pipe. The program and its arguments travel as an argv vector, never through
// a shell, so no file name can turn into an option or a command.
#pragma once

#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace plexavo::platform {

// How terminate() lets a child finish before it kills it. A converter asked
// to stop may need long to close a large file (an index moved to the front,
// a slow disk), so it is killed only when it shows no sign of life, when it
// has had more than enough time, or when someone insists.
struct StopPolicy {
    // Kill after this long with no output and no growth of watchedFile.
    int silenceMs = 10000;
    // Kill this long after the request, whatever the child does.
    int limitMs = 120000;
    // A file whose growth counts as a sign of life (the output being written).
    std::string watchedFile;
    // Set from any thread to kill at once: the second, explicit request.
    const std::atomic<bool>* killRequest = nullptr;
    // Sent when the policy runs out or someone insists, before SIGKILL: a child that
    // treats it as "abort" drops its unfinished work and exits. SIGKILL alone by default.
    int abortSignal = SIGKILL;
    // Receives what the child prints while it stops. The pipe is drained in
    // any case, so that a full pipe can never stall the child.
    std::function<void(const char* text, std::size_t length)> onOutput;
};

// How the last terminate() ended.
enum class StopOutcome : std::uint8_t {
    NotStopped,      // nothing to stop: no child, or it had ended on its own
    Exited,          // the child finished after the request
    KilledSilent,    // killed after silenceMs without a sign of life
    KilledLimit,     // killed limitMs after the request
    KilledOnRequest, // killed on the second request
};

class ChildProcess {
  public:
    enum Flags : std::uint8_t {
        PipeStdin = 4,  // the child's input is a new pipe; the parent writes stdinWrite
        PipeStdout = 8, // the child's output and error go to one pipe; the parent reads stdoutRead
        // The child leads a process group of its own, so a Ctrl+C at the
        // terminal reaches only the program, which decides whether it is a
        // stop or (a second Ctrl+C) an abort for the child.
        OwnProcessGroup = 32
    };

    // The whole command line as the user would read it, for the log only.
    std::string commandLine;
    // What actually runs: arguments[0] names the program. A bare name is looked
    // for in the running program's folder first, then on PATH.
    std::vector<std::string> arguments;
    std::optional<std::string> workingDirectory;
    // "NAME=value" entries added to (or replacing) the program's environment.
    std::vector<std::string> environment;
    int stdoutRead = -1;
    int stdinWrite = -1;
    pid_t processId = 0;
    std::uint8_t flags = 0;
    // How terminate() stops the child.
    StopPolicy stopPolicy;

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // 0 when the child runs, -1 on any failure (nothing started, nothing left
    // open; startError() says why). Without PipeStdin the child reads from
    // /dev/null: it must never compete with the program for the terminal.
    int start();
    // The system's reason (an errno value) the last start() failed: EACCES
    // for a program without execute permission, ENOEXEC for one that is no
    // executable for this machine, ENOENT also for a missing loader; 0 after
    // a start that succeeded.
    int startError() const { return m_startError; }
    // Asks the child to stop (SIGTERM) and waits as stopPolicy says, killing
    // it when the policy runs out; reaps it (a killed child that cannot die
    // within 5 s is left to the shared reaper at close()). 0 when it stopped
    // it, -1 when there is no child or it had already exited on its own.
    int terminate();
    // Lets the child (every thread of it) run only when the processors have
    // nothing else to do (SCHED_IDLE). -1 when refused or without a child.
    int setIdlePriority();
    // Releases the pipe ends and forgets the child. A child still running is
    // left to run; one shared reaper collects it, so it never turns zombie.
    void close();

    // Waits up to timeoutMs for the child to exit on its own; true if it has.
    bool waitForExit(int timeoutMs);
    bool hasExited() const { return m_reaped; }
    // The exit code once reaped: the code the child gave, or 128 + signal;
    // -1 when the status is unknown.
    int exitCode() const { return m_exitCode; }
    // False when someone else reaped the child (a SIGCHLD set to be ignored,
    // another waitpid): it has ended, but how is unknown.
    bool exitStatusKnown() const { return m_statusKnown; }
    // True when the child ended because terminate() stopped it.
    bool endedByTerminate() const { return m_terminated; }
    StopOutcome stopOutcome() const { return m_stopOutcome; }

  private:
    bool reap(bool block);
    bool sendSignal(int signal);
    void waitOutStop();

    int m_pidfd = -1;
    int m_startError = 0;
    bool m_reaped = false;
    bool m_statusKnown = true;
    bool m_terminated = false;
    int m_exitCode = 0;
    StopOutcome m_stopOutcome = StopOutcome::NotStopped;
};

// How many children closed while still running wait for the shared reaper.
std::size_t pendingReaps();

} // namespace plexavo::platform
