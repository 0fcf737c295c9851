// What the tests ask the ffmpeg tools about a media file. Names go through
// the file: protocol, so one starting with '-' is not taken for an option.
#pragma once

#include <string>

namespace testing_support {

// The container's duration in seconds as ffprobe reads it; -1 when unreadable.
double probeDuration(const std::string& path);

// True when ffmpeg decodes every stream to its end without a complaint;
// `complaints` (when given) gets what it said.
bool decodesCleanly(const std::string& path, std::string* complaints = nullptr);

} // namespace testing_support
