#include "Transcoder.h"
#include "PlexcoreContract.h"

#include "Console.h"
#include "Extras.h"
#include "FFmpeg.h"
#include "Graph.h"
#include "Join.h"
#include "Languages.h"
#include "MovBoxes.h"
#include "OutputFile.h"
#include "Probe.h"
#include "Resume.h"
#include "Source.h"
#include "Targets.h"
#include "Timeline.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plexavo::core {
namespace {

struct OutputDeleter {
    void operator()(AVFormatContext* c) const {
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE))
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;

std::string tagOf(const AVDictionary* tags, const char* key) {
    const AVDictionaryEntry* e = av_dict_get(tags, key, nullptr, 0);
    return e && e->value ? e->value : "";
}

// A picture scaled to width x height and written as a JPEG file's bytes.
PacketPtr scaledPicture(const AVStream* st, int width, int height) {
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    if (!decoder)
        throw Failure(std::string("no decoder for ") + avcodec_get_name(st->codecpar->codec_id));
    CodecPtr dec(avcodec_alloc_context3(decoder));
    if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0)
        throw Failure("cannot set up the decoder");
    int err = avcodec_open2(dec.get(), decoder, nullptr);
    FramePtr picture = makeFrame();
    if (err >= 0)
        err = avcodec_send_packet(dec.get(), &st->attached_pic);
    if (err >= 0)
        err = avcodec_send_packet(dec.get(), nullptr);
    if (err >= 0)
        err = avcodec_receive_frame(dec.get(), picture.get());
    if (err < 0)
        throw Failure("cannot decode it: " + avErrorText(err));

    FramePtr scaled = makeFrame();
    scaled->format = AV_PIX_FMT_YUVJ420P; // full range, as JPEG files are
    scaled->width = width;
    scaled->height = height;
    if (av_frame_get_buffer(scaled.get(), 0) < 0)
        throw Failure("out of memory");
    const std::unique_ptr<SwsContext, void (*)(SwsContext*)> sws(
        sws_getContext(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                       width, height, AV_PIX_FMT_YUVJ420P, SWS_BICUBIC, nullptr, nullptr, nullptr),
        sws_freeContext);
    if (!sws)
        throw Failure("cannot scale it");
    sws_scale(sws.get(), picture->data, picture->linesize, 0, picture->height, scaled->data,
              scaled->linesize);

    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!encoder)
        throw Failure("this build has no JPEG encoder");
    CodecPtr enc(avcodec_alloc_context3(encoder));
    if (!enc)
        throw Failure("out of memory");
    enc->width = width;
    enc->height = height;
    enc->pix_fmt = AV_PIX_FMT_YUVJ420P;
    enc->time_base = {1, 25};
    // A fixed fine quantiser: a cover is one small picture, looked at closely.
    enc->flags |= AV_CODEC_FLAG_QSCALE;
    enc->global_quality = FF_QP2LAMBDA * 2;
    scaled->quality = enc->global_quality;
    scaled->pts = 0;
    PacketPtr out = makePacket();
    err = avcodec_open2(enc.get(), encoder, nullptr);
    if (err >= 0)
        err = avcodec_send_frame(enc.get(), scaled.get());
    if (err >= 0)
        err = avcodec_send_frame(enc.get(), nullptr);
    if (err >= 0)
        err = avcodec_receive_packet(enc.get(), out.get());
    if (err < 0)
        throw Failure("cannot write it as JPEG: " + avErrorText(err));
    return out;
}

// Whether a subtitle file holds text FFmpeg reads as it is: UTF-8, or UTF-16 with its mark.
bool readableText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() >= 2 &&
        ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF')))
        return true;
    return isUtf8(bytes);
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct SubtitleFree {
    void operator()(AVSubtitle* s) const { avsubtitle_free(s); }
};

// One input stream on its way to one output stream.
struct Lane {
    bool video = false;
    const AudioPlan* audio = nullptr; // the sound track's own settings
    AVStream* in = nullptr;
    CodecPtr dec;
    CodecPtr enc;
    AVStream* out = nullptr;
    FilterChain filter;
    int64_t offset = 0;    // the start point, in the input stream's time base
    int64_t filterEnd = 0; // where the last frame fed to the chain ends
    int64_t step = 1;      // video: one source frame, input time base
    // Places frames on the clock (video: input time base; audio: samples at inRate), both
    // relative to the start point; holds back a frame whose timestamp it doubts.
    std::optional<Timeline> timeline;
    FramePtr held = makeFrame();
    int inRate = 0;            // audio: the sample rate the timeline counts in
    int filterRate = 0;        // audio: the sample rate the chain was built for
    int64_t nextSample = 0;    // audio: where the last frame placed ends
    int64_t nextOutFrame = 0;  // video: next output frame number
    int64_t nextOutSample = 0; // audio: next output sample
    bool done = false;         // past the end point: further input is ignored
    int pastEnd = 0;           // packets in a row that lie well past the end point
    int64_t decoded = 0;
    int64_t errors = 0;
    int64_t repairs = 0; // damaged timestamps replaced, from timelines already finished
    double endSec = 0.0; // the end point relative to where this lane starts, 0 = to the end
    // Continuing a kept output: where this lane's new encode starts in the whole output
    // (video: frames, sound: samples, both at the encoder's rate), the same in microseconds,
    // and for sound the first new packet kept (the ones before it only warm the encoder up).
    int64_t resumeAt = 0;
    int64_t resumeUs = 0;
    int64_t keepFrom = kEverythingNew;
    bool joined = false;
};

// A timed-text track of the output: from a text subtitle stream of the source, or from a file
// beside it, which is read whole before the conversion starts (it is small).
struct SubtitleTrack {
    std::string name;       // for messages: "stream 3", or the file's name
    InputPtr sideFile;      // a file beside the source, while it is read
    AVStream* in = nullptr; // the stream the events come from
    CodecPtr dec;
    CodecPtr enc;
    AVStream* out = nullptr;
    int64_t originUs = 0;            // the time in the stream that is 0 in the output
    std::string language;            // ISO 639-2, "" when unknown
    std::vector<std::string> styles; // those the encoder's header defines
    bool isDefault = false;
    bool forced = false;
    SubtitleTimeline timeline;
    std::deque<SubtitleCue> cues; // finished, waiting for the picture and sound to pass them
    int64_t errors = 0;
    int64_t notBeforeUs = INT64_MIN; // continuing: the copied cues show until here
    // Starting within the source: the last packet the look back took (the source's clock);
    // the main read leaves out what it took.
    int64_t lookedBackUntilUs = INT64_MIN;
};

// A packet's time on the source's clock; nothing when it has none.
std::optional<int64_t> packetUs(const AVPacket& pkt, AVRational timeBase) {
    const int64_t ts = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : pkt.dts;
    if (ts == AV_NOPTS_VALUE)
        return std::nullopt;
    return av_rescale_q(ts, timeBase, AV_TIME_BASE_Q);
}

bool lookedBack(const SubtitleTrack& t, const AVPacket& pkt) {
    const auto at = packetUs(pkt, t.in->time_base);
    return at && *at <= t.lookedBackUntilUs;
}

// The same header FFmpeg's text decoders give, for a decoder that gives none: the timed-text
// encoder reads its styles from it.
constexpr char kDefaultAssHeader[] =
    "[Script Info]\r\nScriptType: v4.00+\r\nPlayResX: 384\r\nPlayResY: 288\r\n\r\n"
    "[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
    "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, "
    "Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\n"
    "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0"
    "\r\n\r\n[Events]\r\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
    "Effect, Text\r\n";

// How long an event whose end the source does not give is shown.
constexpr int64_t kUnknownSubtitleUs = 5 * int64_t{AV_TIME_BASE};

// How far before a start within the source its subtitles are read again for the events still
// on screen there: longer than nearly every line, short enough to cost little reading.
constexpr int64_t kCueLookBackUs = 30 * int64_t{AV_TIME_BASE};
// Files interleave their streams loosely; past this, no earlier event can follow.
constexpr int64_t kInterleaveSlackUs = 2 * int64_t{AV_TIME_BASE};

class Conversion {
  public:
    Conversion(const Options& opt, ProgressState& progress);
    ~Conversion();

    int run();
    // The path actually written, once the file is finished; "" before.
    const std::string& writtenPath() const { return m_writtenPath; }
    // Why a finished file is shorter than its source promised; "" when it is not.
    const std::string& endedEarlyReason() const { return m_endedEarly; }

  private:
    void checkPaths();
    void pickStreams();
    void pickSubtitles();
    void addSideFile(const std::string& path);
    bool openSubtitleCodecs(SubtitleTrack& track, const char* charset);
    void chooseCover();
    void openOutput();
    void openVideoEncoder(Lane& lane);
    void openAudioEncoder(Lane& lane);
    void addSubtitleStream(SubtitleTrack& track);
    void addCoverStream();
    void readSideFiles();
    void decodeSubtitle(SubtitleTrack& track, const AVPacket* pkt);
    void releaseSubtitles(int64_t untilUs);
    void writeCue(SubtitleTrack& track, const SubtitleCue& shown);
    void finishSubtitles(int64_t limitUs);
    void addChapters(int64_t endUs);
    void turnOffSubtitles();
    void addCoverToMov();
    // A language as the chosen muxer names it.
    std::string writtenLanguage(const std::string& language) const {
        return m_plan.muxer == "mov" ? quickTimeLanguage(language) : language;
    }
    void seekToStart();
    void lookBackForCues(int64_t targetUs);
    void readLoop();
    void flushAll();
    void decode(Lane& lane, const AVPacket* pkt);
    void onVideoFrame(Lane& lane, AVFrame* f);
    void onAudioFrame(Lane& lane, AVFrame* f);
    void placeVideo(Lane& lane, AVFrame* f, int64_t pts);
    void placeAudio(Lane& lane, AVFrame* f, int64_t pts);
    int64_t resumedPosition(const Lane& lane, const AVFrame* f) const;
    void releaseHeld(Lane& lane, int64_t pts);
    void boundTimeline(Lane& lane, AVRational unit);
    void finishTimeline(Lane& lane);
    void drainFilter(Lane& lane);
    void encode(Lane& lane, AVFrame* f);
    void writePacket(Lane& lane, AVPacket* pkt);
    void noteDamage(Lane& lane, int err);
    void checkWriteError(int err);
    bool allDone() const;
    void injectFault() const;
    NameRule nameRule() const;
    // Continuing a stopped output (-resume): which kept packets are copied, the check that the
    // new encoders write what the kept file holds, the copy; the note a stop leaves.
    void prepareResume();
    void cutKeptVideo(int stream, Lane& lane);
    void cutKeptSound(const std::vector<int>& streams);
    void checkKeptStreams();
    void copyKept();
    void noteStopped();
    int keepKept();
    // run()'s steps: the plan from what the source holds, the notes it prints, the finished
    // file closed, and what the run amounts to (its exit status and the name it ends under).
    void planConversion();
    void announcePlan() const;
    void closeOutput(int64_t writtenUs);
    int settle(bool stopped, int64_t writtenUs);
    // Seconds the source promises for the part converted.
    double promisedLength() const;

    const Options& m_opt;
    ProgressState& m_progress;
    std::string m_inPath, m_outPath;
    // Where FFmpeg writes: the partial file, or the output itself when that is a device or a
    // pipe (never replaced by a rename).
    std::string m_writePath;
    std::string m_writtenPath;
    std::string m_endedEarly;
    bool m_inPlace = false;
    std::unique_ptr<PartialFile> m_partial;
    InputPtr m_in;
    OutputPtr m_out;
    SourceInfo m_source;
    OutputPlan m_plan;
    std::vector<std::unique_ptr<Lane>> m_lanes;
    std::vector<Lane*> m_laneOfStream;
    // The extras the devices show (device targets only).
    bool m_deviceTarget = true;
    std::vector<std::unique_ptr<SubtitleTrack>> m_subtitles;
    std::vector<SubtitleTrack*> m_subtitleOfStream;
    std::vector<uint8_t> m_cueBuffer;
    PacketPtr m_cover; // the cover art as it is written
    AVCodecID m_coverCodec = AV_CODEC_ID_NONE;
    int m_coverWidth = 0, m_coverHeight = 0;
    AVStream* m_coverOut = nullptr;
    FramePtr m_frame = makeFrame();
    FramePtr m_filtered = makeFrame();
    PacketPtr m_encoded = makePacket();
    double m_endSec = 0.0; // relative end point, 0 = to the end
    // Where timestamps can lie at all, relative to the start point; both 0 when unknown.
    int64_t m_earliestUs = 0, m_latestUs = 0;
    int64_t m_originUs = 0; // the start point on the source's clock
    int64_t m_packetsWritten = 0;
    int64_t m_readErrors = 0;
    int64_t m_lastErrorPos = -1; // where the demuxer last failed, and how often in a row
    int m_stuckErrors = 0;
    int64_t m_faultAfter = -1; // test hook: packets written before the injected fault
    std::string m_faultKind;

    // A kept file's stream on its way into the whole: its lane or subtitle track, and the
    // timestamp (its own time base; decode order for pictures) from which the new part takes
    // over.
    struct KeptStream {
        Lane* lane = nullptr;
        SubtitleTrack* track = nullptr;
        int64_t cut = INT64_MIN;
        bool passed = false;
    };
    std::optional<StoppedNote> m_kept;
    InputPtr m_keptIn;
    std::vector<KeptStream> m_keptStreams; // by the kept file's stream index
    int m_keptAvcLength = 0;               // H.264 kept: the size of its NAL unit lengths
    int64_t m_resumeUs = 0;                // the instant the new part takes over
};

Conversion::Conversion(const Options& opt, ProgressState& progress)
    : m_opt(opt), m_progress(progress), m_inPath(*opt.input), m_outPath(*opt.output),
      m_deviceTarget(opt.disc == DiscKind::None) {
    // Tests prove that nothing the conversion throws escapes the core's error handling.
    if (const char* fault = std::getenv("PLEXCORE_TEST_FAULT")) {
        m_faultKind = fault;
        m_faultAfter = 10;
    }
}

void Conversion::injectFault() const {
    if (m_faultKind == "exception")
        throw std::out_of_range("injected fault");
    throw 42;
}

Conversion::~Conversion() {
    m_lanes.clear();
    m_out.reset();     // closes the file before it may be removed
    m_partial.reset(); // removes an unfinished partial file; a device written in place stays
    setUnfinishedOutput(nullptr); // only now: an abort until here still removes it
}

NameRule Conversion::nameRule() const {
    if (m_kept)
        return NameRule::ReplaceKept;
    return m_opt.claim ? NameRule::Claim : m_opt.overwrite ? NameRule::Replace : NameRule::Exact;
}

void Conversion::checkPaths() {
    if (m_kept) {
        // The kept file is the output: it is meant to be there, and is replaced only at the end.
        removeStalePartials(m_outPath, m_inPath);
        return;
    }
    struct stat outSt {};
    if (::stat(m_outPath.c_str(), &outSt) == 0) {
        struct stat inSt {};
        // -claim never replaces a file, so the input cannot be harmed there.
        if (!m_opt.claim && ::stat(m_inPath.c_str(), &inSt) == 0 && inSt.st_dev == outSt.st_dev &&
            inSt.st_ino == outSt.st_ino)
            throw Failure("the output file '" + m_outPath + "' is the input file");
        if (S_ISDIR(outSt.st_mode))
            throw Failure("the output '" + m_outPath + "' is a folder");
        // With -claim a taken name of any kind (a link to /dev/null planted there too) only
        // sends the finished file to the next free name.
        if (nameRule() != NameRule::Claim) {
            if (!S_ISREG(outSt.st_mode))
                m_inPlace = true; // /dev/null, a FIFO: written to as they are
            else if (nameRule() == NameRule::Exact)
                throw Failure("the output file '" + m_outPath +
                              "' already exists (use -y to replace it)");
        }
    }
    if (!m_inPlace)
        removeStalePartials(m_outPath, m_inPath);
}

void Conversion::pickStreams() {
    AVFormatContext* ic = m_in.get();
    int v = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (v >= 0 && !isRealVideo(ic->streams[v])) {
        v = -1;
        for (unsigned i = 0; i < ic->nb_streams; ++i)
            if (isRealVideo(ic->streams[i])) {
                v = static_cast<int>(i);
                break;
            }
    }
    int a = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, v, nullptr, 0);
    // The devices offer every sound track; the one the source marks as its own comes first.
    std::vector<int> audio;
    for (unsigned i = 0; i < ic->nb_streams; ++i)
        if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            audio.push_back(static_cast<int>(i));
    const std::vector<int> sound = m_deviceTarget ? soundTrackOrder(audio, a) : std::vector<int>{a};

    m_laneOfStream.assign(ic->nb_streams, nullptr);
    auto open = [&](int idx, bool video) {
        if (idx < 0)
            return;
        AVStream* st = ic->streams[idx];
        const char* kind = video ? "video" : "audio";
        if (video && (st->codecpar->width <= 0 || st->codecpar->height <= 0)) {
            warn(std::string("the ") + kind + " stream has no picture size; leaving it out");
            return;
        }
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!codec) {
            warn(std::string("no decoder for the ") + kind + " codec " +
                 avcodec_get_name(st->codecpar->codec_id) + "; leaving it out");
            return;
        }
        auto lane = std::make_unique<Lane>();
        lane->video = video;
        lane->in = st;
        lane->dec.reset(avcodec_alloc_context3(codec));
        if (!lane->dec)
            throw Failure("out of memory");
        if (avcodec_parameters_to_context(lane->dec.get(), st->codecpar) < 0)
            throw Failure("cannot set up the decoder");
        lane->dec->pkt_timebase = st->time_base;
        lane->dec->thread_count = 0; // one per core and one more, frame-threaded
        int err = avcodec_open2(lane->dec.get(), codec, nullptr);
        if (err < 0) {
            warn(std::string("cannot open the ") + kind + " decoder (" + avErrorText(err) +
                 "); leaving it out");
            return;
        }
        m_laneOfStream[idx] = lane.get();
        m_lanes.push_back(std::move(lane));
    };
    open(v, true);
    for (int idx : sound)
        open(idx, false);
    if (m_lanes.empty())
        throw Failure("no audio or video in '" + m_inPath + "' that can be decoded");
}

void Conversion::openVideoEncoder(Lane& lane) {
    const VideoPlan& v = m_plan.video;
    const AVCodec* codec = avcodec_find_encoder_by_name(v.encoder.c_str());
    if (!codec)
        throw Failure("this build has no " + v.encoder + " encoder");
    lane.enc.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = lane.enc.get();
    if (!c)
        throw Failure("out of memory");
    c->width = v.width;
    c->height = v.height;
    c->pix_fmt = v.pixFmt;
    c->sample_aspect_ratio = v.sar;
    c->framerate = v.rate;
    c->time_base = av_inv_q(v.rate);
    if (v.bitrate > 0)
        c->bit_rate = v.bitrate;
    if (v.maxRate > 0)
        c->rc_max_rate = v.maxRate;
    if (v.minRate > 0)
        c->rc_min_rate = v.minRate;
    if (v.bufSize > 0)
        c->rc_buffer_size = static_cast<int>(v.bufSize);
    if (v.tolerance > 0)
        c->bit_rate_tolerance = static_cast<int>(v.tolerance);
    if (v.gop >= 0)
        c->gop_size = v.gop;
    if (v.maxBFrames >= 0)
        c->max_b_frames = v.maxBFrames;
    c->profile = v.profile;
    c->level = v.level;
    c->thread_count = 0;
    if (m_out->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Dict opts;
    for (const auto& [k, val] : v.codecOptions)
        opts.set(k.c_str(), val);
    int err = avcodec_open2(c, codec, opts.get());
    if (err < 0)
        throw Failure("cannot start the " + v.encoder + " encoder at " + std::to_string(v.width) +
                      "x" + std::to_string(v.height) + ": " + avErrorText(err));

    lane.out = avformat_new_stream(m_out.get(), nullptr);
    if (!lane.out)
        throw Failure("out of memory");
    avcodec_parameters_from_context(lane.out->codecpar, c);
    if (v.codecTag)
        lane.out->codecpar->codec_tag = v.codecTag;
    lane.out->time_base = c->time_base;
    lane.out->sample_aspect_ratio = v.sar;
    lane.out->avg_frame_rate = v.rate;
    lane.out->r_frame_rate = v.rate;
}

void Conversion::openAudioEncoder(Lane& lane) {
    const AudioPlan& a = *lane.audio;
    const AVCodec* codec = avcodec_find_encoder_by_name(a.encoder.c_str());
    if (!codec)
        throw Failure("this build has no " + a.encoder + " encoder");
    lane.enc.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = lane.enc.get();
    if (!c)
        throw Failure("out of memory");
    c->sample_rate = a.sampleRate;
    if (a.channels == 6)
        c->ch_layout = AV_CHANNEL_LAYOUT_5POINT1;
    else
        av_channel_layout_default(&c->ch_layout, a.channels);
    // The filter chain delivers the plan's format, the encoder's first choice.
    c->sample_fmt = a.sampleFormat;
    if (a.bitrate > 0)
        c->bit_rate = a.bitrate;
    c->time_base = {1, a.sampleRate};
    if (m_out->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int err = avcodec_open2(c, codec, nullptr);
    if (err < 0)
        throw Failure("cannot start the " + a.encoder + " encoder at " +
                      std::to_string(a.sampleRate) + " Hz, " + std::to_string(a.channels) +
                      " channels: " + avErrorText(err));
    lane.out = avformat_new_stream(m_out.get(), nullptr);
    if (!lane.out)
        throw Failure("out of memory");
    avcodec_parameters_from_context(lane.out->codecpar, c);
    lane.out->time_base = c->time_base;
}

bool Conversion::openSubtitleCodecs(SubtitleTrack& t, const char* charset) {
    const AVCodec* decoder = avcodec_find_decoder(t.in->codecpar->codec_id);
    if (!decoder) {
        warn("no decoder for the subtitles of " + t.name + "; leaving them out");
        return false;
    }
    t.dec.reset(avcodec_alloc_context3(decoder));
    if (!t.dec)
        throw Failure("out of memory");
    if (avcodec_parameters_to_context(t.dec.get(), t.in->codecpar) < 0)
        throw Failure("cannot set up the subtitle decoder");
    t.dec->pkt_timebase = t.in->time_base;
    Dict options;
    if (charset)
        options.set("sub_charenc", charset);
    int err = avcodec_open2(t.dec.get(), decoder, options.get());
    if (err < 0) {
        warn("cannot read the subtitles of " + t.name + " (" + avErrorText(err) +
             "); leaving them out");
        return false;
    }

    // Timed text (tx3g) is what the devices' players list.
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MOV_TEXT);
    if (!encoder)
        throw Failure("this build has no timed-text (mov_text) encoder");
    t.enc.reset(avcodec_alloc_context3(encoder));
    AVCodecContext* c = t.enc.get();
    if (!c)
        throw Failure("out of memory");
    // The encoder takes its styles from the decoder's ASS header, or from a default one when
    // the source defines none.
    const bool own = t.dec->subtitle_header && t.dec->subtitle_header_size > 0 &&
                     !assStyleNames({reinterpret_cast<const char*>(t.dec->subtitle_header),
                                     static_cast<size_t>(t.dec->subtitle_header_size)})
                          .empty();
    const size_t size =
        own ? static_cast<size_t>(t.dec->subtitle_header_size) : sizeof kDefaultAssHeader - 1;
    c->subtitle_header = static_cast<uint8_t*>(av_mallocz(size + 1));
    if (!c->subtitle_header)
        throw Failure("out of memory");
    std::memcpy(c->subtitle_header,
                own ? t.dec->subtitle_header : reinterpret_cast<const uint8_t*>(kDefaultAssHeader),
                size);
    c->subtitle_header_size = static_cast<int>(size);
    t.styles = assStyleNames({reinterpret_cast<const char*>(c->subtitle_header), size});
    c->time_base = AV_TIME_BASE_Q;
    // The text box spans the picture, and font sizes scale with it.
    if (m_plan.video.enabled) {
        c->width = m_plan.video.width;
        c->height = m_plan.video.height;
    }
    err = avcodec_open2(c, encoder, nullptr);
    if (err < 0) {
        warn("cannot write the subtitles of " + t.name + " as timed text (" + avErrorText(err) +
             "); leaving them out");
        return false;
    }
    return true;
}

void Conversion::pickSubtitles() {
    AVFormatContext* ic = m_in.get();
    m_subtitleOfStream.assign(ic->nb_streams, nullptr);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        AVStream* st = ic->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        const std::string name = "stream " + std::to_string(i);
        if (!isTextSubtitle(st->codecpar->codec_id)) {
            // DVD and Blu-ray subtitles are pictures; the devices' players show text only.
            printLine(plexavo::contract::kNotePrefix +
                      oneLine(std::string("picture subtitles (") +
                              avcodec_get_name(st->codecpar->codec_id) + ", " + name +
                              ") cannot become text for the devices: left out"));
            continue;
        }
        auto track = std::make_unique<SubtitleTrack>();
        track->name = name;
        track->in = st;
        track->language = deviceLanguage(tagOf(st->metadata, "language"));
        track->isDefault = st->disposition & AV_DISPOSITION_DEFAULT;
        track->forced = st->disposition & AV_DISPOSITION_FORCED;
        if (!openSubtitleCodecs(*track, nullptr))
            continue;
        m_subtitleOfStream[i] = track.get();
        m_subtitles.push_back(std::move(track));
    }
    for (const std::string& path : findSideFiles(m_inPath))
        addSideFile(path);
    // One default at most: the muxer would give each of several a group of its own.
    bool seen = false;
    for (auto& track : m_subtitles) {
        track->isDefault = track->isDefault && !seen;
        seen = seen || track->isDefault;
    }
}

void Conversion::addSideFile(const std::string& path) {
    const std::string name = baseName(path);
    const std::optional<SideFileName> tags = readSideFileName(baseName(m_inPath), name);
    if (!tags)
        return;
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw Failure("out of memory");
    raw->interrupt_callback = m_in->interrupt_callback;
    if (avformat_open_input(&raw, fileUrl(path).c_str(), nullptr, nullptr) < 0) {
        warn("cannot read the subtitle file '" + name + "'; leaving it out");
        return;
    }
    InputPtr file(raw);
    AVStream* st = nullptr;
    if (avformat_find_stream_info(file.get(), nullptr) >= 0)
        for (unsigned i = 0; i < file->nb_streams && !st; ++i)
            if (file->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE &&
                isTextSubtitle(file->streams[i]->codecpar->codec_id))
                st = file->streams[i];
    if (!st) {
        warn("the file '" + name + "' holds no text subtitles; leaving it out");
        return;
    }
    auto track = std::make_unique<SubtitleTrack>();
    track->name = "'" + name + "'";
    track->in = st;
    track->sideFile = std::move(file);
    track->language =
        !tags->language.empty() ? tags->language : deviceLanguage(tagOf(st->metadata, "language"));
    track->isDefault = tags->isDefault;
    track->forced = tags->forced;
    // Files from older tools are often in the Windows Western code page, not UTF-8.
    if (!openSubtitleCodecs(*track, readableText(path) ? nullptr : "CP1252"))
        return;
    m_subtitles.push_back(std::move(track));
}

void Conversion::chooseCover() {
    AVFormatContext* ic = m_in.get();
    std::vector<CoverCandidate> pictures;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) && st->attached_pic.size > 0)
            pictures.push_back({static_cast<int>(i), tagOf(st->metadata, "comment"),
                                tagOf(st->metadata, "filename")});
    }
    const int chosen = pickCover(pictures);
    if (chosen < 0)
        return;
    // FFmpeg's mov muxer writes no cover: it is added to the finished partial file, which a
    // device or pipe written in place is not.
    if (m_plan.muxer == "mov" && m_inPlace) {
        printLine(plexavo::contract::kNotePrefix +
                  std::string("the cover art cannot be written into a .mov file here: left out"));
        return;
    }
    const AVStream* st = ic->streams[chosen];
    const AVCodecParameters* par = st->codecpar;
    const bool asItIs = par->codec_id == AV_CODEC_ID_MJPEG || par->codec_id == AV_CODEC_ID_PNG;
    const std::optional<CoverPlan> how = planCover(asItIs, par->width, par->height);
    if (!how) {
        warn("the cover art has no size; leaving it out");
        return;
    }
    try {
        if (how->copy) {
            m_cover = makePacket();
            if (av_packet_ref(m_cover.get(), &st->attached_pic) < 0)
                throw Failure("out of memory");
            m_coverCodec = par->codec_id;
        } else {
            m_cover = scaledPicture(st, how->width, how->height);
            m_coverCodec = AV_CODEC_ID_MJPEG;
        }
        m_coverWidth = how->width;
        m_coverHeight = how->height;
    } catch (const Failure& f) {
        m_cover.reset();
        warn(std::string("cannot convert the cover art (") + f.what() + "); leaving it out");
    }
}

void Conversion::addSubtitleStream(SubtitleTrack& t) {
    t.out = avformat_new_stream(m_out.get(), nullptr);
    if (!t.out)
        throw Failure("out of memory");
    avcodec_parameters_from_context(t.out->codecpar, t.enc.get());
    // The sample entry and handler Apple's players list as subtitles, in .mov files too.
    t.out->codecpar->codec_tag = MKTAG('t', 'x', '3', 'g');
    t.out->time_base = {1, 1000};
    if (!t.language.empty())
        av_dict_set(&t.out->metadata, "language", writtenLanguage(t.language).c_str(), 0);
    t.out->disposition =
        (t.isDefault ? AV_DISPOSITION_DEFAULT : 0) | (t.forced ? AV_DISPOSITION_FORCED : 0);
    // The sample entry's display flags open with "all samples are forced" (0x80000000), which
    // Apple's players read as a track shown for the foreign parts only.
    if (t.forced && t.out->codecpar->extradata && t.out->codecpar->extradata_size >= 4)
        t.out->codecpar->extradata[0] = static_cast<uint8_t>(t.out->codecpar->extradata[0] | 0x80);
}

void Conversion::addCoverStream() {
    m_coverOut = avformat_new_stream(m_out.get(), nullptr);
    if (!m_coverOut)
        throw Failure("out of memory");
    m_coverOut->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    m_coverOut->codecpar->codec_id = m_coverCodec;
    m_coverOut->codecpar->width = m_coverWidth;
    m_coverOut->codecpar->height = m_coverHeight;
    // Exactly this disposition makes the muxer write it as the cover, not as a track.
    m_coverOut->disposition = AV_DISPOSITION_ATTACHED_PIC;
    m_coverOut->time_base = {1, 90000};
}

void Conversion::readSideFiles() {
    for (auto& track : m_subtitles) {
        if (!track->sideFile)
            continue;
        PacketPtr pkt = makePacket();
        while (!stopRequested() && av_read_frame(track->sideFile.get(), pkt.get()) >= 0) {
            if (pkt->stream_index == track->in->index)
                decodeSubtitle(*track, pkt.get());
            av_packet_unref(pkt.get());
        }
        track->timeline.finish();
        for (SubtitleCue& cue : track->timeline.take())
            track->cues.push_back(std::move(cue));
        // The stream's description stays with the decoder; the file is done with.
        track->in = nullptr;
        track->sideFile.reset();
    }
}

void Conversion::decodeSubtitle(SubtitleTrack& t, const AVPacket* pkt) {
    AVSubtitle sub{};
    int got = 0;
    const int err = avcodec_decode_subtitle2(t.dec.get(), &sub, &got, const_cast<AVPacket*>(pkt));
    if (err < 0) {
        if (++t.errors == 1)
            warn("skipped damaged subtitles in " + t.name + " (" + avErrorText(err) + ")");
        return;
    }
    if (!got)
        return;
    const std::unique_ptr<AVSubtitle, SubtitleFree> owned(&sub);
    int64_t pts = sub.pts;
    if (pts == AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE)
        pts = av_rescale_q(pkt->pts, t.dec->pkt_timebase, AV_TIME_BASE_Q);
    if (pts == AV_NOPTS_VALUE)
        return;
    SubtitleEvent event;
    event.startUs = pts + int64_t{sub.start_display_time} * 1000 - t.originUs;
    const bool endKnown =
        sub.end_display_time > sub.start_display_time && sub.end_display_time != UINT32_MAX;
    event.endUs = endKnown ? pts + int64_t{sub.end_display_time} * 1000 - t.originUs
                           : event.startUs + kUnknownSubtitleUs;
    for (unsigned i = 0; i < sub.num_rects; ++i) {
        const AVSubtitleRect* r = sub.rects[i];
        std::string style, text;
        if (r->type == SUBTITLE_ASS && r->ass) {
            if (auto parts = splitAssEvent(r->ass)) {
                style = std::move(parts->first);
                text = std::move(parts->second);
            }
        } else if (r->type == SUBTITLE_TEXT && r->text) {
            text = assText(r->text);
        }
        if (text.empty())
            continue;
        if (event.text.empty())
            event.style = knownStyle(t.styles, style);
        else
            event.text += "\\N";
        event.text += text;
    }
    t.timeline.add(std::move(event));
    for (SubtitleCue& cue : t.timeline.take())
        t.cues.push_back(std::move(cue));
}

void Conversion::writeCue(SubtitleTrack& t, const SubtitleCue& shown) {
    // Continuing: what the copied cues show already is not shown twice.
    SubtitleCue cue = shown;
    cue.startUs = std::max(cue.startUs, t.notBeforeUs);
    const int64_t startMs = (cue.startUs + 500) / 1000;
    const int64_t endMs = (cue.endUs + 500) / 1000;
    if (endMs <= startMs)
        return;
    std::string event = assEvent(cue);
    AVSubtitleRect rect{};
    rect.type = SUBTITLE_ASS;
    rect.ass = event.data();
    AVSubtitleRect* rects[] = {&rect};
    AVSubtitle sub{};
    sub.num_rects = 1;
    sub.rects = rects;
    sub.pts = cue.startUs;
    sub.end_display_time = static_cast<uint32_t>(endMs - startMs);
    if (m_cueBuffer.empty())
        m_cueBuffer.resize(1 << 20);
    const int size = avcodec_encode_subtitle(t.enc.get(), m_cueBuffer.data(),
                                             static_cast<int>(m_cueBuffer.size()), &sub);
    if (size < 0) {
        if (++t.errors == 1)
            warn("cannot write a subtitle of " + t.name + " as timed text; leaving it out");
        return;
    }
    PacketPtr pkt = makePacket();
    if (av_new_packet(pkt.get(), size) < 0)
        throw Failure("out of memory");
    std::memcpy(pkt->data, m_cueBuffer.data(), static_cast<size_t>(size));
    pkt->pts = pkt->dts = startMs;
    pkt->duration = endMs - startMs;
    av_packet_rescale_ts(pkt.get(), {1, 1000}, t.out->time_base);
    pkt->stream_index = t.out->index;
    checkWriteError(av_interleaved_write_frame(m_out.get(), pkt.get()));
}

void Conversion::releaseSubtitles(int64_t untilUs) {
    // A cue goes to the muxer once the picture and sound have passed it, so the file stays
    // interleaved and a stop never leaves text beyond the end.
    for (auto& track : m_subtitles)
        while (!track->cues.empty() && track->cues.front().endUs <= untilUs) {
            writeCue(*track, track->cues.front());
            track->cues.pop_front();
        }
}

void Conversion::finishSubtitles(int64_t limitUs) {
    for (auto& track : m_subtitles) {
        track->timeline.finish(limitUs);
        std::vector<SubtitleCue> rest(std::make_move_iterator(track->cues.begin()),
                                      std::make_move_iterator(track->cues.end()));
        track->cues.clear();
        for (SubtitleCue& cue : track->timeline.take())
            rest.push_back(std::move(cue));
        for (const SubtitleCue& cue : cuesBefore(std::move(rest), limitUs))
            writeCue(*track, cue);
    }
}

void Conversion::addChapters(int64_t endUs) {
    AVFormatContext* ic = m_in.get();
    if (!m_deviceTarget || ic->nb_chapters == 0 || endUs <= 0)
        return;
    const int64_t origin =
        (ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0) + m_opt.startUs.value_or(0);
    std::vector<ChapterMark> marks;
    for (unsigned i = 0; i < ic->nb_chapters; ++i) {
        const AVChapter* c = ic->chapters[i];
        if (c->start == AV_NOPTS_VALUE || c->time_base.num <= 0 || c->time_base.den <= 0)
            continue;
        ChapterMark m;
        m.startUs = av_rescale_q(c->start, c->time_base, AV_TIME_BASE_Q) - origin;
        m.endUs = c->end == AV_NOPTS_VALUE
                      ? m.startUs
                      : av_rescale_q(c->end, c->time_base, AV_TIME_BASE_Q) - origin;
        m.title = tagOf(c->metadata, "title");
        marks.push_back(std::move(m));
    }
    // Given to the muxer only now, when the length written is known: it then makes the
    // chapter track with the index, and no chapter reaches past the end of a stopped run.
    AVFormatContext* oc = m_out.get();
    const std::vector<ChapterMark> kept = chaptersWithin(std::move(marks), endUs);
    if (kept.empty())
        return;
    oc->chapters = static_cast<AVChapter**>(av_calloc(kept.size(), sizeof(AVChapter*)));
    if (!oc->chapters)
        throw Failure("out of memory");
    for (const ChapterMark& m : kept) {
        auto* c = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!c)
            throw Failure("out of memory");
        oc->chapters[oc->nb_chapters++] = c; // freed with the context from here on
        c->id = static_cast<int64_t>(oc->nb_chapters);
        c->time_base = {1, 1000};
        c->start = (m.startUs + 500) / 1000;
        c->end = (m.endUs + 500) / 1000;
        av_dict_set(&c->metadata, "title", m.title.c_str(), 0);
    }
}

void Conversion::turnOffSubtitles() {
    // The muxer turns on the first track when the source turned none on.
    if (m_subtitles.empty() || !m_partial)
        return;
    for (const auto& track : m_subtitles)
        if (track->isDefault)
            return;
    if (!turnOffSubtitleTracks(m_partial->descriptor()))
        warn("cannot mark the subtitles as off; players may show them unasked");
}

void Conversion::addCoverToMov() {
    if (!m_cover || m_coverOut || !m_partial)
        return;
    const std::string_view picture(reinterpret_cast<const char*>(m_cover->data),
                                   static_cast<std::size_t>(m_cover->size));
    std::string why;
    switch (addCover(m_partial->descriptor(), picture,
                     m_coverCodec == AV_CODEC_ID_PNG ? CoverFormat::Png : CoverFormat::Jpeg, why)) {
    case CoverWrite::Added:
        return;
    case CoverWrite::LeftAsIs:
        warn("cannot add the cover art to the .mov file (" + why + "); left out");
        return;
    case CoverWrite::Damaged:
        throw Failure("cannot add the cover art to '" + m_outPath + "': " + why);
    }
}

void Conversion::openOutput() {
    AVFormatContext* oc = nullptr;
    // The muxer is named, never guessed from the file name: the partial file's name says
    // nothing about the format.
    int err = avformat_alloc_output_context2(&oc, nullptr, m_plan.muxer.c_str(), nullptr);
    if (err < 0 || !oc)
        throw Failure("this build cannot write " + m_plan.muxer + " files");
    m_out.reset(oc);
    const bool needsFile = !(oc->oformat->flags & AVFMT_NOFILE);
    if (needsFile && !m_inPlace) {
        m_partial = std::make_unique<PartialFile>(
            m_outPath, nameRule(), m_kept ? std::optional(m_kept->output) : std::nullopt);
        setUnfinishedOutput(&m_partial->path(), &m_partial->notePath());
    }
    m_writePath = m_partial ? m_partial->path() : m_outPath;
    // The muxer reopens the file by this name to move the index to the front.
    oc->url = av_strdup(fileUrl(m_writePath).c_str());

    std::vector<AVStream*> sound;
    for (auto& lane : m_lanes) {
        if (lane->video) {
            openVideoEncoder(*lane);
            continue;
        }
        openAudioEncoder(*lane);
        sound.push_back(lane->out);
        const std::string lang = deviceLanguage(tagOf(lane->in->metadata, "language"));
        if (m_deviceTarget && !lang.empty() && lang != "und")
            av_dict_set(&lane->out->metadata, "language", writtenLanguage(lang).c_str(), 0);
    }
    // One track marked as the default: the devices start with it and offer the others, which
    // the muxer puts in the same alternate group (two defaults would give each its own group).
    if (sound.size() > 1)
        for (AVStream* st : sound)
            st->disposition = st == sound.front() ? AV_DISPOSITION_DEFAULT : 0;
    for (auto& track : m_subtitles)
        addSubtitleStream(*track);
    if (m_kept)
        checkKeptStreams();
    if (m_cover && m_plan.muxer != "mov")
        addCoverStream();
    if (m_deviceTarget) {
        const AVDictionary* tags = m_in->metadata;
        const auto lookup = [tags](const char* key) { return tagOf(tags, key); };
        for (const auto& [key, value] : deviceTags(lookup, m_opt.title))
            av_dict_set(&oc->metadata, key.c_str(), value.c_str(), 0);
    } else if (m_opt.title && !m_opt.title->empty()) {
        av_dict_set(&oc->metadata, "title", m_opt.title->c_str(), 0);
    }

    if (needsFile) {
        err = avio_open(&oc->pb, fileUrl(m_writePath).c_str(), AVIO_FLAG_WRITE);
        if (err < 0)
            throw Failure("cannot write the output file '" + m_outPath + "': " + avErrorText(err));
    }
    Dict opts;
    for (const auto& [k, v] : m_plan.muxerOptions)
        opts.set(k.c_str(), v);
    err = avformat_write_header(oc, opts.get());
    if (err < 0)
        throw Failure("cannot write the output file '" + m_outPath + "': " + avErrorText(err));
    if (m_coverOut) {
        // The muxer keeps the picture for the index it writes at the end.
        m_cover->stream_index = m_coverOut->index;
        m_cover->pts = m_cover->dts = 0;
        err = av_interleaved_write_frame(oc, m_cover.get());
        checkWriteError(err);
    }
}

void Conversion::seekToStart() {
    AVFormatContext* ic = m_in.get();
    const int64_t zero = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    const int64_t startUs = m_opt.startUs.value_or(0);
    const int64_t origin = zero + startUs;
    m_originUs = origin;
    if (m_opt.durationUs)
        m_endSec = static_cast<double>(*m_opt.durationUs) / 1e6;
    int64_t seekUs = INT64_MAX; // continuing: the earliest instant a lane starts from
    for (auto& lane : m_lanes) {
        // A continued lane starts where its new encode takes over; the end point stays where
        // it is in the whole.
        const AVRational unit =
            lane->video ? av_inv_q(m_plan.video.rate) : AVRational{1, lane->audio->sampleRate};
        lane->resumeUs = av_rescale_q(lane->resumeAt, unit, AV_TIME_BASE_Q);
        seekUs = std::min(seekUs, lane->resumeUs);
        lane->offset = av_rescale_q(origin, AV_TIME_BASE_Q, lane->in->time_base) +
                       av_rescale_q(lane->resumeAt, unit, lane->in->time_base);
        if (m_endSec > 0.0)
            lane->endSec = std::max(m_endSec - static_cast<double>(lane->resumeUs) / 1e6, 1e-6);
        if (lane->video) {
            AVRational r = m_plan.video.rate;
            const Rational src = m_source.video ? m_source.video->rate : Rational{0, 1};
            if (src.num > 0 && src.den > 0)
                r = {src.num, src.den};
            lane->step = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(r), lane->in->time_base));
            // Real gaps in variable-rate sources are mostly shorter than a second; what
            // strays further is doubted until the next frame confirms it.
            const int64_t second = av_rescale_q(1, {1, 1}, lane->in->time_base);
            lane->timeline.emplace(std::max(second, 3 * lane->step), false);
        }
    }
    // A timestamp well outside the container's stated length is damage, not a jump. An
    // estimate from the bit rate is too rough to judge by.
    if (ic->duration > 0 && ic->duration != AV_NOPTS_VALUE &&
        ic->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
        const int64_t margin = 10 * int64_t{AV_TIME_BASE} + ic->duration / 10;
        m_earliestUs = -startUs - margin;
        m_latestUs = ic->duration - startUs + margin;
    }
    for (auto& lane : m_lanes)
        if (lane->video)
            boundTimeline(*lane, lane->in->time_base);
    // A file beside the source counts from the start of play, whatever the source's own clock.
    for (auto& track : m_subtitles) {
        track->originUs = track->sideFile ? startUs : origin;
        track->timeline = SubtitleTimeline(m_opt.durationUs.value_or(0));
    }
    if (seekUs == INT64_MAX)
        seekUs = 0;
    if (startUs + seekUs > 0) {
        // Land on the key frame before the start; the frames up to it are decoded and dropped.
        const int64_t target = origin + seekUs;
        int err = avformat_seek_file(ic, -1, INT64_MIN, target, target, 0);
        if (err < 0)
            warn("cannot seek in the input; reading from its beginning instead");
        else
            lookBackForCues(target);
    }
}

void Conversion::lookBackForCues(int64_t targetUs) {
    // The read lands on the key frame before the start, and a line that began before that
    // frame is still on screen at the start (or at the join of a continuation). Its packet
    // lies behind the read, so the subtitles alone are read once more from a little earlier.
    std::vector<SubtitleTrack*> embedded;
    for (auto& track : m_subtitles)
        if (!track->sideFile && track->in)
            embedded.push_back(track.get());
    struct stat sb {};
    // A pipe or a device cannot be read twice.
    if (embedded.empty() || ::stat(m_inPath.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode))
        return;
    InputPtr again;
    try {
        again = openInput(m_inPath);
    } catch (const Failure&) {
        return; // the main read goes on; only the lines before the start are missing
    }
    AVFormatContext* ic = again.get();
    const int64_t zero = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    const int64_t from = std::max(zero, targetUs - kCueLookBackUs);
    if (from > zero && avformat_seek_file(ic, -1, INT64_MIN, from, from, 0) < 0)
        return;
    std::vector<SubtitleTrack*> trackOf(ic->nb_streams, nullptr);
    for (SubtitleTrack* track : embedded)
        if (track->in->index < static_cast<int>(trackOf.size()))
            trackOf[track->in->index] = track;
    // Every stream is read, without decoding: the pictures' and sound's times tell where the
    // read has passed the start, however sparse the subtitles are.
    PacketPtr pkt = makePacket();
    while (!stopRequested() && av_read_frame(ic, pkt.get()) >= 0) {
        const std::unique_ptr<AVPacket, void (*)(AVPacket*)> unref(pkt.get(), av_packet_unref);
        if (pkt->stream_index >= static_cast<int>(trackOf.size()))
            continue;
        const auto at = packetUs(*pkt, ic->streams[pkt->stream_index]->time_base);
        if (!at)
            continue;
        if (*at >= targetUs + kInterleaveSlackUs)
            break;
        SubtitleTrack* track = trackOf[pkt->stream_index];
        if (track && *at < targetUs) {
            decodeSubtitle(*track, pkt.get());
            track->lookedBackUntilUs = std::max(track->lookedBackUntilUs, *at);
        }
    }
}

void Conversion::noteDamage(Lane& lane, int err) {
    ++lane.errors;
    if (lane.errors == 1 || lane.errors % 100 == 0)
        warn(std::string("skipped damaged ") + (lane.video ? "video" : "audio") + " data (" +
             avErrorText(err) + ")");
    int64_t decoded = 0, errors = 0;
    for (auto& l : m_lanes) {
        decoded += l->decoded;
        errors += l->errors;
    }
    if (decoded == 0 && errors >= 200)
        throw Failure("the input '" + m_inPath + "' is damaged: nothing in it could be decoded");
}

void Conversion::decode(Lane& lane, const AVPacket* pkt) {
    int err = avcodec_send_packet(lane.dec.get(), pkt);
    if (err < 0 && err != AVERROR_EOF) {
        noteDamage(lane, err);
        if (pkt)
            return;
    }
    for (int failures = 0;;) {
        err = avcodec_receive_frame(lane.dec.get(), m_frame.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            break;
        if (err < 0) {
            noteDamage(lane, err);
            if (pkt || ++failures > 64)
                break;
            continue;
        }
        ++lane.decoded;
        if (!lane.video)
            nameChannelLayout(m_frame.get());
        if (!lane.done) {
            if (lane.video)
                onVideoFrame(lane, m_frame.get());
            else
                onAudioFrame(lane, m_frame.get());
        }
        av_frame_unref(m_frame.get());
    }
}

void Conversion::releaseHeld(Lane& lane, int64_t pts) {
    if (lane.video)
        placeVideo(lane, lane.held.get(), pts);
    else
        placeAudio(lane, lane.held.get(), pts);
    av_frame_unref(lane.held.get());
}

void Conversion::boundTimeline(Lane& lane, AVRational unit) {
    if (m_latestUs > m_earliestUs)
        lane.timeline->setBounds(av_rescale_q(m_earliestUs - lane.resumeUs, AV_TIME_BASE_Q, unit),
                                 av_rescale_q(m_latestUs - lane.resumeUs, AV_TIME_BASE_Q, unit));
}

void Conversion::finishTimeline(Lane& lane) {
    if (!lane.timeline)
        return;
    if (const std::optional<int64_t> pts = lane.timeline->finish()) {
        if (!lane.done)
            releaseHeld(lane, *pts);
        av_frame_unref(lane.held.get());
    }
}

void Conversion::onVideoFrame(Lane& lane, AVFrame* f) {
    const int64_t raw = f->best_effort_timestamp != AV_NOPTS_VALUE
                            ? f->best_effort_timestamp - lane.offset
                            : Timeline::kNoTime; // advances one source frame
    const Timeline::Step s = lane.timeline->arrive(raw, lane.step);
    if (s.releaseHeld)
        releaseHeld(lane, s.heldPts);
    if (s.hold)
        av_frame_move_ref(lane.held.get(), f);
    else if (!lane.done)
        placeVideo(lane, f, s.pts);
}

void Conversion::placeVideo(Lane& lane, AVFrame* f, int64_t pts) {
    f->pts = pts;
    if (lane.endSec > 0.0 &&
        static_cast<double>(f->pts) * av_q2d(lane.in->time_base) >= lane.endSec) {
        lane.done = true;
        return;
    }
    if (!lane.filter.accepts(f)) {
        int64_t first = 0;
        if (lane.filter.ready()) {
            // The picture changed size or format mid-stream: finish the old chain first.
            lane.filter.close(f->pts);
            drainFilter(lane);
            first = lane.nextOutFrame;
        }
        lane.filter.configureVideo(f, lane.in->time_base, m_plan.video, first);
    }
    lane.filterEnd = f->pts + lane.step;
    if (lane.endSec > 0.0)
        lane.filterEnd = std::min(lane.filterEnd,
                                  static_cast<int64_t>(lane.endSec / av_q2d(lane.in->time_base)));
    lane.filter.push(f);
    drainFilter(lane);
}

void Conversion::onAudioFrame(Lane& lane, AVFrame* f) {
    const int sr = f->sample_rate;
    if (sr <= 0 || f->nb_samples <= 0)
        return;
    if (sr != lane.inRate) {
        // A new sample rate is a new clock: settle the old one first.
        finishTimeline(lane);
        if (lane.timeline)
            lane.repairs += lane.timeline->repairs();
        // Coarse container clocks jitter by a few milliseconds; the sample count keeps
        // running unless they stray further (a gap, which is filled with silence).
        lane.timeline.emplace(sr / 50, true);
        boundTimeline(lane, {1, sr});
        lane.inRate = sr;
        if (lane.done)
            return;
    }
    const int64_t raw = f->best_effort_timestamp == AV_NOPTS_VALUE ? Timeline::kNoTime
                        : m_kept                                   ? resumedPosition(lane, f)
                                 : av_rescale_q(f->best_effort_timestamp - lane.offset,
                                                lane.in->time_base, {1, sr});
    const Timeline::Step s = lane.timeline->arrive(raw, f->nb_samples);
    if (s.releaseHeld)
        releaseHeld(lane, s.heldPts);
    if (s.hold)
        av_frame_move_ref(lane.held.get(), f);
    else if (!lane.done)
        placeAudio(lane, f, s.pts);
}

int64_t Conversion::resumedPosition(const Lane& lane, const AVFrame* f) const {
    // The kept sound holds every sample of the source at its place, and the new part's must
    // land exactly there too, or the two would not add up where they overlap. So the start is
    // counted in samples, not in the stream's time base, which may be as coarse as a
    // millisecond (Matroska); a timestamp that coarse is put on the grid of the source's
    // packets, which is where the first conversion's sample count had them.
    const AVRational tb = lane.in->time_base;
    const AVRational unit{1, f->sample_rate};
    const int64_t start = av_rescale_q(m_originUs, AV_TIME_BASE_Q, unit) +
                          av_rescale_q(lane.resumeAt, {1, lane.audio->sampleRate}, unit);
    int64_t raw = av_rescale_q(f->best_effort_timestamp, tb, unit) - start;
    const int64_t n = f->nb_samples;
    if (av_cmp_q(tb, unit) > 0 && n > 0 && lane.in->start_time != AV_NOPTS_VALUE)
        raw = nearestOnGrid(raw, av_rescale_q(lane.in->start_time, tb, unit) - start, n);
    return raw;
}

void Conversion::placeAudio(Lane& lane, AVFrame* f, int64_t pts) {
    const int sr = f->sample_rate;
    f->pts = pts;
    lane.nextSample = pts + f->nb_samples;
    if (lane.endSec > 0.0 && static_cast<double>(pts) / sr >= lane.endSec) {
        lane.done = true;
        return;
    }
    if (pts + f->nb_samples <= 0)
        return; // wholly before the start point

    if (!lane.filter.accepts(f)) {
        int64_t first = 0;
        if (lane.filter.ready()) {
            lane.filter.close(av_rescale_q(pts, {1, sr}, {1, lane.filterRate}));
            drainFilter(lane);
            // aresample counts its first sample at the input's rate. Rounded up, the new
            // chain can only start a fraction of a sample late, never overlap the old one.
            first = av_rescale_q_rnd(lane.nextOutSample, {1, lane.audio->sampleRate}, {1, sr},
                                     AV_ROUND_UP);
        }
        const AVCodecContext* enc = lane.enc.get();
        const int frameSize =
            (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) ? 0 : enc->frame_size;
        lane.filter.configureAudio(f, {1, sr}, *lane.audio, frameSize, first, lane.endSec);
        lane.filterRate = sr;
    }
    lane.filter.push(f);
    drainFilter(lane);
}

void Conversion::drainFilter(Lane& lane) {
    while (lane.filter.pull(m_filtered.get()) == 0) {
        encode(lane, m_filtered.get());
        av_frame_unref(m_filtered.get());
    }
}

void Conversion::encode(Lane& lane, AVFrame* f) {
    AVCodecContext* c = lane.enc.get();
    if (f) {
        if (f->pts != AV_NOPTS_VALUE)
            f->pts = av_rescale_q(f->pts, lane.filter.outputTimeBase(), c->time_base);
        if (lane.video) {
            f->pict_type = AV_PICTURE_TYPE_NONE;
            lane.nextOutFrame = f->pts + 1;
            m_progress.frames.fetch_add(1, std::memory_order_relaxed);
        } else {
            lane.nextOutSample = f->pts + f->nb_samples;
        }
    }
    int err = avcodec_send_frame(c, f);
    if (err < 0 && err != AVERROR_EOF)
        throw Failure(std::string("the ") + (lane.video ? "video" : "audio") +
                      " encoder failed: " + avErrorText(err));
    for (;;) {
        err = avcodec_receive_packet(c, m_encoded.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            break;
        if (err < 0)
            throw Failure(std::string("the ") + (lane.video ? "video" : "audio") +
                          " encoder failed: " + avErrorText(err));
        writePacket(lane, m_encoded.get());
    }
}

void Conversion::checkWriteError(int err) {
    if (err >= 0 && !(m_out->pb && m_out->pb->error < 0))
        return;
    if (err >= 0)
        err = m_out->pb->error;
    throw Failure("cannot write the output file '" + m_outPath + "': " + avErrorText(err));
}

void Conversion::writePacket(Lane& lane, AVPacket* pkt) {
    // Encoders with a delay leave the duration out; every output picture lasts one frame.
    if (lane.video && pkt->duration <= 0)
        pkt->duration = 1;
    if (m_kept) {
        // In the whole output's time; the sound encoder's warm-up before the join is dropped.
        if (pkt->pts != AV_NOPTS_VALUE)
            pkt->pts += lane.resumeAt;
        if (pkt->dts != AV_NOPTS_VALUE)
            pkt->dts += lane.resumeAt;
        if (!lane.video && lane.keepFrom != kEverythingNew) {
            if (pkt->pts == AV_NOPTS_VALUE || pkt->pts < lane.keepFrom)
                return;
            if (!lane.joined && pkt->pts != lane.keepFrom)
                throw Failure("the sound cannot be joined to the kept part of '" + m_outPath +
                              "' (the new packets do not meet the kept ones)");
        }
        lane.joined = true;
    }
    av_packet_rescale_ts(pkt, lane.enc->time_base, lane.out->time_base);
    pkt->stream_index = lane.out->index;
    if (pkt->pts != AV_NOPTS_VALUE) {
        int64_t endUs = av_rescale_q(pkt->pts + std::max<int64_t>(pkt->duration, 0),
                                     lane.out->time_base, AV_TIME_BASE_Q);
        if (endUs > m_progress.outUs.load(std::memory_order_relaxed))
            m_progress.outUs.store(endUs, std::memory_order_relaxed);
    }
    int err = av_interleaved_write_frame(m_out.get(), pkt);
    checkWriteError(err);
    if (!m_subtitles.empty())
        releaseSubtitles(m_progress.outUs.load(std::memory_order_relaxed));
    if (++m_packetsWritten == m_faultAfter)
        injectFault();
    if (m_out->pb)
        m_progress.bytes.store(avio_tell(m_out->pb), std::memory_order_relaxed);
}

bool Conversion::allDone() const {
    for (const auto& lane : m_lanes)
        if (!lane->done)
            return false;
    return true;
}

void Conversion::readLoop() {
    AVFormatContext* ic = m_in.get();
    PacketPtr pkt = makePacket();
    while (!stopRequested() && !allDone()) {
        int err = av_read_frame(ic, pkt.get());
        if (err == AVERROR(EAGAIN)) {
            ::usleep(10000);
            continue;
        }
        if (err == AVERROR_EOF || err == AVERROR_EXIT)
            break;
        if (err < 0) {
            // Demuxers resynchronise after most damage: keep reading while they move on
            // through the file, give up when they fail at the same place again and again.
            const int64_t pos = ic->pb ? avio_tell(ic->pb) : -1;
            if (pos != m_lastErrorPos) {
                m_lastErrorPos = pos;
                m_stuckErrors = 0;
            }
            if ((ic->pb && avio_feof(ic->pb)) || ++m_stuckErrors > 50) {
                warn("the input could not be read to its end (" + avErrorText(err) +
                     "); the output stops there");
                break;
            }
            if (++m_readErrors == 1)
                warn("skipped unreadable input data (" + avErrorText(err) + ")");
            continue;
        }
        Lane* lane = pkt->stream_index < static_cast<int>(m_laneOfStream.size())
                         ? m_laneOfStream[pkt->stream_index]
                         : nullptr;
        // Streams that appear later in the file have no track.
        if (!lane && pkt->stream_index < static_cast<int>(m_subtitleOfStream.size()))
            if (SubtitleTrack* track = m_subtitleOfStream[pkt->stream_index];
                track && !lookedBack(*track, *pkt))
                decodeSubtitle(*track, pkt.get());
        if (lane && !lane->done) {
            // Safety net for streams whose decoder never reaches the end point. One packet
            // far past the end may be a damaged timestamp; a run of them is not.
            if (lane->endSec > 0.0 && pkt->dts != AV_NOPTS_VALUE &&
                static_cast<double>(pkt->dts - lane->offset) * av_q2d(lane->in->time_base) >
                    lane->endSec + 5.0)
                lane->done = ++lane->pastEnd >= 16;
            else
                lane->pastEnd = 0;
            if (!lane->done)
                decode(*lane, pkt.get());
        }
        av_packet_unref(pkt.get());
    }
}

void Conversion::flushAll() {
    for (auto& lane : m_lanes) {
        if (!lane->done)
            decode(*lane, nullptr);
        finishTimeline(*lane);
        if (lane->timeline)
            lane->repairs += lane->timeline->repairs();
        if (lane->repairs > 0)
            warn(std::string("replaced ") + std::to_string(lane->repairs) + " damaged " +
                 (lane->video ? "video" : "audio") + " timestamp" + (lane->repairs > 1 ? "s" : ""));
        if (lane->filter.ready()) {
            lane->filter.close(lane->video ? lane->filterEnd : lane->nextSample);
            drainFilter(*lane);
        }
        encode(*lane, nullptr);
    }
}

void Conversion::prepareResume() {
    m_keptIn = openInput(m_outPath);
    AVFormatContext* kc = m_keptIn.get();
    m_keptStreams.assign(kc->nb_streams, {});
    Lane* video = nullptr;
    std::vector<Lane*> sound;
    for (auto& lane : m_lanes)
        (lane->video ? video : sound.emplace_back()) = lane.get();
    // The kept file holds the streams this conversion writes, in the order it writes them.
    int keptVideo = -1;
    std::vector<int> keptSound;
    size_t subtitles = 0;
    bool fits = true;
    for (unsigned i = 0; i < kc->nb_streams; ++i) {
        const AVStream* st = kc->streams[i];
        if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->discard == AVDISCARD_ALL)
            continue; // the cover and the chapter track are made anew
        switch (st->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            fits = fits && video && keptVideo < 0;
            keptVideo = static_cast<int>(i);
            m_keptStreams[i].lane = video;
            break;
        case AVMEDIA_TYPE_AUDIO:
            fits = fits && keptSound.size() < sound.size();
            if (fits)
                m_keptStreams[i].lane = sound[keptSound.size()];
            keptSound.push_back(static_cast<int>(i));
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            fits = fits && subtitles < m_subtitles.size();
            if (fits)
                m_keptStreams[i].track = m_subtitles[subtitles].get();
            ++subtitles;
            break;
        default:
            break;
        }
    }
    if (!fits || (keptVideo >= 0) != (video != nullptr) || keptSound.size() != sound.size() ||
        subtitles != m_subtitles.size())
        throw Failure("cannot continue '" + m_outPath +
                      "': it does not hold the tracks this conversion writes");
    if (video)
        cutKeptVideo(keptVideo, *video);
    cutKeptSound(keptSound);
    for (unsigned i = 0; i < kc->nb_streams; ++i)
        if (m_keptStreams[i].track)
            m_keptStreams[i].cut =
                av_rescale_q(m_resumeUs, AV_TIME_BASE_Q, kc->streams[i]->time_base);
    char line[96];
    std::snprintf(line, sizeof line, plexavo::contract::kContinueFormat,
                  static_cast<double>(m_resumeUs) / 1e6);
    printLine(line);
}

void Conversion::cutKeptVideo(int stream, Lane& lane) {
    // The last key frame: the new encode starts there with a key frame of its own, and what
    // comes before it in decoding order is whole without anything after it.
    InputPtr scan = openInput(m_outPath);
    AVStream* st = scan->streams[stream];
    int64_t keyDts = AV_NOPTS_VALUE;
    for (int n = avformat_index_get_entries_count(st) - 1; n >= 0 && keyDts == AV_NOPTS_VALUE;
         --n) {
        const AVIndexEntry* e = avformat_index_get_entry(st, n);
        if (e && (e->flags & AVINDEX_KEYFRAME))
            keyDts = e->timestamp;
    }
    for (unsigned i = 0; i < scan->nb_streams; ++i)
        scan->streams[i]->discard =
            static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    // The index only brings the read close: the demuxer may land a key frame early. From
    // there (without an index, from the start) the last one is read out.
    if (keyDts != AV_NOPTS_VALUE)
        av_seek_frame(scan.get(), stream, keyDts, AVSEEK_FLAG_BACKWARD);
    PacketPtr pkt = makePacket();
    int64_t pts = AV_NOPTS_VALUE, dts = AV_NOPTS_VALUE;
    while (!stopRequested() && av_read_frame(scan.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == stream && (pkt->flags & AV_PKT_FLAG_KEY) &&
            pkt->pts != AV_NOPTS_VALUE) {
            pts = pkt->pts;
            dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        }
        av_packet_unref(pkt.get());
    }
    if (pts == AV_NOPTS_VALUE && stopRequested())
        return; // the run ends at once, keeping the kept file
    if (pts == AV_NOPTS_VALUE)
        throw Failure("cannot continue '" + m_outPath + "': its pictures have no key frame");
    const AVRational frame = av_inv_q(m_plan.video.rate);
    lane.resumeAt = std::max<int64_t>(av_rescale_q(pts, st->time_base, frame), 0);
    m_resumeUs = av_rescale_q(lane.resumeAt, frame, AV_TIME_BASE_Q);
    m_keptStreams[stream].cut = dts;
}

void Conversion::cutKeptSound(const std::vector<int>& streams) {
    if (streams.empty())
        return;
    InputPtr scan = openInput(m_outPath);
    struct Packets {
        std::vector<int64_t> starts;
        int64_t end = INT64_MIN;
    };
    std::vector<Packets> found(scan->nb_streams);
    for (unsigned i = 0; i < scan->nb_streams; ++i)
        scan->streams[i]->discard = AVDISCARD_ALL;
    for (int i : streams)
        scan->streams[i]->discard = AVDISCARD_DEFAULT;
    PacketPtr pkt = makePacket();
    while (!stopRequested() && av_read_frame(scan.get(), pkt.get()) >= 0) {
        Packets& p = found[pkt->stream_index];
        if (pkt->pts != AV_NOPTS_VALUE) {
            p.starts.push_back(pkt->pts);
            p.end = std::max(p.end, pkt->pts + std::max<int64_t>(pkt->duration, 0));
        }
        av_packet_unref(pkt.get());
    }
    const bool video = m_resumeUs > 0 || std::any_of(m_lanes.begin(), m_lanes.end(),
                                                     [](const auto& l) { return l->video; });
    int64_t soundUs = INT64_MAX;
    for (int i : streams) {
        Lane& lane = *m_keptStreams[i].lane;
        const AVRational tb = scan->streams[i]->time_base;
        const AVRational unit{1, lane.audio->sampleRate};
        Packets& p = found[i];
        std::sort(p.starts.begin(), p.starts.end());
        for (int64_t& start : p.starts)
            start = av_rescale_q(start, tb, unit);
        const int frameSize = scan->streams[i]->codecpar->frame_size > 0
                                  ? scan->streams[i]->codecpar->frame_size
                                  : 1024;
        const SoundJoin j = soundJoin(
            p.starts, p.end == INT64_MIN ? 0 : av_rescale_q(p.end, tb, unit),
            video ? av_rescale_q(m_resumeUs, AV_TIME_BASE_Q, unit) : INT64_MAX, frameSize, 4);
        lane.resumeAt = j.feedFrom;
        lane.keepFrom = j.join;
        m_keptStreams[i].cut =
            j.join == kEverythingNew ? INT64_MIN : av_rescale_q(j.join, unit, tb);
        soundUs =
            std::min(soundUs, av_rescale_q(std::max<int64_t>(j.join, 0), unit, AV_TIME_BASE_Q));
    }
    if (!video)
        m_resumeUs = soundUs;
}

void Conversion::checkKeptStreams() {
    const AVFormatContext* kc = m_keptIn.get();
    for (unsigned i = 0; i < kc->nb_streams; ++i) {
        const KeptStream& ks = m_keptStreams[i];
        if (!ks.lane && !ks.track)
            continue;
        const AVCodecParameters* was = kc->streams[i]->codecpar;
        const AVCodecParameters* now = ks.lane ? ks.lane->out->codecpar : ks.track->out->codecpar;
        bool same = was->codec_id == now->codec_id;
        const char* what = ks.track ? "subtitles" : ks.lane->video ? "pictures" : "sound";
        if (same && ks.lane && ks.lane->video) {
            same = was->width == now->width && was->height == now->height;
            if (same && was->codec_id == AV_CODEC_ID_H264) {
                // The kept file holds the MP4 form of the parameter sets, the encoder hands
                // out start codes; the sets themselves must be the same.
                m_keptAvcLength =
                    avcLengthSize(was->extradata, static_cast<size_t>(was->extradata_size));
                const auto kept =
                    avcParameterSets(was->extradata, static_cast<size_t>(was->extradata_size));
                const auto made =
                    now->extradata_size > 0 && now->extradata[0] == 1
                        ? avcParameterSets(now->extradata, static_cast<size_t>(now->extradata_size))
                        : std::optional(annexBParameterSets(
                              now->extradata, static_cast<size_t>(now->extradata_size)));
                same = m_keptAvcLength > 0 && kept && made && !kept->empty() && *kept == *made;
            }
        }
        if (same && ks.lane && !ks.lane->video)
            same = was->sample_rate == now->sample_rate &&
                   was->ch_layout.nb_channels == now->ch_layout.nb_channels;
        if (same && ks.lane && !(ks.lane->video && was->codec_id == AV_CODEC_ID_H264))
            same = was->extradata_size == now->extradata_size &&
                   (was->extradata_size == 0 ||
                    std::memcmp(was->extradata, now->extradata,
                                static_cast<size_t>(was->extradata_size)) == 0);
        if (!same)
            throw Failure(std::string("cannot continue '") + m_outPath + "': its " + what +
                          " were written with other encoder settings than the ones made now, "
                          "so the two parts would not play as one; convert it anew");
    }
}

void Conversion::copyKept() {
    AVFormatContext* kc = m_keptIn.get();
    size_t open = 0;
    for (const KeptStream& ks : m_keptStreams)
        open += ks.lane || ks.track;
    PacketPtr pkt = makePacket();
    PacketPtr annexB = makePacket();
    std::vector<uint8_t> units;
    // A stop here ends the run at once: the kept file stays, being the longer one.
    while (open > 0 && !stopRequested()) {
        const int err = av_read_frame(kc, pkt.get());
        if (err == AVERROR_EOF)
            break;
        if (err < 0)
            throw Failure("cannot read '" + m_outPath + "' to continue it: " + avErrorText(err));
        const std::unique_ptr<AVPacket, void (*)(AVPacket*)> unref(pkt.get(), av_packet_unref);
        if (pkt->stream_index >= static_cast<int>(m_keptStreams.size()))
            continue;
        KeptStream& ks = m_keptStreams[pkt->stream_index];
        if ((!ks.lane && !ks.track) || ks.passed)
            continue;
        const bool video = ks.lane && ks.lane->video;
        const int64_t at = video && pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        if (at == AV_NOPTS_VALUE)
            continue;
        if (at >= ks.cut) {
            ks.passed = true;
            --open;
            continue;
        }
        const AVStream* in = kc->streams[pkt->stream_index];
        AVStream* out = ks.lane ? ks.lane->out : ks.track->out;
        AVPacket* p = pkt.get();
        if (ks.track) {
            if (pkt->size <= 2)
                continue; // the muxer's blank between two cues; it makes them again
            if (pkt->duration > 0)
                ks.track->notBeforeUs =
                    std::max(ks.track->notBeforeUs,
                             av_rescale_q(pkt->pts + pkt->duration, in->time_base, AV_TIME_BASE_Q));
        }
        if (video && m_keptAvcLength > 0) {
            // The muxer takes H.264 in start-code form, as the encoder hands it out.
            if (!toAnnexB(pkt->data, static_cast<size_t>(pkt->size), m_keptAvcLength, units))
                throw Failure("cannot continue '" + m_outPath + "': its picture data is damaged");
            av_packet_unref(annexB.get());
            if (av_new_packet(annexB.get(), static_cast<int>(units.size())) < 0 ||
                av_packet_copy_props(annexB.get(), pkt.get()) < 0)
                throw Failure("out of memory");
            std::memcpy(annexB->data, units.data(), units.size());
            p = annexB.get();
        }
        av_packet_rescale_ts(p, in->time_base, out->time_base);
        p->stream_index = out->index;
        p->pos = -1;
        // The progress lines count the copy in the whole file's time; their rates leave it out.
        if (p->pts != AV_NOPTS_VALUE) {
            const int64_t endUs = av_rescale_q(p->pts + std::max<int64_t>(p->duration, 0),
                                               out->time_base, AV_TIME_BASE_Q);
            if (endUs > m_progress.outUs.load(std::memory_order_relaxed)) {
                m_progress.baseUs.store(endUs, std::memory_order_relaxed);
                m_progress.outUs.store(endUs, std::memory_order_relaxed);
            }
        }
        if (video) {
            m_progress.baseFrames.fetch_add(1, std::memory_order_relaxed);
            m_progress.frames.fetch_add(1, std::memory_order_relaxed);
        }
        checkWriteError(av_interleaved_write_frame(m_out.get(), p));
        ++m_packetsWritten;
        if (m_out->pb)
            m_progress.bytes.store(avio_tell(m_out->pb), std::memory_order_relaxed);
    }
    m_keptIn.reset();
}

void Conversion::noteStopped() {
    // The MP4 family only (the disc formats cannot be joined), from a file that can be read
    // again, into a file of its own.
    if (!m_deviceTarget || m_inPlace || !m_partial)
        return;
    StoppedNote n;
    n.outputPath = absolutePath(m_writtenPath);
    n.sourcePath = absolutePath(m_inPath);
    const auto output = identityOfDescriptor(m_partial->descriptor());
    const auto source = identityFollowing(m_inPath);
    if (n.outputPath.empty() || n.sourcePath.empty() || !output || !source)
        return;
    n.output = *output;
    n.source = *source;
    n.settings = canonicalSettings(m_opt);
    n.keptSeconds = static_cast<double>(m_progress.outUs.load()) / 1e6;
    n.totalSeconds = promisedLength();
    writeStoppedNote(n);
}

int Conversion::keepKept() {
    // A continuation stopped early leaves the file it continues, which is the output then.
    if (m_kept)
        m_writtenPath = m_outPath;
    return plexavo::contract::kExitStopped;
}

void Conversion::planConversion() {
    const AVStream* v = nullptr;
    std::vector<Lane*> sound;
    for (auto& lane : m_lanes) {
        if (lane->video)
            v = lane->in;
        else
            sound.push_back(lane.get());
    }
    m_source = describeSource(m_in.get(), v, sound.empty() ? nullptr : sound[0]->in);
    // Each sound track by its place among the source's, for the plan's ffmpeg command.
    const auto trackOf = [this](const AVStream* st) {
        int n = 0;
        for (int i = 0; i < st->index; ++i)
            n += m_in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        return n;
    };
    if (m_source.audio)
        m_source.audio->track = trackOf(sound[0]->in);
    for (size_t i = 1; i < sound.size(); ++i) {
        const AVCodecParameters* par = sound[i]->in->codecpar;
        m_source.moreAudio.push_back(
            {par->ch_layout.nb_channels, par->sample_rate, trackOf(sound[i]->in)});
    }
    m_plan = makePlan(m_opt, m_outPath, m_source);
    for (size_t i = 0; i < sound.size(); ++i)
        sound[i]->audio = i == 0 ? &m_plan.audio : &m_plan.moreAudio.at(i - 1);
    if (m_deviceTarget) {
        pickSubtitles();
        chooseCover();
    }
}

void Conversion::announcePlan() const {
    for (const std::string& note : m_plan.notes)
        printLine(plexavo::contract::kNotePrefix + oneLine(note));
    for (const std::string& w : m_plan.warnings)
        warn(w);
    if (std::getenv("PLEXCORE_PLAN"))
        printLine("Plan: " + equivalentCommand(m_plan, m_opt));
}

void Conversion::closeOutput(int64_t writtenUs) {
    finishSubtitles(writtenUs);
    addChapters(writtenUs);
    int err = av_write_trailer(m_out.get());
    checkWriteError(err);
    if (m_out->pb) {
        m_progress.bytes.store(avio_size(m_out->pb), std::memory_order_relaxed);
        err = avio_closep(&m_out->pb);
        checkWriteError(err);
    }
    // Both rewrite the closed file in place, so they come after the trailer.
    turnOffSubtitles();
    addCoverToMov();
    // The size the last progress line gives is the finished file's, with what they added.
    struct stat sb {};
    if (m_partial && ::fstat(m_partial->descriptor(), &sb) == 0)
        m_progress.bytes.store(sb.st_size, std::memory_order_relaxed);
}

int Conversion::settle(bool stopped, int64_t writtenUs) {
    if (m_packetsWritten == 0) {
        if (stopped)
            return keepKept(); // stopped before anything was written: nothing worth keeping
        if (m_opt.startUs && *m_opt.startUs > 0)
            throw Failure("nothing to convert: the start point lies past the end of '" + m_inPath +
                          "'");
        throw Failure("nothing in '" + m_inPath + "' could be decoded");
    }
    if (m_kept && stopped &&
        writtenUs <= static_cast<int64_t>(std::llround(m_kept->keptSeconds * 1e6))) {
        // Stopped before the continuation got past the kept file's end: that file stays as
        // it is, with its note, and this shorter one goes.
        return keepKept();
    }
    // Finished (also when stopped): only now may it carry a name a player would open.
    m_writtenPath = m_partial ? m_partial->claim() : m_outPath;
    setUnfinishedOutput(nullptr);
    if (m_kept)
        forgetStoppedNote(m_kept->output); // replaced, or no longer what was noted
    if (stopped) {
        noteStopped();
        return plexavo::contract::kExitStopped;
    }
    if (m_partial)
        dropStaleStoppedNotes(absolutePath(m_writtenPath));
    // A truncated source reads as one that simply ends: only its promise tells. The file is
    // kept (it is all there is), but the run does not count as done.
    const double promised = promisedLength();
    const double written = static_cast<double>(m_progress.outUs.load()) / 1e6;
    if (endedEarly(written, promised)) {
        char reason[160];
        std::snprintf(reason, sizeof reason, plexavo::contract::kIncompleteFormat, written,
                      promised);
        m_endedEarly = reason;
        return plexavo::contract::kExitIncomplete;
    }
    return plexavo::contract::kExitDone;
}

double Conversion::promisedLength() const {
    std::vector<const AVStream*> streams;
    for (const auto& lane : m_lanes)
        streams.push_back(lane->in);
    return promisedSeconds(m_in.get(), streams, m_opt.startUs.value_or(0), m_opt.durationUs);
}

int Conversion::run() {
    if (m_opt.resume) {
        // Refused before anything is touched, as the question would answer.
        const Resumability r = checkResumable(m_opt, m_outPath);
        if (!r.ok)
            throw Failure("cannot continue '" + m_outPath + "': " + r.reason);
        m_kept = r.note;
    }
    checkPaths();
    m_progress.reading = true; // opening a slow input blocks too
    m_in = openInput(m_inPath);
    if (stopRequested())
        return keepKept();
    pickStreams();
    planConversion();
    announcePlan();
    if (m_kept)
        prepareResume();
    openOutput();
    seekToStart();
    readSideFiles();
    if (m_kept)
        copyKept();

    readLoop();
    m_progress.reading = false;
    const bool stopped = stopRequested();
    flushAll();
    const int64_t writtenUs = m_progress.outUs.load();
    closeOutput(writtenUs);
    return settle(stopped, writtenUs);
}

} // namespace

int runConversion(const Options& opt) {
    ProgressState progress;
    // Declared first so it is destroyed last: the conversion's own clean-up (removing a
    // failed output) runs before the ticker ends its line and the caller prints the error.
    ProgressTicker ticker(progress);
    ticker.start();
    Conversion conversion(opt, progress);
    const int status = conversion.run();
    ticker.finish();
    if (!conversion.writtenPath().empty())
        printLine(plexavo::contract::kOutputPrefix + oneLine(conversion.writtenPath()));
    if (!conversion.endedEarlyReason().empty())
        printLine(plexavo::contract::kErrorPrefix + conversion.endedEarlyReason());
    return status;
}

bool canWrite(const std::string& target) {
    if (target == "wmv")
        return av_guess_format("asf", nullptr, nullptr) && avcodec_find_encoder(AV_CODEC_ID_WMV2) &&
               avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (target == "ogm")
        return av_guess_format("ogg", nullptr, nullptr) &&
               avcodec_find_encoder(AV_CODEC_ID_THEORA) && avcodec_find_encoder(AV_CODEC_ID_VORBIS);
    return false;
}

} // namespace plexavo::core
