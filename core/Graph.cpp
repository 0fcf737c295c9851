#include "Graph.h"

#include <cstdio>

namespace plexavo::core {
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
    av_channel_layout_uninit(&m_layout);
}

void FilterChain::build(const std::string& srcArgs, const char* srcName, const char* sinkName,
                        const std::string& chain) {
    m_graph.reset(avfilter_graph_alloc());
    if (!m_graph)
        throw Failure("out of memory");
    m_src = m_sink = nullptr;
    int err = avfilter_graph_create_filter(&m_src, avfilter_get_by_name(srcName), "in",
                                           srcArgs.c_str(), nullptr, m_graph.get());
    if (err < 0)
        throw Failure("cannot set up the " + std::string(srcName) + " filter: " + avErrorText(err));
    err = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name(sinkName), "out", nullptr,
                                       nullptr, m_graph.get());
    if (err < 0)
        throw Failure("cannot set up the output filter: " + avErrorText(err));

    InOutPtr outputs(avfilter_inout_alloc());
    InOutPtr inputs(avfilter_inout_alloc());
    if (!outputs || !inputs)
        throw Failure("out of memory");
    outputs->name = av_strdup("in");
    outputs->filter_ctx = m_src;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = m_sink;
    AVFilterInOut* o = outputs.release();
    AVFilterInOut* i = inputs.release();
    err = avfilter_graph_parse_ptr(m_graph.get(), chain.c_str(), &i, &o, nullptr);
    avfilter_inout_free(&i);
    avfilter_inout_free(&o);
    if (err < 0)
        throw Failure("cannot build the filter chain '" + chain + "': " + avErrorText(err));
    err = avfilter_graph_config(m_graph.get(), nullptr);
    if (err < 0)
        throw Failure("cannot configure the filter chain: " + avErrorText(err));
}

void FilterChain::configureVideo(const AVFrame* f, AVRational tb, const VideoPlan& plan,
                                 int64_t firstFrame) {
    m_video = true;
    m_width = f->width;
    m_height = f->height;
    m_format = f->format;
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
    m_video = false;
    m_format = f->format;
    m_sampleRate = f->sample_rate;
    av_channel_layout_uninit(&m_layout);
    if (av_channel_layout_copy(&m_layout, &f->ch_layout) < 0)
        throw Failure("out of memory");
    char args[512];
    std::snprintf(args, sizeof args,
                  "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s", tb.num, tb.den,
                  f->sample_rate, av_get_sample_fmt_name(static_cast<AVSampleFormat>(f->format)),
                  layoutText(m_layout).c_str());
    build(args, "abuffer", "abuffersink", audioFilterChain(plan, firstSample, endSec));
    if (frameSize > 0)
        av_buffersink_set_frame_size(m_sink, static_cast<unsigned>(frameSize));
}

bool FilterChain::accepts(const AVFrame* f) const {
    if (!m_graph)
        return false;
    if (m_video)
        return f->width == m_width && f->height == m_height && f->format == m_format;
    return f->format == m_format && f->sample_rate == m_sampleRate &&
           av_channel_layout_compare(&f->ch_layout, &m_layout) == 0;
}

void FilterChain::push(AVFrame* frame) {
    int err = av_buffersrc_add_frame_flags(m_src, frame, 0);
    if (err < 0 && err != AVERROR_EOF)
        throw Failure("the filter chain refused a frame: " + avErrorText(err));
}

void FilterChain::close(int64_t endPts) {
    int err = av_buffersrc_close(m_src, endPts, AV_BUFFERSRC_FLAG_PUSH);
    if (err < 0 && err != AVERROR_EOF)
        throw Failure("the filter chain cannot be finished: " + avErrorText(err));
}

int FilterChain::pull(AVFrame* out) {
    int err = av_buffersink_get_frame(m_sink, out);
    if (err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF)
        throw Failure("filtering failed: " + avErrorText(err));
    return err;
}

AVRational FilterChain::outputTimeBase() const {
    return av_buffersink_get_time_base(m_sink);
}

} // namespace plexavo::core
