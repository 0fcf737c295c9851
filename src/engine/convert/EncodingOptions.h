// The option text of a batch, built once from the settings.
#pragma once

#include <string>

namespace plexavo::settings {
struct ConversionSettings;
}

namespace plexavo::convert {

// The option text for the settings' target format, with the size rule
// applied (a zero or empty side drops the size). The settings are not
// changed: the batch shows equalizedFrameSize() in the panel itself.
std::string buildOptionText(const settings::ConversionSettings& settings);

// The frame size the option text uses, as the panel should show it afterwards.
struct FrameSize {
    std::string width;
    std::string height;
};
FrameSize equalizedFrameSize(const settings::ConversionSettings& settings);

// The "-target <standard>-" prefix for a TV standard.
const char* targetStandardPrefix(int tvStandard);

} // namespace plexavo::convert
