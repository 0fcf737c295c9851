// Repairs on a finished MP4/QuickTime file that the muxer offers no option for: FFmpeg's
// muxer turns on the first subtitle track of a file whose subtitles are all off, and Apple's
// players then show it unasked; its QuickTime flavour (.mov) writes no cover art at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plexavo::core {

// Where, within a whole "moov" box, the last flag byte of the track header (tkhd) of every
// timed-text subtitle track (handler "sbtl") lies. Empty for a box it cannot read.
std::vector<std::size_t> subtitleTrackFlags(std::string_view moov);

// Turns off every subtitle track of the MP4/QuickTime file open for reading and writing at fd.
// False when the file's index could not be found or written.
bool turnOffSubtitleTracks(int fd);

// The iTunes data types of a cover picture.
enum class CoverFormat : std::uint8_t { Jpeg = 13, Png = 14 };

// A whole "moov" box that lies at moovAt in its file, with the picture added as the iTunes
// cover item (moov/udta/meta/ilst/covr, handler "mdir"), joining the tags already there. The
// box grows, so the chunk offsets that point past its end move with what follows it. Nothing,
// with the reason in why, for a box laid out in a way it does not know; the box unchanged when
// it has a cover already.
std::optional<std::string> moovWithCover(std::string_view moov, std::uint64_t moovAt,
                                         std::string_view picture, CoverFormat format,
                                         std::string& why);

enum class CoverWrite {
    Added,    // the file has the cover
    LeftAsIs, // the file is as it was, without the cover (why says why)
    Damaged,  // writing failed halfway: the file is no longer whole
};

// Adds the picture as the cover of the MP4/QuickTime file open for reading and writing at fd,
// moving what follows its index to make room.
CoverWrite addCover(int fd, std::string_view picture, CoverFormat format, std::string& why);

} // namespace plexavo::core
