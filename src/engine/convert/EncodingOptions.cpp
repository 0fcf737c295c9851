#include "engine/convert/EncodingOptions.h"

#include "engine/settings/ConversionSettings.h"

#include <cstdio>

namespace plexavo::convert {

using settings::ConversionSettings;
using settings::kTargetDv;
using settings::kTargetDvd;
using settings::kTargetH264;
using settings::kTargetMpeg4;
using settings::kTargetSvcd;
using settings::kTargetVcd;
using settings::kTvNtscFilm;
using settings::kTvPal;

namespace {

bool isSet(const std::string& rate) {
    return !rate.empty() && rate != "0";
}

std::string deviceOptions(const ConversionSettings& s, const char* codecOptions) {
    std::string text = codecOptions;
    const FrameSize size = equalizedFrameSize(s);
    if (size.width != "0" && size.height != "0")
        text += " -s " + size.width + "x" + size.height;
    if (auto rate = s.frameRate()) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, " -r %.3f", *rate);
        text += buffer;
    }
    if (auto rate = s.videoBitRate())
        text += (s.variableBitRate ? " -bt " : " -b ") + std::to_string(*rate);
    if (s.variableBitRate) {
        if (isSet(s.maxRate))
            text += " -maxrate " + s.maxRate;
        if (isSet(s.minRate))
            text += " -minrate " + s.minRate;
    }
    if (auto n = s.channels())
        text += " -ac " + std::to_string(*n);
    if (auto rate = s.audioBitRate())
        text += " -ab " + std::to_string(*rate);
    if (auto rate = s.sampleRate())
        text += " -ar " + std::to_string(*rate);
    return text;
}

} // namespace

const char* targetStandardPrefix(int tvStandard) {
    switch (tvStandard) {
    case kTvPal:
        return "-target pal-";
    case kTvNtscFilm:
        return "-target film-";
    default:
        return "-target ntsc-";
    }
}

FrameSize equalizedFrameSize(const ConversionSettings& settings) {
    ConversionSettings copy = settings;
    copy.equalizeSize();
    return {copy.width, copy.height};
}

std::string buildOptionText(const ConversionSettings& s) {
    switch (s.targetFormat) {
    case kTargetMpeg4:
        return deviceOptions(s, " -vcodec xvid -pix_fmt yuv420p");
    case kTargetH264:
        return deviceOptions(s, " -vcodec h264 -pix_fmt yuv420p");
    case kTargetDvd:
        return std::string(targetStandardPrefix(s.tvStandard)) + "dvd";
    case kTargetVcd:
        return std::string(targetStandardPrefix(s.tvStandard)) + "vcd";
    case kTargetSvcd:
        return std::string(targetStandardPrefix(s.tvStandard)) + "svcd";
    case kTargetDv:
        return std::string(targetStandardPrefix(s.tvStandard)) + "dv";
    default:
        return {}; // WMV, 3GP, OGM and AVI convert nothing
    }
}

} // namespace plexavo::convert
