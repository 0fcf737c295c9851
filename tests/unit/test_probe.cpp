#include "engine/media/SourceItem.h"

#include "FakeCore.h"

#include "engine/platform/DebugLog.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <vector>

using plexavo::media::kProbeFailed;
using plexavo::media::SourceItem;
using namespace testing_support;

namespace {

const char kTypicalOutput[] =
    "Plexcore 1.0 encoder core\n"
    "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from '/media/clip.mp4':\n"
    "  Duration: 01:02:03.99, start: 0.000000, bitrate: 512 kb/s\n"
    "    Stream #0.0(und): Video: h264 (High), yuv420p, 1280x720 [SAR 1:1 DAR 16:9], 380 kb/s, 25 "
    "fps\r\n"
    "    Stream #0.1(eng): Audio: aac (LC), 44100 Hz, stereo, fltp, 128 kb/s\n"
    "    Stream #0.2(fre): Audio: ac3, 48000 Hz, 5.1(side), fltp, 384 kb/s\n"
    "At least one output file must be specified\n";

} // namespace

TEST(ProbeParse, ReadsDurationBitRateAndTheLastStreamOfEachKind) {
    SourceItem item;
    EXPECT_EQ(item.parseProbeOutput("/media/clip.mp4", kTypicalOutput), 0);
    EXPECT_EQ(item.durationSeconds, 3723);
    EXPECT_EQ(item.durationText, "01:02:03.99 (3723 s)");
    EXPECT_EQ(item.bitrateText, "512 kb/s");
    EXPECT_EQ(item.videoDescription,
              " h264 (High), yuv420p, 1280x720 [SAR 1:1 DAR 16:9], 380 kb/s, 25 fps\r");
    EXPECT_EQ(item.audioDescription, " ac3, 48000 Hz, 5.1(side), fltp, 384 kb/s");
    EXPECT_EQ(item.startSeconds, 0u);
    EXPECT_EQ(item.endSeconds, 3723u);
    EXPECT_EQ(item.path, "/media/clip.mp4");
    EXPECT_EQ(item.extension, "mp4");
    EXPECT_EQ(item.title, "clip");
    EXPECT_EQ(item.displayName(), "clip.mp4");
}

TEST(ProbeParse, DurationsThatDoNotCount) {
    SourceItem shortClip;
    EXPECT_EQ(shortClip.parseProbeOutput(
                  "/a/b.wav", "  Duration: 00:00:00.80, start: 0.000000, bitrate: 1411 kb/s\n"),
              kProbeFailed)
        << "under one second cannot be added";
    EXPECT_EQ(shortClip.durationSeconds, 0);
    EXPECT_EQ(shortClip.durationText, "00:00:00.80 (0 s)");

    // Not a duration at all: the bit rate must not be mistaken for seconds.
    SourceItem unknown;
    EXPECT_EQ(unknown.parseProbeOutput("/a/b.ts",
                                       "  Duration: N/A, start: 0.000000, bitrate: 512 kb/s\n"
                                       "    Stream #0.0: Video: mpeg2video, yuv420p, 720x576\n"),
              kProbeFailed);
    EXPECT_EQ(unknown.durationSeconds, 0);
    EXPECT_EQ(unknown.durationText, "0 (0 s)");
    EXPECT_EQ(unknown.videoDescription, " mpeg2video, yuv420p, 720x576")
        << "streams are still read";

    SourceItem noLineFeed;
    EXPECT_EQ(
        noLineFeed.parseProbeOutput("/a/b.ts", "  Duration: 00:10:00.00, start: 0.0, bitrate: 5"),
        kProbeFailed);
    EXPECT_TRUE(noLineFeed.durationText.empty());

    SourceItem banner;
    EXPECT_EQ(banner.parseProbeOutput("/a/b.ts", "Plexcore 1.0 encoder core\n"), kProbeFailed);
    SourceItem nothing;
    EXPECT_EQ(nothing.parseProbeOutput("/a/b.ts", ""), kProbeFailed);
}

TEST(ProbeParse, StreamLineCutByTheReadLimitEndsTheScan) {
    SourceItem item;
    EXPECT_EQ(item.parseProbeOutput("/a/b.mkv",
                                    "  Duration: 00:00:05.00, start: 0.000000, bitrate: N/A\n"
                                    "    Stream #0.0: Video: vp9, yuv420p, 320x240\n"
                                    "    Stream #0.1: Audio: opus, 48000 Hz, stereo\n"
                                    "    Stream #0.2: Video: mjpeg, yuvj420p, 600x600, 90k tb"),
              0);
    EXPECT_EQ(item.durationSeconds, 5);
    EXPECT_EQ(item.bitrateText, "N/A kb/s");
    EXPECT_EQ(item.videoDescription, " vp9, yuv420p, 320x240");
    EXPECT_EQ(item.audioDescription, " opus, 48000 Hz, stereo");
}

TEST(ProbeParse, PathSplit) {
    SourceItem noDot;
    noDot.parseProbeOutput("/media/README", "");
    EXPECT_EQ(noDot.extension, "");
    EXPECT_EQ(noDot.title, "README");
    EXPECT_EQ(noDot.displayName(), "README.");

    // A dotted folder does not lend the file an extension.
    SourceItem dottedFolder;
    dottedFolder.parseProbeOutput("/media/my.films/clip", "");
    EXPECT_EQ(dottedFolder.extension, "");
    EXPECT_EQ(dottedFolder.title, "clip");

    SourceItem noFolder;
    noFolder.parseProbeOutput("clip.avi", "");
    EXPECT_EQ(noFolder.extension, "avi");
    EXPECT_EQ(noFolder.title, "") << "without a folder separator the title stays empty";

    SourceItem root;
    root.parseProbeOutput("/clip.two.avi", "");
    EXPECT_EQ(root.title, "clip.two");
    EXPECT_EQ(root.extension, "avi");
}

TEST(SourceItem, TheCopyAViewRebuildMakesKeepsThePartTheStateAndTheProbeTexts) {
    // A language switch rebuilds the main view from whole copies of its
    // items: the information box must go on describing the file.
    SourceItem item;
    item.parseProbeOutput("/media/clip.mp4", kTypicalOutput);
    item.startSeconds = 30;
    item.endSeconds = 90;
    item.status = plexavo::media::kStatusDone;
    item.converted = true;
    item.assignOutputName("/out", "mp4", "cvt");
    const auto copy = std::make_unique<SourceItem>(item);
    EXPECT_EQ(copy->path, item.path);
    EXPECT_EQ(copy->title, "clip");
    EXPECT_EQ(copy->durationSeconds, 3723);
    EXPECT_EQ(copy->startSeconds, 30u);
    EXPECT_EQ(copy->endSeconds, 90u);
    EXPECT_EQ(copy->status, plexavo::media::kStatusDone);
    EXPECT_TRUE(copy->converted);
    EXPECT_EQ(copy->outputFilePath(), "/out/clip-cvt.mp4");
    EXPECT_EQ(copy->outputFileName(), "clip-cvt.mp4");
    EXPECT_EQ(copy->durationText, "01:02:03.99 (3723 s)");
    EXPECT_EQ(copy->bitrateText, item.bitrateText);
    EXPECT_EQ(copy->videoDescription, item.videoDescription);
    EXPECT_EQ(copy->audioDescription, item.audioDescription);
}

TEST(SourceItem, OrdinaryCopiesAndMovesKeepEveryField) {
    static_assert(std::is_nothrow_move_constructible_v<SourceItem>);
    SourceItem item;
    item.parseProbeOutput("/media/clip.mp4", kTypicalOutput);
    item.status = plexavo::media::kStatusError;
    const SourceItem copy(item);
    EXPECT_EQ(copy.durationText, item.durationText);
    EXPECT_EQ(copy.bitrateText, "512 kb/s");
    EXPECT_EQ(copy.videoDescription, item.videoDescription);
    EXPECT_EQ(copy.audioDescription, item.audioDescription);
    EXPECT_EQ(copy.status, plexavo::media::kStatusError);

    SourceItem assigned;
    assigned = item;
    EXPECT_EQ(assigned.audioDescription, item.audioDescription);

    // A growing container moves or copies its items: nothing may get lost.
    std::vector<SourceItem> items;
    for (int i = 0; i < 50; ++i)
        items.push_back(item);
    for (const auto& each : items)
        ASSERT_EQ(each.durationText, "01:02:03.99 (3723 s)");
    SourceItem moved(std::move(items.front()));
    EXPECT_EQ(moved.videoDescription, item.videoDescription);
}

TEST(ProbeParse, ADurationBeyondTheItemsFieldIsAFailedProbe) {
    TempDir dir;
    plexavo::platform::setLogPath(dir / "log");
    // 1e13 ms, as a damaged container claimed: 2777777 h 46 min 40 s.
    SourceItem huge;
    EXPECT_EQ(huge.parseProbeOutput("/m/a.flv", "  Duration: 2777777:46:40.00, start: 0.000000, "
                                                "bitrate: 1 kb/s\n"),
              kProbeFailed);
    EXPECT_EQ(huge.durationSeconds, 0);
    EXPECT_EQ(huge.endSeconds, 0u);
    EXPECT_EQ(huge.durationText, "0 (0 s)") << "never a wrapped value";
    // Just past the signed 32-bit range, and far past any integer.
    SourceItem past;
    EXPECT_EQ(past.parseProbeOutput("/m/a.ts",
                                    "  Duration: 596524:00:00.00, start: 0, bitrate: 1 kb/s\n"),
              kProbeFailed);
    SourceItem digits;
    EXPECT_EQ(digits.parseProbeOutput("/m/a.ts", "  Duration: 99999999999999999999999999:00:00.00, "
                                                 "start: 0, bitrate: 1 kb/s\n"),
              kProbeFailed);
    SourceItem negative;
    EXPECT_EQ(negative.parseProbeOutput("/m/a.ts",
                                        "  Duration: -01:00:00.00, start: 0, bitrate: 1 kb/s\n"),
              kProbeFailed);
    // The largest length that fits is still a length.
    SourceItem largest;
    EXPECT_EQ(largest.parseProbeOutput("/m/a.ts",
                                       "  Duration: 596523:14:07.00, start: 0, bitrate: 1 kb/s\n"),
              0);
    EXPECT_EQ(largest.durationSeconds, 2147483647);
    EXPECT_EQ(largest.endSeconds, 2147483647u);
    plexavo::platform::setLogPath("");
    EXPECT_NE(readFile(dir / "log").find("2777777:46:40.00 of /m/a.flv is out of range"),
              std::string::npos);
}

TEST(Probe, RunsTheCoreWithTheFileAsItsOnlyInput) {
    TempDir dir;
    const std::string argvFile = dir / "argv";
    EnvGuard argvTarget("SCRIPTED_ARGV_FILE", argvFile);
    std::string escaped;
    for (char c : std::string(kTypicalOutput)) {
        if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '|' || c == '\\')
            escaped += std::string("\\") + c;
        else
            escaped += c;
    }
    {
        // The core's later output is never read: only the first chunk counts.
        FakeCore core("a|w:" + escaped +
                      "|s:300|w:  Duration: 09:09:09.00, start: 0, bitrate: 1 kb/s\\n|x:1");
        SourceItem item;
        const std::string file = "/media/-odd \"name\" été.mp4";
        EXPECT_EQ(item.probe(file), 0);
        EXPECT_EQ(item.durationSeconds, 3723);
        EXPECT_EQ(item.title, "-odd \"name\" été");
        EXPECT_EQ(readFile(argvFile).substr(readFile(argvFile).find('\0') + 1),
                  std::string(plexavo::contract::kAccessCode) + std::string("\0-i\0", 4) + file +
                      std::string(1, '\0'));
    }
    {
        FakeCore core("x:0");
        plexavo::platform::setCoreFolder(core.dir() / "nowhere");
        SourceItem item;
        EXPECT_EQ(item.probe("/media/clip.mp4"), kProbeFailed) << "no core, no duration";
        EXPECT_EQ(item.title, "clip");
    }
    EXPECT_EQ(SourceItem::probeCommandLine("/m/a.mp4"),
              std::string("Plexcore") + plexavo::contract::kAccessCode + " -i \"/m/a.mp4\"");
}

// The probe waits for the core's answer by the core's own work, not by the
// wall clock: at idle priority on a busy machine a good file may take long.
TEST(Probe, GivesUpOnTheCoresWorkNotOnTheWallClock) {
    TempDir dir;
    plexavo::platform::setLogPath(dir / "log");
    const char* answer = "w:  Duration: 00:00:05.00, start: 0.000000, bitrate: 64 kb/s\\n";
    plexavo::media::ProbeLimits limits;
    limits.cpuMs = 100;
    limits.stallMs = 5000;
    {
        // Asleep (as a starved core would be, to the wall clock) for longer
        // than the processor budget, then it answers: accepted.
        FakeCore core(std::string("s:800|") + answer + "|x:1");
        SourceItem item;
        EXPECT_EQ(item.probe("/m/slow.mp4", limits), 0);
        EXPECT_EQ(item.durationSeconds, 5);
    }
    {
        // Spinning without a word: given up once it has used its budget (at
        // idle priority that may take a while on a busy machine, which is
        // the point).
        FakeCore core(std::string("b:60000|") + answer + "|x:1");
        SourceItem item;
        EXPECT_EQ(item.probe("/m/spin.mp4", limits), kProbeFailed);
    }
    {
        // Asleep without any progress for the stall limit: given up too.
        limits.stallMs = 400;
        FakeCore core(std::string("s:20000|") + answer + "|x:1");
        SourceItem item;
        EXPECT_EQ(item.probe("/m/stuck.mp4", limits), kProbeFailed);
    }
    plexavo::platform::setLogPath("");
    const std::string log = readFile(dir / "log");
    EXPECT_NE(log.find("of processor time on /m/spin.mp4 without an answer"), std::string::npos)
        << log;
    EXPECT_NE(log.find("made no progress on /m/stuck.mp4"), std::string::npos) << log;
    EXPECT_EQ(log.find("slow.mp4 without"), std::string::npos) << log;
}

// What is not a regular file is refused before a core is started: the core
// would block opening a pipe that has no writer, and the caller with it.
TEST(Probe, RefusesWhatIsNotARegularFileWithoutStartingTheCore) {
    TempDir dir;
    const std::string argvFile = dir / "argv";
    EnvGuard argvTarget("SCRIPTED_ARGV_FILE", argvFile);
    FakeCore core("a|w:  Duration: 00:00:05.00, start: 0.000000, bitrate: 64 kb/s\\n|x:1");
    const std::string fifo = dir / "pipe.mp4";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir / "folder.mp4";
    std::filesystem::create_directory(folder);
    const std::string socketPath = dir / "sock.mp4";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string linkToPipe = dir / "link.mp4";
    std::filesystem::create_symlink(fifo, linkToPipe);

    const std::pair<std::string, std::string> cases[] = {
        {fifo, "named pipe"},   {linkToPipe, "named pipe"}, {folder, "folder"},
        {socketPath, "socket"}, {"/dev/null", "device"},
    };
    for (const auto& [path, words] : cases) {
        SourceItem item;
        EXPECT_EQ(item.probe(path), kProbeFailed) << path;
        EXPECT_NE(item.report.error.find(words), std::string::npos) << item.report.error;
        EXPECT_NE(item.report.error.find(path), std::string::npos) << item.report.error;
        EXPECT_EQ(plexavo::media::probeFailureReason(item.report), item.report.error);
        EXPECT_EQ(item.durationSeconds, 0);
    }
    ::close(sock);
    EXPECT_FALSE(std::filesystem::exists(argvFile)) << "a core was started";

    // A regular file still goes to the core.
    const std::string clip = dir / "clip.mp4";
    writeFile(clip, "data");
    SourceItem item;
    EXPECT_EQ(item.probe(clip), 0);
    EXPECT_TRUE(item.report.error.empty());
    EXPECT_TRUE(std::filesystem::exists(argvFile));
}

// A stop asked for (by a signal, on the command line) ends the probe in
// hand instead of waiting out a core that does not answer.
TEST(Probe, AStopEndsTheProbeInHand) {
    TempDir dir;
    const std::string argvFile = dir / "argv";
    EnvGuard argvTarget("SCRIPTED_ARGV_FILE", argvFile);
    std::atomic<bool> stop{true};
    plexavo::media::ProbeLimits limits;
    limits.stop = &stop;
    {
        FakeCore core("a|x:0");
        SourceItem item;
        EXPECT_EQ(item.probe("/m/never.mp4", limits), kProbeFailed);
        EXPECT_FALSE(std::filesystem::exists(argvFile)) << "no core once a stop was asked for";
    }
    stop = false;
    {
        // Asleep far beyond both limits: only the stop can end the wait.
        limits.cpuMs = 600000;
        limits.stallMs = 600000;
        FakeCore core("a|s:600000|w:  Duration: 00:00:05.00, start: 0, bitrate: 1 kb/s\\n|x:1");
        // The stop comes once the core runs (on a loaded machine that may take a while).
        std::thread stopper([&stop, &argvFile] {
            for (int i = 0; i < 1000 && !std::filesystem::exists(argvFile); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            stop = true;
        });
        SourceItem item;
        EXPECT_EQ(item.probe("/m/asleep.mp4", limits), kProbeFailed);
        stopper.join();
        EXPECT_TRUE(std::filesystem::exists(argvFile)) << "the core was started";
    }
}
