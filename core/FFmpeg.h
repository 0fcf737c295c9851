// FFmpeg headers plus small owning wrappers, so every early return frees what it opened.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <stdexcept>
#include <string>

namespace plexavo::core {

// A failure that ends the run; main() prints it as one "Error: " line.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline std::string avErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

struct InputDeleter {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct GraphDeleter {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphDeleter>;

struct InOutDeleter {
    void operator()(AVFilterInOut* p) const { avfilter_inout_free(&p); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutDeleter>;

// Owns an AVDictionary; get() hands the address to the calls that consume entries.
class Dict {
  public:
    Dict() = default;
    Dict(const Dict&) = delete;
    Dict& operator=(const Dict&) = delete;
    ~Dict() { av_dict_free(&m_d); }
    void set(const char* key, const std::string& value) {
        av_dict_set(&m_d, key, value.c_str(), 0);
    }
    void set(const char* key, long long value) { av_dict_set_int(&m_d, key, value, 0); }
    AVDictionary** get() { return &m_d; }

  private:
    AVDictionary* m_d = nullptr;
};

inline FramePtr makeFrame() {
    FramePtr f(av_frame_alloc());
    if (!f)
        throw Failure("out of memory");
    return f;
}

inline PacketPtr makePacket() {
    PacketPtr p(av_packet_alloc());
    if (!p)
        throw Failure("out of memory");
    return p;
}

// FFmpeg's "file:" protocol takes the rest of the string as a plain path, so names with
// ':' or a leading '-' are never read as protocols or options.
inline std::string fileUrl(const std::string& path) {
    return "file:" + path;
}

} // namespace plexavo::core
