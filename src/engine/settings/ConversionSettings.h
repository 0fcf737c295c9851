// Target formats, the tables behind the settings lists, and the settings
// record the batch reads.
#pragma once

#include "engine/platform/Files.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace plexavo::settings {

enum TargetFormat : int {
    kTargetMpeg4 = 0,
    kTargetH264 = 1,
    kTargetDvd = 2,
    kTargetWmv = 3,
    kTarget3gp = 4,
    kTargetOgm = 5,
    kTargetVcd = 6,
    kTargetSvcd = 7,
    kTargetDv = 8,
    kTargetAvi = 9,
    kTargetFormatCount = 10,
};

enum TvStandard : int { kTvNtsc = 0, kTvPal = 1, kTvNtscFilm = 2 };

struct VideoSize {
    int width;
    int height;
    const char* label; // device preset label, "" for a plain size
};

struct AudioBitRate {
    int kbps;
    const char* label;
};

inline constexpr std::array<const char*, kTargetFormatCount> kTargetCaptions = {
    "MPEG-4", "H.264", "DVD", "WMV", "3GP", "OGM", "VCD", "SVCD", "DV", "AVI"};
inline constexpr std::array<const char*, kTargetFormatCount> TargetExtensions = {
    "mp4", "mov", "mpg", "wmv", "3gp", "ogm", "mpg", "mpg", "mpg", "avi"};
// Only these two target buttons are offered to the user.
inline constexpr std::array<bool, kTargetFormatCount> kTargetShown = {
    true, true, false, false, false, false, false, false, false, false};
inline constexpr std::array<const char*, 3> kTvStandardCaptions = {"NTSC", "PAL", "NTSC-Film"};

inline constexpr std::array<VideoSize, 14> VideoSizes = {{
    {160, 120, ""},
    {176, 144, ""},
    {256, 192, ""},
    {320, 180, ""},
    {320, 240, "iPod nano"},
    {480, 320, "iPhone 3GS"},
    {640, 272, ""},
    {640, 360, ""},
    {640, 480, "iPhone4"},
    {720, 306, ""},
    {720, 320, ""},
    {960, 640, "iPhone4 H.264"},
    {1024, 768, "iPad1/2"},
    {1280, 720, "iPad1/2 Best"},
}};
inline constexpr std::array<double, 3> FrameRates = {14.985, 23.976, 29.97};
inline constexpr std::array<int, 11> VideoBitRates = {128, 256, 384,  512,  576, 640,
                                                      768, 900, 1500, 2000, 2500};
inline constexpr std::array<AudioBitRate, 8> AudioBitRates = {{
    {32, "Near FM radio"},
    {48, "FM radio"},
    {64, "Better than FM"},
    {80, ""},
    {96, "Near CD quality"},
    {112, ""},
    {128, "CD quality"},
    {160, "Better than CD"},
}};
inline constexpr std::array<int, 2> AudioChannels = {1, 2};
inline constexpr std::array<int, 3> SampleRates = {24000, 44100, 48000};
inline constexpr std::array<double, 19> VolumeFactors = {0.0, 0.25, 0.5, 0.75, 1.25, 1.5, 1.75,
                                                         2.0, 2.25, 2.5, 2.75, 3.0,  3.5, 4.0,
                                                         4.5, 5.0,  6.0, 7.0,  8.0};

// String ids of the translated list texts.
inline constexpr unsigned kStrKeepOriginal = 61337;
inline constexpr unsigned kStrRecommended = 61336;
inline constexpr unsigned kStrMono = 61338;
inline constexpr unsigned kStrStereo = 61339;
inline constexpr unsigned kStrDisableAudio = 61340;

struct ConversionSettings {
    int targetFormat = kTargetMpeg4;
    int tvStandard = kTvNtsc;
    int sizeChoice = 0;
    std::string width = "0";
    std::string height = "0";
    int frameRateChoice = 0;
    int videoBitRateChoice = 0;
    bool variableBitRate = false;
    std::string maxRate;
    std::string minRate;
    int channelsChoice = 0;
    int audioBitRateChoice = 0;
    int sampleRateChoice = 0;
    int volumeChoice = 0;
    std::string outputPath = platform::defaultOutputPath();

    // The chosen value of each list: none for "Keep Original" (index 0) or an
    // index outside the table, else row index-1.
    std::optional<double> frameRate() const;
    std::optional<int> videoBitRate() const;
    std::optional<int> channels() const;
    std::optional<int> audioBitRate() const;
    std::optional<int> sampleRate() const;
    std::optional<double> volume() const;

    // The width and height texts for the current size choice.
    void applySizeChoice();

    // Before a batch: a zero (or empty) side makes both sides "0".
    // Returns true always; kept as a result for the callers' uniform checks.
    bool equalizeSize();
};

// The exact entry texts of each settings list, "Keep Original" first.
std::vector<std::string> sizeListTexts();
std::vector<std::string> frameRateListTexts();
std::vector<std::string> videoBitRateListTexts();
std::vector<std::string> channelListTexts();
std::vector<std::string> audioBitRateListTexts();
std::vector<std::string> sampleRateListTexts();
std::vector<std::string> volumeListTexts();

} // namespace plexavo::settings
