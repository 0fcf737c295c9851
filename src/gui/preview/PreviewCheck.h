// Whether the preview can play on this machine, as the window needs to know
// it at start: for the main view's tip line (control 1101) and for message
// 100 when GStreamer cannot start at all. The answer comes from a child run
// of the program (`plexavo --check-preview`), started once the window is up,
// so that the window's own process loads GStreamer only when the preview
// first opens, and so that a first start on an empty GStreamer cache builds
// that cache in the child while the window already answers.
#pragma once

#include "engine/platform/ChildProcess.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

namespace plexavo::gui {

// The option that makes the program the check's child.
inline constexpr const char* kCheckOption = "--check-preview";

// The child's side: starts GStreamer, looks for what the preview needs and
// prints what is missing, one line each (or why GStreamer cannot start).
// Returns the exit status the parent reads as the answer.
int runCheckInChild();

class PreviewCheck : public QObject {
    Q_OBJECT

  public:
    enum class Answer {
        Unknown,      // not asked, still running, or no answer (the child did not start,
                      // took too long or said something else)
        Plays,        // GStreamer recent enough, with every part the preview needs
        PartsMissing, // GStreamer starts, but too old or without some part
        CannotStart,  // GStreamer (or the player's module) does not start
    };

    // The program that answers: this build's plexavo beside the running
    // program (a test program's folder holds one too).
    explicit PreviewCheck(QObject* parent = nullptr);
    ~PreviewCheck() override;
    PreviewCheck(const PreviewCheck&) = delete;
    PreviewCheck& operator=(const PreviewCheck&) = delete;

    // The check of this process (the application's), or nullptr when none
    // was made, as for a view in a test.
    static PreviewCheck* current();

    // Starts the child once; later calls do nothing.
    void start();
    Answer answer() const { return m_answer; }
    // What the child said: the parts missing, or why GStreamer cannot start.
    QString details() const { return m_details; }

    // The child's command line; tests name another program.
    std::vector<std::string> command;
    // How long the child may take; it builds GStreamer's cache on a first
    // start, which takes seconds on a slow machine.
    int limitMs = 120000;

  signals:
    // The check has ended (the answer may still be Unknown).
    void answered();

  private:
    void poll();
    void drain();
    void finish(Answer answer);

    std::unique_ptr<platform::ChildProcess> m_child;
    QTimer m_poll;
    QElapsedTimer m_running; // monotonic: a clock set back must not stretch the limit
    std::string m_output;
    Answer m_answer = Answer::Unknown;
    QString m_details;
    bool m_started = false;
};

} // namespace plexavo::gui
