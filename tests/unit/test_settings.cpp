#include "engine/settings/ConversionSettings.h"

#include <gtest/gtest.h>

using namespace plexavo;

using plexavo::settings::audioBitRateListTexts;
using plexavo::settings::channelListTexts;
using plexavo::settings::ConversionSettings;
using plexavo::settings::frameRateListTexts;
using plexavo::settings::kTargetDv;
using plexavo::settings::kTargetH264;
using plexavo::settings::kTargetMpeg4;
using plexavo::settings::kTvNtsc;
using plexavo::settings::kTvPal;
using plexavo::settings::sampleRateListTexts;
using plexavo::settings::sizeListTexts;
using plexavo::settings::TargetExtensions;
using plexavo::settings::videoBitRateListTexts;
using plexavo::settings::volumeListTexts;

TEST(SettingsLists, EntryTextsToTheCharacter) {
    const auto sizes = sizeListTexts();
    ASSERT_EQ(sizes.size(), 15u);
    EXPECT_EQ(sizes[0], "Keep Original");
    EXPECT_EQ(sizes[1], "160x120 - ");
    EXPECT_EQ(sizes[5], "320x240 - iPod nano");
    EXPECT_EQ(sizes[9], "640x480 - iPhone4 (Recommended)");
    EXPECT_EQ(sizes[14], "1280x720 - iPad1/2 Best");

    EXPECT_EQ(frameRateListTexts(), (std::vector<std::string>{"Keep Original", "14.985 fps",
                                                              "23.976 fps", "29.970 fps"}));

    const auto video = videoBitRateListTexts();
    ASSERT_EQ(video.size(), 12u);
    EXPECT_EQ(video[1], "128 kbps");
    EXPECT_EQ(video[7], "768 kbps - Recommended");
    EXPECT_EQ(video[11], "2500 kbps");

    EXPECT_EQ(channelListTexts(),
              (std::vector<std::string>{"Keep Original", "1 Channel, Mono", "2 Channels, Stereo"}));

    const auto audio = audioBitRateListTexts();
    ASSERT_EQ(audio.size(), 9u);
    EXPECT_EQ(audio[1], "32 kbps - Near FM radio");
    EXPECT_EQ(audio[3], "64 kbps - Better than FM (Recommended)");
    EXPECT_EQ(audio[4], "80 kbps - ");
    EXPECT_EQ(audio[8], "160 kbps - Better than CD");

    EXPECT_EQ(sampleRateListTexts(),
              (std::vector<std::string>{"Keep Original", "24000 HZ", "44100 HZ", "48000 HZ"}));

    const auto volume = volumeListTexts();
    ASSERT_EQ(volume.size(), 20u);
    EXPECT_EQ(volume[1], "0% - Disable Audio");
    EXPECT_EQ(volume[2], "25%");
    EXPECT_EQ(volume[19], "800%");
    EXPECT_EQ(std::count(volume.begin(), volume.end(), "100%"), 0);
}

TEST(SettingsChoices, IndexZeroKeepsAndIndexIPicksRowIMinusOne) {
    ConversionSettings s;
    EXPECT_FALSE(s.frameRate());
    EXPECT_FALSE(s.videoBitRate());
    EXPECT_FALSE(s.channels());
    EXPECT_FALSE(s.audioBitRate());
    EXPECT_FALSE(s.sampleRate());
    EXPECT_FALSE(s.volume());
    s.frameRateChoice = 3;
    s.videoBitRateChoice = 7;
    s.audioBitRateChoice = 3;
    s.sampleRateChoice = 2;
    s.channelsChoice = 1;
    s.volumeChoice = 1;
    EXPECT_DOUBLE_EQ(*s.frameRate(), 29.97);
    EXPECT_EQ(*s.videoBitRate(), 768);
    EXPECT_EQ(*s.audioBitRate(), 64);
    EXPECT_EQ(*s.sampleRate(), 44100);
    EXPECT_EQ(*s.channels(), 1);
    EXPECT_DOUBLE_EQ(*s.volume(), 0.0);
    s.videoBitRateChoice = 12; // past the table: no value rather than a stray read
    EXPECT_FALSE(s.videoBitRate());
    s.frameRateChoice = -1;
    EXPECT_FALSE(s.frameRate());
}

TEST(SettingsSize, PresetsFillTheEditsAndEqualisationClearsAHalfSize) {
    ConversionSettings s;
    EXPECT_EQ(s.width, "0");
    EXPECT_EQ(s.height, "0");
    s.sizeChoice = 9;
    s.applySizeChoice();
    EXPECT_EQ(s.width, "640");
    EXPECT_EQ(s.height, "480");
    s.sizeChoice = 0;
    s.applySizeChoice();
    EXPECT_EQ(s.width, "0");
    EXPECT_EQ(s.height, "0");

    s.width = "0";
    s.height = "480";
    EXPECT_TRUE(s.equalizeSize());
    EXPECT_EQ(s.height, "0");
    s.width = "640";
    s.height = "0";
    s.equalizeSize();
    EXPECT_EQ(s.width, "0");
    s.width = "720";
    s.height = "306";
    s.equalizeSize();
    EXPECT_EQ(s.width + "x" + s.height, "720x306");
}

TEST(SettingsRecord, Defaults) {
    ConversionSettings s;
    EXPECT_EQ(s.targetFormat, kTargetMpeg4);
    EXPECT_EQ(s.tvStandard, kTvNtsc);
    EXPECT_FALSE(s.variableBitRate);
    EXPECT_TRUE(s.maxRate.empty());
    EXPECT_EQ(s.outputPath.back(), '/');
    EXPECT_NE(s.outputPath.find("ConvertedMedia"), std::string::npos);
    EXPECT_STREQ(TargetExtensions[kTargetH264], "mov");
    EXPECT_STREQ(TargetExtensions[kTargetDv], "mpg");
}
