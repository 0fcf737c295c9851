#include "Join.h"

#include <algorithm>

namespace plexavo::core {

SoundJoin soundJoin(const std::vector<int64_t>& packetStarts, int64_t keptEnd, int64_t latest,
                    int frameSize, int warmupFrames) {
    const int64_t frame = std::max(frameSize, 1);
    // The first packet, priming and all, comes from the new encoder: nothing is copied.
    SoundJoin j;
    j.join = packetStarts.empty() ? kEverythingNew : std::min<int64_t>(packetStarts.front(), 0);
    for (const int64_t start : packetStarts)
        if (start >= 0 && start <= latest && start <= keptEnd - 2 * frame)
            j.join = std::max(j.join, start);
    if (j.join <= 0) {
        j.feedFrom = 0;
        return j;
    }
    // Whole packets before the join, so the new packets fall on the kept ones' grid.
    const int64_t warmup = std::min<int64_t>(std::max(warmupFrames, 0), j.join / frame);
    j.feedFrom = j.join - warmup * frame;
    return j;
}

int64_t nearestOnGrid(int64_t position, int64_t phase, int64_t step) {
    if (step <= 0)
        return position;
    const int64_t from = position - phase + step / 2;
    const int64_t k = from >= 0 ? from / step : -((-from + step - 1) / step);
    return phase + k * step;
}

std::optional<std::vector<std::string>> avcParameterSets(const uint8_t* data, std::size_t size) {
    if (!data || size < 7 || data[0] != 1)
        return std::nullopt;
    std::vector<std::string> sets;
    std::size_t at = 5;
    for (int kind = 0; kind < 2; ++kind) {
        if (at >= size)
            return std::nullopt;
        const int count = kind == 0 ? (data[at] & 0x1f) : data[at];
        ++at;
        for (int i = 0; i < count; ++i) {
            if (at + 2 > size)
                return std::nullopt;
            const std::size_t length = (std::size_t{data[at]} << 8) | data[at + 1];
            at += 2;
            if (at + length > size)
                return std::nullopt;
            sets.emplace_back(reinterpret_cast<const char*>(data + at), length);
            at += length;
        }
    }
    return sets;
}

std::vector<std::string> annexBParameterSets(const uint8_t* data, std::size_t size) {
    std::vector<std::string> sps, pps;
    std::size_t i = 0;
    const auto startCodeAt = [&](std::size_t p) {
        return p + 3 <= size && data[p] == 0 && data[p + 1] == 0 && data[p + 2] == 1;
    };
    while (i < size && !startCodeAt(i))
        ++i;
    while (i < size) {
        const std::size_t begin = i + 3;
        std::size_t end = begin;
        while (end < size && !startCodeAt(end))
            ++end;
        i = end;
        // The zero that opens a four-byte start code belongs to no unit.
        std::size_t last = end;
        while (last > begin && data[last - 1] == 0)
            --last;
        if (last > begin) {
            const int type = data[begin] & 0x1f;
            std::string unit(reinterpret_cast<const char*>(data + begin), last - begin);
            if (type == 7)
                sps.push_back(std::move(unit));
            else if (type == 8)
                pps.push_back(std::move(unit));
        }
    }
    sps.insert(sps.end(), pps.begin(), pps.end());
    return sps;
}

int avcLengthSize(const uint8_t* data, std::size_t size) {
    if (!data || size < 7 || data[0] != 1)
        return 0;
    const int length = (data[4] & 3) + 1;
    return length == 3 ? 0 : length;
}

bool toAnnexB(const uint8_t* data, std::size_t size, int lengthSize, std::vector<uint8_t>& out) {
    out.clear();
    if (lengthSize < 1 || lengthSize > 4)
        return false;
    std::size_t at = 0;
    while (at < size) {
        if (at + static_cast<std::size_t>(lengthSize) > size)
            return false;
        std::size_t length = 0;
        for (int b = 0; b < lengthSize; ++b)
            length = (length << 8) | data[at + static_cast<std::size_t>(b)];
        at += static_cast<std::size_t>(lengthSize);
        if (length > size - at)
            return false;
        static const uint8_t startCode[] = {0, 0, 0, 1};
        out.insert(out.end(), startCode, startCode + 4);
        out.insert(out.end(), data + at, data + at + length);
        at += length;
    }
    return true;
}

} // namespace plexavo::core
