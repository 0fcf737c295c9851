#include "engine/convert/EncodingOptions.h"
#include "engine/settings/ConversionSettings.h"

#include <gtest/gtest.h>

using namespace plexavo;

using plexavo::convert::buildOptionText;
using plexavo::convert::equalizedFrameSize;
using plexavo::convert::FrameSize;
using plexavo::settings::ConversionSettings;
using plexavo::settings::kTarget3gp;
using plexavo::settings::kTargetAvi;
using plexavo::settings::kTargetDv;
using plexavo::settings::kTargetDvd;
using plexavo::settings::kTargetH264;
using plexavo::settings::kTargetOgm;
using plexavo::settings::kTargetSvcd;
using plexavo::settings::kTargetVcd;
using plexavo::settings::kTargetWmv;
using plexavo::settings::kTvNtsc;
using plexavo::settings::kTvNtscFilm;
using plexavo::settings::kTvPal;

TEST(OptionText, KeepOriginalEverywhereGivesOnlyTheCodec) {
    ConversionSettings s;
    EXPECT_EQ(buildOptionText(s), " -vcodec xvid -pix_fmt yuv420p");
    s.targetFormat = kTargetH264;
    EXPECT_EQ(buildOptionText(s), " -vcodec h264 -pix_fmt yuv420p")
        << "H.264 is asked for as H.264";
}

TEST(OptionText, EveryChosenValueInItsPlace) {
    ConversionSettings s;
    s.width = "320";
    s.height = "240";
    s.frameRateChoice = 2;    // 23.976
    s.videoBitRateChoice = 7; // 768
    s.channelsChoice = 2;     // stereo
    s.audioBitRateChoice = 7; // 128
    s.sampleRateChoice = 2;   // 44100
    s.maxRate = "1000";       // ignored at constant rate
    EXPECT_EQ(buildOptionText(s),
              " -vcodec xvid -pix_fmt yuv420p -s 320x240 -r 23.976 -b 768 -ac 2 -ab 128 -ar 44100");

    s.variableBitRate = true;
    s.minRate = "0";
    EXPECT_EQ(buildOptionText(s),
              " -vcodec xvid -pix_fmt yuv420p -s 320x240 -r 23.976 -bt 768 -maxrate 1000 "
              "-ac 2 -ab 128 -ar 44100");
    s.minRate = "200";
    s.maxRate = "";
    s.frameRateChoice = 3;
    s.targetFormat = kTargetH264;
    EXPECT_EQ(buildOptionText(s),
              " -vcodec h264 -pix_fmt yuv420p -s 320x240 -r 29.970 -bt 768 -minrate 200 "
              "-ac 2 -ab 128 -ar 44100");

    // Limits without a chosen rate still travel; the rate itself is never given as -b then.
    s.videoBitRateChoice = 0;
    s.maxRate = "900";
    s.minRate = "";
    s.width = s.height = "0";
    s.frameRateChoice = s.channelsChoice = s.audioBitRateChoice = s.sampleRateChoice = 0;
    EXPECT_EQ(buildOptionText(s), " -vcodec h264 -pix_fmt yuv420p -maxrate 900");
}

TEST(OptionText, AZeroOrEmptySideDropsTheSizeAndShowsZeroes) {
    for (auto [w, h] : {std::pair{"0", "240"}, {"640", "0"}, {"", "480"}, {"640", ""}}) {
        ConversionSettings s;
        s.width = w;
        s.height = h;
        EXPECT_EQ(buildOptionText(s), " -vcodec xvid -pix_fmt yuv420p") << w << "x" << h;
        // The settings a worker holds are left alone; the size to show comes apart.
        EXPECT_EQ(s.width, w);
        EXPECT_EQ(s.height, h);
        const FrameSize shown = equalizedFrameSize(s);
        EXPECT_EQ(shown.width, "0");
        EXPECT_EQ(shown.height, "0");
    }
    ConversionSettings sized;
    sized.width = "320";
    sized.height = "240";
    const FrameSize kept = equalizedFrameSize(sized);
    EXPECT_EQ(kept.width, "320");
    EXPECT_EQ(kept.height, "240");
    ConversionSettings s;
    s.width = "00"; // only the text "0" means keep
    s.height = "240";
    EXPECT_EQ(buildOptionText(s), " -vcodec xvid -pix_fmt yuv420p -s 00x240");
}

TEST(OptionText, DiscTargetsFollowTheTvStandard) {
    ConversionSettings s;
    s.width = "320";
    s.height = "240";
    s.videoBitRateChoice = 3;
    const std::pair<int, const char*> kinds[] = {
        {kTargetDvd, "dvd"}, {kTargetVcd, "vcd"}, {kTargetSvcd, "svcd"}, {kTargetDv, "dv"}};
    for (auto [target, kind] : kinds) {
        s.targetFormat = target;
        s.tvStandard = kTvNtsc;
        EXPECT_EQ(buildOptionText(s), std::string("-target ntsc-") + kind);
        s.tvStandard = kTvPal;
        EXPECT_EQ(buildOptionText(s), std::string("-target pal-") + kind);
        s.tvStandard = kTvNtscFilm;
        EXPECT_EQ(buildOptionText(s), std::string("-target film-") + kind);
        s.tvStandard = 7;
        EXPECT_EQ(buildOptionText(s), std::string("-target ntsc-") + kind);
    }
    for (int target : {kTargetWmv, kTarget3gp, kTargetOgm, kTargetAvi}) {
        s.targetFormat = target;
        EXPECT_EQ(buildOptionText(s), "");
    }
}
