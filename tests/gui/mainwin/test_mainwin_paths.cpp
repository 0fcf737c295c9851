// What counts as a source file: the Add dialog's filters, folder expansion,
// and the program's command line (window files and the scripting front end).
#include "engine/media/SourcePaths.h"
#include "gui/common/UiText.h"
#include "gui/shell/CommandLine.h"
#include "gui/view/ConversionView.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace plexavo;

using plexavo::gui::ConversionView;
using plexavo::media::expandSourcePaths;
using plexavo::media::localPathsFromUriList;
using plexavo::media::matchesAnyPattern;
using plexavo::media::nameLostInConversion;
using plexavo::media::parseFilterList;

namespace {
void touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}
} // namespace

class TestMainWinPaths : public QObject {
    Q_OBJECT

  private slots:
    void filterListReadsAsTheAddDialogShowsIt() {
        const auto filters = parseFilterList(gui::str(61926).toStdString());
        QCOMPARE(filters.size(), std::size_t(7));
        QCOMPARE(filters[0].description, std::string("All Media Files"));
        QCOMPARE(filters[0].patterns.size(), std::size_t(47));
        QCOMPARE(filters[0].patterns.front(), std::string("*.3gp"));
        QCOMPARE(filters[0].patterns.back(), std::string("*.wmv"));
        QVERIFY(filters[1].description.rfind("Video Files (*.3gp; *.asf;", 0) == 0);
        QCOMPARE(filters[1].patterns.front(), std::string("*.asf"));
        QCOMPARE(filters[1].patterns[7], std::string(".mp4"));
        QCOMPARE(filters[6].description, std::string("All Files (*.*)"));
        QCOMPARE(filters[6].patterns, std::vector<std::string>{"*.*"});

        const QStringList dialog = ConversionView::sourceFileFilters();
        QCOMPARE(dialog.size(), 7);
        QVERIFY(dialog[0].startsWith(QStringLiteral("All Media Files (*.3gp *.acp ")));
        // The pattern listed without its star still finds MP4 files.
        QVERIFY(dialog[1].contains(QStringLiteral(" *.mov *.mp4 *.mpe ")));
        QCOMPARE(dialog[6], QStringLiteral("All Files (*.*) (*)"));
    }

    void patternsIgnoreCaseAndStarDotStarTakesEverything() {
        const std::vector<std::string> media{"*.mp4", "*.mov"};
        QVERIFY(matchesAnyPattern("CLIP0001.MP4", media));
        QVERIFY(matchesAnyPattern("a b.Mov", media));
        QVERIFY(!matchesAnyPattern("clip.mp4.part", media));
        QVERIFY(!matchesAnyPattern("mp4", media));
        QVERIFY(matchesAnyPattern("README", {"*.*"}));
    }

    void foldersExpandInPlaceAndOtherPathsPassThrough() {
        QTemporaryDir dir;
        touch(dir.filePath("z.mp3"));
        touch(dir.filePath("A.mov"));
        touch(dir.filePath("notes.txt"));
        QVERIFY(QFile::link(dir.filePath("A.mov"), dir.filePath("link.mp4")));
        QVERIFY(QDir(dir.path()).mkdir("empty"));
        const std::string folder = dir.path().toStdString();
        const auto out = expandSourcePaths(
            {"/missing/one.mp4", folder + "/", folder + "/empty", folder + "/notes.txt"},
            {"*.mp4", "*.mov", "*.mp3"});
        QCOMPARE(out, (std::vector<std::string>{"/missing/one.mp4", folder + "/A.mov",
                                                folder + "/link.mp4", folder + "/z.mp3",
                                                folder + "/notes.txt"}));
    }

    void aDroppedUriListDecodesToTheNamesBytes() {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        const std::string list = std::string("# a comment line\r\n") +
                                 "file:///m/clip-%FF%fe.mp4\r\n" // not UTF-8, any case
                                 "  file://localhost/m/a%20b%22c%22.mov  \r\n" // blanks around
                                 "FILE:/m/short%2Dform.mp4\n" // one slash, upper case
                                 "file://" +
                                 host +
                                 "/m/here.mp4\n" // this machine by name
                                 "file://elsewhere.example/m/there.mp4\n"
                                 "https://example.org/movie.mp4\n"
                                 "file:///m/with%23hash.mp4#fragment\n"
                                 "file:///m/cut%00here.mp4\n" // a NUL: no file name
                                 "file:///m/100%.mp4\n"       // a lone '%' stays
                                 "file:relative.mp4\n"
                                 "\n";
        QCOMPARE(localPathsFromUriList(list),
                 (std::vector<std::string>{"/m/clip-\xff\xfe.mp4", "/m/a b\"c\".mov",
                                           "/m/short-form.mp4", "/m/here.mp4", "/m/with#hash.mp4",
                                           "/m/100%.mp4"}));
        QVERIFY(localPathsFromUriList("").empty());
    }

    void onlyAMissingNameWithAReplacementCharacterCountsAsLost() {
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        const std::string replaced = folder + "/clip-\xEF\xBF\xBD.mp4"; // U+FFFD
        QVERIFY(nameLostInConversion(replaced));
        QVERIFY(
            !nameLostInConversion(folder + "/missing.mp4")); // plainly missing: the probe says so
        // A file really called so is a file like any other.
        touch(QString::fromStdString(replaced));
        QVERIFY(!nameLostInConversion(replaced));
    }

    void windowArgumentsAreFilesMadeAbsolute() {
        QTemporaryDir dir;
        touch(dir.filePath("-dash.mp4"));
        const QString saved = QDir::currentPath();
        QDir::setCurrent(dir.path());
        auto parsed = gui::parseWindowArguments({"clip.mp4", "-dash.mp4", "--", "--weird", ""});
        QDir::setCurrent(saved);
        QVERIFY2(parsed.error.empty(), parsed.error.c_str());
        const std::string base = QDir(dir.path()).canonicalPath().toStdString();
        QCOMPARE(parsed.files.size(), std::size_t(3));
        QCOMPARE(QDir(QString::fromStdString(parsed.files[0])).canonicalPath().isEmpty(),
                 true); // not there
        QCOMPARE(parsed.files[0].substr(parsed.files[0].size() - 9), std::string("/clip.mp4"));
        QVERIFY(parsed.files[1].front() == '/' && parsed.files[1].ends_with("/-dash.mp4"));
        QVERIFY(parsed.files[2].front() == '/' && parsed.files[2].ends_with("/--weird"));

        parsed = gui::parseWindowArguments({"a.mp4", "--frobnicate", "b.mp4"});
        QCOMPARE(parsed.error, std::string("--frobnicate"));
    }

    // Qt's own options go to QApplication alone, with their values; nothing
    // else reaches Qt, and a Qt option's value is never a file.
    void qtOptionsAreSetApartFromTheFiles() {
        auto parsed =
            gui::parseWindowArguments({"-platform", "offscreen", "/m/a.mp4", "--style=fusion",
                                       "-reverse", "-style", "/m/b.mp4", "--", "-platform", "x"});
        QVERIFY2(parsed.error.empty(), parsed.error.c_str());
        QCOMPARE(parsed.qtOptions,
                 (std::vector<std::string>{"-platform", "offscreen", "--style=fusion", "-reverse",
                                           "-style", "/m/b.mp4"}));
        QCOMPARE(parsed.files.size(), std::size_t(3));
        QCOMPARE(parsed.files.front(), std::string("/m/a.mp4"));
        QVERIFY(parsed.files[1].ends_with("/-platform") && parsed.files[2].ends_with("/x"));
        // A Qt option that lacks its value makes no sense.
        QCOMPARE(gui::parseWindowArguments({"a.mp4", "-platform"}).error, std::string("-platform"));
        parsed = gui::parseWindowArguments({"a.mp4", "-h"});
        QVERIFY(parsed.help && parsed.error.empty());
        QVERIFY(gui::parseWindowArguments({"--version"}).version);
    }

    void frontEndRunsOnlyWhenAskedFor() {
        auto run = [](std::vector<std::string> args) {
            args.insert(args.begin(), "plexavo");
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            return gui::runIfRequested(static_cast<int>(argv.size()), argv.data());
        };
        QVERIFY(!run({"clip.mp4"}).has_value());
        QVERIFY(!run({"--", "--probe"}).has_value()); // a file called "--probe"
        QVERIFY(!run({"-platform", "offscreen", "clip.mp4"}).has_value());
        QCOMPARE(run({"--help"}).value_or(-1), 0);
        QCOMPARE(run({"clip.mp4", "-h"}).value_or(-1), 0);
        QCOMPARE(run({"--version"}).value_or(-1), 0);
        // Decided before any window exists: a bad argument, or a mode that is not first.
        QCOMPARE(run({"--bogus", "clip.mp4"}).value_or(-1), 2);
        QCOMPARE(run({"clip.mp4", "--probe"}).value_or(-1), 2);
        QCOMPARE(run({"--probe", "--convert", "x.mp4"}).value_or(-1), 2);
        QCOMPARE(run({"--convert", "--out", "", "x.mp4"}).value_or(-1), 2);
        QCOMPARE(run({"--convert", "--size", "", "x.mp4"}).value_or(-1), 2);
        QCOMPARE(run({"--convert", "--size", "99", "x.mp4"}).value_or(-1), 2);
        QCOMPARE(run({"--probe", "--bogus", "x.mp4"}).value_or(-1), 2);
        QCOMPARE(run({"--probe"}).value_or(-1), 2); // nothing to probe
        QCOMPARE(run({"--probe", "/no/such/file.mp4"}).value_or(-1), 1);
    }
};

QTEST_MAIN(TestMainWinPaths)
#include "test_mainwin_paths.moc"
