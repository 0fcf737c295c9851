// Joining a kept output and its continuation into one file: where each stream changes from
// the copied packets to the new ones, and the byte forms the two parts must share. Plain
// decisions on plain values; the transcoder applies them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plexavo::core {

// Where a sound track changes over, in samples of the whole output. The kept packets that
// start before `join` are copied; the new encoder is fed from `feedFrom` and its packets
// before `join` are dropped, so it reaches the join with the same history the first encode
// had: its window shapes match, and the overlap of the last kept packet and the first new
// one adds up to the sound itself, with no gap, click or doubled piece.
struct SoundJoin {
    int64_t join = 0;
    int64_t feedFrom = 0;
};
// The join of a track the kept file holds no sound of: nothing is copied, nothing dropped.
inline constexpr int64_t kEverythingNew = INT64_MIN;
// packetStarts: the kept packets' starts in samples, ascending (the first one negative by the
// encoder's priming); keptEnd: where the kept sound ends; latest: the join may not come after
// this (the picture's join), INT64_MAX for none; frameSize: samples per packet. A join needs
// two packets of sound after it in the kept file (the overlap and the encoder's look ahead),
// else everything is encoded anew. warmupFrames: how many packets' worth the new encoder
// hears before the join.
SoundJoin soundJoin(const std::vector<int64_t>& packetStarts, int64_t keptEnd, int64_t latest,
                    int frameSize, int warmupFrames);

// The point of the grid phase + k * step nearest to position (halves go up): where a packet
// of a source whose clock is coarser than its samples really lies.
int64_t nearestOnGrid(int64_t position, int64_t phase, int64_t step);

// An H.264 stream's sequence and picture parameter sets, each NAL unit's bytes, SPS first.
// From an avcC record (the MP4 form); nothing when it is not one.
std::optional<std::vector<std::string>> avcParameterSets(const uint8_t* data, std::size_t size);
// From start-code-separated NAL units (the encoder's form), the other units left out.
std::vector<std::string> annexBParameterSets(const uint8_t* data, std::size_t size);
// The length of the NAL size fields of an avcC record (1, 2 or 4); 0 when it is not one.
int avcLengthSize(const uint8_t* data, std::size_t size);

// One MP4 sample of NAL units with lengthSize-byte sizes in start-code form, which the muxer
// takes from the encoder; false (out unspecified) when a size runs past the end.
bool toAnnexB(const uint8_t* data, std::size_t size, int lengthSize, std::vector<uint8_t>& out);

} // namespace plexavo::core
