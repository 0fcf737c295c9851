// A libavfilter chain between a decoder and an encoder: frame rate, scaling, black bars and
// pixel format for pictures; trimming, resampling, mixing down and framing for sound.
#pragma once

#include "FFmpeg.h"
#include "Targets.h"

#include <string>

namespace plexavo::core {

class FilterChain {
  public:
    FilterChain() = default;
    FilterChain(const FilterChain&) = delete;
    FilterChain& operator=(const FilterChain&) = delete;
    ~FilterChain();

    // firstFrame: the output frame the chain starts at (0, or where a rebuilt chain takes
    // over).
    void configureVideo(const AVFrame* frame, AVRational timeBase, const VideoPlan& plan,
                        int64_t firstFrame);
    // The output is in the plan's sample format. The frame's channel layout must have an
    // order (see nameChannelLayout). firstSample: where the chain starts, in samples at the
    // frame's rate; endSec > 0 cuts there.
    void configureAudio(const AVFrame* frame, AVRational timeBase, const AudioPlan& plan,
                        int frameSize, int64_t firstSample, double endSec);

    bool ready() const { return m_graph != nullptr; }
    // Whether a frame still fits the chain's input, or the chain must be rebuilt.
    bool accepts(const AVFrame* frame) const;

    // Takes the frame's data.
    void push(AVFrame* frame);
    // Signals the end; endPts (input time base) is where the last frame stops, so the
    // frame-rate filter knows how long to show it.
    void close(int64_t endPts);
    // 0 with a frame, AVERROR(EAGAIN) when more input is needed, AVERROR_EOF at the end.
    int pull(AVFrame* out);
    AVRational outputTimeBase() const;

  private:
    void build(const std::string& srcArgs, const char* srcName, const char* sinkName,
               const std::string& chain);

    GraphPtr m_graph;
    AVFilterContext* m_src = nullptr;
    AVFilterContext* m_sink = nullptr;
    bool m_video = false;
    int m_width = 0, m_height = 0, m_format = -1, m_sampleRate = 0;
    AVChannelLayout m_layout{};
};

// Decoders may hand out "N channels" without an order; the filters want a named layout.
// Called once on each decoded frame, where it arrives.
void nameChannelLayout(AVFrame* frame);

} // namespace plexavo::core
