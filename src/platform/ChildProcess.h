// Starts a program as a child process with its output and error joined in one
// pipe. The program and its arguments travel as an argv vector, never through
// a shell, so no file name can turn into an option or a command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace plexavo {

class CChildProcess {
public:
    enum Flags : std::uint8_t {
        ShowChild = 2,      // kept for the callers' sake; children have no window here
        PipeStdin = 4,      // the child's input is a new pipe; the parent writes stdinWrite
        PipeStdout = 8,     // the child's output and error go to one pipe; the parent reads stdoutRead
        StderrToStdout = 16 // without PipeStdout: the child's error goes where its output goes
    };

    // The whole command line as the user would read it, for the log only.
    std::string commandLine;
    // What actually runs: arguments[0] names the program. A bare name is looked
    // for in the running program's folder first, then on PATH.
    std::vector<std::string> arguments;
    std::optional<std::string> workingDirectory;
    int stdoutRead = -1;
    int stdinWrite = -1;
    pid_t processId = 0;
    std::uint8_t flags = 0;
    // How long terminate() lets the child finish its file before killing it.
    int terminateGraceMs = 8000;

    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // 0 when the child runs, -1 on any failure (nothing started, nothing left open).
    int start();
    // Asks the child to stop, then kills it after the grace; always reaps it.
    // -1 when there is no child or it had already exited on its own.
    int terminate();
    // Priority by index: 0-1 idle, 2 normal, 3-4 high, 5 real-time. -1 when
    // refused, out of range or without a child.
    int setPriority(int index);
    // Releases the pipe ends and forgets the child. A child still running is
    // left to run and reaped in the background, so it never turns zombie.
    void close();

    // Waits up to timeoutMs for the child to exit on its own; true if it has.
    bool waitForExit(int timeoutMs);
    bool hasExited() const { return m_reaped; }
    // The exit code once reaped: the code the child gave, or 128 + signal.
    int exitCode() const { return m_exitCode; }
    // True when the child ended because terminate() stopped it.
    bool endedByTerminate() const { return m_terminated; }

private:
    bool reap(bool block);

    bool m_reaped = false;
    bool m_terminated = false;
    int m_exitCode = 0;
};

} // namespace plexavo
