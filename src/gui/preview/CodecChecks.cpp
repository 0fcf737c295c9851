#include "gui/preview/CodecChecks.h"

#include "PlexcoreContract.h"
#include "engine/platform/ChildProcess.h"
#include "engine/platform/CoreLocator.h"
#include "engine/settings/ConversionSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"
#include "gui/preview/DownloadPage.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace plexavo::gui {

using platform::ChildProcess;

namespace {

// The answer takes milliseconds; a core that hangs must not hold Convert.
constexpr int kAnswerTimeoutMs = 10000;

struct Component {
    const char* format;
    unsigned question;
    const char* anchor;
    unsigned restartNotice;
};

constexpr Component kWindowsMedia{"wmv", 61225, "wmplayer", 61210};
constexpr Component kOgg{"ogm", 61226, "oggcodecs", 61201};

bool missing(QWidget* parent, const Component& component) {
    if (coreCanWrite(component.format))
        return false;
    const auto answer = MessageBox::show(parent, str(component.question), QMessageBox::Question,
                                         QMessageBox::Ok | QMessageBox::Cancel);
    if (answer == QMessageBox::Ok) {
        openDownloadPage(component.anchor);
        MessageBox::show(parent, str(component.restartNotice), QMessageBox::Information);
    }
    return true;
}

} // namespace

bool coreCanWrite(const char* format) {
    ChildProcess child;
    child.arguments = {platform::corePath(), contract::kAccessCode, contract::kCanWriteOption,
                       format};
    child.commandLine = platform::corePath() + " " + contract::kCanWriteOption + " " + format;
    child.flags = ChildProcess::PipeStdout; // its one line is not for our console
    if (child.start() < 0)
        return false;
    // Keep the window painting while the core answers.
    QElapsedTimer waited;
    waited.start();
    while (!child.waitForExit(20)) {
        if (waited.elapsed() > kAnswerTimeoutMs) {
            child.stopPolicy.silenceMs = 500;
            child.stopPolicy.limitMs = 1000;
            child.terminate();
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    return child.exitStatusKnown() && child.exitCode() == contract::kExitDone;
}

bool wmvWriterMissing(QWidget* parent) {
    return missing(parent, kWindowsMedia);
}

bool oggWriterMissing(QWidget* parent) {
    return missing(parent, kOgg);
}

bool checkCodecsBeforeConvert(QWidget* parent, int targetFormat) {
    if (targetFormat == settings::kTargetWmv)
        return !wmvWriterMissing(parent);
    if (targetFormat == settings::kTargetOgm)
        return !oggWriterMissing(parent);
    return true;
}

} // namespace plexavo::gui
