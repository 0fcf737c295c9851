#include "engine/settings/ConversionSettings.h"

#include "engine/i18n/ResourceText.h"

#include <cstdio>
#include <cstdlib>

namespace plexavo::settings {

using i18n::loadResString;

namespace {

template <typename Table>
auto choiceValue(const Table& table, int choice) -> std::optional<typename Table::value_type> {
    if (choice < 1 || static_cast<std::size_t>(choice) > table.size())
        return std::nullopt;
    return table[static_cast<std::size_t>(choice - 1)];
}

// An empty edit means the same as "0": keep the source size.
bool isZeroSide(const std::string& side) {
    return side.empty() || side == "0";
}

std::string format(const char* fmt, auto... args) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

std::vector<std::string> withKeepOriginal() {
    return {loadResString(kStrKeepOriginal)};
}

} // namespace

std::optional<double> ConversionSettings::frameRate() const {
    return choiceValue(FrameRates, frameRateChoice);
}
std::optional<int> ConversionSettings::videoBitRate() const {
    return choiceValue(VideoBitRates, videoBitRateChoice);
}
std::optional<int> ConversionSettings::channels() const {
    return choiceValue(AudioChannels, channelsChoice);
}
std::optional<int> ConversionSettings::audioBitRate() const {
    auto row = choiceValue(AudioBitRates, audioBitRateChoice);
    return row ? std::optional<int>(row->kbps) : std::nullopt;
}
std::optional<int> ConversionSettings::sampleRate() const {
    return choiceValue(SampleRates, sampleRateChoice);
}
std::optional<double> ConversionSettings::volume() const {
    return choiceValue(VolumeFactors, volumeChoice);
}

void ConversionSettings::applySizeChoice() {
    auto row = choiceValue(VideoSizes, sizeChoice);
    if (!row) {
        width = "0";
        height = "0";
        return;
    }
    width = std::to_string(row->width);
    height = std::to_string(row->height);
}

bool ConversionSettings::equalizeSize() {
    if (isZeroSide(width) || isZeroSide(height)) {
        width = "0";
        height = "0";
    }
    return true;
}

std::vector<std::string> sizeListTexts() {
    auto texts = withKeepOriginal();
    for (const auto& s : VideoSizes) {
        if (s.width == 640 && s.height == 480)
            texts.push_back(format("%dx%d - %s (%s)", s.width, s.height, s.label,
                                   loadResString(kStrRecommended).c_str()));
        else
            texts.push_back(format("%dx%d - %s", s.width, s.height, s.label));
    }
    return texts;
}

std::vector<std::string> frameRateListTexts() {
    auto texts = withKeepOriginal();
    for (double rate : FrameRates)
        texts.push_back(format("%2.3f fps", rate));
    return texts;
}

std::vector<std::string> videoBitRateListTexts() {
    auto texts = withKeepOriginal();
    for (int rate : VideoBitRates) {
        if (rate == 768)
            texts.push_back(format("%d kbps - %s", rate, loadResString(kStrRecommended).c_str()));
        else
            texts.push_back(format("%d kbps", rate));
    }
    return texts;
}

std::vector<std::string> channelListTexts() {
    auto texts = withKeepOriginal();
    for (int n : AudioChannels)
        texts.push_back(loadResString(n == 1 ? kStrMono : kStrStereo));
    return texts;
}

std::vector<std::string> audioBitRateListTexts() {
    auto texts = withKeepOriginal();
    for (const auto& r : AudioBitRates) {
        if (r.kbps == 64)
            texts.push_back(format("%d kbps - %s (%s)", r.kbps, r.label,
                                   loadResString(kStrRecommended).c_str()));
        else
            texts.push_back(format("%d kbps - %s", r.kbps, r.label));
    }
    return texts;
}

std::vector<std::string> sampleRateListTexts() {
    auto texts = withKeepOriginal();
    for (int rate : SampleRates)
        texts.push_back(format("%d HZ", rate));
    return texts;
}

std::vector<std::string> volumeListTexts() {
    auto texts = withKeepOriginal();
    for (double factor : VolumeFactors) {
        if (factor == 0.0)
            texts.push_back(
                format("%.0f%% - %s", factor * 100, loadResString(kStrDisableAudio).c_str()));
        else
            texts.push_back(format("%.0f%%", factor * 100));
    }
    return texts;
}

} // namespace plexavo::settings
