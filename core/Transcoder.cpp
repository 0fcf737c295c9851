#include "Transcoder.h"
#include "PlexcoreContract.h"

#include "Console.h"
#include "FFmpeg.h"
#include "Graph.h"
#include "OutputFile.h"
#include "Probe.h"
#include "Source.h"
#include "Targets.h"
#include "Timeline.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plex {
namespace {

struct OutputDeleter {
    void operator()(AVFormatContext* c) const {
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE))
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;

// One input stream on its way to one output stream.
struct Lane {
    bool video = false;
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
};

class Conversion {
  public:
    Conversion(const Options& opt, ProgressState& progress);
    ~Conversion();

    int run();
    // The path actually written, once the file is finished; "" before.
    const std::string& writtenPath() const { return writtenPath_; }
    // Why a finished file is shorter than its source promised; "" when it is not.
    const std::string& endedEarlyReason() const { return endedEarly_; }

  private:
    void checkPaths();
    void pickStreams();
    void openOutput();
    void openVideoEncoder(Lane& lane);
    void openAudioEncoder(Lane& lane);
    void seekToStart();
    void readLoop();
    void flushAll();
    void decode(Lane& lane, const AVPacket* pkt);
    void onVideoFrame(Lane& lane, AVFrame* f);
    void onAudioFrame(Lane& lane, AVFrame* f);
    void placeVideo(Lane& lane, AVFrame* f, int64_t pts);
    void placeAudio(Lane& lane, AVFrame* f, int64_t pts);
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

    const Options& opt_;
    ProgressState& progress_;
    std::string inPath_, outPath_;
    // Where FFmpeg writes: the partial file, or the output itself when that is a device or a
    // pipe (never replaced by a rename).
    std::string writePath_;
    std::string writtenPath_;
    std::string endedEarly_;
    bool inPlace_ = false;
    std::unique_ptr<PartialFile> partial_;
    InputPtr in_;
    OutputPtr out_;
    SourceInfo source_;
    OutputPlan plan_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::vector<Lane*> laneOfStream_;
    FramePtr frame_ = makeFrame();
    FramePtr filtered_ = makeFrame();
    PacketPtr encoded_ = makePacket();
    double endSec_ = 0.0; // relative end point, 0 = to the end
    // Where timestamps can lie at all, relative to the start point; both 0 when unknown.
    int64_t earliestUs_ = 0, latestUs_ = 0;
    int64_t packetsWritten_ = 0;
    int64_t readErrors_ = 0;
    int64_t lastErrorPos_ = -1; // where the demuxer last failed, and how often in a row
    int stuckErrors_ = 0;
    int64_t faultAfter_ = -1; // test hook: packets written before the injected fault
    std::string faultKind_;
};

Conversion::Conversion(const Options& opt, ProgressState& progress)
    : opt_(opt), progress_(progress), inPath_(*opt.input), outPath_(*opt.output) {
    // Tests prove that nothing the conversion throws escapes the core's error handling.
    if (const char* fault = std::getenv("PLEXCORE_TEST_FAULT")) {
        faultKind_ = fault;
        faultAfter_ = 10;
    }
}

void Conversion::injectFault() const {
    if (faultKind_ == "exception")
        throw std::out_of_range("injected fault");
    throw 42;
}

Conversion::~Conversion() {
    lanes_.clear();
    out_.reset();     // closes the file before it may be removed
    partial_.reset(); // removes an unfinished partial file; a device written in place stays
    setUnfinishedOutput(nullptr); // only now: an abort until here still removes it
}

NameRule Conversion::nameRule() const {
    return opt_.claim ? NameRule::Claim : opt_.overwrite ? NameRule::Replace : NameRule::Exact;
}

void Conversion::checkPaths() {
    struct stat outSt {};
    if (::stat(outPath_.c_str(), &outSt) == 0) {
        struct stat inSt {};
        // -claim never replaces a file, so the input cannot be harmed there.
        if (!opt_.claim && ::stat(inPath_.c_str(), &inSt) == 0 && inSt.st_dev == outSt.st_dev &&
            inSt.st_ino == outSt.st_ino)
            throw Failure("the output file '" + outPath_ + "' is the input file");
        if (S_ISDIR(outSt.st_mode))
            throw Failure("the output '" + outPath_ + "' is a folder");
        // With -claim a taken name of any kind (a link to /dev/null planted there too) only
        // sends the finished file to the next free name.
        if (nameRule() != NameRule::Claim) {
            if (!S_ISREG(outSt.st_mode))
                inPlace_ = true; // /dev/null, a FIFO: written to as they are
            else if (nameRule() == NameRule::Exact)
                throw Failure("the output file '" + outPath_ +
                              "' already exists (use -y to replace it)");
        }
    }
    if (!inPlace_)
        removeStalePartials(outPath_, inPath_);
}

void Conversion::pickStreams() {
    AVFormatContext* ic = in_.get();
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

    laneOfStream_.assign(ic->nb_streams, nullptr);
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
        laneOfStream_[idx] = lane.get();
        lanes_.push_back(std::move(lane));
    };
    open(v, true);
    open(a, false);
    if (lanes_.empty())
        throw Failure("no audio or video in '" + inPath_ + "' that can be decoded");
}

void Conversion::openVideoEncoder(Lane& lane) {
    const VideoPlan& v = plan_.video;
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
    if (out_->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Dict opts;
    for (const auto& [k, val] : v.codecOptions)
        opts.set(k.c_str(), val);
    int err = avcodec_open2(c, codec, opts.get());
    if (err < 0)
        throw Failure("cannot start the " + v.encoder + " encoder at " + std::to_string(v.width) +
                      "x" + std::to_string(v.height) + ": " + avErrorText(err));

    lane.out = avformat_new_stream(out_.get(), nullptr);
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
    const AudioPlan& a = plan_.audio;
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
    if (out_->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int err = avcodec_open2(c, codec, nullptr);
    if (err < 0)
        throw Failure("cannot start the " + a.encoder + " encoder at " +
                      std::to_string(a.sampleRate) + " Hz, " + std::to_string(a.channels) +
                      " channels: " + avErrorText(err));
    lane.out = avformat_new_stream(out_.get(), nullptr);
    if (!lane.out)
        throw Failure("out of memory");
    avcodec_parameters_from_context(lane.out->codecpar, c);
    lane.out->time_base = c->time_base;
}

void Conversion::openOutput() {
    AVFormatContext* oc = nullptr;
    // The muxer is named, never guessed from the file name: the partial file's name says
    // nothing about the format.
    int err = avformat_alloc_output_context2(&oc, nullptr, plan_.muxer.c_str(), nullptr);
    if (err < 0 || !oc)
        throw Failure("this build cannot write " + plan_.muxer + " files");
    out_.reset(oc);
    const bool needsFile = !(oc->oformat->flags & AVFMT_NOFILE);
    if (needsFile && !inPlace_) {
        partial_ = std::make_unique<PartialFile>(outPath_, nameRule());
        setUnfinishedOutput(&partial_->path(), &partial_->notePath());
    }
    writePath_ = partial_ ? partial_->path() : outPath_;
    // The muxer reopens the file by this name to move the index to the front.
    oc->url = av_strdup(fileUrl(writePath_).c_str());

    for (auto& lane : lanes_) {
        if (lane->video)
            openVideoEncoder(*lane);
        else
            openAudioEncoder(*lane);
    }
    if (opt_.title && !opt_.title->empty())
        av_dict_set(&oc->metadata, "title", opt_.title->c_str(), 0);

    if (needsFile) {
        err = avio_open(&oc->pb, fileUrl(writePath_).c_str(), AVIO_FLAG_WRITE);
        if (err < 0)
            throw Failure("cannot write the output file '" + outPath_ + "': " + avErrorText(err));
    }
    Dict opts;
    for (const auto& [k, v] : plan_.muxerOptions)
        opts.set(k.c_str(), v);
    err = avformat_write_header(oc, opts.get());
    if (err < 0)
        throw Failure("cannot write the output file '" + outPath_ + "': " + avErrorText(err));
}

void Conversion::seekToStart() {
    AVFormatContext* ic = in_.get();
    const int64_t zero = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    const int64_t startUs = opt_.startUs.value_or(0);
    const int64_t origin = zero + startUs;
    for (auto& lane : lanes_) {
        lane->offset = av_rescale_q(origin, AV_TIME_BASE_Q, lane->in->time_base);
        if (lane->video) {
            AVRational r = plan_.video.rate;
            const Rational src = source_.video ? source_.video->rate : Rational{0, 1};
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
        earliestUs_ = -startUs - margin;
        latestUs_ = ic->duration - startUs + margin;
    }
    for (auto& lane : lanes_)
        if (lane->video)
            boundTimeline(*lane, lane->in->time_base);
    if (opt_.durationUs)
        endSec_ = static_cast<double>(*opt_.durationUs) / 1e6;
    if (startUs > 0) {
        // Land on the key frame before the start; the frames up to it are decoded and dropped.
        int err = avformat_seek_file(ic, -1, INT64_MIN, origin, origin, 0);
        if (err < 0)
            warn("cannot seek in the input; reading from its beginning instead");
    }
}

void Conversion::noteDamage(Lane& lane, int err) {
    ++lane.errors;
    if (lane.errors == 1 || lane.errors % 100 == 0)
        warn(std::string("skipped damaged ") + (lane.video ? "video" : "audio") + " data (" +
             avErrorText(err) + ")");
    int64_t decoded = 0, errors = 0;
    for (auto& l : lanes_) {
        decoded += l->decoded;
        errors += l->errors;
    }
    if (decoded == 0 && errors >= 200)
        throw Failure("the input '" + inPath_ + "' is damaged: nothing in it could be decoded");
}

void Conversion::decode(Lane& lane, const AVPacket* pkt) {
    int err = avcodec_send_packet(lane.dec.get(), pkt);
    if (err < 0 && err != AVERROR_EOF) {
        noteDamage(lane, err);
        if (pkt)
            return;
    }
    for (int failures = 0;;) {
        err = avcodec_receive_frame(lane.dec.get(), frame_.get());
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
            nameChannelLayout(frame_.get());
        if (!lane.done) {
            if (lane.video)
                onVideoFrame(lane, frame_.get());
            else
                onAudioFrame(lane, frame_.get());
        }
        av_frame_unref(frame_.get());
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
    if (latestUs_ > earliestUs_)
        lane.timeline->setBounds(av_rescale_q(earliestUs_, AV_TIME_BASE_Q, unit),
                                 av_rescale_q(latestUs_, AV_TIME_BASE_Q, unit));
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
    if (endSec_ > 0.0 && static_cast<double>(f->pts) * av_q2d(lane.in->time_base) >= endSec_) {
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
        lane.filter.configureVideo(f, lane.in->time_base, plan_.video, first);
    }
    lane.filterEnd = f->pts + lane.step;
    if (endSec_ > 0.0)
        lane.filterEnd =
            std::min(lane.filterEnd, static_cast<int64_t>(endSec_ / av_q2d(lane.in->time_base)));
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
    const int64_t raw =
        f->best_effort_timestamp != AV_NOPTS_VALUE
            ? av_rescale_q(f->best_effort_timestamp - lane.offset, lane.in->time_base, {1, sr})
            : Timeline::kNoTime;
    const Timeline::Step s = lane.timeline->arrive(raw, f->nb_samples);
    if (s.releaseHeld)
        releaseHeld(lane, s.heldPts);
    if (s.hold)
        av_frame_move_ref(lane.held.get(), f);
    else if (!lane.done)
        placeAudio(lane, f, s.pts);
}

void Conversion::placeAudio(Lane& lane, AVFrame* f, int64_t pts) {
    const int sr = f->sample_rate;
    f->pts = pts;
    lane.nextSample = pts + f->nb_samples;
    if (endSec_ > 0.0 && static_cast<double>(pts) / sr >= endSec_) {
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
            first = av_rescale_q_rnd(lane.nextOutSample, {1, plan_.audio.sampleRate}, {1, sr},
                                     AV_ROUND_UP);
        }
        const AVCodecContext* enc = lane.enc.get();
        const int frameSize =
            (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) ? 0 : enc->frame_size;
        lane.filter.configureAudio(f, {1, sr}, plan_.audio, frameSize, first, endSec_);
        lane.filterRate = sr;
    }
    lane.filter.push(f);
    drainFilter(lane);
}

void Conversion::drainFilter(Lane& lane) {
    while (lane.filter.pull(filtered_.get()) == 0) {
        encode(lane, filtered_.get());
        av_frame_unref(filtered_.get());
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
            progress_.frames.fetch_add(1, std::memory_order_relaxed);
        } else {
            lane.nextOutSample = f->pts + f->nb_samples;
        }
    }
    int err = avcodec_send_frame(c, f);
    if (err < 0 && err != AVERROR_EOF)
        throw Failure(std::string("the ") + (lane.video ? "video" : "audio") +
                      " encoder failed: " + avErrorText(err));
    for (;;) {
        err = avcodec_receive_packet(c, encoded_.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            break;
        if (err < 0)
            throw Failure(std::string("the ") + (lane.video ? "video" : "audio") +
                          " encoder failed: " + avErrorText(err));
        writePacket(lane, encoded_.get());
    }
}

void Conversion::checkWriteError(int err) {
    if (err >= 0 && !(out_->pb && out_->pb->error < 0))
        return;
    if (err >= 0)
        err = out_->pb->error;
    throw Failure("cannot write the output file '" + outPath_ + "': " + avErrorText(err));
}

void Conversion::writePacket(Lane& lane, AVPacket* pkt) {
    // Encoders with a delay leave the duration out; every output picture lasts one frame.
    if (lane.video && pkt->duration <= 0)
        pkt->duration = 1;
    av_packet_rescale_ts(pkt, lane.enc->time_base, lane.out->time_base);
    pkt->stream_index = lane.out->index;
    if (pkt->pts != AV_NOPTS_VALUE) {
        int64_t endUs = av_rescale_q(pkt->pts + std::max<int64_t>(pkt->duration, 0),
                                     lane.out->time_base, AV_TIME_BASE_Q);
        if (endUs > progress_.outUs.load(std::memory_order_relaxed))
            progress_.outUs.store(endUs, std::memory_order_relaxed);
    }
    int err = av_interleaved_write_frame(out_.get(), pkt);
    checkWriteError(err);
    if (++packetsWritten_ == faultAfter_)
        injectFault();
    if (out_->pb)
        progress_.bytes.store(avio_tell(out_->pb), std::memory_order_relaxed);
}

bool Conversion::allDone() const {
    for (const auto& lane : lanes_)
        if (!lane->done)
            return false;
    return true;
}

void Conversion::readLoop() {
    AVFormatContext* ic = in_.get();
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
            if (pos != lastErrorPos_) {
                lastErrorPos_ = pos;
                stuckErrors_ = 0;
            }
            if ((ic->pb && avio_feof(ic->pb)) || ++stuckErrors_ > 50) {
                warn("the input could not be read to its end (" + avErrorText(err) +
                     "); the output stops there");
                break;
            }
            if (++readErrors_ == 1)
                warn("skipped unreadable input data (" + avErrorText(err) + ")");
            continue;
        }
        Lane* lane = pkt->stream_index < static_cast<int>(laneOfStream_.size())
                         ? laneOfStream_[pkt->stream_index]
                         : nullptr;
        if (lane && !lane->done) {
            // Safety net for streams whose decoder never reaches the end point. One packet
            // far past the end may be a damaged timestamp; a run of them is not.
            if (endSec_ > 0.0 && pkt->dts != AV_NOPTS_VALUE &&
                static_cast<double>(pkt->dts - lane->offset) * av_q2d(lane->in->time_base) >
                    endSec_ + 5.0)
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
    for (auto& lane : lanes_) {
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

int Conversion::run() {
    checkPaths();
    progress_.reading = true; // opening a slow input blocks too
    in_ = openInput(inPath_);
    if (stopRequested())
        return plexavo::contract::kExitStopped;
    pickStreams();
    const AVStream* v = nullptr;
    const AVStream* a = nullptr;
    for (auto& lane : lanes_)
        (lane->video ? v : a) = lane->in;
    source_ = describeSource(in_.get(), v, a);
    plan_ = makePlan(opt_, outPath_, source_);
    for (const std::string& note : plan_.notes)
        printLine(plexavo::contract::kNotePrefix + oneLine(note));
    for (const std::string& w : plan_.warnings)
        warn(w);
    if (std::getenv("PLEXCORE_PLAN"))
        printLine("Plan: " + equivalentCommand(plan_, opt_));
    openOutput();
    seekToStart();

    readLoop();
    progress_.reading = false;
    const bool stopped = stopRequested();
    flushAll();
    int err = av_write_trailer(out_.get());
    checkWriteError(err);
    if (out_->pb) {
        progress_.bytes.store(avio_size(out_->pb), std::memory_order_relaxed);
        err = avio_closep(&out_->pb);
        checkWriteError(err);
    }
    if (packetsWritten_ == 0) {
        if (stopped)
            return plexavo::contract::kExitStopped; // stopped before anything was written: nothing
                                                    // worth keeping
        if (opt_.startUs && *opt_.startUs > 0)
            throw Failure("nothing to convert: the start point lies past the end of '" + inPath_ +
                          "'");
        throw Failure("nothing in '" + inPath_ + "' could be decoded");
    }
    // Finished (also when stopped): only now may it carry a name a player would open.
    writtenPath_ = partial_ ? partial_->claim() : outPath_;
    setUnfinishedOutput(nullptr);
    if (stopped)
        return plexavo::contract::kExitStopped;
    // A truncated source reads as one that simply ends: only its promise tells. The file is
    // kept (it is all there is), but the run does not count as done.
    std::vector<const AVStream*> streams;
    for (const auto& lane : lanes_)
        streams.push_back(lane->in);
    const double promised =
        promisedSeconds(in_.get(), streams, opt_.startUs.value_or(0), opt_.durationUs);
    const double written = static_cast<double>(progress_.outUs.load()) / 1e6;
    if (endedEarly(written, promised)) {
        char reason[160];
        std::snprintf(reason, sizeof reason, plexavo::contract::kIncompleteFormat, written,
                      promised);
        endedEarly_ = reason;
        return plexavo::contract::kExitIncomplete;
    }
    return plexavo::contract::kExitDone;
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

} // namespace plex
