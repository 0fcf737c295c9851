#include "gui/preview/PreviewCheck.h"

#include "engine/platform/DebugLog.h"
#include "engine/platform/Platform.h"
#include "engine/player/GStreamerRuntime.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace plexavo::gui {

using platform::ChildProcess;
using platform::writeLog;

namespace {

// The child's exit statuses.
constexpr int kPlays = 0;
constexpr int kPartsMissing = 1;
constexpr int kCannotStart = 3;
// ChildProcess's status for a child ended by a signal: 128 + the signal.
constexpr int kFirstSignalStatus = 128;

constexpr int kPollMs = 25;
// The answer is a few short lines; more is not an answer.
constexpr std::size_t kMaxOutput = 64 * 1024;

PreviewCheck* g_current = nullptr;

} // namespace

int runCheckInChild() {
    std::string error;
    if (!player::initializeGStreamer(&error)) {
        std::printf("%s\n", error.c_str());
        return kCannotStart;
    }
    std::vector<std::string> missing = player::missingPreviewParts();
    const player::GStreamerVersion version = player::gstreamerVersion();
    if (!player::versionIsEnough(version))
        missing.insert(missing.begin(), "gstreamer " + std::to_string(version.major) + "." +
                                            std::to_string(version.minor));
    for (const std::string& part : missing)
        std::printf("%s\n", part.c_str());
    return missing.empty() ? kPlays : kPartsMissing;
}

PreviewCheck::PreviewCheck(QObject* parent) : QObject(parent) {
    // Never found on the search path: another installation's program
    // would answer for another GStreamer module.
    const std::string folder = platform::knownProgramFolder();
    if (!folder.empty())
        command = {folder + "plexavo", kCheckOption};
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &PreviewCheck::poll);
    if (!g_current)
        g_current = this;
}

PreviewCheck::~PreviewCheck() {
    if (g_current == this)
        g_current = nullptr;
    if (m_child && !m_child->hasExited()) {
        // Closing before the answer: the child only looks, and GStreamer
        // writes its cache under a temporary name, so it may go at once.
        m_child->stopPolicy.silenceMs = 500;
        m_child->stopPolicy.limitMs = 1000;
        m_child->terminate();
    }
}

PreviewCheck* PreviewCheck::current() {
    return g_current;
}

void PreviewCheck::start() {
    if (m_started)
        return;
    m_started = true;
    m_child = std::make_unique<ChildProcess>();
    m_child->arguments = command;
    for (const std::string& arg : command)
        m_child->commandLine += (m_child->commandLine.empty() ? "" : " ") + arg;
    m_child->flags = ChildProcess::PipeStdout;
    if (command.empty() || m_child->start() != 0) {
        writeLog("**Error: the preview check did not start (%s)", m_child->commandLine.c_str());
        QTimer::singleShot(0, this, [this] { finish(Answer::Unknown); });
        return;
    }
    // Read as it comes, so a full pipe can never hold the child.
    fcntl(m_child->stdoutRead, F_SETFL, fcntl(m_child->stdoutRead, F_GETFL) | O_NONBLOCK);
    m_running.start();
    m_poll.start();
}

void PreviewCheck::drain() {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_child->stdoutRead, buffer, sizeof buffer);
        if (got > 0) {
            if (m_output.size() < kMaxOutput)
                m_output.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return; // the end, or nothing more for now
    }
}

void PreviewCheck::poll() {
    drain();
    if (!m_child->waitForExit(0)) {
        if (m_running.elapsed() <= limitMs)
            return;
        m_child->stopPolicy.silenceMs = 500;
        m_child->stopPolicy.limitMs = 1000;
        m_child->terminate();
        writeLog("**Error: the preview check gave no answer in %d ms", limitMs);
        finish(Answer::Unknown);
        return;
    }
    drain();
    m_details = QString::fromUtf8(m_output.c_str()).trimmed();
    const int status = m_child->exitCode();
    if (!m_child->exitStatusKnown()) {
        writeLog("**Error: the preview check ended, how is unknown");
        finish(Answer::Unknown);
    } else if (status == kPlays) {
        finish(Answer::Plays);
    } else if (status == kPartsMissing) {
        finish(Answer::PartsMissing);
    } else if (status == kCannotStart) {
        finish(Answer::CannotStart);
    } else if (status >= kFirstSignalStatus) {
        // A fault inside GStreamer or a plugin: the preview would meet the
        // same, so the tip says what to install.
        writeLog("**Error: the preview check ended with status %d", status);
        finish(Answer::PartsMissing);
    } else {
        writeLog("**Error: the preview check answered %d, not an answer of it", status);
        finish(Answer::Unknown);
    }
}

void PreviewCheck::finish(Answer answer) {
    m_poll.stop();
    m_answer = answer;
    if (!m_details.isEmpty())
        writeLog("Preview check: %s", m_details.toUtf8().constData());
    emit answered();
}

} // namespace plexavo::gui
