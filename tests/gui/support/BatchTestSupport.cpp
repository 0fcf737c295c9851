#include "support/BatchTestSupport.h"

#include "app/DebugLog.h"
#include "platform/CoreLocator.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace plexavo::testing {

ScriptedCore::ScriptedCore(const QString& script) {
    QFile::link(QStringLiteral(SCRIPTED_CHILD_PATH), m_dir.filePath(QStringLiteral("Plexcore")));
    core::setFolder(m_dir.path().toStdString());
    setScript(script);
}

ScriptedCore::~ScriptedCore() {
    core::setFolder("");
    qunsetenv("SCRIPTED_CHILD");
}

void ScriptedCore::setScript(const QString& script) {
    qputenv("SCRIPTED_CHILD", script.toUtf8());
}

RealCore::RealCore() {
    core::setFolder(PLEXCORE_FOLDER);
}
RealCore::~RealCore() {
    core::setFolder("");
}

TestLog::TestLog() : m_path(m_dir.filePath(QStringLiteral("plexavo.log"))) {
    log::setLogPath(m_path.toStdString());
}

TestLog::~TestLog() {
    log::setLogPath("");
}

QString TestLog::text() const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QStringList TestLog::lines() const {
    return text().split(QLatin1Char('\n'));
}

namespace {
bool runTool(const QString& program, const QStringList& args, QString* output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(300000)) {
        if (output)
            *output = program + QStringLiteral(" did not finish");
        return false;
    }
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
} // namespace

bool makeClip(const QString& path, int seconds, const QString& size, QString* error) {
    QString out;
    const bool ok =
        runTool(QStringLiteral("ffmpeg"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                 QStringLiteral("lavfi"), QStringLiteral("-i"),
                 QStringLiteral("testsrc=size=%1:rate=25").arg(size), QStringLiteral("-f"),
                 QStringLiteral("lavfi"), QStringLiteral("-i"),
                 QStringLiteral("sine=frequency=440:sample_rate=44100"), QStringLiteral("-t"),
                 QString::number(seconds), QStringLiteral("-c:v"), QStringLiteral("mpeg4"),
                 QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-shortest"),
                 QStringLiteral("-y"), QStringLiteral("file:") + path},
                &out);
    if (!ok && error)
        *error = out;
    return ok;
}

double probeDuration(const QString& path) {
    QString out;
    if (!runTool(QStringLiteral("ffprobe"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                  QStringLiteral("format=duration"), QStringLiteral("-of"),
                  QStringLiteral("default=noprint_wrappers=1:nokey=1"),
                  QStringLiteral("file:") + path},
                 &out))
        return -1.0;
    bool ok = false;
    const double d = out.trimmed().toDouble(&ok);
    return ok ? d : -1.0;
}

bool decodesCleanly(const QString& path, QString* error) {
    QString out;
    const bool ok = runTool(QStringLiteral("ffmpeg"),
                            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
                             QStringLiteral("file:") + path, QStringLiteral("-f"),
                             QStringLiteral("null"), QStringLiteral("-")},
                            &out);
    if (error)
        *error = out;
    return ok && out.trimmed().isEmpty();
}

std::vector<int> childProcesses() {
    std::vector<int> children;
    const int self = static_cast<int>(getpid());
    DIR* proc = opendir("/proc");
    if (!proc)
        return children;
    while (dirent* e = readdir(proc)) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and brackets.
        const auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        int ppid = 0;
        rest >> state >> ppid;
        if (ppid == self)
            children.push_back(pid);
    }
    closedir(proc);
    return children;
}

} // namespace plexavo::testing
