// Helpers of the progress-window tests: a scripted stand-in for the encoder
// core, small clips made by the ffmpeg tool, the debug log of one test, and
// the child processes still around.
#pragma once

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
    explicit ScriptedCore(const QString& script);
    ~ScriptedCore();
    void setScript(const QString& script);
    QString folder() const { return m_dir.path(); }

  private:
    QTemporaryDir m_dir;
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

// Makes a clip with the ffmpeg tool: `seconds` long, testsrc video of the
// given size with a sine tone. Returns false (and a reason) on failure.
bool makeClip(const QString& path, int seconds, const QString& size = QStringLiteral("160x120"),
              QString* error = nullptr);
// Duration in seconds of a file as ffprobe reads it (negative: unreadable).
double probeDuration(const QString& path);
// True when ffmpeg decodes every frame of the file without an error.
bool decodesCleanly(const QString& path, QString* error = nullptr);

// Process ids whose parent is this process (zombies included).
std::vector<int> childProcesses();

} // namespace plexavo::testing
