// The option text of a batch, built once from the settings.
#pragma once

#include <string>

namespace plexavo {

struct ConversionSettings;

// The option text for the settings' target format. Applies the size rule to
// the settings first, as the panel shows it afterwards.
std::string buildOptionText(ConversionSettings& settings);

// The "-target <standard>-" prefix for a TV standard.
const char* targetStandardPrefix(int tvStandard);

} // namespace plexavo
