// Helpers of the progress-window tests: a scripted stand-in for the encoder
// core, small clips made by the ffmpeg tool, the debug log of one test, and
// the child processes still around.
#pragma once

#include "FakeCore.h"
#include "Process.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <string>
#include <vector>

namespace plexavo::testing {

// Points the engine at a folder whose Plexcore is the scripted child, running
// `script` (steps as scripted_child reads them from SCRIPTED_CHILD).
class ScriptedCore {
  public:
    explicit ScriptedCore(const QString& script) : m_core(script.toStdString()) {}
    void setScript(const QString& script) { m_core.setScript(script.toStdString()); }
    QString folder() const { return QString::fromStdString(m_core.dir().path()); }

  private:
    testing_support::FakeCore m_core;
};

// Points the engine at the real encoder core for the lifetime of the object.
class RealCore {
  public:
    RealCore();
    ~RealCore();
};

// The debug log of one test, in a temporary file.
class TestLog {
  public:
    TestLog();
    ~TestLog();
    QString text() const;
    QStringList lines() const;

  private:
    QTemporaryDir m_dir;
    QString m_path;
};

// Makes a clip with the ffmpeg tool: `seconds` long (a fraction too),
// testsrc video of the given size with a sine tone. Returns false (and a
// reason) on failure.
bool makeClip(const QString& path, double seconds, const QString& size = QStringLiteral("160x120"),
              QString* error = nullptr);
// Duration in seconds of a file as ffprobe reads it (negative: unreadable).
double probeDuration(const QString& path);
// True when ffmpeg decodes every frame of the file without an error.
bool decodesCleanly(const QString& path, QString* error = nullptr);

// The processes whose parent is this one (zombies included).
using testing_support::childProcesses;

} // namespace plexavo::testing
