// Video conversions: device profiles, trimming, picture geometry, frame rate
// and rate control, each judged on the written file with ffprobe/ffmpeg.
#include "support/Checks.h"
#include "support/Core.h"
#include "support/Fixtures.h"
#include "support/Media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

using namespace coretest;

namespace {

constexpr double kNtscFilm = 24000.0 / 1001.0;

bool isBaseline(const std::string& profile) {
    return profile == "Baseline" || profile == "Constrained Baseline";
}

} // namespace

// ---------------------------------------------------------------------------
// The MPEG-4 target: what the older players accept and nothing more.

TEST(XvidTarget, WritesSimpleProfileMp4TheOldPlayersAccept) {
    TempDir dir;
    Job job;
    job.input = fixture("mp4");
    job.output = dir / "out.mp4";
    job.title = "Été \"à\" 東京 – it's a test";
    job.length = "3";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);

    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_NE(p.format("format_name").find("mp4"), std::string::npos) << p.format("format_name");
    // The source has a title of its own, which wins over the file's name the program passes.
    EXPECT_EQ(p.format("tags.title"), "Source title");
    ASSERT_EQ(p.count("video"), 1);
    ASSERT_EQ(p.count("audio"), 1);
    EXPECT_EQ(p.streamCount(), 2);

    const int v = p.find("video");
    EXPECT_EQ(p.stream(v, "codec_name"), "mpeg4");
    EXPECT_EQ(p.stream(v, "profile"), "Simple Profile");
    EXPECT_EQ(p.stream(v, "codec_tag_string"), "mp4v");
    EXPECT_EQ(p.stream(v, "has_b_frames"), "0");
    EXPECT_EQ(p.stream(v, "pix_fmt"), "yuv420p");
    EXPECT_EQ(p.stream(v, "width"), "320");
    EXPECT_EQ(p.stream(v, "height"), "240");
    EXPECT_NEAR(ratio(p.stream(v, "r_frame_rate")).value_or(0), kNtscFilm, 0.001);
    EXPECT_EQ(p.stream(v, "avg_frame_rate"), p.stream(v, "r_frame_rate")) << "not a constant rate";
    EXPECT_NEAR(streamDuration(p, v), 3.0, 1.0 / kNtscFilm + 0.002);

    const auto types = pictureTypes(job.output);
    EXPECT_NEAR(static_cast<double>(types.size()), 3.0 * kNtscFilm, 1.0);
    EXPECT_EQ(std::count(types.begin(), types.end(), "B"), 0)
        << "B-frames in a Simple Profile stream";

    const int a = p.find("audio");
    EXPECT_EQ(p.stream(a, "codec_name"), "aac");
    EXPECT_EQ(p.stream(a, "profile"), "LC");
    EXPECT_EQ(p.stream(a, "channels"), "2");
    EXPECT_EQ(p.stream(a, "sample_rate"), "44100");
    EXPECT_NEAR(p.streamNum(a, "bit_rate").value_or(0), 128000, 128000 * 0.15);
    EXPECT_NEAR(streamDuration(p, a), 3.0, 1024.0 / 44100 + 0.005);

    expectIndexBeforeMedia(job.output);
    EXPECT_EQ(decodeErrors(job.output), "");
}

// The devices play MPEG-4 Visual up to 640x480 only: a larger frame is fitted inside it, and
// the core says so.
TEST(XvidTarget, LargeFrameIsFittedForTheDevices) {
    TempDir dir;
    Job job;
    job.input = fixture("hd");
    job.output = dir / "out.mp4";
    job.size = "1280x720";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(linesStartingWith(r.out, plexavo::contract::kNotePrefix),
              std::vector<std::string>{
                  "Note: MPEG-4 is limited to 640x480 on these devices: writing 640x360"})
        << r.out;
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    const int v = p.find("video");
    ASSERT_GE(v, 0);
    EXPECT_EQ(p.stream(v, "codec_name"), "mpeg4");
    EXPECT_EQ(p.stream(v, "profile"), "Simple Profile");
    EXPECT_EQ(p.stream(v, "width") + "x" + p.stream(v, "height"), "640x360");
    EXPECT_EQ(decodeErrors(job.output), "");
}

// Every frame size the program offers, in both formats: the file must be one the devices play.
struct DeviceSizeCase {
    int width, height;
    const char* vcodec;
};

void PrintTo(const DeviceSizeCase& c, std::ostream* os) {
    *os << c.width << "x" << c.height << " " << c.vcodec;
}

class DeviceSizes : public ::testing::TestWithParam<DeviceSizeCase> {};

TEST_P(DeviceSizes, WriteWhatTheDevicesPlay) {
    const DeviceSizeCase& c = GetParam();
    const bool xvid = std::string(c.vcodec) == "xvid";
    TempDir dir;
    Job job;
    job.input = fixture("hd");
    job.output = dir / (xvid ? "out.mp4" : "out.mov");
    job.vcodec = c.vcodec;
    job.size = std::to_string(c.width) + "x" + std::to_string(c.height);
    job.length = "1";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    const int v = p.find("video");
    ASSERT_GE(v, 0);
    const int w = static_cast<int>(p.streamNum(v, "width").value_or(0));
    const int h = static_cast<int>(p.streamNum(v, "height").value_or(0));
    if (xvid) {
        EXPECT_EQ(p.stream(v, "profile"), "Simple Profile");
        EXPECT_LE(w, 640);
        EXPECT_LE(h, 480);
        // As large as fits, with the asked shape, in even sizes.
        const double scale = std::min({1.0, 640.0 / c.width, 480.0 / c.height});
        EXPECT_NEAR(w, c.width * scale, 1.0);
        EXPECT_NEAR(h, c.height * scale, 1.0);
        EXPECT_EQ(w % 2 + h % 2, 0);
        EXPECT_EQ(linesStartingWith(r.out, "Note: ").size(), scale < 1.0 ? 1u : 0u) << r.out;
    } else {
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        const std::string profile = p.stream(v, "profile");
        EXPECT_TRUE(isBaseline(profile) || profile == "Main") << profile;
        EXPECT_LE(p.streamNum(v, "level").value_or(99), 31) << "beyond what the devices play";
    }
    EXPECT_EQ(decodeErrors(job.output), "");
}

std::vector<DeviceSizeCase> deviceSizeCases() {
    // The program's size list, device presets among them.
    const std::pair<int, int> sizes[] = {
        {160, 120}, {176, 144}, {256, 192}, {320, 180}, {320, 240}, {480, 320},  {640, 272},
        {640, 360}, {640, 480}, {720, 306}, {720, 320}, {960, 640}, {1024, 768}, {1280, 720}};
    std::vector<DeviceSizeCase> cases;
    for (const auto& [w, h] : sizes)
        for (const char* codec : {"xvid", "h264"})
            cases.push_back({w, h, codec});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(List, DeviceSizes, ::testing::ValuesIn(deviceSizeCases()),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height) + "_" + info.param.vcodec;
                         });

// ---------------------------------------------------------------------------
// The H.264 target: Baseline 3.0 up to 640x480, Main 3.1 up to 1280x720.

struct H264Case {
    const char* name;
    const char* source;
    const char* size;
    const char* rate;
    bool baseline;
    int level;
};

void PrintTo(const H264Case& c, std::ostream* os) {
    *os << c.name;
}

class H264Target : public ::testing::TestWithParam<H264Case> {};

TEST_P(H264Target, ProfileAndLevelFitTheSize) {
    const H264Case& c = GetParam();
    TempDir dir;
    Job job;
    job.input = fixture(c.source);
    job.output = dir / "out.mov";
    job.vcodec = "h264";
    job.size = c.size;
    job.rate = c.rate;
    job.length = "2";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);

    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    // The source's own title where it has one ("mp4"), the one asked for where not ("hd").
    const std::string own = ProbeInfo::of(job.input).format("tags.title");
    EXPECT_EQ(p.format("tags.title"), own.empty() ? *job.title : own);
    const int v = p.find("video");
    ASSERT_GE(v, 0);
    EXPECT_EQ(p.stream(v, "codec_name"), "h264");
    EXPECT_EQ(p.stream(v, "codec_tag_string"), "avc1");
    EXPECT_EQ(p.stream(v, "pix_fmt"), "yuv420p");
    EXPECT_EQ(p.stream(v, "width") + "x" + p.stream(v, "height"), c.size);
    if (c.baseline) {
        EXPECT_TRUE(isBaseline(p.stream(v, "profile"))) << p.stream(v, "profile");
        EXPECT_EQ(p.stream(v, "has_b_frames"), "0");
        const auto types = pictureTypes(job.output);
        EXPECT_EQ(std::count(types.begin(), types.end(), "B"), 0) << "B-frames in Baseline";
    } else {
        EXPECT_EQ(p.stream(v, "profile"), "Main");
    }
    EXPECT_EQ(p.stream(v, "level"), std::to_string(c.level));
    const double fps = std::atof(c.rate);
    EXPECT_NEAR(ratio(p.stream(v, "r_frame_rate")).value_or(0), fps, 0.01);
    EXPECT_NEAR(ratio(p.stream(v, "avg_frame_rate")).value_or(0), fps, 0.01);
    EXPECT_NEAR(streamDuration(p, v), 2.0, 1.0 / fps + 0.002);

    const int a = p.find("audio");
    ASSERT_GE(a, 0);
    EXPECT_EQ(p.stream(a, "codec_name"), "aac");
    EXPECT_EQ(p.stream(a, "profile"), "LC");

    expectIndexBeforeMedia(job.output);
    EXPECT_EQ(decodeErrors(job.output), "");
}

INSTANTIATE_TEST_SUITE_P(Sizes, H264Target,
                         ::testing::Values(H264Case{"qvga", "mp4", "320x240", "23.976", true, 30},
                                           H264Case{"vga", "mp4", "640x480", "29.970", true, 30},
                                           H264Case{"hd720", "hd", "1280x720", "29.970", false,
                                                    31}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Trimming: the source has a different picture every frame and rising loudness,
// so the output shows exactly which source instant it starts and ends at.

TEST(Trim, VideoAndAudioStartAtTheRequestedInstant) {
    TempDir dir;
    const std::string src = fixture("ramp");
    Job job;
    job.input = src;
    job.output = dir / "out.mp4";
    job.size = "160x120";
    job.rate = "25";
    job.start = "1";
    job.length = "2";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);

    const auto source = frameLumas(src);
    const auto output = frameLumas(job.output);
    ASSERT_EQ(source.size(), 125u);
    ASSERT_FALSE(output.empty());
    // 25 fps: the frame shown at 1.00 s is source frame 25, the last one before 3.00 s is 74.
    EXPECT_NEAR(nearestIndex(source, output.front()), 25, 1)
        << "first frame luma " << output.front();
    EXPECT_NEAR(nearestIndex(source, output.back()), 74, 1) << "last frame luma " << output.back();
    EXPECT_NEAR(static_cast<double>(output.size()), 50, 1);

    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    const int v = p.find("video");
    const int a = p.find("audio");
    ASSERT_GE(v, 0);
    ASSERT_GE(a, 0);
    EXPECT_NEAR(streamDuration(p, v), 2.0, 1.0 / 25 + 0.002);
    EXPECT_NEAR(streamDuration(p, a), 2.0, 1024.0 / 44100 + 0.005);
    // Both streams start together, or sound and picture drift apart on the device.
    EXPECT_NEAR(p.streamNum(v, "start_time").value_or(99), 0.0, 0.05);
    EXPECT_NEAR(p.streamNum(a, "start_time").value_or(99), 0.0, 0.05);

    // Loudness rises 20*log10(1.2) dB per 0.2 s here: a wrong start point shows as a level gap.
    const auto outStart = rmsDb(job.output, 0.0, 0.2);
    const auto srcStart = rmsDb(src, 1.0, 0.2);
    ASSERT_TRUE(outStart && srcStart);
    EXPECT_NEAR(*outStart, *srcStart, 1.0);
    const auto outEnd = rmsDb(job.output, 1.7, 0.2);
    const auto srcEnd = rmsDb(src, 2.7, 0.2);
    ASSERT_TRUE(outEnd && srcEnd);
    EXPECT_NEAR(*outEnd, *srcEnd, 1.0);
}

// ---------------------------------------------------------------------------
// Geometry: the picture fits the requested size with black bars, never stretched.

struct GeometryCase {
    const char* name;
    const char* source;
    const char* vcodec;
    int width;
    int height;
};

void PrintTo(const GeometryCase& c, std::ostream* os) {
    *os << c.name;
}

class Geometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(Geometry, PictureKeepsItsShapeInsideBlackBars) {
    const GeometryCase& c = GetParam();
    TempDir dir;
    const std::string src = fixture(c.source);
    Job job;
    job.input = src;
    job.output = dir / (std::string(c.vcodec) == "h264" ? "out.mov" : "out.mp4");
    job.vcodec = c.vcodec;
    job.size = std::to_string(c.width) + "x" + std::to_string(c.height);
    job.length = "2";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);

    // Where the source's picture must land: its shape on screen, fitted and centred.
    const ProbeInfo in = ProbeInfo::of(src);
    const int sv = in.find("video");
    double sar = ratio(in.stream(sv, "sample_aspect_ratio")).value_or(1.0);
    if (sar <= 0)
        sar = 1.0;
    const double shape =
        in.streamNum(sv, "width").value() * sar / in.streamNum(sv, "height").value();
    const double fitW = std::min<double>(c.width, c.height * shape);
    const double fitH = std::min<double>(c.height, c.width / shape);

    const ProbeInfo out = ProbeInfo::of(job.output);
    const int v = out.find("video");
    ASSERT_GE(v, 0);
    EXPECT_EQ(out.stream(v, "width"), std::to_string(c.width));
    EXPECT_EQ(out.stream(v, "height"), std::to_string(c.height));
    const std::string outSar = out.stream(v, "sample_aspect_ratio");
    EXPECT_TRUE(outSar == "1:1" || outSar == "0:1" || outSar == "N/A" || outSar.empty())
        << "output pixels are not square: " << outSar;

    const GrayFrame f = grayFrame(job.output, 1.0);
    ASSERT_EQ(f.width, c.width);
    ASSERT_EQ(f.height, c.height);
    // The source is light grey (luma ~170), bars are black (16): split halfway.
    int top = -1, bottom = -1, left = -1, right = -1;
    for (int y = 0; y < f.height; ++y)
        if (f.rowMean(y) > 60) {
            top = top < 0 ? y : top;
            bottom = y;
        }
    for (int x = 0; x < f.width; ++x)
        if (f.columnMean(x) > 60) {
            left = left < 0 ? x : left;
            right = x;
        }
    ASSERT_GE(top, 0) << "no picture found";
    const int tol = 3; // encoder blur at the edges and rounding to even sizes
    EXPECT_NEAR(bottom - top + 1, fitH, tol) << "picture height";
    EXPECT_NEAR(right - left + 1, fitW, tol) << "picture width";
    EXPECT_NEAR(top, (c.height - fitH) / 2, tol) << "picture not centred vertically";
    EXPECT_NEAR(left, (c.width - fitW) / 2, tol) << "picture not centred horizontally";
    if (top > tol) {
        EXPECT_LT(f.rowMean(top / 2), 24) << "top bar is not black";
    }
    if (left > tol) {
        EXPECT_LT(f.columnMean(left / 2), 24) << "left bar is not black";
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, Geometry,
                         ::testing::Values(GeometryCase{"WideIntoQvga", "wide", "xvid", 320, 240},
                                           GeometryCase{"TallIntoQvga", "tall", "xvid", 320, 240},
                                           GeometryCase{"NonSquarePixels", "sar", "xvid", 320, 240},
                                           GeometryCase{"WideIntoVgaH264", "wide", "h264", 640,
                                                        480}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Geometry, WithoutSizeKeepsTheSourceSizeRoundedToEven) {
    TempDir dir;
    Job job;
    job.input = fixture("odd"); // 321x241
    job.output = dir / "out.mp4";
    job.size.reset();
    job.length = "1";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    const int v = p.find("video");
    ASSERT_GE(v, 0);
    const int w = static_cast<int>(p.streamNum(v, "width").value_or(0));
    const int h = static_cast<int>(p.streamNum(v, "height").value_or(0));
    EXPECT_EQ(w % 2, 0) << w;
    EXPECT_EQ(h % 2, 0) << h;
    EXPECT_NEAR(w, 321, 1);
    EXPECT_NEAR(h, 241, 1);
}

// ---------------------------------------------------------------------------
// Frame rate: -r makes a constant rate even from a source with irregular timing.

TEST(Interlace, InterlacedSourceComesOutProgressive) {
    const std::string source = fixture("interlaced");
    const FieldCounts before = detectFields(source);
    ASSERT_GT(before.interlaced, before.progressive) << "the fixture must show combing";

    TempDir dir;
    Job job;
    job.input = source;
    job.output = dir / "out.mov";
    job.vcodec = "h264";
    job.size = std::nullopt; // scaling would blur the combing out of idet's sight
    job.rate = std::nullopt;
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const FieldCounts after = detectFields(job.output);
    EXPECT_GT(after.progressive, 0);
    EXPECT_LT(after.interlaced * 10, after.progressive) << "combing left in the picture";
}

TEST(FrameRate, IrregularSourceBecomesConstantRate) {
    TempDir dir;
    Job job;
    job.input = fixture("vfr");
    job.output = dir / "out.mp4";
    job.length = "3";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);

    const ProbeInfo p = ProbeInfo::of(job.output);
    const int v = p.find("video");
    ASSERT_GE(v, 0);
    EXPECT_NEAR(ratio(p.stream(v, "r_frame_rate")).value_or(0), kNtscFilm, 0.001);
    EXPECT_EQ(p.stream(v, "avg_frame_rate"), p.stream(v, "r_frame_rate")) << "not a constant rate";
    const auto times = frameTimes(job.output);
    ASSERT_GT(times.size(), 10u);
    EXPECT_NEAR(static_cast<double>(times.size()), 3.0 * kNtscFilm, 1.0);
    int irregular = 0;
    for (size_t i = 1; i < times.size(); ++i)
        irregular += std::fabs(times[i] - times[i - 1] - 1.0 / kNtscFilm) > 0.001;
    EXPECT_EQ(irregular, 0) << "frames not evenly spaced";
}

// ---------------------------------------------------------------------------
// Rate control on real content (moving pattern + grain).

double videoKbps(const std::string& path) {
    const auto pk = packets(path, "v");
    if (pk.size() < 2)
        return 0;
    double bytes = 0;
    for (const auto& p : pk)
        bytes += p.size;
    const double span = pk.back().pts + pk.back().duration - pk.front().pts;
    return span > 0 ? bytes * 8 / span / 1000 : 0;
}

// The highest rate over any stretch of `window` seconds of the video stream, in kb/s.
double peakKbps(const std::string& path, double window) {
    const auto pk = packets(path, "v");
    double best = 0;
    for (size_t i = 0; i < pk.size(); ++i) {
        double bytes = 0;
        for (size_t j = i; j < pk.size() && pk[j].pts < pk[i].pts + window - 1e-6; ++j)
            bytes += pk[j].size;
        best = std::max(best, bytes * 8 / 1000 / window);
    }
    return best;
}

struct RateCase {
    const char* name;
    const char* vcodec;
    const char* option; // "-b" constant target, "-bt" variable rate
    int kbps;
};

void PrintTo(const RateCase& c, std::ostream* os) {
    *os << c.name;
}

class RateControl : public ::testing::TestWithParam<RateCase> {};

TEST_P(RateControl, AverageBitrateNearRequested) {
    const RateCase& c = GetParam();
    TempDir dir;
    Job job;
    job.input = fixture("noisy");
    job.output = dir / (std::string(c.vcodec) == "h264" ? "out.mov" : "out.mp4");
    job.vcodec = c.vcodec;
    job.bitrate.reset();
    job.extra = {c.option, std::to_string(c.kbps)};
    job.length = "4";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_NEAR(videoKbps(job.output), c.kbps, c.kbps * 0.35);
}

INSTANTIATE_TEST_SUITE_P(Codecs, RateControl,
                         ::testing::Values(RateCase{"Xvid768", "xvid", "-b", 768},
                                           RateCase{"Xvid300", "xvid", "-b", 300},
                                           RateCase{"H264_768", "h264", "-b", 768},
                                           RateCase{"H264_300", "h264", "-b", 300},
                                           RateCase{"XvidVariable768", "xvid", "-bt", 768},
                                           RateCase{"H264Variable768", "h264", "-bt", 768}),
                         [](const auto& info) { return std::string(info.param.name); });

class PeakRate : public ::testing::TestWithParam<const char*> {};

// A device's rate buffer holds about a second: with -maxrate M no second may carry
// much more than 2 M and no two seconds more than 1.6 M on average.
TEST_P(PeakRate, VariableRatePeakHeldNearMaxrate) {
    const std::string vcodec = GetParam();
    TempDir dir;
    const std::string ext = vcodec == "h264" ? ".mov" : ".mp4";
    const int kbps = 300;
    const int maxrate = 330;
    Job job;
    job.input = fixture("burst"); // calm for 2 s, then grain that wants far more bits
    job.vcodec = vcodec;
    job.bitrate.reset();
    job.length = "4";

    job.output = dir / ("free" + ext);
    job.extra = {"-bt", std::to_string(kbps)};
    const RunResult free = job.run();
    ASSERT_EQ(free.exitCode, 0) << describe(free);
    const double freePeak = peakKbps(job.output, 2.0);

    job.output = dir / ("capped" + ext);
    job.extra = {"-bt", std::to_string(kbps), "-maxrate", std::to_string(maxrate)};
    const RunResult capped = job.run();
    ASSERT_EQ(capped.exitCode, 0) << describe(capped);

    // Where the uncapped run already stays inside the limit (a near-constant variable mode),
    // the bounds below still hold the capped run to them, but the cap itself is not exercised.
    if (freePeak <= maxrate * 1.6)
        std::printf("note: uncapped two-second peak %.0f kb/s is already under %.0f kb/s\n",
                    freePeak, maxrate * 1.6);
    EXPECT_LE(peakKbps(job.output, 2.0), maxrate * 1.6) << "two-second peak, cap " << maxrate;
    EXPECT_LE(peakKbps(job.output, 1.0), maxrate * 2.1) << "one-second peak, cap " << maxrate;
}

INSTANTIATE_TEST_SUITE_P(Codecs, PeakRate, ::testing::Values("xvid", "h264"),
                         [](const auto& info) { return std::string(info.param); });
