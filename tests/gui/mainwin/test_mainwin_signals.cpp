// The window stopped by SIGTERM, SIGINT or SIGHUP, each test a separate
// program run with the real core: a running batch ends as Cancel All ends it
// (the core asked to stop and waited for, its file playable), nothing the
// program started is left running, and it exits with 128 + the signal, also
// when only a question or a detection pass is on the screen. The programs
// lead a session of their own, so all they started can be found in /proc.
#include "engine/settings/StoredSettings.h"
#include "support/BatchTestSupport.h"

#include "Process.h"
#include "TestSupport.h"

#include <QStringList>
#include <QTest>

#include <chrono>
#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

using namespace plexavo;
using namespace plexavo::testing;
using namespace testing_support;

namespace {

const std::string kBin = PLEXAVO_BIN_FOLDER;

// One run's folders: settings (the help window hidden, the output folder
// stored), output and the debug log.
struct Workspace {
    TempDir dir;
    std::string config = dir / "config";
    std::string out = dir / "out";
    std::string log = dir / "plexavo.log";

    Workspace() {
        fs::create_directories(config);
        fs::create_directories(out);
        EnvGuard env("PLEXAVO_CONFIG_DIR", config);
        settings::writeToolTipsHidden();
        settings::writeOutputPath(out + "/");
    }

    SpawnOptions options() const {
        SpawnOptions o;
        o.newSession = true;
        // A state folder of its own: a run a signal ended leaves its list
        // there, which the next start would offer.
        o.env = {"PLEXAVO_CONFIG_DIR=" + config, "PLEXAVO_LOG=" + log,
                 "XDG_STATE_HOME=" + (dir / "state")};
        return o;
    }

    std::string logText() const { return readFile(log); }

    std::vector<std::string> outputs() const {
        std::vector<std::string> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(out, ec))
            files.push_back(entry.path().string());
        return files;
    }
};

// Waits (pumping the program's output so it never blocks on a full pipe)
// until `ready` holds; false after timeoutMs.
template <typename Ready> bool waitFor(Child& child, int timeoutMs, Ready ready) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (ready())
            return true;
        if (child.wait(0))
            return ready();
        child.pump(50);
    }
    return false;
}

// The signals a process catches, from /proc: the program is ready for a stop
// signal once it catches all three.
bool catchesStopSignals(pid_t pid) {
    std::istringstream in(readProcFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("SigCgt:", 0) != 0)
            continue;
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        auto bit = [](int sig) { return 1ULL << (sig - 1); };
        const unsigned long long wanted = bit(SIGTERM) | bit(SIGINT) | bit(SIGHUP);
        return (mask & wanted) == wanted;
    }
    return false;
}

// The ignored and blocked signal sets of a process, from /proc.
unsigned long long signalSet(pid_t pid, const std::string& name) {
    std::istringstream in(readProcFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + ":", 0) == 0)
            return std::stoull(line.substr(name.size() + 1), nullptr, 16);
    return ~0ULL;
}

// argv run as a service manager or a careless script may start it: SIGCHLD
// ignored, and the stop signals (and SIGCHLD) blocked.
std::vector<std::string> asACarelessParentStartsIt(std::vector<std::string> argv) {
    argv.insert(argv.begin(),
                {"perl", "-MPOSIX", "-e",
                 "$SIG{CHLD} = 'IGNORE'; "
                 "sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGTERM, SIGINT, SIGHUP, SIGCHLD)) "
                 "or die; exec @ARGV or die"});
    return argv;
}

std::vector<SessionProcess> cores(pid_t session) {
    std::vector<SessionProcess> found;
    for (const auto& p : processesInSession(session))
        if (p.name == "Plexcore")
            found.push_back(p);
    return found;
}

QString describe(const std::vector<SessionProcess>& processes) {
    QStringList names;
    for (const auto& p : processes)
        names << QStringLiteral("%1 %2 (%3)")
                     .arg(p.pid)
                     .arg(QString::fromStdString(p.name))
                     .arg(QLatin1Char(p.state));
    return names.join(QStringLiteral(", "));
}

// Sends the signal as its usual sender does: `kill` to the program, a
// terminal to its whole foreground group.
void deliver(pid_t pid, int sig, bool toGroup) {
    ::kill(toGroup ? -pid : pid, sig);
}

struct Ending {
    bool exited = false;
    int exitCode = -1;
    double seconds = 0;
};

// Signals the program and waits for it to end; what is left of what it
// started is checked by the caller.
Ending stopWith(Child& child, int sig, bool toGroup, int timeoutMs = 150000) {
    const auto start = Clock::now();
    deliver(child.pid(), sig, toGroup);
    Ending ending;
    ending.exited = waitFor(child, timeoutMs, [&] { return child.exited(); });
    ending.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ending.exitCode = child.exitCode();
    return ending;
}

} // namespace

class TestMainWinSignals : public QObject {
    Q_OBJECT

    TempDir m_media;
    std::string m_long;  // long enough that a batch on it is still running when stopped
    std::string m_short; // probes and converts in a moment
    static constexpr int kLongSeconds = 60;

  private slots:
    void initTestCase() {
        m_long = m_media / "long clip.mp4";
        m_short = m_media / "short.mp4";
        QString error;
        QVERIFY2(makeClip(QString::fromStdString(m_long), kLongSeconds, QStringLiteral("640x480"),
                          &error),
                 qPrintable(error));
        QVERIFY2(makeClip(QString::fromStdString(m_short), 2, QStringLiteral("160x120"), &error),
                 qPrintable(error));
    }

    void aRunningBatchEndsAsCancelAllAndTheProgramExits_data() {
        QTest::addColumn<int>("sig");
        QTest::addColumn<bool>("toGroup");
        QTest::newRow("SIGTERM to the program") << int(SIGTERM) << false;
        QTest::newRow("SIGINT to its group (Ctrl+C)") << int(SIGINT) << true;
        QTest::newRow("SIGHUP to its group (hang-up)") << int(SIGHUP) << true;
    }

    void aRunningBatchEndsAsCancelAllAndTheProgramExits() {
        QFETCH(int, sig);
        QFETCH(bool, toGroup);
        Workspace ws;
        Child program({kBin + "plexavo_convert_at_start", m_long}, ws.options());
        QVERIFY(program.started());

        // Running: a core converting, and its file growing.
        std::set<pid_t> seen;
        const bool running = waitFor(program, 180000, [&] {
            for (const auto& core : cores(program.pid()))
                seen.insert(core.pid);
            for (const auto& file : ws.outputs())
                if (fileSize(file) > 64 * 1024 && !cores(program.pid()).empty())
                    return true;
            return false;
        });
        QVERIFY2(running, (program.out + ws.logText()).c_str());

        const Ending ending = stopWith(program, sig, toGroup);
        qInfo("%s: exit status %d, %.2f s after the signal", strsignal(sig), ending.exitCode,
              ending.seconds);
        QVERIFY2(ending.exited, "still running");
        QCOMPARE(ending.exitCode, 128 + sig);
        // Nothing it started outlives it, whatever process group it is in.
        const auto left = processesInSession(program.pid());
        QVERIFY2(left.empty(), qPrintable(describe(left)));
        for (pid_t pid : seen)
            QVERIFY(!fileExists("/proc/" + std::to_string(pid)));

        // The core was stopped, not killed: what it wrote plays, shorter than the clip.
        const auto files = ws.outputs();
        QCOMPARE(files.size(), std::size_t(1));
        const double seconds = probeDuration(QString::fromStdString(files[0]));
        QVERIFY2(seconds > 0.5 && seconds < kLongSeconds - 1, qPrintable(QString::number(seconds)));
        QString complaints;
        QVERIFY2(decodesCleanly(QString::fromStdString(files[0]), &complaints),
                 qPrintable(complaints));
        const std::string log = ws.logText();
        QVERIFY2(log.find("Signal " + std::to_string(sig) + ": stopping the work") !=
                     std::string::npos,
                 log.c_str());
    }

    // A parent's SIGCHLD set to be ignored and its blocked signals are set
    // back: the window still hears a stop, and a core killed from outside is
    // a failure, never a converted file.
    void aCarelessParentsSignalSettingsAreSetBack() {
        auto bit = [](int sig) { return 1ULL << (sig - 1); };
        {
            Workspace ws;
            Child program(asACarelessParentStartsIt({kBin + "plexavo"}), ws.options());
            QVERIFY(program.started());
            QVERIFY(waitFor(program, 60000, [&] { return catchesStopSignals(program.pid()); }));
            QCOMPARE(signalSet(program.pid(), "SigIgn") & bit(SIGCHLD), 0ULL);
            QCOMPARE(signalSet(program.pid(), "SigBlk"), 0ULL);
            const Ending ending = stopWith(program, SIGTERM, false, 30000);
            QVERIFY2(ending.exited, "the stop was never heard");
            QCOMPARE(ending.exitCode, 128 + SIGTERM);
        }
        Workspace ws;
        Child program(asACarelessParentStartsIt({kBin + "plexavo_convert_at_start", m_long}),
                      ws.options());
        QVERIFY(program.started());
        pid_t core = 0;
        const bool running = waitFor(program, 180000, [&] {
            const auto found = cores(program.pid());
            for (const auto& file : ws.outputs())
                if (fileSize(file) > 64 * 1024 && !found.empty()) {
                    core = found.front().pid;
                    return true;
                }
            return false;
        });
        QVERIFY2(running, (program.out + ws.logText()).c_str());
        ::kill(core, SIGKILL);
        // The batch ends with the row failed and its report on the screen.
        QVERIFY2(waitFor(program, 60000,
                         [&] { return ws.logText().find("is failed.") != std::string::npos; }),
                 ws.logText().c_str());
        const std::string log = ws.logText();
        QVERIFY2(log.find("ended by signal 9") != std::string::npos ||
                     log.find("failed with exit code 137") != std::string::npos,
                 log.c_str());
        for (const auto& file : ws.outputs())
            QVERIFY2(file.find("-cvt.mp4") == std::string::npos, file.c_str());
        const Ending ending = stopWith(program, SIGTERM, false, 30000);
        QVERIFY(ending.exited);
        QVERIFY(processesInSession(program.pid()).empty());
    }

    void anIdleWindowOrAnOpenQuestionQuitsAtOnce_data() {
        QTest::addColumn<bool>("question");
        QTest::addColumn<int>("sig");
        QTest::newRow("idle, SIGTERM") << false << int(SIGTERM);
        QTest::newRow("failure report up, SIGINT") << true << int(SIGINT);
        QTest::newRow("failure report up, SIGHUP") << true << int(SIGHUP);
    }

    void anIdleWindowOrAnOpenQuestionQuitsAtOnce() {
        QFETCH(bool, question);
        QFETCH(int, sig);
        Workspace ws;
        std::vector<std::string> argv{kBin + "plexavo"};
        if (question) // a file that fails its probe: the report waits for OK
            argv.push_back(ws.dir / "not media.mp4");
        if (question)
            writeFile(argv.back(), "not a media file");
        Child program(argv, ws.options());
        QVERIFY(program.started());
        QVERIFY(waitFor(program, 60000, [&] {
            if (!catchesStopSignals(program.pid()))
                return false;
            if (!question)
                return true;
            // The probe has run and ended: the report is on the screen.
            return ws.logText().find("Plexcore") != std::string::npos &&
                   cores(program.pid()).empty();
        }));
        if (question)
            QTest::qWait(500);

        const Ending ending = stopWith(program, sig, false, 30000);
        qInfo("%s: exit status %d, %.3f s after the signal", strsignal(sig), ending.exitCode,
              ending.seconds);
        QVERIFY2(ending.exited, "a question kept the program alive");
        QCOMPARE(ending.exitCode, 128 + sig);
        QVERIFY(processesInSession(program.pid()).empty());
    }

    void aDetectionPassStopsAfterTheFileInHand() {
        Workspace ws;
        constexpr int kFiles = 100;
        std::vector<std::string> argv{kBin + "plexavo"};
        for (int i = 0; i < kFiles; ++i) {
            argv.push_back(ws.dir / ("copy" + std::to_string(i) + ".mp4"));
            fs::create_hard_link(m_short, argv.back());
        }
        Child program(argv, ws.options());
        QVERIFY(program.started());
        QVERIFY(waitFor(program, 60000,
                        [&] { return ws.logText().find("load 3/100:") != std::string::npos; }));
        const Ending ending = stopWith(program, SIGTERM, false, 60000);
        qInfo("SIGTERM during detection: exit status %d, %.3f s after the signal", ending.exitCode,
              ending.seconds);
        QVERIFY(ending.exited);
        QCOMPARE(ending.exitCode, 128 + SIGTERM);
        QVERIFY(processesInSession(program.pid()).empty());
        // It stopped the pass rather than probing the rest first.
        const std::string log = ws.logText();
        QVERIFY2(log.find("load 100/100:") == std::string::npos, log.c_str());
    }

    void aNameThatIsNotUtf8ReachesTheCoreFromTheCommandLine() {
        Workspace ws;
        const std::string name = ws.dir / "clip-\xff\xfe.mp4";
        fs::copy_file(m_short, name);
        Child program({kBin + "plexavo", name}, ws.options());
        QVERIFY(program.started());
        // The probe found the file (only a probed file gets its row), by its very bytes.
        QVERIFY2(waitFor(program, 60000,
                         [&] {
                             return ws.logText().find("Set FileAudioFormat array index(0)") !=
                                    std::string::npos;
                         }),
                 ws.logText().c_str());
        QVERIFY(ws.logText().find("load 1/1:" + name + "\n") != std::string::npos);
        const Ending ending = stopWith(program, SIGTERM, false, 30000);
        QVERIFY(ending.exited);
        QCOMPARE(ending.exitCode, 128 + SIGTERM);
    }
};

QTEST_MAIN(TestMainWinSignals)
#include "test_mainwin_signals.moc"
