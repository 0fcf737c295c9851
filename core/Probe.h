// Opening an input and the probe report the program parses.
#pragma once

#include "FFmpeg.h"

#include <cstdint>
#include <map>
#include <string>

namespace plexavo::core {

// Opens and analyses a local file; throws Failure with a readable reason.
InputPtr openInput(const std::string& path);

// True for a video stream that is a real picture sequence, not cover art.
bool isRealVideo(const AVStream* st);

// True for subtitles that are text, which can become the devices' timed text; the others
// (DVD, Blu-ray, DVB, teletext) are pictures.
bool isTextSubtitle(AVCodecID codec);

// Container duration in microseconds, measured from the packets with bounded reads when the
// container does not state it; AV_NOPTS_VALUE when it cannot be known cheaply.
// bytes, when given, receives the bytes per stream if every packet was read.
int64_t knownDuration(AVFormatContext* ic, std::map<int, int64_t>* bytes = nullptr);

// Prints the probe report in one write and returns the exit status.
int runProbe(const std::string& path);

} // namespace plexavo::core
