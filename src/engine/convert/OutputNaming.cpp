#include "engine/convert/OutputNaming.h"

#include <cstdio>

namespace plexavo::convert {

std::string formatSeconds(std::uint64_t seconds) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>((seconds / 60) % 60),
                  static_cast<unsigned long long>(seconds % 60));
    return buffer;
}

} // namespace plexavo::convert
