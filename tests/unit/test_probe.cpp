#include "media/SourceItem.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using plexavo::CSourceItem;
using plexavo::kProbeFailed;
using namespace testing_support;

namespace {

const char kTypicalOutput[] =
    "Plexcore 1.0 encoder core\n"
    "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from '/media/clip.mp4':\n"
    "  Duration: 01:02:03.99, start: 0.000000, bitrate: 512 kb/s\n"
    "    Stream #0.0(und): Video: h264 (High), yuv420p, 1280x720 [SAR 1:1 DAR 16:9], 380 kb/s, 25 fps\r\n"
    "    Stream #0.1(eng): Audio: aac (LC), 44100 Hz, stereo, fltp, 128 kb/s\n"
    "    Stream #0.2(fre): Audio: ac3, 48000 Hz, 5.1(side), fltp, 384 kb/s\n"
    "At least one output file must be specified\n";

} // namespace

TEST(ProbeParse, ReadsDurationBitRateAndTheLastStreamOfEachKind) {
    CSourceItem item;
    EXPECT_EQ(item.parseProbeOutput("/media/clip.mp4", kTypicalOutput), 0);
    EXPECT_EQ(item.durationSeconds, 3723);
    EXPECT_EQ(item.durationText, "01:02:03.99 (3723 s)");
    EXPECT_EQ(item.bitrateText, "512 kb/s");
    EXPECT_EQ(item.videoDescription, " h264 (High), yuv420p, 1280x720 [SAR 1:1 DAR 16:9], 380 kb/s, 25 fps\r");
    EXPECT_EQ(item.audioDescription, " ac3, 48000 Hz, 5.1(side), fltp, 384 kb/s");
    EXPECT_EQ(item.startSeconds, 0u);
    EXPECT_EQ(item.endSeconds, 3723u);
    EXPECT_EQ(item.path, "/media/clip.mp4");
    EXPECT_EQ(item.extension, "mp4");
    EXPECT_EQ(item.title, "clip");
    EXPECT_EQ(item.displayName(), "clip.mp4");
}

TEST(ProbeParse, DurationsThatDoNotCount) {
    CSourceItem shortClip;
    EXPECT_EQ(shortClip.parseProbeOutput("/a/b.wav", "  Duration: 00:00:00.80, start: 0.000000, bitrate: 1411 kb/s\n"),
              kProbeFailed)
        << "under one second cannot be added";
    EXPECT_EQ(shortClip.durationSeconds, 0);
    EXPECT_EQ(shortClip.durationText, "00:00:00.80 (0 s)");

    // Not a duration at all: the bit rate must not be mistaken for seconds.
    CSourceItem unknown;
    EXPECT_EQ(unknown.parseProbeOutput("/a/b.ts", "  Duration: N/A, start: 0.000000, bitrate: 512 kb/s\n"
                                                  "    Stream #0.0: Video: mpeg2video, yuv420p, 720x576\n"),
              kProbeFailed);
    EXPECT_EQ(unknown.durationSeconds, 0);
    EXPECT_EQ(unknown.durationText, "0 (0 s)");
    EXPECT_EQ(unknown.videoDescription, " mpeg2video, yuv420p, 720x576") << "streams are still read";

    CSourceItem noLineFeed;
    EXPECT_EQ(noLineFeed.parseProbeOutput("/a/b.ts", "  Duration: 00:10:00.00, start: 0.0, bitrate: 5"), kProbeFailed);
    EXPECT_TRUE(noLineFeed.durationText.empty());

    CSourceItem banner;
    EXPECT_EQ(banner.parseProbeOutput("/a/b.ts", "Plexcore 1.0 encoder core\n"), kProbeFailed);
    CSourceItem nothing;
    EXPECT_EQ(nothing.parseProbeOutput("/a/b.ts", ""), kProbeFailed);
}

TEST(ProbeParse, StreamLineCutByTheReadLimitEndsTheScan) {
    CSourceItem item;
    EXPECT_EQ(item.parseProbeOutput("/a/b.mkv", "  Duration: 00:00:05.00, start: 0.000000, bitrate: N/A\n"
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
    CSourceItem noDot;
    noDot.parseProbeOutput("/media/README", "");
    EXPECT_EQ(noDot.extension, "");
    EXPECT_EQ(noDot.title, "README");
    EXPECT_EQ(noDot.displayName(), "README.");

    // A dotted folder does not lend the file an extension.
    CSourceItem dottedFolder;
    dottedFolder.parseProbeOutput("/media/my.films/clip", "");
    EXPECT_EQ(dottedFolder.extension, "");
    EXPECT_EQ(dottedFolder.title, "clip");

    CSourceItem noFolder;
    noFolder.parseProbeOutput("clip.avi", "");
    EXPECT_EQ(noFolder.extension, "avi");
    EXPECT_EQ(noFolder.title, "") << "without a folder separator the title stays empty";

    CSourceItem root;
    root.parseProbeOutput("/clip.two.avi", "");
    EXPECT_EQ(root.title, "clip.two");
    EXPECT_EQ(root.extension, "avi");
}

TEST(SourceItem, CopyLeavesTheProbeTextsBehind) {
    CSourceItem item;
    item.parseProbeOutput("/media/clip.mp4", kTypicalOutput);
    item.startSeconds = 30;
    item.endSeconds = 90;
    item.status = plexavo::kStatusDone;
    item.converted = true;
    item.assignOutputName("/out", "mp4", "cvt");
    const CSourceItem copy(item);
    EXPECT_EQ(copy.path, item.path);
    EXPECT_EQ(copy.title, "clip");
    EXPECT_EQ(copy.durationSeconds, 3723);
    EXPECT_EQ(copy.startSeconds, 30u);
    EXPECT_EQ(copy.endSeconds, 90u);
    EXPECT_EQ(copy.status, plexavo::kStatusDone);
    EXPECT_TRUE(copy.converted);
    EXPECT_EQ(copy.outputFilePath(), "/out/clip-cvt.mp4");
    EXPECT_EQ(copy.outputFileName(), "clip-cvt.mp4");
    EXPECT_TRUE(copy.durationText.empty());
    EXPECT_TRUE(copy.bitrateText.empty());
    EXPECT_TRUE(copy.videoDescription.empty());
    EXPECT_TRUE(copy.audioDescription.empty());
}

TEST(Probe, RunsTheCoreWithTheFileAsItsOnlyInput) {
    TempDir dir;
    const std::string argvFile = dir / "argv";
    setenv("SCRIPTED_ARGV_FILE", argvFile.c_str(), 1);
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
        FakeCore core("a|w:" + escaped + "|s:300|w:  Duration: 09:09:09.00, start: 0, bitrate: 1 kb/s\\n|x:1");
        CSourceItem item;
        const std::string file = "/media/-odd \"name\" été.mp4";
        EXPECT_EQ(item.probe(file), 0);
        EXPECT_EQ(item.durationSeconds, 3723);
        EXPECT_EQ(item.title, "-odd \"name\" été");
        EXPECT_EQ(readFile(argvFile).substr(readFile(argvFile).find('\0') + 1),
                  std::string(" wpx93knTR&! \0-i\0", 17) + file + std::string(1, '\0'));
    }
    {
        FakeCore core("x:0");
        plexavo::core::setFolder(core.dir() / "nowhere");
        CSourceItem item;
        EXPECT_EQ(item.probe("/media/clip.mp4"), kProbeFailed) << "no core, no duration";
        EXPECT_EQ(item.title, "clip");
    }
    unsetenv("SCRIPTED_ARGV_FILE");
    EXPECT_EQ(CSourceItem::probeCommandLine("/m/a.mp4"), "Plexcore wpx93knTR&!  -i \"/m/a.mp4\"");
}
