// A repair on a finished MP4/QuickTime file that the muxer offers no option for: FFmpeg's
// muxer turns on the first subtitle track of a file whose subtitles are all off, and Apple's
// players then show it unasked.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace plex {

// Where, within a whole "moov" box, the last flag byte of the track header (tkhd) of every
// timed-text subtitle track (handler "sbtl") lies. Empty for a box it cannot read.
std::vector<std::size_t> subtitleTrackFlags(std::string_view moov);

// Turns off every subtitle track of the MP4/QuickTime file open for reading and writing at fd.
// False when the file's index could not be found or written.
bool turnOffSubtitleTracks(int fd);

} // namespace plex
