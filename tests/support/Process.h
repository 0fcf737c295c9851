// Runs a program from an argv vector (no shell), so file names with blanks,
// quotes, non-ASCII text or a leading '-' reach it byte for byte.
#pragma once

#include <chrono>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

using Clock = std::chrono::steady_clock;

struct SpawnOptions {
    std::string cwd;              // empty: the test's own
    bool joinStderr = true;       // like the program: output and error in one pipe
    bool stdinNull = true;        // a child that reads its input must not steal the terminal's
    std::vector<std::string> env; // "NAME=value" added to (or replacing in) the test's own
    // The child leads a session (and process group) of its own, as a program
    // started from a terminal leads its job: a signal to its group reaches
    // what it started in that group, and processesInSession() finds all it
    // started, whatever group they moved to.
    bool newSession = false;
};

inline SpawnOptions separateStderr() {
    SpawnOptions o;
    o.joinStderr = false;
    return o;
}

inline SpawnOptions inFolder(const std::string& cwd) {
    SpawnOptions o;
    o.cwd = cwd;
    return o;
}

inline SpawnOptions withEnv(std::vector<std::string> env) {
    SpawnOptions o;
    o.env = std::move(env);
    return o;
}

// A running child whose output arrives through a pipe.
class Child {
  public:
    explicit Child(const std::vector<std::string>& argv, const SpawnOptions& options = {});
    ~Child(); // a child still running is killed and reaped
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    int outFd() const { return m_out; }

    // Exactly one blocking read() of up to n bytes, as the program does when probing.
    std::string readOnce(size_t n);
    // Reads whatever arrives within timeoutMs into `out` (and `err` when not joined).
    // False once both pipes are at their end.
    bool pump(int timeoutMs);
    // Reads until both pipes end or the deadline passes.
    void drain(int timeoutMs);

    void signal(int sig);
    // True once the child has exited or died; does not block past timeoutMs.
    bool wait(int timeoutMs);
    bool exited() const { return m_reaped; }
    // The exit code when it exited normally, -1 when a signal ended it.
    int exitCode() const { return m_exitCode; }
    int termSignal() const { return m_termSignal; }

    std::string out; // stdout (and stderr when joined)
    std::string err; // stderr when not joined
    // When each chunk of `out` arrived: (offset in out where it starts, time).
    std::vector<std::pair<size_t, Clock::time_point>> arrivals;

  private:
    bool reap(bool block);
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    bool m_reaped = false;
    int m_exitCode = -1;
    int m_termSignal = 0;
};

struct RunResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1; // -1 when ended by a signal or timed out
    int termSignal = 0;
    std::string out;
    std::string err;
    double seconds = 0;
};

// Runs to the end (or kills it after timeoutSec) and collects everything it wrote.
RunResult run(const std::vector<std::string>& argv, double timeoutSec = 120,
              const SpawnOptions& options = {});

// Splits text into lines at '\n' or '\r', dropping the terminators and empty pieces.
std::vector<std::string> splitLines(const std::string& text);

// A /proc file's text; "" when it cannot be read, as when its process has
// just ended (a read of it then fails, which std::ifstream turns into an
// exception).
std::string readProcFile(const std::string& path);

// The files mapped into this process whose path contains `part`.
std::set<std::string> mappedFiles(const std::string& part);

// What this process holds, read from /proc: for tests that nothing leaks.
// Open descriptors (not counting the one the count itself uses).
int openDescriptorCount();
// Open descriptors that point at `path`.
int openDescriptorsTo(const std::string& path);
int threadCount();
// The processes whose parent is this one, with their state letter ('Z' for
// one that ended and was never reaped).
struct ChildState {
    pid_t pid = 0;
    char state = 0;
};
std::vector<ChildState> childProcesses();

// Every process whose session is `session`, the child's pid for a child
// started with newSession: what it started and left behind.
struct SessionProcess {
    pid_t pid = 0;
    pid_t ppid = 0;
    char state = 0;
    std::string name; // the command name, as /proc/PID/stat gives it
};
std::vector<SessionProcess> processesInSession(pid_t session);

} // namespace testing_support
