// Sound: AAC-LC with the defaults the devices take, stream selection for
// sources that lack a picture or sound, and sample-accurate trimming of audio.
#include "support/Checks.h"
#include "support/Core.h"
#include "support/Fixtures.h"
#include "support/Media.h"

#include <gtest/gtest.h>

using namespace coretest;

// ---------------------------------------------------------------------------

struct AudioCase {
    const char* name;
    const char* source;
    const char* channels;   // nullptr: left to the core
    const char* sampleRate; // nullptr: left to the core
    const char* bitrate;    // nullptr: left to the core (128 kb/s)
    int expectChannels;
    int expectRate;
    int expectKbps;
};

void PrintTo(const AudioCase& c, std::ostream* os) {
    *os << c.name;
}

class AudioFormat : public ::testing::TestWithParam<AudioCase> {};

TEST_P(AudioFormat, AacLowComplexityWithDeviceDefaults) {
    const AudioCase& c = GetParam();
    TempDir dir;
    Job job;
    job.input = fixture(c.source);
    job.output = dir / "out.mp4";
    job.channels = c.channels ? std::optional<std::string>(c.channels) : std::nullopt;
    job.sampleRate = c.sampleRate ? std::optional<std::string>(c.sampleRate) : std::nullopt;
    job.audioBitrate = c.bitrate ? std::optional<std::string>(c.bitrate) : std::nullopt;
    job.length = "2";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);

    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.count("audio"), 1);
    const int a = p.find("audio");
    EXPECT_EQ(p.stream(a, "codec_name"), "aac");
    EXPECT_EQ(p.stream(a, "profile"), "LC");
    EXPECT_EQ(p.stream(a, "channels"), std::to_string(c.expectChannels));
    EXPECT_EQ(p.stream(a, "sample_rate"), std::to_string(c.expectRate));
    EXPECT_EQ(decodeErrors(job.output), "");

    // The AAC encoder cannot reach every nominal rate (mono 22 kHz tops out near 64 kb/s),
    // so the rate is judged against ffmpeg asked for the same nominal rate.
    const std::string ref = dir / "ref.m4a";
    const RunResult rr =
        run({"ffmpeg", "-v", "error", "-nostdin", "-i", job.input, "-t", "2", "-vn", "-ac",
             std::to_string(c.expectChannels), "-ar", std::to_string(c.expectRate), "-c:a", "aac",
             "-b:a", std::to_string(c.expectKbps) + "k", ref});
    ASSERT_EQ(rr.exitCode, 0) << describe(rr);
    const double refRate = ProbeInfo::of(ref).streamNum(0, "bit_rate").value_or(0);
    EXPECT_NEAR(p.streamNum(a, "bit_rate").value_or(0), refRate, refRate * 0.15)
        << "asked for " << c.expectKbps << " kb/s";
}

INSTANTIATE_TEST_SUITE_P(
    Sources, AudioFormat,
    ::testing::Values(
        // 5.1 comes down to stereo; 48 kHz stays.
        AudioCase{"SurroundToStereo", "surround", nullptr, nullptr, nullptr, 2, 48000, 128},
        // 96 kHz is beyond the devices: 48 kHz instead.
        AudioCase{"HighRateTo48k", "audio-96k", nullptr, nullptr, nullptr, 2, 48000, 128},
        // A rate the devices take is kept, and so is mono.
        AudioCase{"Mono22kKept", "audio-22k", nullptr, nullptr, nullptr, 1, 22050, 128},
        AudioCase{"Stereo48kKept", "m4a", nullptr, nullptr, nullptr, 2, 48000, 128},
        // Explicit settings win.
        AudioCase{"ExplicitSettings", "mp4", "1", "32000", "96", 1, 32000, 96}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A source without a picture gives a file without one, and the other way round.

struct SelectionCase {
    const char* name;
    const char* source;
    const char* vcodec;
    const char* ext;
    const char* onlyKind;
};

void PrintTo(const SelectionCase& c, std::ostream* os) {
    *os << c.name;
}

class StreamSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(StreamSelection, OutputHasOnlyWhatTheSourceHas) {
    const SelectionCase& c = GetParam();
    TempDir dir;
    Job job;
    job.input = fixture(c.source);
    job.output = dir / (std::string("out") + c.ext);
    job.vcodec = c.vcodec;
    job.length = "2";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.streamCount(), 1);
    EXPECT_EQ(p.stream(0, "codec_type"), c.onlyKind);
    EXPECT_NEAR(p.formatNum("duration").value_or(0), 2.0, 0.1);
    expectIndexBeforeMedia(job.output);
    EXPECT_EQ(decodeErrors(job.output), "");
}

INSTANTIATE_TEST_SUITE_P(
    Sources, StreamSelection,
    ::testing::Values(
        SelectionCase{"Mp3ToXvidTarget", "mp3", "xvid", ".mp4", "audio"},
        SelectionCase{"WavToH264Target", "wav", "h264", ".mov", "audio"},
        SelectionCase{"SilentVideoToXvidTarget", "video-only", "xvid", ".mp4", "video"},
        SelectionCase{"SilentVideoToH264Target", "video-only", "h264", ".mov", "video"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------

TEST(Trim, AudioOnlyCutWithinOneAacFrame) {
    TempDir dir;
    const std::string src = fixture("ramp-audio"); // loudness rises with time
    Job job;
    job.input = src;
    job.output = dir / "out.mp4";
    job.start = "1";
    job.length = "2";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_EQ(p.streamCount(), 1);
    EXPECT_NEAR(streamDuration(p, 0), 2.0, 1024.0 / 44100 + 0.002);
    const auto outStart = rmsDb(job.output, 0.0, 0.2);
    const auto srcStart = rmsDb(src, 1.0, 0.2);
    ASSERT_TRUE(outStart && srcStart);
    EXPECT_NEAR(*outStart, *srcStart, 1.0) << "cut does not start at 1 s";
}

// The sound changes rate and channels mid-stream: the rebuilt chain must carry on where the
// old one stopped, neither overlapping it (which the muxer refuses) nor leaving a hole.
TEST(FormatChange, SampleRateChangesHalfway) {
    TempDir dir;
    Job job;
    job.input = fixture("rate-change");
    job.output = dir / "out.m4a";
    job.length = "4";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.count("audio"), 1);
    EXPECT_EQ(p.stream(0, "sample_rate"), "44100");
    EXPECT_NEAR(streamDuration(p, 0), 4.0, 0.1);
    EXPECT_EQ(decodeErrors(job.output), "");
    // Both halves are there, at their own times: sound right before and after the switch.
    const auto before = rmsDb(job.output, 1.6, 0.3);
    const auto after = rmsDb(job.output, 2.3, 0.3);
    ASSERT_TRUE(before && after);
    EXPECT_GT(*before, -30.0) << "silence before the switch";
    EXPECT_GT(*after, -30.0) << "silence after the switch";
}
