#include "support/BatchTestSupport.h"

#include "engine/platform/CoreLocator.h"
#include "engine/platform/DebugLog.h"

#include "MediaTools.h"

#include <QFile>

namespace plexavo::testing {

RealCore::RealCore() {
    platform::setCoreFolder(PLEXCORE_FOLDER);
}
RealCore::~RealCore() {
    platform::setCoreFolder("");
}

TestLog::TestLog() : m_path(m_dir.filePath(QStringLiteral("plexavo.log"))) {
    platform::setLogPath(m_path.toStdString());
}

TestLog::~TestLog() {
    platform::setLogPath("");
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

bool makeClip(const QString& path, double seconds, const QString& size, QString* error) {
    const auto r = testing_support::run({"ffmpeg",
                                         "-v",
                                         "error",
                                         "-nostdin",
                                         "-f",
                                         "lavfi",
                                         "-i",
                                         "testsrc=size=" + size.toStdString() + ":rate=25",
                                         "-f",
                                         "lavfi",
                                         "-i",
                                         "sine=frequency=440:sample_rate=44100",
                                         "-t",
                                         QString::number(seconds).toStdString(),
                                         "-c:v",
                                         "mpeg4",
                                         "-c:a",
                                         "aac",
                                         "-shortest",
                                         "-y",
                                         "file:" + path.toStdString()},
                                        300);
    if (r.exitCode != 0 && error)
        *error = QString::fromStdString(r.out);
    return r.exitCode == 0;
}

double probeDuration(const QString& path) {
    return testing_support::probeDuration(path.toStdString());
}

bool decodesCleanly(const QString& path, QString* error) {
    std::string complaints;
    const bool clean = testing_support::decodesCleanly(path.toStdString(), &complaints);
    if (error)
        *error = QString::fromStdString(complaints);
    return clean;
}

} // namespace plexavo::testing
