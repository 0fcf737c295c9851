// The input as the planner sees it: plain numbers read once from the demuxer, so every
// decision about the output can be made (and tested) without opening a file.
#pragma once

#include "Options.h"

#include <cstdint>
#include <optional>
#include <vector>

struct AVFormatContext;
struct AVStream;

namespace plexavo::core {

enum class FieldOrder { Unknown, Progressive, TopFirst, BottomFirst };

struct VideoSource {
    int width = 0, height = 0; // coded picture
    Rational sar{1, 1};        // sample aspect ratio; 1:1 when the file states none
    int rotation = 0;          // clockwise degrees the picture must turn to stand upright
    Rational rate{0, 1};       // as the demuxer guesses it; 0/1 when unknown
    FieldOrder fields = FieldOrder::Unknown;

    bool interlaced() const {
        return fields == FieldOrder::TopFirst || fields == FieldOrder::BottomFirst;
    }
};

struct AudioSource {
    int channels = 0; // 0 when the file does not say
    int sampleRate = 0;
    int track = 0; // its place among the source's sound tracks
};

struct SourceInfo {
    std::optional<VideoSource> video;
    std::optional<AudioSource> audio;
    // The source's other sound tracks, in the order they are written after the first.
    std::vector<AudioSource> moreAudio;
};

// Reads the description of the chosen streams (either may be null).
SourceInfo describeSource(AVFormatContext* ic, const AVStream* video, const AVStream* audio);

// The seconds an output from the start point on should hold by what the source promises: the
// end of the chosen streams as their headers state it (the container's length where they state
// none, never a guess from the bit rate), cut at the asked length. 0 when nothing is promised.
double promisedSeconds(const AVFormatContext* ic, const std::vector<const AVStream*>& streams,
                       int64_t startUs, std::optional<int64_t> lengthUs);

// Whether an output of `written` seconds ended early because its source did (truncated or
// damaged) rather than by rounding or a stream a little shorter than the others: more than a
// second and more than 1 % short of what was promised.
bool endedEarly(double written, double promised);

} // namespace plexavo::core
