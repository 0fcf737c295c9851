// GStreamer started where it is first needed, and only there: a plain start
// of the window loads neither the player's module nor GStreamer (the
// preview check runs in a child once the window is up), the preview starts
// it when it first opens, a language switch while the preview plays waits
// for it and asks nothing again, and a GStreamer that cannot start still
// ends the program with message 100, after the window has shown. One process for all, in this
// order: each test relies on what the one before left started.
#include "MainWinSupport.h"
#include "PreviewClips.h"

#include "engine/player/GStreamerRuntime.h"
#include "engine/player/Player.h"
#include "engine/player/PlayerModule.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/preview/PreviewCheck.h"
#include "gui/preview/PreviewDialog.h"
#include "gui/shell/Application.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using namespace plexavo;
using namespace plexavo::gui;
using plexavo::media::SourceItem;
using namespace mainwin_test;
using Answer = PreviewCheck::Answer;

namespace {

constexpr int kAnswerTimeoutMs = 60000;
constexpr int kOpenTimeoutMs = 15000;

// Whether a library whose file name contains `name` is mapped into this process.
bool mapped(const char* name) {
    return !testing_support::mappedFiles(name).empty();
}

// The open preview, once its file has opened.
PreviewDialog* openPreview() {
    auto* dialog = qobject_cast<PreviewDialog*>(QApplication::activeModalWidget());
    if (dialog && dialog->opened())
        return dialog;
    return nullptr;
}

// Runs `whileOpen` once the preview of the selected row has opened its
// file, then closes the preview; returns whether it ever opened.
bool previewSelectedRow(Application& app, const std::function<void()>& whileOpen) {
    bool opened = false;
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = openPreview();
        if (!dialog) {
            if (waited.elapsed() > kOpenTimeoutMs) {
                poll.stop();
                if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    modal->reject();
            }
            return;
        }
        poll.stop();
        opened = dialog->openSucceeded();
        whileOpen();
        dialog->reject();
    });
    poll.start(20);
    app.mainFrame()->action(cmd::kPreview)->trigger();
    return opened;
}

} // namespace

class TestFirstUse : public QObject {
    Q_OBJECT

    preview_test::Clips m_clips;
    std::string m_clip;

    // Starts the program's window as main() does, with one clip in its list.
    std::unique_ptr<Application> startWindow() {
        auto app = std::make_unique<Application>();
        if (!app->initInstance())
            return nullptr;
        SourceItem* item = makeItem("clip", 3);
        item->path = m_clip;
        addRow(*app->mainFrame()->view(), item);
        select(*app->mainFrame()->view(), {0});
        return app;
    }

    static void waitForAnswer(Application& app) {
        if (app.previewCheck()->answer() != Answer::Unknown)
            return;
        QSignalSpy answered(app.previewCheck(), &PreviewCheck::answered);
        QVERIFY(answered.wait(kAnswerTimeoutMs));
    }

    static QLabel* mediaTip(Application& app) {
        return app.mainFrame()->view()->findChild<QLabel*>(QStringLiteral("ctl1101"));
    }

    static void close(std::unique_ptr<Application>& app) {
        MessageBox::setNextAnswer(QMessageBox::Ok); // the exit question
        app->mainFrame()->close();
        app.reset();
    }

  private slots:
    void initTestCase() {
        settings::writeToolTipsHidden();
        settings::toolTipsHiddenThisRun = true;
        player::Player::setDefaultAudioOutput(player::Player::AudioOutput::Silent);
        m_clip = m_clips.mp4();
    }

    void aPlainStartLeavesGStreamerToTheCheck() {
        auto app = startWindow();
        QVERIFY(app);
        QVERIFY(app->mainFrame()->isVisible());
        waitForAnswer(*app);
        // The child found everything the preview needs: no tip.
        QCOMPARE(app->previewCheck()->answer(), Answer::Plays);
        QCoreApplication::processEvents();
        QVERIFY(mediaTip(*app)->isHidden());
        // Neither started nor even loaded here.
        QVERIFY(!player::gstreamerStarted());
        QVERIFY(!player::playerModuleLoaded());
        QVERIFY(!mapped(player::kModuleFile));
        QVERIFY(!mapped("libgstreamer-1.0"));
        close(app);
    }

    void thePreviewStartsItWhenItFirstOpens() {
        auto app = startWindow();
        QVERIFY(app);
        QVERIFY(!player::gstreamerStarted());
        bool startedWhileOpen = false;
        QVERIFY(previewSelectedRow(*app, [&] { startedWhileOpen = player::gstreamerStarted(); }));
        QVERIFY(startedWhileOpen);
        QVERIFY(mapped("libgstreamer-1.0"));
        close(app);
    }

    // The switch comes while the preview runs inside the view's Preview
    // command: the view is rebuilt once the preview has closed, so the
    // command's view and item outlive it and the part marked in it reaches
    // the new view. GStreamer is neither started again nor asked again.
    void aLanguageSwitchWhileThePreviewPlaysWaitsForIt() {
        MessageBox::setAutoAnswer(QMessageBox::Ok); // the switch's notice
        auto app = startWindow();
        QVERIFY(app);
        waitForAnswer(*app);
        QSignalSpy answered(app->previewCheck(), &PreviewCheck::answered);
        MainWindow* frame = app->mainFrame();
        auto choose = [frame](const QString& name) {
            for (QAction* action : frame->popups().value(2)->actions())
                if (action->text().remove(QLatin1Char('&')).startsWith(name))
                    action->trigger();
        };
        QPointer<ConversionView> before = frame->view();
        const QString englishTip = mediaTip(*app)->text();
        bool keptWhileOpen = false;
        const bool opened = previewSelectedRow(*app, [&] {
            choose(QStringLiteral("German"));
            QTest::qWait(300); // the switch's command and a few looks for the modal window
            keptWhileOpen = frame->view() == before && before;
            auto* dialog = openPreview();
            QVERIFY(dialog);
            dialog->findChild<QPushButton*>(QStringLiteral("ctl%1").arg(PreviewDialog::kPause))
                ->click();
            auto* slider =
                dialog->findChild<QSlider*>(QStringLiteral("ctl%1").arg(PreviewDialog::kPosition));
            slider->setSliderDown(true);
            slider->setSliderPosition(1);
            slider->setSliderDown(false);
            dialog->findChild<QPushButton*>(QStringLiteral("ctl%1").arg(PreviewDialog::kStart))
                ->click();
            dialog->findChild<QPushButton*>(QStringLiteral("ctl%1").arg(PreviewDialog::kOk))
                ->click();
        });
        QVERIFY(opened);
        QVERIFY(keptWhileOpen);
        QVERIFY(player::gstreamerStarted());
        // Rebuilt in German once the preview closed, with the marked part.
        QTRY_VERIFY(frame->view() != before);
        QTRY_VERIFY(before.isNull());
        QVERIFY(mediaTip(*app)->text() != englishTip);
        QCOMPARE(frame->view()->rowCount(), 1);
        QCOMPARE(frame->view()->cellText(0, 2), QStringLiteral("00:00:01-00:00:03"));
        // The new view took the check's answer as it stood: no second child, no tip.
        QCOMPARE(answered.count(), 0);
        QCoreApplication::processEvents();
        QVERIFY(mediaTip(*app)->isHidden());
        choose(QStringLiteral("English"));
        QTRY_COMPARE(mediaTip(*app)->text(), englishTip);
        close(app);
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
    }

    // Last: the program's end leaves this process's event loops ended.
    void gstreamerThatCannotStartEndsTheProgramWithItsMessageOnceTheWindowIsUp() {
        // The check's child (this build's plexavo) finds no player module:
        // GStreamer cannot start there, as without its libraries.
        qputenv("PLEXAVO_PLAYER_MODULE", "/nonexistent/libplexavo-player.so");
        MessageBox::shownTexts().clear();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        Application app;
        QVERIFY(app.initInstance());
        QVERIFY(app.mainFrame()->isVisible());
        // The window comes first; the box and the end follow the answer.
        QVERIFY(MessageBox::shownTexts().isEmpty());
        QEventLoop loop;
        QTimer::singleShot(kAnswerTimeoutMs, &loop, [&loop] { loop.exit(-1); });
        const int status = loop.exec();
        qunsetenv("PLEXAVO_PLAYER_MODULE");
        QCOMPARE(status, 1);
        QCOMPARE(app.signalExitCode(), 1);
        QCOMPARE(app.previewCheck()->answer(), Answer::CannotStart);
        QVERIFY(app.previewCheck()->details().contains(QLatin1String("/nonexistent/")));
        QCOMPARE(
            MessageBox::shownTexts(),
            QStringList{QStringLiteral("Media framework initialization failed.  Make sure "
                                       "that the GStreamer libraries are the correct version.")});
    }
};

QTEST_MAIN(TestFirstUse)
#include "test_first_use.moc"
