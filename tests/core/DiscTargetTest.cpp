// Disc and camcorder targets: the core must write what `ffmpeg -target` writes
// for the same source, so the reference is made by ffmpeg itself.
#include "support/Checks.h"
#include "support/Core.h"
#include "support/Fixtures.h"
#include "support/Media.h"

#include <gtest/gtest.h>

using namespace coretest;

class DiscTarget : public ::testing::TestWithParam<const char*> {};

TEST_P(DiscTarget, MatchesWhatFfmpegTargetWrites) {
    const std::string target = GetParam();
    TempDir dir;
    const std::string src = fixture("mp4");

    const std::string ref = dir / "ref.mpg";
    const RunResult rr =
        run({"ffmpeg", "-v", "error", "-nostdin", "-i", src, "-target", target, "-t", "2", ref});
    ASSERT_EQ(rr.exitCode, 0) << "reference: " << describe(rr);

    Job job;
    job.input = src;
    job.output = dir / "out.mpg"; // the program names every disc target .mpg
    job.clearDeviceOptions();
    job.extra = {"-target", target};
    job.length = "2";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);

    const ProbeInfo want = ProbeInfo::of(ref);
    const ProbeInfo got = ProbeInfo::of(job.output);
    ASSERT_TRUE(got.ok) << got.error;
    EXPECT_EQ(got.format("format_name"), want.format("format_name"));
    ASSERT_EQ(got.count("video"), 1);
    ASSERT_EQ(got.count("audio"), 1);

    const int gv = got.find("video"), wv = want.find("video");
    for (const char* key : {"codec_name", "width", "height", "pix_fmt", "r_frame_rate"})
        EXPECT_EQ(got.stream(gv, key), want.stream(wv, key)) << "video " << key;
    const int ga = got.find("audio"), wa = want.find("audio");
    for (const char* key : {"codec_name", "sample_rate", "channels"})
        EXPECT_EQ(got.stream(ga, key), want.stream(wa, key)) << "audio " << key;

    EXPECT_NEAR(got.formatNum("duration").value_or(0), want.formatNum("duration").value_or(-1),
                0.15);
    EXPECT_EQ(decodeErrors(job.output), "");
}

INSTANTIATE_TEST_SUITE_P(Targets, DiscTarget,
                         ::testing::Values("pal-dvd", "ntsc-dvd", "film-dvd", "pal-vcd", "ntsc-vcd",
                                           "ntsc-svcd", "pal-dv", "ntsc-dv"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (auto& ch : n)
                                 if (ch == '-')
                                     ch = '_';
                             return n;
                         });
