// Everything the core prints, the progress ticker, and the stop signals.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

namespace plexavo::core {

// One complete line per write(), so lines from the ticker and the main thread never mix.
void printLine(const std::string& line);
void printRaw(const std::string& text);
void warn(const std::string& message);
// The text with control characters (a line feed in a file name, say) shown as '?', so a
// message stays the one line the program reads.
std::string oneLine(std::string text);

// SIGTERM, SIGINT, SIGHUP: a stop, the file finished and kept, however often it comes.
// The abort signal (SIGUSR1; SIGQUIT, Ctrl+\ at a terminal, for a user at a shell) exits at
// once, removing the unfinished output, if any.
void installStopHandlers();
bool stopRequested();

// Makes the death of the program a stop request like SIGTERM: the kernel sends SIGTERM when
// the parent dies, and a parent that died before that request was made (it is not the
// process PLEXCORE_PARENT_PID names) counts at once. Call after installStopHandlers().
void stopWithParent();

// The (partial) output file an abort removes, with the note that marks it as ours. Set them
// right after the file is created and clear them (nullptr) once the file is finished or
// removed; the strings must outlive that.
void setUnfinishedOutput(const std::string* path, const std::string* note = nullptr);

// Library messages are off unless PLEXCORE_DEBUG is set: the program reads our lines only.
void quietLibraryLogs();

// Shared counters the transcoder updates and the ticker reads.
struct ProgressState {
    std::atomic<int64_t> frames{0};
    std::atomic<int64_t> bytes{0};
    std::atomic<int64_t> outUs{0}; // output time written since the start point
    // Continuing a kept output: the frames and time copied from it, which the rates leave out.
    std::atomic<int64_t> baseFrames{0};
    std::atomic<int64_t> baseUs{0};
    std::atomic<bool> reading{false}; // the main thread may be blocked in an input read
};

// Prints a progress line every 400 ms from its own thread, so a line still appears while
// the main thread is blocked reading a slow input or writing the trailer.
class ProgressTicker {
  public:
    explicit ProgressTicker(const ProgressState& state);
    // Like finishSilently(): a run that ends in an exception leaves no half-written line.
    ~ProgressTicker();
    ProgressTicker(const ProgressTicker&) = delete;
    ProgressTicker& operator=(const ProgressTicker&) = delete;

    void start();
    // Stops the thread and prints the last line, ended by a line feed.
    void finish();
    // Stops the thread; if a progress line is open, ends it so the next message starts clean.
    void finishSilently();

  private:
    std::string line() const;
    void run();
    // Ends the ticker thread once; false when it was already ended.
    bool stopThread();

    const ProgressState& m_state;
    std::chrono::steady_clock::time_point m_begin;
    std::thread m_thread;
    pthread_t m_mainThread{};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_quit = false;
    bool m_finished = false;
    std::atomic<bool> m_printed{false};
};

} // namespace plexavo::core
