// What to write: codecs, sizes, rates and muxer settings for the device and disc targets.
#pragma once

#include "FFmpeg.h"
#include "Options.h"

#include <string>
#include <utility>
#include <vector>

namespace plex {

using KeyValues = std::vector<std::pair<std::string, std::string>>;

struct VideoPlan {
    bool enabled = false;
    std::string encoder;
    int width = 0, height = 0;                      // coded frame
    int innerW = 0, innerH = 0, padX = 0, padY = 0; // the picture inside its black bars
    AVRational sar{1, 1};
    int rotation = 0; // clockwise degrees the source must be turned to stand upright
    bool deinterlace = false; // the handhelds show progressive pictures only
    AVRational rate{25, 1};
    AVPixelFormat pixFmt = AV_PIX_FMT_YUV420P;
    int64_t bitrate = 0, maxRate = 0, minRate = 0, bufSize = 0;
    int64_t tolerance = 0; // MPEG encoders: how far the rate may drift from the target
    int gop = -1;          // -1: the encoder's own default
    int maxBFrames = -1;   // -1: the encoder's own default
    int profile = FF_PROFILE_UNKNOWN;
    int level = FF_LEVEL_UNKNOWN;
    int fixedQuality = 0; // >0: qscale for the MPEG encoders
    unsigned codecTag = 0;
    KeyValues codecOptions;  // the encoder's private options (x264 preset, crf, ...)
    std::string profileName; // for messages
};

struct AudioPlan {
    bool enabled = false;
    std::string encoder;
    int sampleRate = 48000;
    int channels = 2;
    int64_t bitrate = 0;
};

struct OutputPlan {
    std::string muxer;
    KeyValues muxerOptions;
    bool appleTarget = true;
    VideoPlan video;
    AudioPlan audio;
};

// Decides everything from the options and the chosen input streams (either may be null).
OutputPlan makePlan(const Options& opt, const std::string& outputPath, const AVStream* video,
                    const AVStream* audio, AVFormatContext* ic);

// The ffmpeg filter chain that matches what the core does to the picture, for the docs and
// for comparing against the ffmpeg tool.
std::string videoFilterChain(const VideoPlan& v);
std::string audioFilterChain(const AudioPlan& a, double endSec);

// The ffmpeg tool's command line that does the same work, for comparisons.
std::string equivalentCommand(const OutputPlan& p, const Options& opt);

} // namespace plex
