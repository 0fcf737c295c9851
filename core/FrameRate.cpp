#include "FrameRate.h"

#include <cmath>

namespace plexavo::core {

AVRational snapRate(AVRational r) {
    if (r.num <= 0 || r.den <= 0)
        return r;
    const AVRational standard[] = {{24000, 1001}, {30000, 1001}, {60000, 1001}};
    const double v = av_q2d(r);
    for (AVRational s : standard)
        if (std::fabs(v - av_q2d(s)) < 0.006)
            return s;
    if (r.den > 1001 || r.num > 1000000) {
        AVRational q = av_d2q(v, 1001);
        av_reduce(&q.num, &q.den, q.num, q.den, 1 << 20);
        return q;
    }
    av_reduce(&r.num, &r.den, r.num, r.den, 1 << 20);
    return r;
}

AVRational usableRate(AVRational source) {
    if (source.num <= 0 || source.den <= 0 || av_q2d(source) < 1.0 || av_q2d(source) > 240.0)
        return {25, 1};
    return snapRate(source);
}

AVRational deviceRate(AVRational source) {
    AVRational r = usableRate(source);
    if (av_q2d(r) <= 30.01)
        return r;
    const AVRational half = snapRate(av_mul_q(r, {1, 2}));
    return av_q2d(half) <= 30.01 ? half : AVRational{30, 1};
}

} // namespace plexavo::core
