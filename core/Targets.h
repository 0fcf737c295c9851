// What to write: codecs, sizes, rates and muxer settings for the device and disc targets,
// decided from the options and a plain description of the source without touching a file.
#pragma once

#include "FFmpeg.h"
#include "Options.h"
#include "Source.h"

#include <string>
#include <utility>
#include <vector>

namespace plexavo::core {

using KeyValues = std::vector<std::pair<std::string, std::string>>;

struct VideoPlan {
    bool enabled = false;
    std::string encoder;
    int width = 0, height = 0;                      // coded frame
    int innerW = 0, innerH = 0, padX = 0, padY = 0; // the picture inside its black bars
    AVRational sar{1, 1};
    int rotation = 0;         // clockwise degrees the source must be turned to stand upright
    bool deinterlace = false; // the handhelds show progressive pictures only
    AVRational rate{25, 1};
    AVPixelFormat pixFmt = AV_PIX_FMT_YUV420P;
    int64_t bitrate = 0, maxRate = 0, minRate = 0, bufSize = 0;
    int64_t tolerance = 0; // MPEG encoders: how far the rate may drift from the target
    int gop = -1;          // -1: the encoder's own default
    int maxBFrames = -1;   // -1: the encoder's own default
    int profile = FF_PROFILE_UNKNOWN;
    int level = FF_LEVEL_UNKNOWN;
    unsigned codecTag = 0;
    KeyValues codecOptions; // the encoder's private options (x264 preset, crf, ...)
};

struct AudioPlan {
    bool enabled = false;
    std::string encoder;
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_S16; // the encoder's first choice
    int sampleRate = 48000;
    int channels = 2;
    int64_t bitrate = 0;
    int sourceTrack = 0; // which of the source's sound tracks it is made from
};

struct OutputPlan {
    std::string muxer;
    KeyValues muxerOptions;
    bool appleTarget = true;
    VideoPlan video;
    AudioPlan audio;
    // The further sound tracks, each with the same settings where the options fix them and
    // its own source's rate and channels where they do not (device targets only).
    std::vector<AudioPlan> moreAudio;
    std::vector<std::string> warnings; // printed before the conversion starts
    std::vector<std::string> notes;    // what was decided for the devices unasked, likewise
};

// Decides everything. Throws UsageError for options the target cannot take and Failure for
// a source it cannot be made from.
OutputPlan makePlan(const Options& opt, const std::string& outputPath, const SourceInfo& source);

// The steps of the plan, also checked one by one by the tests.

struct H264Level {
    const char* profile;
    int level; // 30 = 3.0
    int maxMbs;
    int64_t maxMbps;
    int64_t maxBr; // kb/s
    int64_t cpb;   // kbit
};
// The first level of the table the picture size and rate fit, or the last.
const H264Level& h264LevelFor(int width, int height, AVRational rate);
// MPEG-4 Visual Simple Profile level by picture size: 1, 3, 4 (for 4a), 5 or 6.
int mpeg4LevelFor(int width, int height);

// The handhelds play MPEG-4 Visual up to this frame only.
inline constexpr int kMpeg4MaxWidth = 640;
inline constexpr int kMpeg4MaxHeight = 480;
struct FrameSize {
    int width = 0, height = 0;
};
// A frame that fits inside maxW x maxH with the same shape, in even sizes; one that fits
// already is returned as it is.
FrameSize fitFrameInside(FrameSize frame, int maxW, int maxH);

// The width to height ratio a viewer sees, after the rotation.
double displayAspect(const VideoSource& v);

struct PictureFit {
    int innerW = 0, innerH = 0, padX = 0, padY = 0;
};
// Fits a picture of the given display aspect ratio into the frame without stretching; the
// rest is black. Sizes and offsets follow the pixel format's chroma grid.
PictureFit fitPicture(int frameW, int frameH, AVRational frameSar, double sourceDar,
                      AVPixelFormat format);

// The libavfilter chains, in the ffmpeg tool's syntax. Where a rebuilt chain takes over:
// firstFrame in output frames, firstSample in samples at the chain's input rate (aresample
// counts its first_pts so). endSec > 0 cuts the sound there.
std::string videoFilterChain(const VideoPlan& v, int64_t firstFrame = 0);
std::string audioFilterChain(const AudioPlan& a, int64_t firstSample = 0, double endSec = 0.0);

// The ffmpeg tool's command line that does the same work, for comparisons.
std::string equivalentCommand(const OutputPlan& p, const Options& opt);

} // namespace plexavo::core
