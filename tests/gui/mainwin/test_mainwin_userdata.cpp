// A user's files and choices through the main window, with the real core: a
// file name that is not UTF-8 goes from the command line and from a drop to
// the core byte for byte, and converts; one the file dialog could not carry
// is reported as a name that cannot be read, not as bad media; a choice that
// cannot be saved in a read-only settings folder is said once per run.
#include "engine/media/SourceItem.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/shell/Application.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"
#include "support/BatchTestSupport.h"

#include "MediaTools.h"
#include "TestSupport.h"

#include <QAction>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace plexavo;
using namespace plexavo::testing;
using namespace testing_support;

using plexavo::gui::Application;
using plexavo::gui::ConversionView;
using plexavo::gui::MainWindow;
using plexavo::gui::MessageBox;
using plexavo::media::SourceItem;

namespace {

const QString kReasonsStart = QStringLiteral("Please note the following reasons:");
const QString kUnreadableStart = QStringLiteral("The names of these files cannot be read");

SourceItem* itemOfRow(ConversionView& view, int row) {
    return view.itemAt(view.rowTag(row));
}

// A text/uri-list entry as a file manager writes it: every byte outside the
// unreserved set percent-encoded, the name's own bytes as they are on disk.
QByteArray uriOf(const std::string& path) {
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    return "file://" + bytes.toPercentEncoding("/");
}

void dropUriList(QWidget* target, const QByteArray& list) {
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"), list);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

// A tmpfs on `folder` in a mount namespace of this thread's own, so nothing
// of it shows outside the test, even when the test dies; `problem` says why
// there is none.
struct ScratchMount {
    explicit ScratchMount(const std::string& folder) : folder(folder) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            problem = std::string("no mount namespace of its own: ") + std::strerror(errno);
        else if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0)
            problem = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    }
    ~ScratchMount() {
        if (problem.empty())
            umount2(folder.c_str(), MNT_DETACH);
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    std::string folder;
    std::string problem;
};

// Makes a folder read-only for the guard's lifetime: a mount read-only, or
// the folder's permissions.
struct ReadOnly {
    ReadOnly(const std::string& folder, bool mounted) : folder(folder), mounted(mounted) {
        done = mounted
                   ? mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0
                   : chmod(folder.c_str(), 0555) == 0;
    }
    ~ReadOnly() {
        if (done && mounted)
            mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT, nullptr);
        else if (done)
            chmod(folder.c_str(), 0755);
    }
    ReadOnly(const ReadOnly&) = delete;
    ReadOnly& operator=(const ReadOnly&) = delete;
    std::string folder;
    bool mounted;
    bool done = false;
};

} // namespace

class TestMainWinUserData : public QObject {
    Q_OBJECT

    TempDir m_dir;
    std::string m_out;
    std::string m_odd; // "clip-\xff\xfe.mp4": not UTF-8
    RealCore m_core;

    // Converts the list with the window's Convert command; the one row must
    // end Done with a playable file of the clip's length, named from the
    // source's very bytes.
    void convertsToAPlayableFile(MainWindow& frame) {
        ConversionView& view = *frame.view();
        frame.action(gui::cmd::kConvert)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(view.cellText(0, 3), QStringLiteral("Done"), 120000);
        const std::string output = itemOfRow(view, 0)->outputFilePath();
        QVERIFY2(output.find("clip-\xff\xfe") != std::string::npos, output.c_str());
        QVERIFY2(testing_support::fileExists(output), output.c_str());
        // The tools get the bytes too: a QString would not name the file.
        QVERIFY(qAbs(testing_support::probeDuration(output) - 2.0) < 0.3);
        std::string complaints;
        QVERIFY2(testing_support::decodesCleanly(output, &complaints), complaints.c_str());
        fs::remove(output);
    }

  private slots:
    void initTestCase() {
        m_out = m_dir / "out";
        fs::create_directories(m_out);
        const std::string clip = m_dir / "clip.mp4";
        QString error;
        QVERIFY2(makeClip(QString::fromStdString(clip), 2, QStringLiteral("160x120"), &error),
                 qPrintable(error));
        m_odd = m_dir / "clip-\xff\xfe.mp4";
        fs::copy_file(clip, m_odd);
        QVERIFY(settings::writeToolTipsHidden().ok);
        QVERIFY(settings::writeOutputPath(m_out + "/").ok);
    }

    void init() {
        MessageBox::shownTexts().clear();
        MessageBox::setAutoAnswer(QMessageBox::Ok);
    }

    void cleanup() { MessageBox::setAutoAnswer(QMessageBox::NoButton); }

    void aNameThatIsNotUtf8ConvertsFromTheCommandLine() {
        Application app;
        QVERIFY(app.initInstance({m_odd}));
        ConversionView& view = *app.mainFrame()->view();
        QTRY_COMPARE_WITH_TIMEOUT(view.rowCount(), 1, 60000);
        const SourceItem* item = itemOfRow(view, 0);
        QCOMPARE(item->path, m_odd);
        QCOMPARE(item->durationSeconds, 2); // probed: the core found the file
        QVERIFY(MessageBox::shownTexts().isEmpty());
        convertsToAPlayableFile(*app.mainFrame());
    }

    void aNameThatIsNotUtf8ConvertsFromADrop() {
        Application app;
        QVERIFY(app.initInstance());
        ConversionView& view = *app.mainFrame()->view();
        // A comment line, Windows line ends and an address that is no file.
        dropUriList(&view, "# dropped\r\n" + uriOf(m_odd) + "\r\nhttps://example.org/x.mp4\r\n");
        QCOMPARE(view.rowCount(), 1);
        const SourceItem* item = itemOfRow(view, 0);
        QCOMPARE(item->path, m_odd);
        QCOMPARE(item->durationSeconds, 2);
        QVERIFY(MessageBox::shownTexts().isEmpty());
        convertsToAPlayableFile(*app.mainFrame());
    }

    void aNameTheFileDialogCouldNotCarryIsReportedAsUnreadable() {
        const std::string junk = m_dir / "not media.mp4";
        writeFile(junk, "not a media file");
        Application app;
        QVERIFY(app.initInstance());
        ConversionView& view = *app.mainFrame()->view();
        // As the dialog hands it: its bytes read as text, the two that are
        // not UTF-8 turned into U+FFFD.
        const QString dialogName = QString::fromUtf8(m_odd.c_str());
        QVERIFY(dialogName.contains(QChar(0xFFFD)));
        view.chooseSourceFiles = [&] {
            return QStringList{dialogName, QString::fromStdString(junk)};
        };
        app.mainFrame()->action(gui::cmd::kAdd)->trigger();
        QCOMPARE(view.rowCount(), 0);
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        const QString report = MessageBox::shownTexts().first();
        // The bad media under the media reasons, the lost name apart with its own text.
        const qsizetype reasons = report.indexOf(kReasonsStart);
        const qsizetype names = report.indexOf(kUnreadableStart);
        QVERIFY2(reasons > 0 && names > reasons, qPrintable(report));
        QVERIFY(report.left(reasons).contains(QString::fromStdString(junk)));
        QVERIFY(!report.left(names).contains(dialogName));
        QVERIFY(report.mid(names).contains(dialogName));

        // Only the lost name: no word of bad media.
        MessageBox::shownTexts().clear();
        view.chooseSourceFiles = [&] { return QStringList{dialogName}; };
        app.mainFrame()->action(gui::cmd::kAdd)->trigger();
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral("The names of these files cannot be read, so they "
                                            "were not added:\n") +
                             dialogName +
                             QStringLiteral("\n\nTo add such a file, drop it on the window or "
                                            "name it on the command line.")});
    }

    // Last: the message is shown once per run of the program.
    void aReadOnlySettingsFolderIsSaidOnce() {
        TempDir config;
        EnvGuard env("PLEXAVO_CONFIG_DIR", config.path());
        const bool root = geteuid() == 0;
        std::optional<ScratchMount> scratch;
        if (root) {
            scratch.emplace(config.path());
            if (!scratch->problem.empty())
                QSKIP(scratch->problem.c_str());
        }
        QVERIFY(settings::writeToolTipsHidden().ok);
        QVERIFY(settings::writeOutputPath(m_out + "/").ok);
        // Read-only from here: through its permissions for a user, as a
        // read-only mount for root, whom permissions do not stop.
        ReadOnly readOnly(config.path(), root);
        QVERIFY2(readOnly.done, std::strerror(errno));

        Application app;
        QVERIFY(app.initInstance());
        ConversionView& view = *app.mainFrame()->view();
        QCOMPARE(view.outputPath(), QString::fromStdString(m_out + "/")); // it still reads
        const QString first = QString::fromStdString(m_dir / "first");
        const QString second = QString::fromStdString(m_dir / "second");
        QString next = first;
        view.chooseOutputFolder = [&](const QString&) { return next; };
        view.onBrowse();
        next = second;
        view.onBrowse();

        const QString reason =
            root ? QStringLiteral("Read-only file system") : QStringLiteral("Permission denied");
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral("The settings cannot be saved in\n") +
                             QString::fromStdString(settings::SettingsFile().path()) +
                             QStringLiteral("\n(") + reason +
                             QStringLiteral(").\n\nYour choice applies until "
                                            "Plexavo is closed and is lost after that.")});
        // The choice holds for this run all the same, and the file is as it was.
        QCOMPARE(view.outputPath(), second + QLatin1Char('/'));
        QCOMPARE(settings::readOutputPath(), m_out + "/");
    }
};

QTEST_MAIN(TestMainWinUserData)
#include "test_mainwin_userdata.moc"
