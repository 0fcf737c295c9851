// Debug log: one line per message appended to the log path, serialised across
// threads and running copies by the lock "RUDOREZ". Nothing is written while
// the path is empty; PLEXAVO_LOG in the environment sets it at start.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

namespace plexavo::platform {

// A message whose text begins with this marker is written time-stamped and
// without an added line break.
inline constexpr char kLogFileLineMarker[] = "#FILE_LINE#";

void writeLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

inline constexpr std::size_t kFormattedBufferSize = 516;

// Sets or clears the log path (text beyond the buffer is refused: returns false).
// Both hold the writers' lock, so a path changes only between two messages.
bool setLogPath(const std::string& path);
std::string logPath();

// Formats printf-style, but writes floating-point conversions as they stand
// instead of reading a double for them, and cuts the text at 515 bytes.
std::string formatWithoutFloat(const char* format, ...);

// Writes a message formatted by formatWithoutFloat. Floating-point arguments
// are refused at compile time, as that formatter has no conversion for them.
template <typename... Args> void logFormatted(const char* format, Args... args) {
    static_assert(((!std::is_floating_point_v<Args>)&&...),
                  "logFormatted has no floating-point conversions");
    const std::string text = formatWithoutFloat(format, args...);
    writeLog("%s", text.c_str());
}

} // namespace plexavo::platform
