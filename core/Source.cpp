#include "Source.h"
#include "FFmpeg.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/display.h>
}

namespace plexavo::core {
namespace {

Rational sampleAspect(const AVStream* st) {
    AVRational sar = st->sample_aspect_ratio.num > 0 ? st->sample_aspect_ratio
                                                     : st->codecpar->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        return {1, 1};
    return {sar.num, sar.den};
}

// Phone recordings carry their rotation in a display matrix.
int rotationOf(const AVStream* st) {
    const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!m)
        return 0;
    double theta = -av_display_rotation_get(reinterpret_cast<const int32_t*>(m));
    if (!std::isfinite(theta))
        return 0;
    theta -= 360.0 * std::floor(theta / 360.0 + 0.9 / 360.0);
    return static_cast<int>(std::lround(theta / 90.0) % 4) * 90;
}

FieldOrder fieldsOf(AVFieldOrder order) {
    switch (order) {
    case AV_FIELD_PROGRESSIVE:
        return FieldOrder::Progressive;
    case AV_FIELD_TT:
    case AV_FIELD_TB:
        return FieldOrder::TopFirst;
    case AV_FIELD_BB:
    case AV_FIELD_BT:
        return FieldOrder::BottomFirst;
    default:
        return FieldOrder::Unknown;
    }
}

} // namespace

SourceInfo describeSource(AVFormatContext* ic, const AVStream* video, const AVStream* audio) {
    SourceInfo s;
    if (video) {
        VideoSource v;
        v.width = video->codecpar->width;
        v.height = video->codecpar->height;
        v.sar = sampleAspect(video);
        v.rotation = rotationOf(video);
        const AVRational rate = av_guess_frame_rate(ic, const_cast<AVStream*>(video), nullptr);
        v.rate = {rate.num, rate.den};
        v.fields = fieldsOf(video->codecpar->field_order);
        s.video = v;
    }
    if (audio) {
        AudioSource a;
        a.channels = audio->codecpar->ch_layout.nb_channels;
        a.sampleRate = audio->codecpar->sample_rate;
        s.audio = a;
    }
    return s;
}

double promisedSeconds(const AVFormatContext* ic, const std::vector<const AVStream*>& streams,
                       int64_t startUs, std::optional<int64_t> lengthUs) {
    const int64_t zero = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    const bool containerKnown = ic->duration != AV_NOPTS_VALUE && ic->duration > 0 &&
                                ic->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
    int64_t endUs = 0; // relative to the container's start
    for (const AVStream* st : streams) {
        if (!st)
            continue;
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0 &&
            ic->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
            const int64_t first = st->start_time != AV_NOPTS_VALUE
                                      ? av_rescale_q(st->start_time, st->time_base, AV_TIME_BASE_Q)
                                      : zero;
            endUs = std::max(endUs, first - zero +
                                        av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q));
        } else if (containerKnown) {
            endUs = std::max(endUs, ic->duration);
        }
    }
    double promised = static_cast<double>(endUs - startUs) / 1e6;
    if (lengthUs && *lengthUs > 0)
        promised = std::min(promised, static_cast<double>(*lengthUs) / 1e6);
    return std::max(promised, 0.0);
}

bool endedEarly(double written, double promised) {
    const double shortBy = promised - written;
    return promised > 0.0 && shortBy > 1.0 && shortBy > promised / 100.0;
}

} // namespace plexavo::core
