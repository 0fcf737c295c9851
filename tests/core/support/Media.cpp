#include "support/Media.h"

#include "support/Shared.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace coretest {

namespace {

std::optional<double> toNumber(const std::string& text) {
    if (text.empty() || text == "N/A")
        return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str())
        return std::nullopt;
    return v;
}

// Undoes the escaping of ffprobe's flat writer.
std::string unescapeFlat(const std::string& raw) {
    std::string v = raw;
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.substr(1, v.size() - 2);
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            const char n = v[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += v[i];
        }
    }
    return out;
}

std::vector<std::vector<std::string>> csvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        std::vector<std::string> fields;
        std::string field;
        std::istringstream ls(line);
        while (std::getline(ls, field, ','))
            fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

std::string probeCsv(const std::string& path, const std::string& select,
                     const std::string& entries) {
    const RunResult r = run({"ffprobe", "-v", "error", "-select_streams", select, "-show_entries",
                             entries, "-of", "csv=p=0", path},
                            120, separateStderr());
    return r.out;
}

} // namespace

ProbeInfo ProbeInfo::of(const std::string& path) {
    ProbeInfo info;
    const RunResult r =
        run({"ffprobe", "-v", "error", "-show_format", "-show_streams", "-of", "flat", path}, 120,
            separateStderr());
    if (r.exitCode != 0) {
        info.error = r.err.empty() ? "ffprobe failed" : r.err;
        return info;
    }
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        info.m_values[key] = unescapeFlat(line.substr(eq + 1));
        if (key.rfind("streams.stream.", 0) == 0) {
            const int idx = std::atoi(key.c_str() + 15);
            info.m_streams = std::max(info.m_streams, idx + 1);
        }
    }
    info.ok = true;
    return info;
}

std::string ProbeInfo::format(const std::string& key) const {
    const auto it = m_values.find("format." + key);
    return it == m_values.end() ? std::string() : it->second;
}

std::string ProbeInfo::stream(int index, const std::string& key) const {
    const auto it = m_values.find("streams.stream." + std::to_string(index) + "." + key);
    return it == m_values.end() ? std::string() : it->second;
}

int ProbeInfo::find(const std::string& kind, int nth) const {
    for (int i = 0; i < m_streams; ++i)
        if (stream(i, "codec_type") == kind && nth-- == 0)
            return i;
    return -1;
}

int ProbeInfo::count(const std::string& kind) const {
    int n = 0;
    for (int i = 0; i < m_streams; ++i)
        n += stream(i, "codec_type") == kind;
    return n;
}

std::optional<double> ProbeInfo::formatNum(const std::string& key) const {
    return toNumber(format(key));
}

std::optional<double> ProbeInfo::streamNum(int index, const std::string& key) const {
    return toNumber(stream(index, key));
}

std::optional<double> ratio(const std::string& text) {
    const auto slash = text.find_first_of("/:");
    if (slash == std::string::npos)
        return toNumber(text);
    const auto num = toNumber(text.substr(0, slash));
    const auto den = toNumber(text.substr(slash + 1));
    if (!num || !den || *den == 0)
        return std::nullopt;
    return *num / *den;
}

std::vector<Packet> packets(const std::string& path, const std::string& kind) {
    std::vector<Packet> result;
    for (const auto& f :
         csvRows(probeCsv(path, kind + ":0", "packet=pts_time,duration_time,size,flags"))) {
        if (f.size() < 3)
            continue;
        Packet p;
        p.pts = toNumber(f[0]).value_or(NAN);
        p.duration = toNumber(f[1]).value_or(0);
        p.size = static_cast<long>(toNumber(f[2]).value_or(0));
        p.flags = f.size() > 3 ? f[3] : "";
        result.push_back(p);
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const Packet& a, const Packet& b) { return a.pts < b.pts; });
    return result;
}

std::vector<std::string> pictureTypes(const std::string& path) {
    std::vector<std::string> types;
    for (const auto& f : csvRows(probeCsv(path, "v:0", "frame=pict_type")))
        if (!f.empty() && !f[0].empty())
            types.push_back(f[0]);
    return types;
}

std::vector<double> frameTimes(const std::string& path) {
    std::vector<double> times;
    for (const auto& f : csvRows(probeCsv(path, "v:0", "frame=best_effort_timestamp_time")))
        if (!f.empty())
            if (auto t = toNumber(f[0]))
                times.push_back(*t);
    return times;
}

double GrayFrame::rowMean(int y) const {
    double sum = 0;
    for (int x = 0; x < width; ++x)
        sum += pixels[static_cast<size_t>(y) * width + x];
    return width ? sum / width : 0;
}

double GrayFrame::columnMean(int x) const {
    double sum = 0;
    for (int y = 0; y < height; ++y)
        sum += pixels[static_cast<size_t>(y) * width + x];
    return height ? sum / height : 0;
}

double GrayFrame::mean() const {
    double sum = 0;
    for (unsigned char p : pixels)
        sum += p;
    return pixels.empty() ? 0 : sum / pixels.size();
}

GrayFrame grayFrame(const std::string& path, double seconds) {
    GrayFrame frame;
    const ProbeInfo info = ProbeInfo::of(path);
    const int v = info.find("video");
    if (v < 0)
        return frame;
    const int w = static_cast<int>(info.streamNum(v, "width").value_or(0));
    const int h = static_cast<int>(info.streamNum(v, "height").value_or(0));
    const RunResult r = run({"ffmpeg", "-v", "error", "-ss", std::to_string(seconds), "-i", path,
                             "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray", "-"},
                            120, separateStderr());
    if (r.exitCode != 0 || w <= 0 || h <= 0 || r.out.size() != static_cast<size_t>(w) * h)
        return frame;
    frame.width = w;
    frame.height = h;
    frame.pixels.assign(r.out.begin(), r.out.end());
    return frame;
}

std::vector<double> frameLumas(const std::string& path) {
    std::vector<double> lumas;
    const ProbeInfo info = ProbeInfo::of(path);
    const int v = info.find("video");
    if (v < 0)
        return lumas;
    const size_t w = static_cast<size_t>(info.streamNum(v, "width").value_or(0));
    const size_t h = static_cast<size_t>(info.streamNum(v, "height").value_or(0));
    const RunResult r = run({"ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-f", "rawvideo",
                             "-pix_fmt", "gray", "-fps_mode", "passthrough", "-"},
                            120, separateStderr());
    const size_t size = w * h;
    if (r.exitCode != 0 || size == 0)
        return lumas;
    for (size_t off = 0; off + size <= r.out.size(); off += size) {
        double sum = 0;
        for (size_t i = 0; i < size; ++i)
            sum += static_cast<unsigned char>(r.out[off + i]);
        lumas.push_back(sum / size);
    }
    return lumas;
}

std::optional<double> rmsDb(const std::string& path, double start, double length) {
    const RunResult r =
        run({"ffmpeg", "-hide_banner", "-nostats", "-ss", std::to_string(start), "-t",
             std::to_string(length), "-i", path, "-vn", "-af", "astats", "-f", "null", "-"},
            120);
    const auto overall = r.out.rfind("Overall");
    if (r.exitCode != 0 || overall == std::string::npos)
        return std::nullopt;
    const auto key = r.out.find("RMS level dB:", overall);
    if (key == std::string::npos)
        return std::nullopt;
    return toNumber(r.out.substr(key + 13, r.out.find('\n', key) - key - 13));
}

std::string decodeErrors(const std::string& path) {
    const RunResult r = run({"ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"}, 300);
    if (r.exitCode != 0 && r.out.empty())
        return "ffmpeg exited with " + std::to_string(r.exitCode);
    return r.out;
}

FieldCounts detectFields(const std::string& path) {
    const RunResult r = run(
        {"ffmpeg", "-hide_banner", "-nostdin", "-i", path, "-an", "-vf", "idet", "-f", "null", "-"},
        300);
    FieldCounts counts;
    const auto at = r.out.find("Multi frame detection:");
    if (at == std::string::npos)
        return counts;
    int tff = 0, bff = 0, progressive = 0;
    if (std::sscanf(r.out.c_str() + at, "Multi frame detection: TFF: %d BFF: %d Progressive: %d",
                    &tff, &bff, &progressive) == 3) {
        counts.interlaced = tff + bff;
        counts.progressive = progressive;
    }
    return counts;
}

std::vector<std::string> topLevelBoxes(const std::string& path) {
    std::vector<std::string> boxes;
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    const auto fileSize = static_cast<unsigned long long>(in.tellg());
    unsigned long long pos = 0;
    while (pos + 8 <= fileSize && boxes.size() < 1000) {
        in.seekg(static_cast<std::streamoff>(pos));
        unsigned char head[16];
        in.read(reinterpret_cast<char*>(head), 8);
        if (!in)
            break;
        unsigned long long size = (static_cast<unsigned long long>(head[0]) << 24) |
                                  (head[1] << 16) | (head[2] << 8) | head[3];
        boxes.emplace_back(reinterpret_cast<char*>(head) + 4, 4);
        if (size == 1) { // 64-bit size follows the type
            in.read(reinterpret_cast<char*>(head + 8), 8);
            if (!in)
                break;
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = (size << 8) | head[i];
        } else if (size == 0) { // runs to the end of the file
            break;
        }
        if (size < 8)
            break;
        pos += size;
    }
    return boxes;
}

namespace {

unsigned long long bigEndian(const std::string& data, size_t at, size_t n) {
    unsigned long long v = 0;
    for (size_t i = 0; i < n && at + i < data.size(); ++i)
        v = v << 8 | static_cast<unsigned char>(data[at + i]);
    return v;
}

struct BoxAt {
    std::string type;
    size_t body = 0;
    size_t end = 0;
};

std::vector<BoxAt> boxesIn(const std::string& data, size_t begin, size_t end) {
    std::vector<BoxAt> boxes;
    for (size_t pos = begin; pos + 8 <= end;) {
        unsigned long long size = bigEndian(data, pos, 4);
        size_t header = 8;
        if (size == 1) {
            size = bigEndian(data, pos + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = end - pos;
        }
        if (size < header || size > end - pos)
            break;
        boxes.push_back({data.substr(pos + 4, 4), pos + header, pos + static_cast<size_t>(size)});
        pos += static_cast<size_t>(size);
    }
    return boxes;
}

const BoxAt* child(const std::vector<BoxAt>& boxes, const std::string& type) {
    for (const BoxAt& b : boxes)
        if (b.type == type)
            return &b;
    return nullptr;
}

std::string moovOf(const std::string& path, size_t& body, size_t& end) {
    const std::string data = readFile(path);
    for (const BoxAt& b : boxesIn(data, 0, data.size()))
        if (b.type == "moov") {
            body = b.body;
            end = b.end;
            return data;
        }
    body = end = 0;
    return data;
}

} // namespace

std::vector<TrackBox> trackBoxes(const std::string& path) {
    size_t body = 0, end = 0;
    const std::string data = moovOf(path, body, end);
    std::vector<TrackBox> tracks;
    for (const BoxAt& trak : boxesIn(data, body, end)) {
        if (trak.type != "trak")
            continue;
        TrackBox t;
        const auto parts = boxesIn(data, trak.body, trak.end);
        if (const BoxAt* tkhd = child(parts, "tkhd")) {
            t.flags = static_cast<unsigned>(bigEndian(data, tkhd->body + 1, 3));
            // After version and flags: times and ids (20 bytes, or 32 in version 1), 8
            // reserved bytes, the layer, then the alternate group.
            const size_t times = data[tkhd->body] == 1 ? 32 : 20;
            t.alternateGroup = static_cast<int>(
                static_cast<short>(bigEndian(data, tkhd->body + 4 + times + 8 + 2, 2)));
        }
        if (const BoxAt* tref = child(parts, "tref"))
            t.chapterReference = child(boxesIn(data, tref->body, tref->end), "chap") != nullptr;
        if (const BoxAt* mdia = child(parts, "mdia")) {
            const auto inMdia = boxesIn(data, mdia->body, mdia->end);
            if (const BoxAt* hdlr = child(inMdia, "hdlr"))
                t.handler = data.substr(hdlr->body + 8, 4);
            const BoxAt* minf = child(inMdia, "minf");
            const BoxAt* stbl =
                minf ? child(boxesIn(data, minf->body, minf->end), "stbl") : nullptr;
            const BoxAt* stsd =
                stbl ? child(boxesIn(data, stbl->body, stbl->end), "stsd") : nullptr;
            if (stsd && stsd->end - stsd->body >= 16) {
                // Version, flags and the entry count, then the first entry: size and type,
                // 6 reserved bytes and the data reference index before its own fields.
                t.sampleEntry = data.substr(stsd->body + 12, 4);
                if (t.sampleEntry == "tx3g")
                    t.displayFlags = static_cast<unsigned>(bigEndian(data, stsd->body + 24, 4));
            }
        }
        tracks.push_back(t);
    }
    return tracks;
}

std::vector<std::string> tagBoxes(const std::string& path) {
    size_t body = 0, end = 0;
    const std::string data = moovOf(path, body, end);
    std::vector<std::string> types;
    const BoxAt* udta = nullptr;
    const auto inMoov = boxesIn(data, body, end);
    udta = child(inMoov, "udta");
    if (!udta)
        return types;
    for (const BoxAt& b : boxesIn(data, udta->body, udta->end)) {
        if (b.type != "meta") {
            types.push_back(b.type);
            continue;
        }
        // meta is a full box: version and flags before its children.
        const auto inMeta = boxesIn(data, b.body + 4, b.end);
        if (const BoxAt* ilst = child(inMeta, "ilst"))
            for (const BoxAt& tag : boxesIn(data, ilst->body, ilst->end))
                types.push_back(tag.type);
    }
    return types;
}

std::optional<CoverItem> coverItem(const std::string& path) {
    size_t body = 0, end = 0;
    const std::string data = moovOf(path, body, end);
    const BoxAt* udta = child(boxesIn(data, body, end), "udta");
    const auto inUdta = udta ? boxesIn(data, udta->body, udta->end) : std::vector<BoxAt>{};
    const BoxAt* meta = child(inUdta, "meta");
    const auto inMeta = meta ? boxesIn(data, meta->body + 4, meta->end) : std::vector<BoxAt>{};
    const BoxAt* ilst = child(inMeta, "ilst");
    const auto items = ilst ? boxesIn(data, ilst->body, ilst->end) : std::vector<BoxAt>{};
    const BoxAt* covr = child(items, "covr");
    const auto inCovr = covr ? boxesIn(data, covr->body, covr->end) : std::vector<BoxAt>{};
    const BoxAt* picture = child(inCovr, "data");
    // The data box: version and type, a locale, then the picture.
    if (!picture || picture->end - picture->body < 8)
        return std::nullopt;
    return CoverItem{static_cast<unsigned>(bigEndian(data, picture->body, 4)),
                     data.substr(picture->body + 8, picture->end - picture->body - 8)};
}

std::vector<Chapter> chapters(const std::string& path) {
    std::vector<Chapter> found;
    const RunResult r = run({"ffprobe", "-v", "error", "-show_chapters", "-of", "flat", path}, 120,
                            separateStderr());
    std::map<int, Chapter> byIndex;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        int index = -1;
        char key[64] = {};
        if (std::sscanf(line.c_str(), "chapters.chapter.%d.%63[^=]", &index, key) != 2)
            continue;
        const std::string value = unescapeFlat(line.substr(line.find('=') + 1));
        if (std::string(key) == "start_time")
            byIndex[index].start = toNumber(value).value_or(-1);
        else if (std::string(key) == "end_time")
            byIndex[index].end = toNumber(value).value_or(-1);
        else if (std::string(key) == "tags.title")
            byIndex[index].title = value;
    }
    for (auto& [index, chapter] : byIndex)
        found.push_back(chapter);
    return found;
}

std::vector<Cue> subtitleCues(const std::string& path, int nth) {
    std::vector<Cue> cues;
    const RunResult r = run({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map",
                             "0:s:" + std::to_string(nth), "-c:s", "srt", "-f", "srt", "-"},
                            120, separateStderr());
    std::istringstream in(r.out);
    std::string line;
    const auto seconds = [](int h, int m, int s, int ms) {
        return h * 3600 + m * 60 + s + ms / 1000.0;
    };
    while (std::getline(in, line)) {
        int h1, m1, s1, ms1, h2, m2, s2, ms2;
        if (std::sscanf(line.c_str(), "%d:%d:%d,%d --> %d:%d:%d,%d", &h1, &m1, &s1, &ms1, &h2, &m2,
                        &s2, &ms2) != 8)
            continue;
        Cue cue{seconds(h1, m1, s1, ms1), seconds(h2, m2, s2, ms2), ""};
        while (std::getline(in, line) && !line.empty() && line != "\r") {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            cue.text += (cue.text.empty() ? "" : "\n") + line;
        }
        cues.push_back(cue);
    }
    return cues;
}

namespace {
bool listed(const std::string& flag, const std::string& name) {
    const RunResult r = run({"ffmpeg", "-hide_banner", flag}, 60, separateStderr());
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string flags, word;
        if (words >> flags >> word && word == name)
            return true;
    }
    return false;
}
} // namespace

// `ffmpeg -encoders` lines read " V..... name  description"; `-muxers` " E name  description".
bool hasEncoder(const std::string& name) {
    return listed("-encoders", name);
}
bool hasMuxer(const std::string& name) {
    return listed("-muxers", name);
}

} // namespace coretest
