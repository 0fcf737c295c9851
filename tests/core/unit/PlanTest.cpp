// The planner's decisions, straight from a description of the source: no file is opened.
#include "FrameRate.h"
#include "Options.h"
#include "Source.h"
#include "Targets.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace plexavo::core;

namespace {

Options deviceOptions(VideoCodecChoice codec = VideoCodecChoice::H264) {
    Options o;
    o.input = "in.mp4";
    o.output = "out.mp4";
    o.vcodec = codec;
    return o;
}

VideoSource picture(int w, int h, Rational rate = {25, 1}, Rational sar = {1, 1}) {
    VideoSource v;
    v.width = w;
    v.height = h;
    v.rate = rate;
    v.sar = sar;
    return v;
}

SourceInfo videoOnly(const VideoSource& v) {
    SourceInfo s;
    s.video = v;
    return s;
}

SourceInfo withSound(const VideoSource& v, int channels, int sampleRate) {
    SourceInfo s;
    s.video = v;
    s.audio = AudioSource{channels, sampleRate};
    return s;
}

bool hasOption(const VideoPlan& v, const std::string& key, const std::string& value) {
    return std::find(v.codecOptions.begin(), v.codecOptions.end(),
                     std::pair<std::string, std::string>(key, value)) != v.codecOptions.end();
}

bool mentions(const std::vector<std::string>& warnings, const std::string& text) {
    return std::any_of(warnings.begin(), warnings.end(),
                       [&](const std::string& w) { return w.find(text) != std::string::npos; });
}

bool same(AVRational a, AVRational b) {
    return a.num == b.num && a.den == b.den;
}

} // namespace

// ---------------------------------------------------------------------------
// H.264 profile and level table

struct LevelCase {
    int width, height;
    AVRational rate;
    int level;
    const char* profile;
};

TEST(H264Levels, FirstLevelThatHoldsSizeAndRate) {
    const LevelCase cases[] = {
        {320, 240, {30, 1}, 30, "baseline"},
        {640, 480, {30, 1}, 30, "baseline"},       // exactly 1200 MBs, 36000 MB/s
        {640, 480, {30000, 1001}, 30, "baseline"}, //
        {640, 480, {31, 1}, 31, "main"},           // one frame a second too many for 3.0
        {640, 496, {25, 1}, 31, "main"},           // 1240 MBs
        {720, 480, {30000, 1001}, 31, "main"},     // 1350 MBs
        {1280, 720, {30, 1}, 31, "main"},          // exactly 3600 MBs, 108000 MB/s
        {1280, 720, {50, 1}, 40, "main"},          //
        {1920, 1080, {30, 1}, 40, "main"},         // 8160 MBs
        {2048, 1088, {30, 1}, 42, "main"},         // 8704 MBs
        {4096, 2160, {30, 1}, 51, "main"},         //
        {4096, 4096, {120, 1}, 51, "main"},        // beyond every level: the last one
    };
    for (const LevelCase& c : cases) {
        const H264Level& l = h264LevelFor(c.width, c.height, c.rate);
        EXPECT_EQ(l.level, c.level) << c.width << "x" << c.height << " @ " << av_q2d(c.rate);
        EXPECT_STREQ(l.profile, c.profile) << c.width << "x" << c.height;
    }
}

TEST(H264Levels, PlanCarriesProfileLevelAndTheDevicesCeilings) {
    Options o = deviceOptions();
    o.width = 640;
    o.height = 480;
    OutputPlan p = makePlan(o, "out.mov", videoOnly(picture(1280, 720)));
    EXPECT_EQ(p.video.encoder, "libx264");
    EXPECT_EQ(p.video.profile, FF_PROFILE_H264_BASELINE);
    EXPECT_EQ(p.video.level, 30);
    EXPECT_TRUE(hasOption(p.video, "profile", "baseline"));
    EXPECT_TRUE(hasOption(p.video, "crf", "23")) << "no rate asked: quality mode";
    EXPECT_EQ(p.video.maxRate, 2500000);
    EXPECT_EQ(p.video.bufSize, 2500000);
    EXPECT_TRUE(p.warnings.empty());

    o.width = 1280;
    o.height = 720;
    p = makePlan(o, "out.mov", videoOnly(picture(1280, 720)));
    EXPECT_EQ(p.video.profile, FF_PROFILE_H264_MAIN);
    EXPECT_EQ(p.video.level, 31);
    EXPECT_EQ(p.video.maxRate, 6000000);

    o.width = 1920;
    o.height = 1080;
    p = makePlan(o, "out.mov", videoOnly(picture(1920, 1080)));
    EXPECT_EQ(p.video.level, 40);
    EXPECT_TRUE(mentions(p.warnings, "level 4.0")) << "a size the devices cannot play is not said";
}

TEST(H264RateControl, TargetCeilingAndFloor) {
    Options o = deviceOptions();
    o.width = 640;
    o.height = 480;
    o.videoBitrate = 20000000; // above Baseline 3.0's 10 Mb/s
    OutputPlan p = makePlan(o, "out.mp4", videoOnly(picture(640, 480)));
    EXPECT_EQ(p.video.bitrate, 10000000);
    EXPECT_TRUE(mentions(p.warnings, "lowered to 10000 kb/s"));
    EXPECT_FALSE(hasOption(p.video, "crf", "23"));

    o.videoBitrate = 768000;
    o.maxRate = 1000000;
    p = makePlan(o, "out.mp4", videoOnly(picture(640, 480)));
    EXPECT_EQ(p.video.bitrate, 768000);
    EXPECT_EQ(p.video.maxRate, 1000000);
    EXPECT_EQ(p.video.bufSize, 1000000) << "one second at the ceiling";
    EXPECT_EQ(p.video.minRate, 0);

    o.varBitrate = 500000; // -bt wins over -b
    o.minRate = 500000;    // a floor at the target asks for a constant rate
    p = makePlan(o, "out.mp4", videoOnly(picture(640, 480)));
    EXPECT_EQ(p.video.bitrate, 500000);
    EXPECT_EQ(p.video.maxRate, 500000);
    EXPECT_EQ(p.video.minRate, 500000);
    EXPECT_TRUE(hasOption(p.video, "nal-hrd", "cbr"));

    o.minRate = 100000; // below the target: accepted and ignored
    p = makePlan(o, "out.mp4", videoOnly(picture(640, 480)));
    EXPECT_EQ(p.video.minRate, 0);
    EXPECT_FALSE(hasOption(p.video, "nal-hrd", "cbr"));
}

// ---------------------------------------------------------------------------
// MPEG-4 Visual Simple Profile

TEST(Mpeg4Levels, BySize) {
    EXPECT_EQ(mpeg4LevelFor(176, 144), 1);
    EXPECT_EQ(mpeg4LevelFor(192, 144), 3);
    EXPECT_EQ(mpeg4LevelFor(352, 288), 3);
    EXPECT_EQ(mpeg4LevelFor(640, 480), 4);
    EXPECT_EQ(mpeg4LevelFor(720, 576), 5);
    EXPECT_EQ(mpeg4LevelFor(1280, 720), 6);
}

TEST(Mpeg4Plan, SimpleProfileWithoutBFramesAndARateWithinTheDevicesCeiling) {
    Options o = deviceOptions(VideoCodecChoice::Xvid);
    o.width = 320;
    o.height = 240;
    o.frameRate = Rational{24000, 1001};
    OutputPlan p = makePlan(o, "out.mp4", videoOnly(picture(320, 240)));
    EXPECT_EQ(p.video.encoder, "mpeg4");
    EXPECT_EQ(p.video.profile, FF_PROFILE_MPEG4_SIMPLE);
    EXPECT_EQ(p.video.level, 3);
    EXPECT_EQ(p.video.maxBFrames, 0);
    EXPECT_EQ(p.video.gop, 250);
    EXPECT_EQ(p.video.codecTag, static_cast<unsigned>(MKTAG('m', 'p', '4', 'v')));
    // About 0.12 bit per pixel: 320x240 at 23.976 is 221 kb/s, raised to the 300 kb/s floor.
    EXPECT_EQ(p.video.bitrate, 300000);
    EXPECT_EQ(p.video.maxRate, 2500000);
    EXPECT_EQ(p.video.tolerance, p.video.bitrate);

    o.videoBitrate = 500000;
    o.maxRate = 700000;
    o.minRate = 200000; // below the target: would make libavcodec run at the ceiling
    p = makePlan(o, "out.mp4", videoOnly(picture(320, 240)));
    EXPECT_EQ(p.video.bitrate, 500000);
    EXPECT_EQ(p.video.maxRate, 700000);
    EXPECT_EQ(p.video.bufSize, 700000);
    EXPECT_EQ(p.video.minRate, 0);
}

// The devices play MPEG-4 Visual only up to 640x480: a larger asked frame is fitted inside it
// with its shape, and said so; H.264 keeps the asked frame.
TEST(Mpeg4Plan, LargeFramesAreFittedInside640x480) {
    struct Case {
        int w, h;       // asked with -s
        int fitW, fitH; // written
    };
    const Case cases[] = {
        {960, 640, 640, 426}, {1280, 720, 640, 360}, {1024, 768, 640, 480},
        {720, 320, 640, 284}, {642, 480, 640, 478}, // two pixels too wide still count
        {640, 480, 640, 480}, {480, 320, 480, 320},  {4096, 16, 640, 16},
    };
    for (const Case& c : cases) {
        Options o = deviceOptions(VideoCodecChoice::Xvid);
        o.width = c.w;
        o.height = c.h;
        const OutputPlan p = makePlan(o, "out.mp4", videoOnly(picture(1280, 720)));
        const std::string asked = std::to_string(c.w) + "x" + std::to_string(c.h);
        EXPECT_EQ(p.video.width, c.fitW) << asked;
        EXPECT_EQ(p.video.height, c.fitH) << asked;
        EXPECT_LE(p.video.level, 4) << asked << ": beyond Simple Profile level 4a";
        const bool fitted = c.fitW != (c.w & ~1) || c.fitH != (c.h & ~1);
        EXPECT_EQ(p.notes.size(), fitted ? 1u : 0u) << asked;
        if (fitted && !p.notes.empty()) {
            EXPECT_EQ(p.notes[0], "MPEG-4 is limited to 640x480 on these devices: writing " +
                                      std::to_string(c.fitW) + "x" + std::to_string(c.fitH));
        }
        // The picture is letterboxed inside the fitted frame, never outside it.
        EXPECT_LE(p.video.innerW + 2 * p.video.padX, p.video.width) << asked;
        EXPECT_LE(p.video.innerH + 2 * p.video.padY, p.video.height) << asked;
    }

    // The plan's command shows the fitted frame: a 4:3 source in a 16:9 frame gets side bars.
    Options o = deviceOptions(VideoCodecChoice::Xvid);
    o.width = 1280;
    o.height = 720;
    const OutputPlan p = makePlan(o, "out.mp4", videoOnly(picture(640, 480)));
    EXPECT_NE(equivalentCommand(p, o).find("scale=480:360:flags=bicubic,pad=640:360:80:0"),
              std::string::npos)
        << equivalentCommand(p, o);

    // H.264 plays at the large sizes: the frame stays as asked.
    o.vcodec = VideoCodecChoice::H264;
    const OutputPlan h = makePlan(o, "out.mov", videoOnly(picture(1280, 720)));
    EXPECT_EQ(h.video.width, 1280);
    EXPECT_EQ(h.video.height, 720);
    EXPECT_TRUE(h.notes.empty());

    // Without -s ("Keep Original") the source's own size is kept where the devices play it,
    // and fitted the same way where they do not.
    o.vcodec = VideoCodecChoice::Xvid;
    o.width.reset();
    o.height.reset();
    const OutputPlan own = makePlan(o, "out.mp4", videoOnly(picture(1280, 720)));
    EXPECT_EQ(own.video.width, 640);
    EXPECT_EQ(own.video.height, 360);
    EXPECT_EQ(own.notes.size(), 1u);
    const OutputPlan small = makePlan(o, "out.mp4", videoOnly(picture(480, 320)));
    EXPECT_EQ(small.video.width, 480);
    EXPECT_EQ(small.video.height, 320);
    EXPECT_TRUE(small.notes.empty());
}

TEST(Mpeg4Plan, FitInsideKeepsTheShapeInEvenSizes) {
    EXPECT_EQ(fitFrameInside({960, 640}, 640, 480).height, 426);
    EXPECT_EQ(fitFrameInside({1280, 720}, 640, 480).height, 360);
    const FrameSize same = fitFrameInside({320, 240}, 640, 480);
    EXPECT_EQ(same.width, 320);
    EXPECT_EQ(same.height, 240);
    for (int w = 642; w <= 4096; w += 94)
        for (int h = 16; h <= 4096; h += 130) {
            const FrameSize f = fitFrameInside({w, h}, 640, 480);
            ASSERT_LE(f.width, 640);
            ASSERT_LE(f.height, 480);
            ASSERT_EQ(f.width % 2, 0);
            ASSERT_EQ(f.height % 2, 0);
            ASSERT_TRUE(f.width == 640 || f.height == 480)
                << w << "x" << h << ": not as large as fits";
            const double asked = static_cast<double>(w) / h;
            const double got = static_cast<double>(f.width) / f.height;
            if (f.width > 16 && f.height > 16) {
                ASSERT_NEAR(got / asked, 1.0, 2.0 / std::min(f.width, f.height))
                    << w << "x" << h << " became " << f.width << "x" << f.height;
            }
        }
}

// ---------------------------------------------------------------------------
// Picture geometry

TEST(Letterbox, WidePictureGetsBarsAboveAndBelow) {
    const PictureFit f = fitPicture(640, 480, {1, 1}, 16.0 / 9.0, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(f.innerW, 640);
    EXPECT_EQ(f.innerH, 360);
    EXPECT_EQ(f.padX, 0);
    EXPECT_EQ(f.padY, 60);
}

TEST(Letterbox, TallPictureGetsBarsLeftAndRight) {
    const PictureFit f = fitPicture(320, 240, {1, 1}, 240.0 / 320.0, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(f.innerH, 240);
    EXPECT_EQ(f.innerW, 180);
    EXPECT_EQ(f.padX, 70);
    EXPECT_EQ(f.padY, 0);
}

TEST(Letterbox, AnamorphicSourceIsShownAtItsDisplayShape) {
    // 720x480 with 32:27 pixels is 16:9 on screen.
    const VideoSource dvd = picture(720, 480, {30000, 1001}, {32, 27});
    EXPECT_NEAR(displayAspect(dvd), 16.0 / 9.0, 1e-9);
    Options o = deviceOptions();
    o.width = 640;
    o.height = 480;
    const OutputPlan p = makePlan(o, "out.mp4", videoOnly(dvd));
    EXPECT_EQ(p.video.innerW, 640);
    EXPECT_EQ(p.video.innerH, 360);
    EXPECT_EQ(p.video.padY, 60);
    EXPECT_TRUE(same(p.video.sar, {1, 1})) << "device pixels are square";

    // At its own size the picture is widened, not squeezed: 720 * 32/27 = 853.3 -> 854.
    o.width.reset();
    o.height.reset();
    const OutputPlan own = makePlan(o, "out.mp4", videoOnly(dvd));
    EXPECT_EQ(own.video.width, 854);
    EXPECT_EQ(own.video.height, 480);
    EXPECT_EQ(own.video.innerW, 854);
    EXPECT_EQ(own.video.innerH, 480);
}

TEST(Letterbox, OddSizesBecomeEvenAndThinBarsAreDropped) {
    Options o = deviceOptions();
    const OutputPlan own = makePlan(o, "out.mp4", videoOnly(picture(321, 241)));
    EXPECT_EQ(own.video.width % 2, 0);
    EXPECT_EQ(own.video.height % 2, 0);
    EXPECT_EQ(own.video.width, 322);
    EXPECT_EQ(own.video.height, 242);
    EXPECT_EQ(own.video.innerW, 322) << "a bar of a pixel or two";
    EXPECT_EQ(own.video.innerH, 242);

    o.width = 321; // odd sizes asked for are rounded down
    o.height = 239;
    const OutputPlan asked = makePlan(o, "out.mp4", videoOnly(picture(320, 240)));
    EXPECT_EQ(asked.video.width, 320);
    EXPECT_EQ(asked.video.height, 238);

    // Nearly the frame's shape: a 2-pixel bar is not worth drawing.
    const PictureFit f = fitPicture(640, 480, {1, 1}, 640.0 / 478.0, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(f.innerH, 480);
    EXPECT_EQ(f.padY, 0);
}

TEST(Letterbox, BarsFollowTheChromaGrid) {
    // NTSC DV is 4:1:1: four pixels share a chroma sample across.
    const PictureFit f = fitPicture(720, 480, {8, 9}, 9.0 / 16.0, AV_PIX_FMT_YUV411P);
    EXPECT_EQ(f.innerW % 4, 0);
    EXPECT_EQ(f.padX % 4, 0);
    EXPECT_LT(f.innerW, 720);
    EXPECT_EQ(f.innerH, 480);
    EXPECT_LE(f.padX + f.innerW, 720);
    const double shown = f.innerW * 8.0 / 9.0 / 480.0;
    EXPECT_NEAR(shown, 9.0 / 16.0, 0.01);
}

TEST(Letterbox, RotatedPhoneClipStandsUpright) {
    VideoSource phone = picture(1920, 1080, {30, 1});
    phone.rotation = 90;
    EXPECT_NEAR(displayAspect(phone), 1080.0 / 1920.0, 1e-9);
    const OutputPlan own = makePlan(deviceOptions(), "out.mp4", videoOnly(phone));
    EXPECT_EQ(own.video.width, 1080);
    EXPECT_EQ(own.video.height, 1920);
    EXPECT_EQ(own.video.rotation, 90);
    EXPECT_NE(videoFilterChain(own.video).find("transpose=clock"), std::string::npos);

    Options o = deviceOptions();
    o.width = 320;
    o.height = 240;
    const OutputPlan boxed = makePlan(o, "out.mp4", videoOnly(phone));
    EXPECT_EQ(boxed.video.innerH, 240);
    EXPECT_EQ(boxed.video.innerW, 136); // 240 * 9/16 = 135 -> nearest even
}

TEST(Letterbox, HugePictureNeedsAnExplicitSize) {
    EXPECT_THROW(makePlan(deviceOptions(), "out.mp4", videoOnly(picture(4200, 2000))), Failure);
    Options o = deviceOptions();
    o.width = 640;
    o.height = 480;
    EXPECT_NO_THROW(makePlan(o, "out.mp4", videoOnly(picture(4200, 2000))));
}

TEST(Deinterlace, OnlyForSourcesMarkedInterlaced) {
    for (FieldOrder f : {FieldOrder::TopFirst, FieldOrder::BottomFirst}) {
        VideoSource v = picture(720, 576);
        v.fields = f;
        const OutputPlan p = makePlan(deviceOptions(), "out.mp4", videoOnly(v));
        EXPECT_TRUE(p.video.deinterlace);
        EXPECT_EQ(videoFilterChain(p.video).rfind("yadif=", 0), 0u);
    }
    for (FieldOrder f : {FieldOrder::Progressive, FieldOrder::Unknown}) {
        VideoSource v = picture(720, 576);
        v.fields = f;
        EXPECT_FALSE(makePlan(deviceOptions(), "out.mp4", videoOnly(v)).video.deinterlace);
    }
}

// ---------------------------------------------------------------------------
// Frame rates

TEST(RateSnapping, DecimalsBecomeTheNtscFractions) {
    EXPECT_TRUE(same(snapRate({2997, 100}), {30000, 1001}));
    EXPECT_TRUE(same(snapRate({23976, 1000}), {24000, 1001}));
    EXPECT_TRUE(same(snapRate({5994, 100}), {60000, 1001}));
    EXPECT_TRUE(same(snapRate({90000, 3003}), {30000, 1001}));
    EXPECT_TRUE(same(snapRate({25, 1}), {25, 1}));
    EXPECT_TRUE(same(snapRate({30, 1}), {30, 1}));
    EXPECT_TRUE(same(snapRate({50, 2}), {25, 1})) << "reduced";
    EXPECT_TRUE(same(snapRate({25, 2}), {25, 2}));
    // A container clock's fraction is brought to a denominator the encoders take.
    const AVRational odd = snapRate({1234567, 90000});
    EXPECT_LE(odd.den, 1001);
    EXPECT_NEAR(av_q2d(odd), 1234567.0 / 90000.0, 0.001);
}

TEST(RateSnapping, TheDevicesGetAtMostThirty) {
    EXPECT_TRUE(same(deviceRate({25, 1}), {25, 1}));
    EXPECT_TRUE(same(deviceRate({30000, 1001}), {30000, 1001}));
    EXPECT_TRUE(same(deviceRate({30, 1}), {30, 1}));
    EXPECT_TRUE(same(deviceRate({50, 1}), {25, 1}));
    EXPECT_TRUE(same(deviceRate({60000, 1001}), {30000, 1001}));
    EXPECT_TRUE(same(deviceRate({5994, 100}), {30000, 1001}));
    EXPECT_TRUE(same(deviceRate({60, 1}), {30, 1}));
    EXPECT_TRUE(same(deviceRate({48, 1}), {24, 1}));
    EXPECT_TRUE(same(deviceRate({120, 1}), {30, 1}));
    EXPECT_TRUE(same(deviceRate({0, 1}), {25, 1})) << "unknown";
    EXPECT_TRUE(same(deviceRate({1000, 1}), {25, 1})) << "absurd";
    EXPECT_TRUE(same(deviceRate({1, 2}), {25, 1})) << "absurd";
}

TEST(RateSnapping, PlanTakesTheSourceRateOrTheAskedOne) {
    Options o = deviceOptions();
    OutputPlan p = makePlan(o, "out.mp4", videoOnly(picture(320, 240, {5994, 100})));
    EXPECT_TRUE(same(p.video.rate, {30000, 1001}));
    o.frameRate = Rational{15, 1};
    p = makePlan(o, "out.mp4", videoOnly(picture(320, 240, {5994, 100})));
    EXPECT_TRUE(same(p.video.rate, {15, 1}));
}

// ---------------------------------------------------------------------------
// Sound and containers

TEST(AudioPlan, ChannelsRatesAndTheAacCeiling) {
    Options o = deviceOptions();
    OutputPlan p = makePlan(o, "out.mp4", withSound(picture(320, 240), 6, 48000));
    EXPECT_EQ(p.audio.encoder, "aac");
    EXPECT_EQ(p.audio.sampleFormat, AV_SAMPLE_FMT_FLTP);
    EXPECT_EQ(p.audio.channels, 2) << "5.1 is mixed down";
    EXPECT_EQ(p.audio.sampleRate, 48000);
    EXPECT_EQ(p.audio.bitrate, 128000);

    p = makePlan(o, "out.mp4", withSound(picture(320, 240), 1, 22050));
    EXPECT_EQ(p.audio.channels, 1);
    EXPECT_EQ(p.audio.sampleRate, 22050);

    p = makePlan(o, "out.mp4", withSound(picture(320, 240), 2, 96000));
    EXPECT_EQ(p.audio.sampleRate, 48000) << "not an AAC rate of the devices";

    p = makePlan(o, "out.mp4", withSound(picture(320, 240), 0, 44100));
    EXPECT_EQ(p.audio.channels, 2) << "an unstated count is taken as stereo";

    o.channels = 6;
    p = makePlan(o, "out.mp4", withSound(picture(320, 240), 6, 48000));
    EXPECT_EQ(p.audio.channels, 2);
    EXPECT_TRUE(mentions(p.warnings, "mixing down"));

    o.channels = 1;
    o.sampleRate = 8000;
    p = makePlan(o, "out.mp4", withSound(picture(320, 240), 2, 44100));
    EXPECT_EQ(p.audio.bitrate, 45600) << "6144 bits per channel and frame, less a margin";
    EXPECT_TRUE(mentions(p.warnings, "audio bit rate lowered"));

    o.sampleRate = 44056;
    EXPECT_THROW(makePlan(o, "out.mp4", withSound(picture(320, 240), 2, 44100)), UsageError);
}

// Every sound track gets the same asked settings, and its own rate and channels where
// nothing was asked; what the planner warns of is said once for all tracks.
TEST(AudioPlan, EachFurtherSoundTrackHasItsOwnPlan) {
    Options o = deviceOptions();
    SourceInfo src = withSound(picture(320, 240), 6, 48000);
    src.audio->track = 1;
    src.moreAudio = {AudioSource{1, 22050, 0}, AudioSource{8, 96000, 2}};
    OutputPlan p = makePlan(o, "out.mp4", src);
    ASSERT_EQ(p.moreAudio.size(), 2u);
    EXPECT_EQ(p.audio.channels, 2);
    EXPECT_EQ(p.audio.sourceTrack, 1);
    EXPECT_EQ(p.moreAudio[0].channels, 1);
    EXPECT_EQ(p.moreAudio[0].sampleRate, 22050);
    EXPECT_EQ(p.moreAudio[0].sourceTrack, 0);
    EXPECT_EQ(p.moreAudio[1].channels, 2);
    EXPECT_EQ(p.moreAudio[1].sampleRate, 48000);
    for (const AudioPlan& a : p.moreAudio) {
        EXPECT_EQ(a.encoder, "aac");
        EXPECT_EQ(a.sampleFormat, AV_SAMPLE_FMT_FLTP);
    }
    EXPECT_EQ(p.audio.bitrate, 128000);
    EXPECT_EQ(p.moreAudio[0].bitrate, 125685) << "mono 22.05 kHz cannot take 128 kb/s";
    EXPECT_TRUE(mentions(p.warnings, "audio bit rate lowered to 125 kb/s for 22050 Hz"));
    EXPECT_EQ(p.moreAudio[1].bitrate, 128000);
    const std::string command = equivalentCommand(p, o);
    EXPECT_NE(command.find("-map 0:a:0 -filter:a:1 \"atrim=start=0,aresample=22050"),
              std::string::npos)
        << command;
    EXPECT_NE(command.find("-map 0:a:2 -filter:a:2 "), std::string::npos) << command;
    EXPECT_NE(command.find("-c:a:2 aac -b:a:2 128k"), std::string::npos) << command;

    o.channels = 6;
    o.sampleRate = 32000;
    o.audioBitrate = 96000;
    src.moreAudio = {AudioSource{6, 44100, 0}, AudioSource{2, 22050, 2}};
    p = makePlan(o, "out.mp4", src);
    for (const AudioPlan& a : p.moreAudio) {
        EXPECT_EQ(a.channels, 2);
        EXPECT_EQ(a.sampleRate, 32000);
        EXPECT_EQ(a.bitrate, 96000);
    }
    EXPECT_EQ(std::count_if(p.warnings.begin(), p.warnings.end(),
                            [](const std::string& w) { return w.find("mixing down") != w.npos; }),
              1);

    // Disc formats keep one sound track.
    o = deviceOptions();
    o.disc = DiscKind::Dvd;
    EXPECT_TRUE(makePlan(o, "out.mpg", src).moreAudio.empty());
    // One track: the command is the one it always was.
    o = deviceOptions();
    src.moreAudio.clear();
    EXPECT_EQ(equivalentCommand(makePlan(o, "out.mp4", src), o).find("-filter:a:"),
              std::string::npos);
}

TEST(Containers, ChosenByTheExtension) {
    const SourceInfo src = videoOnly(picture(320, 240));
    EXPECT_EQ(makePlan(deviceOptions(), "a/b.MOV", src).muxer, "mov");
    EXPECT_EQ(makePlan(deviceOptions(), "b.qt", src).muxer, "mov");
    EXPECT_EQ(makePlan(deviceOptions(), "b.m4v", src).muxer, "ipod");
    EXPECT_EQ(makePlan(deviceOptions(), "b.m4a", src).muxer, "ipod");
    EXPECT_EQ(makePlan(deviceOptions(), "b.mp4", src).muxer, "mp4");
    EXPECT_EQ(makePlan(deviceOptions(), "dir.mov/b", src).muxer, "mp4") << "a dot in a folder";
    const OutputPlan p = makePlan(deviceOptions(), "b.mp4", src);
    EXPECT_EQ(p.muxerOptions.front(),
              (std::pair<std::string, std::string>("movflags", "+faststart")));
}

TEST(Containers, DevicesPlayYuv420pOnly) {
    Options o = deviceOptions();
    o.pixFmt = "yuv422p";
    EXPECT_THROW(makePlan(o, "out.mp4", videoOnly(picture(320, 240))), UsageError);
    o.pixFmt = "yuv420p";
    EXPECT_NO_THROW(makePlan(o, "out.mp4", videoOnly(picture(320, 240))));
}

// ---------------------------------------------------------------------------
// Disc targets

TEST(DiscPlan, NormGuessedFromTheSourceRate) {
    Options o = deviceOptions();
    o.disc = DiscKind::Dvd;
    EXPECT_EQ(makePlan(o, "o.mpg", videoOnly(picture(720, 576, {25, 1}))).video.height, 576);
    EXPECT_EQ(makePlan(o, "o.mpg", videoOnly(picture(720, 576, {50, 1}))).video.height, 576);
    EXPECT_EQ(makePlan(o, "o.mpg", videoOnly(picture(720, 480, {30000, 1001}))).video.height, 480);
    EXPECT_EQ(makePlan(o, "o.mpg", videoOnly(picture(720, 480, {24, 1}))).video.height, 480);
    o.norm = TvNorm::Film;
    const OutputPlan film = makePlan(o, "o.mpg", videoOnly(picture(720, 576, {25, 1})));
    EXPECT_TRUE(same(film.video.rate, {24000, 1001}));
    EXPECT_EQ(film.video.height, 480);
}

TEST(DiscPlan, WideSourcesGetA16by9FrameWhereTheFormatHasOne) {
    Options o = deviceOptions();
    o.disc = DiscKind::Dvd;
    o.norm = TvNorm::Ntsc;
    const OutputPlan wide = makePlan(o, "o.mpg", videoOnly(picture(1280, 720)));
    EXPECT_TRUE(same(wide.video.sar, {32, 27}));
    EXPECT_EQ(wide.video.innerW, 720);
    EXPECT_EQ(wide.video.innerH, 480);
    const OutputPlan square = makePlan(o, "o.mpg", videoOnly(picture(640, 480)));
    EXPECT_TRUE(same(square.video.sar, {8, 9}));

    o.disc = DiscKind::Vcd; // VCD has 4:3 only: the wide picture is boxed
    const OutputPlan vcd = makePlan(o, "o.mpg", videoOnly(picture(1280, 720)));
    EXPECT_EQ(vcd.video.width, 352);
    EXPECT_EQ(vcd.video.height, 240);
    EXPECT_LT(vcd.video.innerH, 240);
    EXPECT_GT(vcd.video.padY, 0);
}

TEST(DiscPlan, TargetsFixCodecsAndRates) {
    Options o = deviceOptions();
    o.norm = TvNorm::Pal;
    o.videoBitrate = 50000000;
    o.disc = DiscKind::Dvd;
    OutputPlan p = makePlan(o, "o.mpg", withSound(picture(720, 576), 6, 48000));
    EXPECT_EQ(p.video.encoder, "mpeg2video");
    EXPECT_EQ(p.video.bitrate, 9000000) << "-b is held to the standard's ceiling";
    EXPECT_EQ(p.audio.encoder, "ac3");
    EXPECT_EQ(p.audio.channels, 6) << "DVD keeps 5.1";
    EXPECT_EQ(p.video.gop, 15);
    EXPECT_FALSE(p.appleTarget);

    o.disc = DiscKind::Svcd;
    p = makePlan(o, "o.mpg", withSound(picture(720, 576), 6, 48000));
    EXPECT_EQ(p.audio.channels, 2);
    EXPECT_EQ(p.audio.sampleRate, 44100);

    o.disc = DiscKind::Vcd;
    p = makePlan(o, "o.mpg", withSound(picture(720, 576), 6, 48000));
    EXPECT_EQ(p.video.encoder, "mpeg1video");
    EXPECT_EQ(p.video.bitrate, 1150000) << "VCD's rate is fixed";

    o.disc = DiscKind::Dv;
    o.norm = TvNorm::Ntsc;
    p = makePlan(o, "o.dv", withSound(picture(720, 480), 2, 48000));
    EXPECT_EQ(p.video.pixFmt, AV_PIX_FMT_YUV411P);
    EXPECT_EQ(p.audio.encoder, "pcm_s16le");
    EXPECT_EQ(p.audio.sampleFormat, AV_SAMPLE_FMT_S16);
    o.norm = TvNorm::Film;
    EXPECT_TRUE(same(makePlan(o, "o.dv", videoOnly(picture(720, 480))).video.rate, {30000, 1001}))
        << "DV has no 24p";

    SourceInfo soundOnly;
    soundOnly.audio = AudioSource{2, 48000};
    EXPECT_THROW(makePlan(o, "o.dv", soundOnly), Failure);
}

// ---------------------------------------------------------------------------
// Filter chains

TEST(FilterChains, ARebuiltChainContinuesWhereTheOldOneStopped) {
    VideoPlan v;
    v.rate = {30000, 1001};
    v.width = v.innerW = 320;
    v.height = v.innerH = 240;
    EXPECT_EQ(videoFilterChain(v),
              "fps=30000/1001:start_time=0,scale=320:240:flags=bicubic,setsar=1/1,format=yuv420p");
    // Frame 30 at 29.97 begins at 1.001 s.
    EXPECT_NE(videoFilterChain(v, 30).find("fps=30000/1001:start_time=1.001000,"),
              std::string::npos)
        << videoFilterChain(v, 30);

    AudioPlan a;
    a.sampleRate = 44100;
    a.channels = 2;
    a.sampleFormat = AV_SAMPLE_FMT_FLTP;
    EXPECT_EQ(audioFilterChain(a), "atrim=start=0,aresample=44100:async=1:first_pts=0,"
                                   "aformat=sample_fmts=fltp:sample_rates=44100:"
                                   "channel_layouts=stereo");
    const std::string rebuilt = audioFilterChain(a, 88200, 3.5);
    EXPECT_NE(rebuilt.find("atrim=start=0:end=3.500000,"), std::string::npos) << rebuilt;
    EXPECT_NE(rebuilt.find("first_pts=88200,"), std::string::npos) << rebuilt;
    a.channels = 6;
    EXPECT_NE(audioFilterChain(a).find("channel_layouts=5.1"), std::string::npos);
}

TEST(FilterChains, PadOnlyWhenThereAreBars) {
    VideoPlan v;
    v.width = 640;
    v.height = 480;
    v.innerW = 640;
    v.innerH = 360;
    v.padY = 60;
    EXPECT_NE(videoFilterChain(v).find(",scale=640:360:flags=bicubic,pad=640:480:0:60:black,"),
              std::string::npos);
    v.innerH = 480;
    v.padY = 0;
    EXPECT_EQ(videoFilterChain(v).find("pad="), std::string::npos);
}
