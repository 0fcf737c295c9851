#include "Targets.h"

#include "FrameRate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

namespace plexavo::core {
namespace {

constexpr int64_t kbps(int64_t k) {
    return k * 1000;
}

AVRational av(Rational r) {
    return {r.num, r.den};
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string extensionOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return lower(path.substr(dot + 1));
}

std::string levelText(int level) {
    return std::to_string(level / 10) + "." + std::to_string(level % 10);
}

// The picture as it is shown: turned upright, so a portrait phone clip is tall.
struct Shape {
    int width = 0, height = 0;
    AVRational sar{1, 1};
};

Shape shapeOf(const VideoSource& v) {
    Shape s{v.width, v.height, av(v.sar)};
    if (s.sar.num <= 0 || s.sar.den <= 0)
        s.sar = {1, 1};
    if (v.rotation == 90 || v.rotation == 270) {
        std::swap(s.width, s.height);
        s.sar = {s.sar.den, s.sar.num};
    }
    return s;
}

int roundEven(double v) {
    return std::max(2, static_cast<int>(std::lround(v / 2.0)) * 2);
}

void letterbox(VideoPlan& v, const VideoSource& src) {
    v.rotation =
        src.rotation == 90 || src.rotation == 180 || src.rotation == 270 ? src.rotation : 0;
    const PictureFit fit = fitPicture(v.width, v.height, v.sar, displayAspect(src), v.pixFmt);
    v.innerW = fit.innerW;
    v.innerH = fit.innerH;
    v.padX = fit.padX;
    v.padY = fit.padY;
}

// Baseline 3.0 is what every device here plays; Main 3.1 covers 720p on the newer ones.
// Above that the stream is still correct, only not for these devices.
const H264Level kH264Levels[] = {
    {"baseline", 30, 1200, 36000, 10000, 10000}, {"main", 31, 3600, 108000, 14000, 14000},
    {"main", 40, 8192, 245760, 20000, 25000},    {"main", 42, 8704, 522240, 50000, 62500},
    {"main", 51, 36864, 983040, 240000, 240000},
};

void planH264(VideoPlan& v, const Options& opt, std::vector<std::string>& warnings) {
    v.encoder = "libx264";
    const H264Level& lv = h264LevelFor(v.width, v.height, v.rate);
    if (lv.level > 31)
        warnings.push_back("the size and frame rate need H.264 level " + levelText(lv.level) +
                           ", beyond what the devices play");
    v.level = lv.level;
    v.profile = lv.level == 30 ? FF_PROFILE_H264_BASELINE : FF_PROFILE_H264_MAIN;
    v.codecOptions.push_back({"preset", "medium"});
    v.codecOptions.push_back({"profile", lv.profile});

    const int64_t levelMax = kbps(lv.maxBr);
    const int64_t levelCpb = kbps(lv.cpb);
    // Every buffer holds one second at the ceiling: what the devices' decoders expect.
    if (opt.varBitrate || opt.videoBitrate) {
        v.bitrate = opt.varBitrate ? *opt.varBitrate : *opt.videoBitrate;
        if (v.bitrate > levelMax) {
            warnings.push_back("video bit rate lowered to " + std::to_string(lv.maxBr) +
                               " kb/s, the ceiling of H.264 level " + levelText(lv.level));
            v.bitrate = levelMax;
        }
        v.maxRate = opt.maxRate ? std::min(std::max(*opt.maxRate, v.bitrate), levelMax) : levelMax;
    } else {
        // Quality first, with a ceiling the players keep up with.
        v.codecOptions.push_back({"crf", "23"});
        const int64_t cap = lv.level == 30 ? kbps(2500) : lv.level == 31 ? kbps(6000) : levelMax;
        v.maxRate = std::min(opt.maxRate.value_or(cap), levelMax);
    }
    // x264 has no floor of its own; a floor at the target asks for a constant rate, which its
    // HRD mode gives by padding.
    if (v.bitrate > 0 && opt.minRate && *opt.minRate >= v.bitrate) {
        v.maxRate = v.bitrate;
        v.minRate = v.bitrate;
        v.codecOptions.push_back({"nal-hrd", "cbr"});
    }
    v.bufSize = std::min(v.maxRate, levelCpb);
}

void planMpeg4(VideoPlan& v, const Options& opt) {
    v.encoder = "mpeg4";
    v.codecTag = MKTAG('m', 'p', '4', 'v');
    v.maxBFrames = 0;
    v.gop = 250;
    v.profile = FF_PROFILE_MPEG4_SIMPLE;
    v.level = mpeg4LevelFor(v.width, v.height);
    v.codecOptions.push_back({"mbd", "rd"});
    v.codecOptions.push_back({"flags", "+mv4"});
    if (opt.varBitrate || opt.videoBitrate) {
        v.bitrate = opt.varBitrate ? *opt.varBitrate : *opt.videoBitrate;
        if (opt.maxRate)
            v.maxRate = std::max(*opt.maxRate, v.bitrate);
        // libavcodec's rate control treats any floor as a request for a near-constant rate
        // and then runs at the ceiling, so a floor is passed on only when that is asked for.
        if (opt.minRate && *opt.minRate >= v.bitrate)
            v.minRate = *opt.minRate;
    } else {
        // About 0.12 bit per pixel looks clean for MPEG-4 Visual at these sizes; 2.5 Mb/s is the
        // devices' ceiling for it.
        const double bits = 0.12 * v.width * v.height * av_q2d(v.rate);
        v.bitrate = std::clamp<int64_t>(static_cast<int64_t>(bits), kbps(300), kbps(2500));
        v.maxRate = std::min(opt.maxRate.value_or(kbps(2500)), kbps(2500));
        v.maxRate = std::max(v.maxRate, v.bitrate);
    }
    // The default tolerance lets short clips drift far off the target.
    v.tolerance = v.bitrate;
    if (v.maxRate > 0)
        v.bufSize = v.maxRate; // one second at the ceiling
    if (v.minRate > v.maxRate && v.maxRate > 0)
        v.minRate = v.maxRate;
}

int sourceChannels(const AudioSource& a) {
    return a.channels > 0 ? a.channels : 2;
}

void planAppleAudio(AudioPlan& a, const Options& opt, const AudioSource& src,
                    std::vector<std::string>& warnings) {
    a.enabled = true;
    a.encoder = "aac";
    a.sourceTrack = src.track;
    static const int deviceRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    const auto isDeviceRate = [](int r) {
        return std::find(std::begin(deviceRates), std::end(deviceRates), r) !=
               std::end(deviceRates);
    };
    if (opt.sampleRate) {
        if (!isDeviceRate(*opt.sampleRate))
            throw UsageError("option -ar: AAC for the devices takes 8000 to 48000 Hz at the "
                             "standard rates, not " +
                             std::to_string(*opt.sampleRate));
        a.sampleRate = *opt.sampleRate;
    } else {
        a.sampleRate = isDeviceRate(src.sampleRate) ? src.sampleRate : 48000;
    }
    a.channels = opt.channels ? *opt.channels : std::min(sourceChannels(src), 2);
    if (a.channels > 2) {
        warnings.push_back("the devices play at most 2 audio channels; mixing down to stereo");
        a.channels = 2;
    }
    a.bitrate = opt.audioBitrate.value_or(kbps(128));
    // The AAC encoder refuses more than 6144 bits per channel and frame.
    const int64_t ceiling = 6LL * a.sampleRate * a.channels * 95 / 100;
    if (a.bitrate > ceiling) {
        warnings.push_back("audio bit rate lowered to " + std::to_string(ceiling / 1000) +
                           " kb/s for " + std::to_string(a.sampleRate) + " Hz");
        a.bitrate = ceiling;
    }
}

OutputPlan planApple(const Options& opt, const std::string& out, const SourceInfo& src) {
    OutputPlan p;
    const std::string ext = extensionOf(out);
    p.muxer = ext == "mov" || ext == "qt" ? "mov" : ext == "m4v" || ext == "m4a" ? "ipod" : "mp4";
    p.muxerOptions.push_back({"movflags", "+faststart"});

    if (opt.pixFmt && *opt.pixFmt != "yuv420p")
        throw UsageError("option -pix_fmt: the devices play yuv420p only, not " + *opt.pixFmt);

    if (src.video) {
        VideoPlan& v = p.video;
        v.enabled = true;
        v.pixFmt = AV_PIX_FMT_YUV420P;
        if (opt.width && opt.height) {
            v.width = *opt.width & ~1;
            v.height = *opt.height & ~1;
        } else {
            const Shape shape = shapeOf(*src.video);
            v.width = roundEven(shape.width * av_q2d(shape.sar));
            v.height = roundEven(shape.height);
            if (v.width > 4096 || v.height > 4096)
                throw Failure("the input picture is " + std::to_string(v.width) + "x" +
                              std::to_string(v.height) + ", too large to convert at its own size");
        }
        // A larger MPEG-4 frame would be a file no device plays, whether asked for
        // with -s or kept from the source; the picture is letterboxed inside the
        // smaller frame as usual.
        if (opt.vcodec == VideoCodecChoice::Xvid) {
            const FrameSize fit =
                fitFrameInside({v.width, v.height}, kMpeg4MaxWidth, kMpeg4MaxHeight);
            if (fit.width != v.width || fit.height != v.height) {
                v.width = fit.width;
                v.height = fit.height;
                p.notes.push_back("MPEG-4 is limited to " + std::to_string(kMpeg4MaxWidth) + "x" +
                                  std::to_string(kMpeg4MaxHeight) + " on these devices: writing " +
                                  std::to_string(v.width) + "x" + std::to_string(v.height));
            }
        }
        // The devices stop at 30 frames a second.
        v.rate = opt.frameRate ? av(*opt.frameRate) : deviceRate(av(src.video->rate));
        letterbox(v, *src.video);
        v.deinterlace = src.video->interlaced();
        if (opt.vcodec == VideoCodecChoice::Xvid)
            planMpeg4(v, opt);
        else
            planH264(v, opt, p.warnings);
    }
    if (src.audio)
        planAppleAudio(p.audio, opt, *src.audio, p.warnings);
    for (const AudioSource& more : src.moreAudio) {
        std::vector<std::string> warnings;
        planAppleAudio(p.moreAudio.emplace_back(), opt, more, warnings);
        // Said once for all tracks it concerns.
        for (std::string& w : warnings)
            if (std::find(p.warnings.begin(), p.warnings.end(), w) == p.warnings.end())
                p.warnings.push_back(std::move(w));
    }
    return p;
}

// What every disc kind's frame follows from: the TV norm and the source's shape.
struct DiscShape {
    TvNorm norm = TvNorm::Ntsc;
    bool pal = false;
    bool wide = false; // the source nearer to 16:9 than to 4:3
    int gop = 18;
    AVRational rate{30000, 1001};
    AVRational frameDar{4, 3};
};

DiscShape discShape(TvNorm asked, const SourceInfo& src) {
    DiscShape d;
    d.norm = asked;
    if (d.norm == TvNorm::Guess) {
        // Like the common transcoders: 25 and 50 Hz sources go to PAL, the rest to NTSC.
        const double r = src.video ? av_q2d(usableRate(av(src.video->rate))) : 0.0;
        d.norm =
            (std::fabs(r - 25.0) < 0.01 || std::fabs(r - 50.0) < 0.01) ? TvNorm::Pal : TvNorm::Ntsc;
    }
    d.pal = d.norm == TvNorm::Pal;
    d.rate = d.pal                    ? AVRational{25, 1}
             : d.norm == TvNorm::Film ? AVRational{24000, 1001}
                                      : AVRational{30000, 1001};
    d.gop = d.pal ? 15 : 18;
    const double srcDar = src.video ? displayAspect(*src.video) : 4.0 / 3.0;
    d.wide = srcDar > 1.54;
    return d;
}

void planVcd(OutputPlan& p, const DiscShape& d) {
    VideoPlan& v = p.video;
    AudioPlan& a = p.audio;
    p.muxer = "vcd";
    p.muxerOptions = {{"packetsize", "2324"}, {"muxrate", "1411200"}, {"preload", "440000"}};
    v.encoder = "mpeg1video";
    v.width = 352;
    v.height = d.pal ? 288 : 240;
    v.gop = d.gop;
    v.bitrate = v.maxRate = v.minRate = kbps(1150);
    v.bufSize = 327680;
    a.encoder = "mp2";
    a.bitrate = kbps(224);
    a.sampleRate = 44100;
    a.channels = 2;
}

void planSvcd(OutputPlan& p, DiscShape& d) {
    VideoPlan& v = p.video;
    AudioPlan& a = p.audio;
    p.muxer = "svcd";
    p.muxerOptions = {{"packetsize", "2324"}};
    v.encoder = "mpeg2video";
    v.width = 480;
    v.height = d.pal ? 576 : 480;
    v.gop = d.gop;
    v.bitrate = kbps(2040);
    v.maxRate = kbps(2516);
    v.bufSize = 1835008;
    v.codecOptions.push_back({"scan_offset", "1"});
    if (d.wide)
        d.frameDar = {16, 9};
    a.encoder = "mp2";
    a.bitrate = kbps(224);
    a.sampleRate = 44100;
}

void planDvd(OutputPlan& p, DiscShape& d) {
    VideoPlan& v = p.video;
    AudioPlan& a = p.audio;
    p.muxer = "dvd";
    p.muxerOptions = {{"packetsize", "2048"}, {"muxrate", "10080000"}};
    v.encoder = "mpeg2video";
    v.width = 720;
    v.height = d.pal ? 576 : 480;
    v.gop = d.gop;
    v.bitrate = kbps(6000);
    v.maxRate = kbps(9000);
    v.bufSize = 1835008;
    if (d.wide)
        d.frameDar = {16, 9};
    a.encoder = "ac3";
    a.bitrate = kbps(448);
    a.sampleRate = 48000;
}

void planDv(OutputPlan& p, DiscShape& d) {
    VideoPlan& v = p.video;
    AudioPlan& a = p.audio;
    p.muxer = "dv";
    v.encoder = "dvvideo";
    v.width = 720;
    v.height = d.pal ? 576 : 480;
    v.pixFmt = d.pal ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
    // DV has no 24p frame structure; film material goes out at the NTSC rate.
    if (d.norm == TvNorm::Film)
        d.rate = {30000, 1001};
    if (d.wide)
        d.frameDar = {16, 9};
    a.encoder = "pcm_s16le";
    a.sampleRate = 48000;
    a.channels = 2;
}

// The streams the source has, and the sound's channels as far as the disc kind allows them.
void takeDiscStreams(OutputPlan& p, const Options& opt, const SourceInfo& src) {
    if (src.video) {
        p.video.enabled = true;
        letterbox(p.video, *src.video);
    } else if (opt.disc == DiscKind::Dv) {
        throw Failure("a DV file needs a picture, and the input has none");
    }
    if (src.audio) {
        AudioPlan& a = p.audio;
        a.enabled = true;
        const int srcCh = sourceChannels(*src.audio);
        if (opt.disc == DiscKind::Svcd)
            a.channels = std::min(srcCh, 2);
        if (opt.disc == DiscKind::Dvd)
            a.channels = srcCh >= 6 ? 6 : std::min(srcCh, 2);
    }
}

OutputPlan planDisc(const Options& opt, const SourceInfo& src) {
    OutputPlan p;
    p.appleTarget = false;
    DiscShape d = discShape(opt.norm, src);
    switch (opt.disc) {
    case DiscKind::Vcd:
        planVcd(p, d);
        break;
    case DiscKind::Svcd:
        planSvcd(p, d);
        break;
    case DiscKind::Dvd:
        planDvd(p, d);
        break;
    case DiscKind::Dv:
        planDv(p, d);
        break;
    case DiscKind::None:
        break;
    }
    // The MPEG program stream muxers schedule packs against this delay, as ffmpeg sets it.
    if (p.muxer != "dv")
        p.muxerOptions.push_back({"max_delay", "700000"});
    VideoPlan& v = p.video;
    v.rate = d.rate;
    av_reduce(&v.sar.num, &v.sar.den, static_cast<int64_t>(d.frameDar.num) * v.height,
              static_cast<int64_t>(d.frameDar.den) * v.width, 255);

    // Only the video bit rate may be lowered or raised inside the standard's ceiling.
    if (opt.videoBitrate && (opt.disc == DiscKind::Dvd || opt.disc == DiscKind::Svcd))
        v.bitrate = std::min(*opt.videoBitrate, v.maxRate);
    takeDiscStreams(p, opt, src);
    return p;
}

} // namespace

const H264Level& h264LevelFor(int width, int height, AVRational rate) {
    const int64_t mbs = static_cast<int64_t>((width + 15) / 16) * ((height + 15) / 16);
    const double mbps = static_cast<double>(mbs) * av_q2d(rate);
    for (const H264Level& l : kH264Levels)
        if (mbs <= l.maxMbs && mbps <= static_cast<double>(l.maxMbps) + 0.5)
            return l;
    return kH264Levels[std::size(kH264Levels) - 1];
}

int mpeg4LevelFor(int width, int height) {
    const int64_t mbs = static_cast<int64_t>((width + 15) / 16) * ((height + 15) / 16);
    return mbs <= 99 ? 1 : mbs <= 396 ? 3 : mbs <= 1200 ? 4 : mbs <= 1620 ? 5 : 6;
}

FrameSize fitFrameInside(FrameSize frame, int maxW, int maxH) {
    if (frame.width <= maxW && frame.height <= maxH)
        return frame;
    const double scale =
        std::min(static_cast<double>(maxW) / frame.width, static_cast<double>(maxH) / frame.height);
    // The encoders' smallest frame; only a strip like 4096x16 gets there.
    auto side = [scale](int v, int max) { return std::clamp(roundEven(v * scale), 16, max); };
    return {side(frame.width, maxW), side(frame.height, maxH)};
}

double displayAspect(const VideoSource& v) {
    const Shape s = shapeOf(v);
    if (s.width <= 0 || s.height <= 0)
        return 4.0 / 3.0;
    return static_cast<double>(s.width) * s.sar.num / (static_cast<double>(s.height) * s.sar.den);
}

PictureFit fitPicture(int frameW, int frameH, AVRational frameSar, double sourceDar,
                      AVPixelFormat format) {
    const double frameDar =
        static_cast<double>(frameW) * frameSar.num / (static_cast<double>(frameH) * frameSar.den);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    const int ax = d ? std::max(2, 1 << d->log2_chroma_w) : 2;
    const int ay = d ? std::max(2, 1 << d->log2_chroma_h) : 2;
    auto align = [](double val, int a) {
        return std::max(a, static_cast<int>(std::lround(val / a)) * a);
    };
    PictureFit f{frameW, frameH, 0, 0};
    if (sourceDar > frameDar * 1.0001)
        f.innerH = std::min(frameH, align(frameH * frameDar / sourceDar, ay));
    else if (sourceDar < frameDar / 1.0001)
        f.innerW = std::min(frameW, align(frameW * sourceDar / frameDar, ax));
    // Bars of a pixel or two only cost bits and look like a flaw.
    if (frameW - f.innerW <= ax)
        f.innerW = frameW;
    if (frameH - f.innerH <= ay)
        f.innerH = frameH;
    f.padX = (frameW - f.innerW) / 2 / ax * ax;
    f.padY = (frameH - f.innerH) / 2 / ay * ay;
    return f;
}

OutputPlan makePlan(const Options& opt, const std::string& outputPath, const SourceInfo& source) {
    OutputPlan p =
        opt.disc != DiscKind::None ? planDisc(opt, source) : planApple(opt, outputPath, source);
    // The chain hands the encoder its first listed format, so no conversion is left to it.
    const AVCodec* codec = avcodec_find_encoder_by_name(p.audio.encoder.c_str());
    if (codec && codec->sample_fmts) {
        p.audio.sampleFormat = codec->sample_fmts[0];
        for (AudioPlan& a : p.moreAudio)
            a.sampleFormat = codec->sample_fmts[0];
    }
    return p;
}

std::string videoFilterChain(const VideoPlan& v, int64_t firstFrame) {
    char buf[512];
    std::string chain;
    // Only frames flagged interlaced are touched, so a mixed source keeps its
    // progressive parts as they are.
    if (v.deinterlace)
        chain = "yadif=mode=send_frame:parity=auto:deint=interlaced,";
    // A rebuilt chain continues the frame count where the old one stopped.
    if (firstFrame > 0)
        std::snprintf(buf, sizeof buf, "fps=%d/%d:start_time=%.6f", v.rate.num, v.rate.den,
                      static_cast<double>(firstFrame) / av_q2d(v.rate));
    else
        std::snprintf(buf, sizeof buf, "fps=%d/%d:start_time=0", v.rate.num, v.rate.den);
    chain += buf;
    // Turned upright as players show it, the way the ffmpeg tool does by default.
    if (v.rotation == 90)
        chain += ",transpose=clock";
    else if (v.rotation == 180)
        chain += ",hflip,vflip";
    else if (v.rotation == 270)
        chain += ",transpose=cclock";
    std::snprintf(buf, sizeof buf, ",scale=%d:%d:flags=bicubic", v.innerW, v.innerH);
    chain += buf;
    if (v.innerW != v.width || v.innerH != v.height) {
        std::snprintf(buf, sizeof buf, ",pad=%d:%d:%d:%d:black", v.width, v.height, v.padX, v.padY);
        chain += buf;
    }
    std::snprintf(buf, sizeof buf, ",setsar=%d/%d,format=%s", v.sar.num, v.sar.den,
                  av_get_pix_fmt_name(v.pixFmt));
    chain += buf;
    return chain;
}

std::string audioFilterChain(const AudioPlan& a, int64_t firstSample, double endSec) {
    char end[64] = "";
    if (endSec > 0.0)
        std::snprintf(end, sizeof end, ":end=%.6f", endSec);
    AVChannelLayout layout{};
    if (a.channels == 6)
        layout = AV_CHANNEL_LAYOUT_5POINT1;
    else
        av_channel_layout_default(&layout, a.channels);
    char name[64] = {};
    av_channel_layout_describe(&layout, name, sizeof name);
    const char* fmt = av_get_sample_fmt_name(a.sampleFormat);
    char buf[512];
    // atrim cuts to the sample at the start and end points; aresample fills a late start or
    // gaps with silence (async) so sound and picture stay together, and mixes down. A rebuilt
    // chain continues the sample count where the old one stopped.
    std::snprintf(buf, sizeof buf,
                  "atrim=start=0%s,aresample=%d:async=1:first_pts=%lld,"
                  "aformat=sample_fmts=%s:sample_rates=%d:channel_layouts=%s",
                  end, a.sampleRate, static_cast<long long>(std::max<int64_t>(firstSample, 0)),
                  fmt ? fmt : "s16", a.sampleRate, name);
    return buf;
}

std::string equivalentCommand(const OutputPlan& p, const Options& opt) {
    auto k = [](int64_t bps) { return std::to_string(bps / 1000) + "k"; };
    std::string c = "ffmpeg";
    if (opt.startUs && *opt.startUs > 0)
        c += " -ss " + std::to_string(static_cast<double>(*opt.startUs) / 1e6);
    c += " -i IN";
    if (opt.durationUs)
        c += " -t " + std::to_string(static_cast<double>(*opt.durationUs) / 1e6);
    const VideoPlan& v = p.video;
    if (v.enabled) {
        c += " -map 0:v:0 -vf \"" + videoFilterChain(v) + "\" -c:v " + v.encoder;
        for (const auto& [key, val] : v.codecOptions)
            c += " -" + key + (key == "profile" ? ":v " : " ") + val;
        if (v.encoder == "libx264")
            c += " -level " + levelText(v.level);
        if (v.encoder == "mpeg4")
            c += " -tag:v mp4v -profile:v 0 -level " + std::to_string(v.level);
        if (v.maxBFrames >= 0)
            c += " -bf " + std::to_string(v.maxBFrames);
        if (v.gop >= 0)
            c += " -g " + std::to_string(v.gop);
        if (v.bitrate)
            c += " -b:v " + k(v.bitrate);
        if (v.tolerance)
            c += " -bt " + k(v.tolerance);
        if (v.maxRate)
            c += " -maxrate " + k(v.maxRate);
        if (v.minRate)
            c += " -minrate " + k(v.minRate);
        if (v.bufSize)
            c += " -bufsize " + std::to_string(v.bufSize);
    }
    const AudioPlan& a = p.audio;
    if (a.enabled) {
        c += " -map 0:a:0 -af \"" + audioFilterChain(a) + "\" -c:a " + a.encoder;
        if (a.bitrate)
            c += " -b:a " + k(a.bitrate);
    }
    // Further tracks are named by their place in the output.
    for (size_t i = 0; i < p.moreAudio.size(); ++i) {
        const AudioPlan& m = p.moreAudio[i];
        const std::string n = std::to_string(i + 1);
        c += " -map 0:a:" + std::to_string(m.sourceTrack) + " -filter:a:" + n + " \"" +
             audioFilterChain(m) + "\" -c:a:" + n + " " + m.encoder;
        if (m.bitrate)
            c += " -b:a:" + n + " " + k(m.bitrate);
    }
    c += " -f " + p.muxer;
    for (const auto& [key, val] : p.muxerOptions)
        c += " -" + key + " " + val;
    if (opt.title && p.appleTarget)
        c += " -metadata title=...";
    return c + " OUT";
}

} // namespace plexavo::core
