#include "Graph.h"

#include <cstdio>

namespace plex {
namespace {

std::string layoutText(const AVChannelLayout& l) {
    char buf[128] = {};
    av_channel_layout_describe(&l, buf, sizeof buf);
    return buf;
}

} // namespace

void nameChannelLayout(AVFrame* f) {
    if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC && f->ch_layout.nb_channels > 0) {
        const int n = f->ch_layout.nb_channels;
        av_channel_layout_uninit(&f->ch_layout);
        av_channel_layout_default(&f->ch_layout, n);
    }
}

FilterChain::~FilterChain() {
    av_channel_layout_uninit(&layout_);
}

void FilterChain::build(const std::string& srcArgs, const char* srcName, const char* sinkName,
                        const std::string& chain) {
    graph_.reset(avfilter_graph_alloc());
    if (!graph_)
        throw Failure("out of memory");
    src_ = sink_ = nullptr;
    int err = avfilter_graph_create_filter(&src_, avfilter_get_by_name(srcName), "in",
                                           srcArgs.c_str(), nullptr, graph_.get());
    if (err < 0)
        throw Failure("cannot set up the " + std::string(srcName) + " filter: " + avErrorText(err));
    err = avfilter_graph_create_filter(&sink_, avfilter_get_by_name(sinkName), "out", nullptr,
                                       nullptr, graph_.get());
    if (err < 0)
        throw Failure("cannot set up the output filter: " + avErrorText(err));

    InOutPtr outputs(avfilter_inout_alloc());
    InOutPtr inputs(avfilter_inout_alloc());
    if (!outputs || !inputs)
        throw Failure("out of memory");
    outputs->name = av_strdup("in");
    outputs->filter_ctx = src_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink_;
    AVFilterInOut* o = outputs.release();
    AVFilterInOut* i = inputs.release();
    err = avfilter_graph_parse_ptr(graph_.get(), chain.c_str(), &i, &o, nullptr);
    avfilter_inout_free(&i);
    avfilter_inout_free(&o);
    if (err < 0)
        throw Failure("cannot build the filter chain '" + chain + "': " + avErrorText(err));
    err = avfilter_graph_config(graph_.get(), nullptr);
    if (err < 0)
        throw Failure("cannot configure the filter chain: " + avErrorText(err));
}

void FilterChain::configureVideo(const AVFrame* f, AVRational tb, const VideoPlan& plan,
                                 int64_t firstFrame) {
    video_ = true;
    width_ = f->width;
    height_ = f->height;
    format_ = f->format;
    AVRational sar = f->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = {1, 1};
    char args[256];
    std::snprintf(args, sizeof args,
                  "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", f->width,
                  f->height, f->format, tb.num, tb.den, sar.num, sar.den);
    build(args, "buffer", "buffersink", videoFilterChain(plan, firstFrame));
}

void FilterChain::configureAudio(const AVFrame* f, AVRational tb, const AudioPlan& plan,
                                 int frameSize, int64_t firstSample, double endSec) {
    video_ = false;
    format_ = f->format;
    sampleRate_ = f->sample_rate;
    av_channel_layout_uninit(&layout_);
    if (av_channel_layout_copy(&layout_, &f->ch_layout) < 0)
        throw Failure("out of memory");
    char args[512];
    std::snprintf(args, sizeof args,
                  "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s", tb.num, tb.den,
                  f->sample_rate, av_get_sample_fmt_name(static_cast<AVSampleFormat>(f->format)),
                  layoutText(layout_).c_str());
    build(args, "abuffer", "abuffersink", audioFilterChain(plan, firstSample, endSec));
    if (frameSize > 0)
        av_buffersink_set_frame_size(sink_, static_cast<unsigned>(frameSize));
}

bool FilterChain::accepts(const AVFrame* f) const {
    if (!graph_)
        return false;
    if (video_)
        return f->width == width_ && f->height == height_ && f->format == format_;
    return f->format == format_ && f->sample_rate == sampleRate_ &&
           av_channel_layout_compare(&f->ch_layout, &layout_) == 0;
}

void FilterChain::push(AVFrame* frame) {
    int err = av_buffersrc_add_frame_flags(src_, frame, 0);
    if (err < 0 && err != AVERROR_EOF)
        throw Failure("the filter chain refused a frame: " + avErrorText(err));
}

void FilterChain::close(int64_t endPts) {
    int err = av_buffersrc_close(src_, endPts, AV_BUFFERSRC_FLAG_PUSH);
    if (err < 0 && err != AVERROR_EOF)
        throw Failure("the filter chain cannot be finished: " + avErrorText(err));
}

int FilterChain::pull(AVFrame* out) {
    int err = av_buffersink_get_frame(sink_, out);
    if (err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF)
        throw Failure("filtering failed: " + avErrorText(err));
    return err;
}

AVRational FilterChain::outputTimeBase() const {
    return av_buffersink_get_time_base(sink_);
}

} // namespace plex
