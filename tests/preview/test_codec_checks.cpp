// The checks before a WMV or OGM conversion, against a stand-in encoder core
// (a script named Plexcore) that can or cannot write the format.
#include "PlexcoreContract.h"
#include "engine/platform/CoreLocator.h"
#include "engine/settings/ConversionSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"
#include "gui/preview/CodecChecks.h"
#include "gui/preview/DownloadPage.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fstream>

using namespace plexavo;
using namespace plexavo::gui;

using plexavo::settings::kTargetFormatCount;
using plexavo::settings::kTargetOgm;
using plexavo::settings::kTargetWmv;

class CodecChecksTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_core;
    QStringList m_opened;

    std::string corePath(const char* name) const {
        return (m_core.path() + QLatin1Char('/') + QLatin1String(name)).toStdString();
    }
    // The stand-in core records its arguments and exits with `answer`.
    void coreAnswers(int answer) { std::ofstream(corePath("answer")) << answer; }
    QStringList coreArguments() const {
        QFile file(QString::fromStdString(corePath("args")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList args = QString::fromUtf8(file.readAll()).split(QLatin1Char('\0'));
        args.removeLast();
        return args;
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_core.isValid());
        const std::string script = corePath(contract::kProgramName);
        std::ofstream(script) << "#!/bin/sh\n"
                                 "here=$(dirname \"$0\")\n"
                                 "printf '%s\\0' \"$@\" > \"$here/args\"\n"
                                 "echo \"answering\"\n"
                                 "exit $(cat \"$here/answer\")\n";
        QFile::setPermissions(QString::fromStdString(script),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        platform::setCoreFolder(m_core.path().toStdString());
        setPageOpener([this](const std::string& address) {
            m_opened.append(QString::fromStdString(address));
            return true;
        });
    }
    void cleanupTestCase() {
        platform::setCoreFolder("");
        setPageOpener(nullptr);
    }
    void init() {
        MessageBox::shownTexts().clear();
        m_opened.clear();
        QFile::remove(QString::fromStdString(corePath("args")));
    }

    void coreThatCanWritePassesSilently() {
        coreAnswers(contract::kExitDone);
        QVERIFY(checkCodecsBeforeConvert(nullptr, kTargetWmv));
        QCOMPARE(coreArguments(),
                 (QStringList{QString::fromLatin1(contract::kAccessCode),
                              QStringLiteral("-can-write"), QStringLiteral("wmv")}));
        QVERIFY(checkCodecsBeforeConvert(nullptr, kTargetOgm));
        QCOMPARE(coreArguments().last(), QStringLiteral("ogm"));
        QVERIFY(MessageBox::shownTexts().isEmpty());
        QVERIFY(m_opened.isEmpty());
    }

    void cancelOpensNothingAndStillStops_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<unsigned>("question");
        QTest::newRow("wmv") << int(kTargetWmv) << 61225u;
        QTest::newRow("ogm") << int(kTargetOgm) << 61226u;
    }
    void cancelOpensNothingAndStillStops() {
        QFETCH(int, target);
        QFETCH(unsigned, question);
        coreAnswers(contract::kExitFailed);
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        QVERIFY(!checkCodecsBeforeConvert(nullptr, target));
        QCOMPARE(MessageBox::shownTexts(), QStringList{gui::str(question)});
        QVERIFY(m_opened.isEmpty());
    }

    void okOpensTheDownloadPageAndAsksForARestart_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<unsigned>("question");
        QTest::addColumn<QString>("anchor");
        QTest::addColumn<unsigned>("notice");
        QTest::newRow("wmv") << int(kTargetWmv) << 61225u << QStringLiteral("#wmplayer") << 61210u;
        QTest::newRow("ogm") << int(kTargetOgm) << 61226u << QStringLiteral("#oggcodecs") << 61201u;
    }
    void okOpensTheDownloadPageAndAsksForARestart() {
        QFETCH(int, target);
        QFETCH(unsigned, question);
        QFETCH(QString, anchor);
        QFETCH(unsigned, notice);
        coreAnswers(contract::kExitFailed);
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        const bool go = checkCodecsBeforeConvert(nullptr, target);
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        QVERIFY(!go);
        QCOMPARE(MessageBox::shownTexts(), (QStringList{gui::str(question), gui::str(notice)}));
        QCOMPARE(m_opened.size(), 1);
        QVERIFY(m_opened[0].startsWith(QStringLiteral("file:///")));
        QVERIFY2(m_opened[0].endsWith(QStringLiteral("/download.html") + anchor),
                 qPrintable(m_opened[0]));
    }

    void otherTargetsNeverAsk() {
        coreAnswers(contract::kExitFailed);
        for (int target = 0; target < kTargetFormatCount; ++target) {
            if (target == kTargetWmv || target == kTargetOgm)
                continue;
            QVERIFY(checkCodecsBeforeConvert(nullptr, target));
        }
        QVERIFY(coreArguments().isEmpty()); // the core was never started
        QVERIFY(MessageBox::shownTexts().isEmpty());
    }

    void missingCoreCountsAsMissingComponent() {
        platform::setCoreFolder(m_core.path().toStdString() + "/nowhere");
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        QVERIFY(oggWriterMissing(nullptr));
        platform::setCoreFolder(m_core.path().toStdString());
        QCOMPARE(MessageBox::shownTexts().size(), 1);
    }

#ifdef PLEXCORE_FOLDER
    void theRealCoreAnswersForBothFormats() {
        platform::setCoreFolder(PLEXCORE_FOLDER);
        const bool wmv = coreCanWrite("wmv");
        const bool ogm = coreCanWrite("ogm");
        platform::setCoreFolder(m_core.path().toStdString());
        // This build's core has the ASF, WMV2, Ogg, Theora and Vorbis pieces.
        QVERIFY(wmv);
        QVERIFY(ogm);
        QVERIFY(!coreCanWrite("nonsense")); // a usage error is no yes
    }
#endif

    void downloadPageSitsNextToTheProgram() {
        const QString address = QString::fromStdString(downloadPageAddress("quicktime"));
        QVERIFY(address.startsWith(QStringLiteral("file:///")));
        QVERIFY(address.endsWith(QStringLiteral("/download.html#quicktime")));
    }
};

QTEST_MAIN(CodecChecksTest)
#include "test_codec_checks.moc"
