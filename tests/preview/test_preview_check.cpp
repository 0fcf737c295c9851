// The window's start-up check of the preview, with the scripted child in the
// program's place: each answer the child can give (and a fault of its own),
// one that takes too long or never starts, a second start, the check closed
// while its child still runs, and the main view's tip line following the
// answer as it comes.
#include "TestSupport.h"

#include "engine/settings/StoredSettings.h"
#include "gui/preview/PreviewCheck.h"
#include "gui/view/ConversionView.h"

#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <filesystem>

using namespace plexavo;
using namespace plexavo::gui;
using Answer = PreviewCheck::Answer;

namespace {

constexpr int kAnswerTimeoutMs = 20000;

std::vector<std::string> scripted(std::initializer_list<std::string> steps) {
    std::vector<std::string> command{SCRIPTED_CHILD_PATH};
    command.insert(command.end(), steps);
    return command;
}

// The one pid a script's "d:DIR" step left in `dir`, or 0.
pid_t startedPid(const testing_support::TempDir& dir) {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        return static_cast<pid_t>(std::stol(entry.path().filename().string()));
    return 0;
}

} // namespace

class TestPreviewCheck : public QObject {
    Q_OBJECT

    static void answer(PreviewCheck& check) {
        QSignalSpy answered(&check, &PreviewCheck::answered);
        check.start();
        QVERIFY(answered.wait(kAnswerTimeoutMs));
        QCOMPARE(answered.count(), 1);
    }

  private slots:
    void initTestCase() { settings::toolTipsHiddenThisRun = true; }

    void theChildsStatusIsTheAnswerAndItsWordsTheDetails_data() {
        QTest::addColumn<QString>("say");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("details");
        QTest::newRow("plays") << "" << 0 << int(Answer::Plays) << "";
        QTest::newRow("parts missing") << "w:appsink\\nvideo/x-h264\\n"
                                       << 1 << int(Answer::PartsMissing) << "appsink\nvideo/x-h264";
        QTest::newRow("GStreamer does not start")
            << "w:libgstreamer-1.0.so.0: cannot open\\n"
            << 3 << int(Answer::CannotStart) << "libgstreamer-1.0.so.0: cannot open";
        // A fault inside GStreamer or a plugin: the preview would meet it too.
        QTest::newRow("a fault") << "w:half a line" << 139 << int(Answer::PartsMissing)
                                 << "half a line";
        // Not the check's words (another program in its place): no answer.
        QTest::newRow("an answer it does not know")
            << "w:usage" << 2 << int(Answer::Unknown) << "usage";
    }
    void theChildsStatusIsTheAnswerAndItsWordsTheDetails() {
        QFETCH(QString, say);
        QFETCH(int, status);
        QFETCH(int, expected);
        QFETCH(QString, details);
        PreviewCheck check;
        check.command = say.isEmpty()
                            ? scripted({"x:" + std::to_string(status)})
                            : scripted({say.toStdString(), "x:" + std::to_string(status)});
        QCOMPARE(check.answer(), Answer::Unknown);
        answer(check);
        QCOMPARE(int(check.answer()), expected);
        QCOMPARE(check.details(), details);
    }

    void aChildThatTakesTooLongIsEndedAndGivesNoAnswer() {
        testing_support::TempDir started;
        PreviewCheck check;
        check.command = scripted({"d:" + started.path(), "s:60000", "x:0"});
        check.limitMs = 300;
        answer(check);
        QCOMPARE(check.answer(), Answer::Unknown);
        const pid_t pid = startedPid(started);
        QVERIFY(pid > 0);
        QTRY_VERIFY(::kill(pid, 0) != 0);
    }

    void aProgramThatCannotStartGivesNoAnswer() {
        PreviewCheck check;
        check.command = {"/nonexistent/plexavo", kCheckOption};
        answer(check);
        QCOMPARE(check.answer(), Answer::Unknown);
    }

    void aSecondStartAsksNothingAgain() {
        testing_support::TempDir started;
        PreviewCheck check;
        check.command = scripted({"d:" + started.path(), "x:0"});
        answer(check);
        QSignalSpy again(&check, &PreviewCheck::answered);
        check.start();
        QTest::qWait(200);
        QCOMPARE(again.count(), 0);
        QCOMPARE(check.answer(), Answer::Plays);
        QCOMPARE(std::distance(std::filesystem::directory_iterator(started.path()),
                               std::filesystem::directory_iterator()),
                 1);
    }

    void closingBeforeTheAnswerEndsTheChild() {
        testing_support::TempDir started;
        pid_t pid = 0;
        {
            PreviewCheck check;
            check.command = scripted({"d:" + started.path(), "s:60000", "x:0"});
            check.start();
            QTRY_VERIFY((pid = startedPid(started)) > 0);
        }
        QVERIFY(::kill(pid, 0) != 0); // ended and reaped before the check was gone
    }

    void theViewsTipFollowsTheAnswerAsItComes() {
        PreviewCheck check;
        QCOMPARE(PreviewCheck::current(), &check);
        check.command = scripted({"s:300", "w:appsink\\n", "x:1"});
        ConversionView view;
        view.onInitialUpdate();
        auto* tip = view.findChild<QLabel*>(QStringLiteral("ctl1101"));
        QCoreApplication::processEvents();
        QVERIFY(tip->isHidden()); // not asked yet: nothing to say
        answer(check);
        QVERIFY(!tip->isHidden());
        // A view made after the answer (a language switch) shows it at once.
        ConversionView later;
        later.onInitialUpdate();
        QCoreApplication::processEvents();
        QVERIFY(!later.findChild<QLabel*>(QStringLiteral("ctl1101"))->isHidden());
    }
};

QTEST_MAIN(TestPreviewCheck)
#include "test_preview_check.moc"
