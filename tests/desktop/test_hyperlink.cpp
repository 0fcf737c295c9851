// The hyperlink label: its looks in each state, the ways it opens, its
// failure box and what a screen reader sees. A desktop made for the test
// (XDG folders read once, when the first link opens) sends https addresses to
// a "browser" script that records what it was started with, ftp addresses to
// an entry whose working folder is missing, and nothing else anywhere.
#include "gui/common/MessageBox.h"
#include "gui/widgets/HyperLink.h"

#include <QAccessible>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

using plexavo::desktop::OpenResult;
using plexavo::gui::HyperLink;
using plexavo::gui::MessageBox;

class TestHyperLink : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_root;
    QString argvFile() const { return m_root.filePath(QStringLiteral("argv")); }

    // A window holding the link and an edit to move the focus to.
    struct Window {
        QWidget widget;
        HyperLink* link;
        QLineEdit* edit;
        explicit Window(const QString& text, const QString& target = {}) {
            auto* layout = new QVBoxLayout(&widget);
            link = new HyperLink(text, &widget);
            link->setObjectName(QStringLiteral("ctl1032"));
            if (!target.isEmpty())
                link->setTarget(target);
            edit = new QLineEdit(&widget);
            layout->addWidget(link);
            layout->addWidget(edit);
            widget.show();
            widget.activateWindow();
        }
    };

    void write(const QString& name, const QByteArray& data) {
        QDir().mkpath(QFileInfo(m_root.filePath(name)).path());
        QFile file(m_root.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    // The address the browser was started with; empty when it was not.
    QString openedAddress(int waitMs = 10000) {
        QDeadlineTimer deadline(waitMs);
        while (!QFile::exists(argvFile()) && !deadline.hasExpired())
            QTest::qWait(10);
        QFile f(argvFile());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const QByteArray data = f.readAll();
        QFile::remove(argvFile());
        return QString::fromUtf8(data);
    }

    static bool drawnIn(QWidget* w, const QColor& color) {
        const QImage image = w->grab().toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y).rgb() == color.rgb())
                    return true;
        return false;
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_root.isValid());
        write(QStringLiteral("browser"),
              "#!/bin/sh\nprintf '%s' \"$1\" > \"$FAKE_OUT.part\" && mv \"$FAKE_OUT.part\" "
              "\"$FAKE_OUT\"\n");
        QFile::setPermissions(m_root.filePath(QStringLiteral("browser")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray browser = m_root.filePath(QStringLiteral("browser")).toUtf8();
        write(QStringLiteral("data/applications/fake.desktop"),
              "[Desktop Entry]\nType=Application\nName=Fake\nExec=" + browser + " %u\n");
        write(QStringLiteral("data/applications/nowhere.desktop"),
              "[Desktop Entry]\nType=Application\nName=Nowhere\nExec=" + browser +
                  " %u\nPath=" + m_root.filePath(QStringLiteral("no-such-folder")).toUtf8() + "\n");
        write(QStringLiteral("config/mimeapps.list"),
              "[Default Applications]\nx-scheme-handler/https=fake.desktop\n"
              "x-scheme-handler/ftp=nowhere.desktop\n");
        qputenv("XDG_CONFIG_HOME", m_root.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_CONFIG_DIRS", m_root.filePath(QStringLiteral("none")).toUtf8());
        qputenv("XDG_DATA_HOME", m_root.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_DATA_DIRS", m_root.filePath(QStringLiteral("none")).toUtf8());
        qputenv("GIO_USE_VFS", "local");
        qputenv("DBUS_SESSION_BUS_ADDRESS",
                "unix:path=" + m_root.filePath(QStringLiteral("no-bus")).toUtf8());
        qputenv("FAKE_OUT", argvFile().toUtf8());
    }

    void init() {
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        MessageBox::shownTexts().clear();
        QFile::remove(argvFile());
    }

    void textAndTargetStandInForEachOther() {
        HyperLink onlyText(QStringLiteral("https://vantrel.example/"));
        QCOMPARE(onlyText.target(), QStringLiteral("https://vantrel.example/"));
        QCOMPARE(onlyText.toolTip(), onlyText.target());

        HyperLink onlyTarget;
        onlyTarget.setTarget(QStringLiteral("file:///opt/plexavo/index.html"));
        QCOMPARE(onlyTarget.text(), QStringLiteral("file:///opt/plexavo/index.html"));

        HyperLink both(QStringLiteral("Vantrel home page"));
        both.setTarget(QStringLiteral("file:///x/index.html"));
        QCOMPARE(both.text(), QStringLiteral("Vantrel home page"));
        QCOMPARE(both.toolTip(), QStringLiteral("file:///x/index.html"));

        QVERIFY(both.font().underline());
        QCOMPARE(both.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(both.focusPolicy(), Qt::StrongFocus);
        QCOMPARE(both.textFormat(), Qt::PlainText);
        QCOMPARE(both.size(), both.sizeHint()); // fitted to its text
    }

    void aClickOpensOnReleaseAndTheColoursFollowTheState() {
        Window w(QStringLiteral("Vantrel home page"),
                 QStringLiteral("https://vantrel.example/a b"));
        QVERIFY(QTest::qWaitForWindowActive(&w.widget));
        w.edit->setFocus();
        QTRY_VERIFY(w.edit->hasFocus());
        QCOMPARE(w.link->textColor(), HyperLink::kLinkColor);
        QVERIFY(drawnIn(w.link, HyperLink::kLinkColor));

        // Hovering changes nothing but the cursor and the tooltip.
        QTest::mouseMove(w.link, w.link->rect().center());
        QCOMPARE(w.link->textColor(), HyperLink::kLinkColor);

        QSignalSpy opened(w.link, &HyperLink::opened);
        QTest::mousePress(w.link, Qt::LeftButton, {}, w.link->rect().center());
        QVERIFY(w.link->hasFocus());
        QCOMPARE(w.link->textColor(), HyperLink::kArmedColor);
        QVERIFY(!QFile::exists(argvFile()));
        QTest::mouseRelease(w.link, Qt::LeftButton, {}, w.link->rect().center());
        QCOMPARE(openedAddress(), QStringLiteral("https://vantrel.example/a b"));
        QCOMPARE(opened.count(), 1);
        QVERIFY(w.link->isOpened());
        QCOMPARE(w.link->textColor(), HyperLink::kArmedColor); // still focused
        QVERIFY(drawnIn(w.link, HyperLink::kArmedColor));

        w.edit->setFocus();
        QTRY_VERIFY(!w.link->hasFocus());
        QCOMPARE(w.link->textColor(), HyperLink::kOpenedColor);
        QVERIFY(drawnIn(w.link, HyperLink::kOpenedColor));
        QVERIFY(MessageBox::shownTexts().isEmpty());
    }

    void aReleaseOffTheLinkOpensNothing() {
        Window w(QStringLiteral("link"), QStringLiteral("https://x.example/"));
        QVERIFY(QTest::qWaitForWindowActive(&w.widget));
        QTest::mousePress(w.link, Qt::LeftButton, {}, w.link->rect().center());
        QTest::mouseRelease(w.link, Qt::LeftButton, {},
                            w.link->rect().bottomRight() + QPoint(40, 40));
        QTest::qWait(300);
        QVERIFY(!QFile::exists(argvFile()));
        QVERIFY(!w.link->isOpened());
    }

    void theSpaceBarOpensOtherKeysDoNot() {
        Window w(QStringLiteral("link"), QStringLiteral("https://keys.example/"));
        QVERIFY(QTest::qWaitForWindowActive(&w.widget));
        w.edit->setFocus();
        QTest::keyClick(w.edit, Qt::Key_Backtab); // back to the link, by keyboard alone
        QTRY_VERIFY(w.link->hasFocus());
        QCOMPARE(w.link->textColor(), HyperLink::kArmedColor);
        QTest::keyClick(w.link, Qt::Key_A);
        QTest::keyClick(w.link, Qt::Key_Return);
        QTest::qWait(300);
        QVERIFY(!QFile::exists(argvFile()));
        QTest::keyClick(w.link, Qt::Key_Space);
        QCOMPARE(openedAddress(), QStringLiteral("https://keys.example/"));
    }

    void aFailedOpenBeepsAndSaysWhy() {
        Window w(QStringLiteral("link"), QStringLiteral("gopher://nowhere.example/"));
        QVERIFY(QTest::qWaitForWindowActive(&w.widget));
        QSignalSpy opened(w.link, &HyperLink::opened);
        QTest::mouseClick(w.link, Qt::LeftButton, {}, w.link->rect().center());
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral("Can't open link:\n\nThere is no application "
                                            "associated\nwith the given filename extension.")});
        QVERIFY(!w.link->isOpened());
        QCOMPARE(opened.count(), 0);
        w.edit->setFocus();
        QTRY_COMPARE(w.link->textColor(), HyperLink::kLinkColor);

        // A handler that cannot be started says why.
        MessageBox::shownTexts().clear();
        w.link->setTarget(QStringLiteral("ftp://nowhere.example/"));
        QTest::mouseClick(w.link, Qt::LeftButton, {}, w.link->rect().center());
        QCOMPARE(
            MessageBox::shownTexts(),
            QStringList{QStringLiteral("Can't open link:\n\nThe specified path was not found.")});
        QVERIFY(!w.link->isOpened());
        QVERIFY(!QFile::exists(argvFile()));
    }

    void everyFailureHasItsText() {
        QCOMPARE(HyperLink::errorText(OpenResult::NoHandler),
                 QStringLiteral("Can't open link:\n\nThere is no application associated\nwith "
                                "the given filename extension."));
        QCOMPARE(HyperLink::errorText(OpenResult::OutOfResources),
                 QStringLiteral(
                     "Can't open link:\n\nThe operating system is out\nof memory or resources."));
        QCOMPARE(HyperLink::errorText(OpenResult::FileNotFound),
                 QStringLiteral("Can't open link:\n\nThe specified file was not found."));
        QCOMPARE(
            HyperLink::errorText(OpenResult::AccessDenied),
            QStringLiteral(
                "Can't open link:\n\nThe operating system denied\naccess to the specified file."));
        QCOMPARE(HyperLink::errorText(OpenResult::PathNotFound),
                 QStringLiteral("Can't open link:\n\nThe specified path was not found."));
        QCOMPARE(HyperLink::errorText(OpenResult::OutOfMemory),
                 QStringLiteral(
                     "Can't open link:\n\nThere was not enough memory to complete the operation."));
        QCOMPARE(HyperLink::errorText(OpenResult::BadFormat),
                 QStringLiteral("Can't open link:\n\nThe .EXE file is invalid\n(non-Win32 .EXE or "
                                "error in .EXE image)."));
        QCOMPARE(HyperLink::errorText(OpenResult::BadHandler),
                 QStringLiteral(
                     "Can't open link:\n\nThe filename association is\nincomplete or invalid."));
        QVERIFY(HyperLink::errorText(OpenResult::Started).isEmpty());
    }

    void screenReadersSeeALinkTheyCanPress() {
        Window w(QStringLiteral("Vantrel home page"), QStringLiteral("https://a11y.example/"));
        QVERIFY(QTest::qWaitForWindowExposed(&w.widget));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w.link);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::Link);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Vantrel home page"));
        QCOMPARE(iface->text(QAccessible::Description), QStringLiteral("https://a11y.example/"));
        QVERIFY(iface->state().focusable);
        QVERIFY(!iface->state().traversed);
        QAccessibleActionInterface* actions = iface->actionInterface();
        QVERIFY(actions);
        QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
        actions->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(openedAddress(), QStringLiteral("https://a11y.example/"));
        QVERIFY(iface->state().traversed);
    }

    void aDialogFontStaysUnderlined() {
        HyperLink link(QStringLiteral("link"));
        QFont plain = link.font();
        plain.setUnderline(false);
        plain.setPointSize(plain.pointSize() + 6);
        link.setFont(plain);
        QVERIFY(link.font().underline());
        QCOMPARE(link.size(), link.sizeHint());
    }

    void picture() {
        // For a look by eye: PLEXAVO_SHOTS=<folder> saves the three states.
        const QByteArray folder = qgetenv("PLEXAVO_SHOTS");
        if (folder.isEmpty())
            QSKIP("set PLEXAVO_SHOTS to save pictures");
        Window w(QStringLiteral("Vantrel home page"), QStringLiteral("https://x.example/"));
        QVERIFY(QTest::qWaitForWindowActive(&w.widget));
        w.edit->setFocus();
        QTRY_VERIFY(w.edit->hasFocus());
        w.widget.grab().save(QString::fromUtf8(folder) + QStringLiteral("/hyperlink-new.png"));
        w.link->setFocus();
        QTRY_VERIFY(w.link->hasFocus());
        w.widget.grab().save(QString::fromUtf8(folder) + QStringLiteral("/hyperlink-armed.png"));
    }
};

QTEST_MAIN(TestHyperLink)
#include "test_hyperlink.moc"
