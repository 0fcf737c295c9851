#include "Probe.h"
#include "PlexcoreContract.h"

#include "Console.h"
#include "Extras.h"
#include "Languages.h"
#include "OutputFile.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plexavo::core {
namespace {

extern "C" int interruptOnStop(void*) {
    return stopRequested() ? 1 : 0;
}

std::string formatRate(AVRational r) {
    double v = av_q2d(r);
    char buf[32];
    if (std::fabs(v - std::round(v)) < 0.005)
        std::snprintf(buf, sizeof buf, "%d", static_cast<int>(std::lround(v)));
    else
        std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

// The program splits the line at its first two colons, so the language holds no colon
// (nor anything else odd): letters and digits only.
std::string languageOf(const AVStream* st) {
    const AVDictionaryEntry* e = av_dict_get(st->metadata, "language", nullptr, 0);
    if (!e || !e->value)
        return {};
    std::string lang;
    for (const char* p = e->value; *p && lang.size() < 8; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p)))
            lang += *p;
    return lang;
}

int64_t knownBitrate(const AVStream* st) {
    const AVCodecParameters* par = st->codecpar;
    if (par->bit_rate > 0)
        return par->bit_rate;
    // Matroska muxers usually leave the rate in a tag.
    for (const char* key : {"BPS", "BPS-eng"})
        if (const AVDictionaryEntry* e = av_dict_get(st->metadata, key, nullptr, 0)) {
            long long v = std::atoll(e->value);
            if (v > 0)
                return v;
        }
    int bits = av_get_bits_per_sample(par->codec_id);
    if (bits > 0 && par->sample_rate > 0 && par->ch_layout.nb_channels > 0)
        return static_cast<int64_t>(bits) * par->sample_rate * par->ch_layout.nb_channels;
    return 0;
}

std::string videoDescription(const AVStream* st, int64_t bitrate) {
    const AVCodecParameters* par = st->codecpar;
    std::string d = avcodec_get_name(par->codec_id);
    if (const char* prof = avcodec_profile_name(par->codec_id, par->profile))
        d += std::string(" (") + prof + ")";
    const char* pix = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format));
    d += std::string(", ") + (pix ? pix : "unknown");
    d += ", " + std::to_string(par->width) + "x" + std::to_string(par->height);
    AVRational sar =
        st->sample_aspect_ratio.num > 0 ? st->sample_aspect_ratio : par->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = {1, 1};
    AVRational dar{1, 1};
    if (par->width > 0 && par->height > 0)
        av_reduce(&dar.num, &dar.den, static_cast<int64_t>(par->width) * sar.num,
                  static_cast<int64_t>(par->height) * sar.den, 1024 * 1024);
    av_reduce(&sar.num, &sar.den, sar.num, sar.den, 1024 * 1024);
    d += " [SAR " + std::to_string(sar.num) + ":" + std::to_string(sar.den) + " DAR " +
         std::to_string(dar.num) + ":" + std::to_string(dar.den) + "]";
    if (bitrate > 0)
        d += ", " + std::to_string(bitrate / 1000) + " kb/s";
    AVRational fps = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate
                                                                              : st->r_frame_rate;
    if (fps.num > 0 && fps.den > 0)
        d += ", " + formatRate(fps) + " fps";
    return d;
}

std::string audioDescription(const AVStream* st, int64_t bitrate) {
    const AVCodecParameters* par = st->codecpar;
    std::string d = avcodec_get_name(par->codec_id);
    // As for video: "aac (LC)", read by the program as codec and profile.
    if (const char* prof = avcodec_profile_name(par->codec_id, par->profile))
        d += std::string(" (") + prof + ")";
    d += ", " + std::to_string(par->sample_rate) + " Hz";
    char layout[128] = "unknown";
    if (par->ch_layout.nb_channels > 0) {
        if (par->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            std::snprintf(layout, sizeof layout, "%d channels", par->ch_layout.nb_channels);
        else
            av_channel_layout_describe(&par->ch_layout, layout, sizeof layout);
    }
    d += std::string(", ") + layout;
    const char* fmt = av_get_sample_fmt_name(static_cast<AVSampleFormat>(par->format));
    d += std::string(", ") + (fmt ? fmt : "unknown");
    if (bitrate > 0)
        d += ", " + std::to_string(bitrate / 1000) + " kb/s";
    return d;
}

std::string subtitleDescription(AVCodecID codec, bool isDefault, bool forced) {
    std::string d = std::string("Subtitle: ") + avcodec_get_name(codec) +
                    (isTextSubtitle(codec) ? " (text)" : " (picture)");
    if (isDefault)
        d += ", default";
    if (forced)
        d += ", forced";
    return d;
}

// The lines of the subtitle files beside the source, numbered as further inputs (#1.0,
// #2.0 ...); a file FFmpeg cannot read as subtitles is left out, as the conversion does.
std::vector<std::string> sideFileLines(const std::string& path) {
    std::vector<std::string> lines;
    const std::string sourceName = path.substr(path.rfind('/') + 1);
    for (const std::string& side : findSideFiles(path)) {
        const std::string name = side.substr(side.rfind('/') + 1);
        const std::optional<SideFileName> tags = readSideFileName(sourceName, name);
        AVFormatContext* raw = avformat_alloc_context();
        if (!tags || !raw)
            continue;
        raw->interrupt_callback.callback = interruptOnStop;
        if (avformat_open_input(&raw, fileUrl(side).c_str(), nullptr, nullptr) < 0)
            continue;
        const InputPtr file(raw);
        if (avformat_find_stream_info(file.get(), nullptr) < 0)
            continue;
        for (unsigned i = 0; i < file->nb_streams; ++i) {
            const AVStream* st = file->streams[i];
            if (st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE ||
                !isTextSubtitle(st->codecpar->codec_id))
                continue;
            const std::string lang =
                !tags->language.empty() ? tags->language : deviceLanguage(languageOf(st));
            lines.push_back(
                "    Stream #" + std::to_string(lines.size() + 1) + ".0" +
                (lang.empty() ? "" : "(" + lang + ")") + ": " +
                subtitleDescription(st->codecpar->codec_id, tags->isDefault, tags->forced) +
                ", from " + oneLine(cutUtf8(name, 120)) + "\n");
            break;
        }
    }
    return lines;
}

std::string durationText(int64_t us) {
    if (us == AV_NOPTS_VALUE || us < 0)
        return "N/A";
    // Rounded to the hundredth the way the line shows it.
    int64_t d = us + 5000;
    int64_t secs = d / AV_TIME_BASE;
    int64_t cs = (d % AV_TIME_BASE) / 10000;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%02lld",
                  static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                  static_cast<long long>(secs % 60), static_cast<long long>(cs));
    return buf;
}

// Reads packets from the current position until the end or the budget runs out and returns
// the latest end time seen, in microseconds, relative to the container's time zero.
struct Scan {
    int64_t endUs = AV_NOPTS_VALUE;
    int64_t summedUs = 0; // for streams without timestamps: durations added up
    bool complete = false;
    std::map<int, int64_t> bytes; // per stream, for rates the container does not state
};

Scan scanPackets(AVFormatContext* ic, std::chrono::steady_clock::time_point deadline,
                 int maxPackets) {
    Scan s;
    PacketPtr pkt = makePacket();
    std::map<int, int64_t> summed;
    for (int n = 0; n < maxPackets; ++n) {
        if ((n & 63) == 0 && std::chrono::steady_clock::now() > deadline)
            return s;
        int err = av_read_frame(ic, pkt.get());
        if (err == AVERROR_EOF) {
            s.complete = true;
            break;
        }
        if (err < 0) {
            if (err == AVERROR(EAGAIN))
                continue;
            s.complete = true; // a damaged tail ends the scan like the end of the file
            break;
        }
        const AVStream* st = ic->streams[pkt->stream_index];
        const int type = st->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) {
            int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            int64_t dur = pkt->duration > 0 ? pkt->duration : 0;
            if (ts != AV_NOPTS_VALUE) {
                int64_t end = av_rescale_q(ts + dur, st->time_base, AV_TIME_BASE_Q);
                if (s.endUs == AV_NOPTS_VALUE || end > s.endUs)
                    s.endUs = end;
            }
            summed[pkt->stream_index] += av_rescale_q(dur, st->time_base, AV_TIME_BASE_Q);
            s.bytes[pkt->stream_index] += pkt->size;
        }
        av_packet_unref(pkt.get());
    }
    for (auto& [idx, us] : summed)
        s.summedUs = std::max(s.summedUs, us);
    return s;
}

int64_t measureDuration(AVFormatContext* ic, std::map<int, int64_t>* bytes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
    const int64_t size = ic->pb ? avio_size(ic->pb) : -1;
    const int64_t start = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    const bool seekable = ic->pb && (ic->pb->seekable & AVIO_SEEKABLE_NORMAL);

    // Small files: read every packet once (no decoding), which also covers streams that
    // carry no timestamps at all.
    if (size > 0 && size <= 64LL * 1024 * 1024) {
        Scan s = scanPackets(ic, deadline, 2000000);
        if (s.complete) {
            if (bytes)
                *bytes = s.bytes;
            int64_t byTs = s.endUs != AV_NOPTS_VALUE ? s.endUs - start : 0;
            int64_t d = std::max(byTs, s.summedUs);
            return d > 0 ? d : AV_NOPTS_VALUE;
        }
        return AV_NOPTS_VALUE;
    }
    // Large files: the timestamps of the last few megabytes tell the end.
    if (seekable && size > 0 && !(ic->iformat->flags & AVFMT_NOTIMESTAMPS)) {
        int64_t from = std::max<int64_t>(0, size - 4 * 1024 * 1024);
        if (avformat_seek_file(ic, -1, from, from, size, AVSEEK_FLAG_BYTE) >= 0) {
            Scan s = scanPackets(ic, deadline, 20000);
            if (s.endUs != AV_NOPTS_VALUE && s.endUs > start)
                return s.endUs - start;
        }
    }
    return AV_NOPTS_VALUE;
}

} // namespace

bool isTextSubtitle(AVCodecID codec) {
    const AVCodecDescriptor* desc = avcodec_descriptor_get(codec);
    return desc && (desc->props & AV_CODEC_PROP_TEXT_SUB) &&
           !(desc->props & AV_CODEC_PROP_BITMAP_SUB);
}

bool isRealVideo(const AVStream* st) {
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

InputPtr openInput(const std::string& path) {
    struct stat sb {};
    if (::stat(path.c_str(), &sb) != 0)
        throw Failure("cannot open input '" + path + "': " + std::strerror(errno));
    if (S_ISDIR(sb.st_mode))
        throw Failure("cannot open input '" + path + "': it is a folder");
    if (S_ISREG(sb.st_mode) && sb.st_size == 0)
        throw Failure("cannot read input '" + path + "': the file is empty");

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw Failure("out of memory");
    raw->interrupt_callback.callback = interruptOnStop;
    int err = avformat_open_input(&raw, fileUrl(path).c_str(), nullptr, nullptr);
    if (err < 0) {
        if (err == AVERROR_EXIT)
            throw Failure("stopped while opening the input");
        std::string why =
            err == AVERROR_INVALIDDATA ? "not a media file, or damaged" : avErrorText(err);
        throw Failure("cannot read input '" + path + "': " + why);
    }
    InputPtr in(raw);
    // These demuxers render any text or binary file as a picture of characters; for a
    // media converter such a file is simply not media.
    static const char* const notMedia[] = {"tty", "bin", "xbin", "adf", "idf"};
    for (const char* name : notMedia)
        if (std::strcmp(in->iformat->name, name) == 0)
            throw Failure("cannot read input '" + path + "': not a media file");
    err = avformat_find_stream_info(in.get(), nullptr);
    if (err < 0) {
        if (err == AVERROR_EXIT)
            throw Failure("stopped while reading the input");
        throw Failure("cannot read input '" + path + "': " + avErrorText(err));
    }
    return in;
}

int64_t knownDuration(AVFormatContext* ic, std::map<int, int64_t>* bytes) {
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0 &&
        ic->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
        return ic->duration;
    int64_t measured = measureDuration(ic, bytes);
    if (measured != AV_NOPTS_VALUE)
        return measured;
    // A bitrate guess beats nothing.
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0)
        return ic->duration;
    return AV_NOPTS_VALUE;
}

namespace {

// The streams the report lists, with what their own headers tell of their bit rates.
struct ShownStreams {
    std::vector<int> indices;
    int64_t sumKnown = 0;
    int unknown = -1, unknownCount = 0;
};

ShownStreams shownStreams(const AVFormatContext* ic) {
    ShownStreams s;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        const int type = st->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_AUDIO && !(type == AVMEDIA_TYPE_VIDEO && isRealVideo(st)))
            continue;
        s.indices.push_back(static_cast<int>(i));
        int64_t br = knownBitrate(st);
        if (br > 0)
            s.sumKnown += br;
        else {
            s.unknown = static_cast<int>(i);
            ++s.unknownCount;
        }
    }
    return s;
}

int64_t totalBitrate(AVFormatContext* ic, int64_t duration) {
    int64_t total = ic->bit_rate;
    if (total <= 0 && duration != AV_NOPTS_VALUE && duration > 0 && ic->pb) {
        int64_t size = avio_size(ic->pb);
        if (size > 0)
            total = av_rescale(size * 8, AV_TIME_BASE, duration);
    }
    return total;
}

std::vector<std::string> streamLines(const AVFormatContext* ic, const ShownStreams& shown,
                                     int64_t total, int64_t duration,
                                     std::map<int, int64_t>& scannedBytes) {
    std::vector<std::string> lines;
    for (int idx : shown.indices) {
        const AVStream* st = ic->streams[idx];
        int64_t br = knownBitrate(st);
        // Containers such as Matroska give only the total; one unknown stream gets the rest.
        if (br <= 0 && shown.unknownCount == 1 && idx == shown.unknown && total > shown.sumKnown)
            br = total - shown.sumKnown;
        if (br <= 0 && duration > 0 && scannedBytes.count(idx))
            br = av_rescale(scannedBytes[idx] * 8, AV_TIME_BASE, duration);
        std::string desc = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
                               ? "Video: " + videoDescription(st, br)
                               : "Audio: " + audioDescription(st, br);
        if (desc.size() > 200)
            desc.resize(200);
        std::string lang = languageOf(st);
        lines.push_back("    Stream #0." + std::to_string(idx) +
                        (lang.empty() ? "" : "(" + lang + ")") + ": " + desc + "\n");
    }
    return lines;
}

// The subtitle streams inside the file, then those in files beside it.
std::vector<std::string> subtitleLines(const AVFormatContext* ic, const std::string& path) {
    std::vector<std::string> lines;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        const std::string lang = languageOf(st);
        lines.push_back(
            "    Stream #0." + std::to_string(i) + (lang.empty() ? "" : "(" + lang + ")") + ": " +
            subtitleDescription(st->codecpar->codec_id, st->disposition & AV_DISPOSITION_DEFAULT,
                                st->disposition & AV_DISPOSITION_FORCED) +
            "\n");
    }
    for (std::string& line : sideFileLines(path))
        lines.push_back(std::move(line));
    return lines;
}

std::string reportHead(const AVFormatContext* ic, const std::string& path, int64_t duration,
                       int64_t total) {
    std::string shownPath = path;
    if (shownPath.size() > 600)
        shownPath = shownPath.substr(0, 597) + "...";
    std::string head = std::string("Plexcore ") + PLEXCORE_VERSION + ", libavformat " +
                       AV_STRINGIFY(LIBAVFORMAT_VERSION) + "\n";
    head += std::string("Input #0, ") + ic->iformat->name + ", from '" + shownPath + "':\n";
    char startBuf[64];
    int64_t st = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    std::snprintf(startBuf, sizeof startBuf, "%s%lld.%06lld", st < 0 ? "-" : "",
                  static_cast<long long>(std::llabs(st) / AV_TIME_BASE),
                  static_cast<long long>(std::llabs(st) % AV_TIME_BASE));
    head += "  Duration: " + durationText(duration) + ", start: " + startBuf + ", bitrate: " +
            (total > 0 ? std::to_string(total / 1000) + " kb/s" : std::string("N/A")) + "\n";
    return head;
}

// The program reads a single write: whole lines only, within its buffer.
std::string fittedReport(const std::string& head, const std::vector<std::string>& streams,
                         const std::vector<std::string>& subtitles,
                         const std::string& chapterLine) {
    const std::string tail = "At least one output file must be specified\n";
    const size_t limit = plexavo::contract::kProbeReportMax;
    std::string out = head;
    for (const auto& l : streams)
        if (out.size() + l.size() + tail.size() <= limit)
            out += l;
    // The chapter count is short and comes before the subtitle lines in what is kept.
    const size_t chapters =
        out.size() + chapterLine.size() + tail.size() <= limit ? chapterLine.size() : 0;
    for (const auto& l : subtitles)
        if (out.size() + l.size() + chapters + tail.size() <= limit)
            out += l;
    if (chapters > 0)
        out += chapterLine;
    out += tail;
    return out;
}

} // namespace

int runProbe(const std::string& path) {
    InputPtr in = openInput(path);
    AVFormatContext* ic = in.get();

    // Stream descriptions first: measuring the duration may move the read position.
    const ShownStreams shown = shownStreams(ic);
    std::map<int, int64_t> scannedBytes;
    const int64_t duration = knownDuration(ic, &scannedBytes);
    const int64_t total = totalBitrate(ic, duration);
    const std::vector<std::string> streams = streamLines(ic, shown, total, duration, scannedBytes);
    // Subtitles and chapters after the sound tracks: lines older readers pass over.
    const std::vector<std::string> subtitles = subtitleLines(ic, path);
    const std::string chapterLine =
        ic->nb_chapters > 0 ? "  Chapters: " + std::to_string(ic->nb_chapters) + "\n" : "";
    printRaw(fittedReport(reportHead(ic, path, duration, total), streams, subtitles, chapterLine));
    return 1;
}

} // namespace plexavo::core
