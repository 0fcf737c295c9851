// What the tests need to look inside media files: ffprobe's view of a file,
// decoded pixels and loudness, and the top-level layout of an MP4/QuickTime file.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace coretest {

// ffprobe's `-of flat` report of one file's format and streams.
class ProbeInfo {
  public:
    static ProbeInfo of(const std::string& path);

    bool ok = false;
    std::string error;

    std::string format(const std::string& key) const; // "" when absent
    std::string stream(int index, const std::string& key) const;
    int streamCount() const { return m_streams; }
    // Index of the n-th stream of a kind ("video", "audio"), -1 when missing.
    int find(const std::string& kind, int nth = 0) const;
    int count(const std::string& kind) const;
    // A numeric field; nullopt for absent or "N/A".
    std::optional<double> formatNum(const std::string& key) const;
    std::optional<double> streamNum(int index, const std::string& key) const;

  private:
    std::map<std::string, std::string> m_values;
    int m_streams = 0;
};

// "24000/1001" -> 23.976..., "32:27" -> 1.185...; nullopt for "0/0" or junk.
std::optional<double> ratio(const std::string& text);

struct Packet {
    double pts = 0;
    double duration = 0;
    long size = 0;
    std::string flags;
};
// The packets of the first stream of a kind ("v" or "a") in presentation order.
std::vector<Packet> packets(const std::string& path, const std::string& kind);
// The picture types (I, P, B) of every decoded video frame.
std::vector<std::string> pictureTypes(const std::string& path);
// Presentation times of every decoded video frame.
std::vector<double> frameTimes(const std::string& path);

// A decoded picture as 8-bit luma.
struct GrayFrame {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
    double rowMean(int y) const;
    double columnMean(int x) const;
    double mean() const;
};
// The frame shown at `seconds` (exact, decoded from the start if need be).
GrayFrame grayFrame(const std::string& path, double seconds);
// The mean luma of every decoded frame, in order.
std::vector<double> frameLumas(const std::string& path);

// The RMS level (dBFS) of the audio between start and start + length.
std::optional<double> rmsDb(const std::string& path, double start, double length);

// Everything ffmpeg complains about while decoding the whole file ("" when clean).
std::string decodeErrors(const std::string& path);

// How many frames ffmpeg's idet filter takes for interlaced (TFF or BFF) and for progressive.
struct FieldCounts {
    int interlaced = 0;
    int progressive = 0;
};
FieldCounts detectFields(const std::string& path);

// The four-letter types of the top-level boxes of an MP4/QuickTime file, in order.
std::vector<std::string> topLevelBoxes(const std::string& path);

// One track of an MP4/QuickTime file as its boxes state it.
struct TrackBox {
    std::string handler;     // "vide", "soun", "sbtl", "text" ...
    std::string sampleEntry; // "avc1", "mp4a", "tx3g" ...
    unsigned flags = 0;      // tkhd flags: 1 enabled, 2 in movie
    int alternateGroup = 0;
    unsigned displayFlags = 0;     // tx3g only: the sample entry's display flags
    bool chapterReference = false; // a "tref/chap" names the chapter track
};
std::vector<TrackBox> trackBoxes(const std::string& path);
// The four-letter types of the iTunes-style tags (moov/udta/meta/ilst) and the
// QuickTime user data (moov/udta) of an MP4/QuickTime file.
std::vector<std::string> tagBoxes(const std::string& path);
// The cover item of the iTunes-style tags (moov/udta/meta/ilst/covr): the data type of its
// first picture (13 JPEG, 14 PNG) and the picture's bytes. Nothing when there is none.
struct CoverItem {
    unsigned dataType = 0;
    std::string bytes;
};
std::optional<CoverItem> coverItem(const std::string& path);

struct Chapter {
    double start = 0;
    double end = 0;
    std::string title;
};
std::vector<Chapter> chapters(const std::string& path);

struct Cue {
    double start = 0;
    double end = 0;
    std::string text; // lines joined by '\n'
};
// The n-th subtitle stream of a file as the ffmpeg tool reads it (written out as SubRip).
std::vector<Cue> subtitleCues(const std::string& path, int nth = 0);

bool hasEncoder(const std::string& name);
bool hasMuxer(const std::string& name);

} // namespace coretest
