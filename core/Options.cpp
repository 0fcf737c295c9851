#include "Options.h"
#include "PlexcoreContract.h"

#include "FFmpeg.h"
#include "FrameRate.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

namespace plexavo::core {
namespace {

// The program may put its access code first; it carries no meaning for the core.
bool isAccessCode(const std::string& a) {
    // Also accepted trimmed, as a shell user would type it.
    static const std::string trimmed = [] {
        std::string s = plexavo::contract::kAccessCode;
        s.erase(0, s.find_first_not_of(' '));
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    }();
    return a == plexavo::contract::kAccessCode || a == trimmed;
}

[[noreturn]] void bad(const std::string& msg) {
    throw UsageError(msg);
}

double parseNumber(const std::string& opt, const std::string& v) {
    if (v.empty())
        bad("option " + opt + " needs a number");
    char* end = nullptr;
    double d = std::strtod(v.c_str(), &end);
    if (end == v.c_str() || *end != '\0' || !std::isfinite(d))
        bad("option " + opt + ": '" + v + "' is not a number");
    return d;
}

int parseInt(const std::string& opt, const std::string& v, int lo, int hi) {
    double d = parseNumber(opt, v);
    if (d != std::floor(d) || d < lo || d > hi)
        bad("option " + opt + ": '" + v + "' must be a whole number from " + std::to_string(lo) +
            " to " + std::to_string(hi));
    return static_cast<int>(d);
}

// The program writes rates in kb/s; a trailing k or M is accepted for hand use.
int64_t parseRate(const std::string& opt, const std::string& v) {
    std::string num = v;
    double scale = 1000.0;
    if (!num.empty() && (num.back() == 'k' || num.back() == 'K')) {
        num.pop_back();
    } else if (!num.empty() && num.back() == 'M') {
        num.pop_back();
        scale = 1000000.0;
    }
    double d = parseNumber(opt, num);
    double bps = d * scale;
    if (bps < 1000.0 || bps > 200e6)
        bad("option " + opt + ": rate '" + v + "' (kb/s) is out of range");
    return static_cast<int64_t>(std::llround(bps));
}

// A rate of 0 is the natural way to say "not set".
std::optional<int64_t> parseOptionalRate(const std::string& opt, const std::string& v) {
    if (v == "0" || v == "0k" || v == "0.0")
        return std::nullopt;
    return parseRate(opt, v);
}

int64_t parseTime(const std::string& opt, const std::string& v) {
    int64_t us = 0;
    if (v.empty() || av_parse_time(&us, v.c_str(), 1) < 0)
        bad("option " + opt + ": '" + v + "' is not a time (seconds or HH:MM:SS)");
    if (us < 0)
        bad("option " + opt + ": time must not be negative");
    return us;
}

void parseTarget(const std::string& v, Options& o) {
    std::string kind = v;
    auto strip = [&](const char* prefix, TvNorm n) {
        size_t len = std::char_traits<char>::length(prefix);
        if (kind.compare(0, len, prefix) == 0) {
            o.norm = n;
            kind = kind.substr(len);
            return true;
        }
        return false;
    };
    strip("ntsc-", TvNorm::Ntsc) || strip("pal-", TvNorm::Pal) || strip("film-", TvNorm::Film);
    if (kind == "dvd")
        o.disc = DiscKind::Dvd;
    else if (kind == "vcd")
        o.disc = DiscKind::Vcd;
    else if (kind == "svcd")
        o.disc = DiscKind::Svcd;
    else if (kind == "dv")
        o.disc = DiscKind::Dv;
    else
        bad("option -target: unknown target '" + v +
            "' (use ntsc-, pal- or film- followed by dvd, vcd, svcd or dv)");
}

// The options read so far; -resume names the output, settled only once all are read.
struct Parsing {
    Options o;
    std::optional<std::string> resumed;
};

void takeVideoCodec(Parsing& p, const std::string& opt, const std::string& v) {
    if (v == "xvid" || v == "mpeg4")
        p.o.vcodec = VideoCodecChoice::Xvid;
    else if (v == "h264" || v == "libx264")
        p.o.vcodec = VideoCodecChoice::H264;
    else
        bad("option " + opt + ": unknown codec '" + v + "' (use xvid or h264)");
}

void takePixelFormat(Parsing& p, const std::string& opt, const std::string& v) {
    if (av_get_pix_fmt(v.c_str()) == AV_PIX_FMT_NONE)
        bad("option " + opt + ": unknown pixel format '" + v + "'");
    p.o.pixFmt = v;
}

void takeSize(Parsing& p, const std::string& opt, const std::string& v) {
    int w = 0, h = 0;
    if (av_parse_video_size(&w, &h, v.c_str()) < 0 || w < 16 || h < 16 || w > 4096 || h > 4096)
        bad("option " + opt + ": '" + v + "' is not a size like 640x480");
    p.o.width = w;
    p.o.height = h;
}

void takeFrameRate(Parsing& p, const std::string& opt, const std::string& v) {
    AVRational r{0, 1};
    if (av_parse_video_rate(&r, v.c_str()) < 0 || av_q2d(r) < 1.0 || av_q2d(r) > 120.0)
        bad("option " + opt + ": '" + v + "' is not a frame rate from 1 to 120");
    // Typed decimals (29.97) become the exact NTSC fractions the codecs expect.
    const AVRational snapped = snapRate(r);
    p.o.frameRate = Rational{snapped.num, snapped.den};
}

void takeDuration(Parsing& p, const std::string& opt, const std::string& v) {
    const int64_t t = parseTime(opt, v);
    if (t > 0)
        p.o.durationUs = t;
    else
        p.o.durationUs.reset();
}

std::string fileNameOf(const std::string& opt, const std::string& v) {
    if (v.empty())
        bad("option " + opt + " needs a file name");
    return v;
}

void takeCapabilityQuestion(Parsing& p, const std::string& opt, const std::string& v) {
    if (v != "wmv" && v != "ogm")
        bad("option " + opt + ": unknown target '" + v + "' (use wmv or ogm)");
    p.o.askedForCapability = true;
    p.o.capability = v;
}

using Handler = std::function<void(Parsing& p, const std::string& opt, const std::string& v)>;

// The options that take a value, each with what it does with it.
const std::map<std::string, Handler>& valueOptions() {
    static const std::map<std::string, Handler> table = {
        {"-i", [](auto& p, auto&, auto& v) { p.o.input = v; }},
        {"-title", [](auto& p, auto&, auto& v) { p.o.title = v; }},
        {"-vcodec", takeVideoCodec},
        {"-pix_fmt", takePixelFormat},
        {"-s", takeSize},
        {"-r", takeFrameRate},
        {"-b", [](auto& p, auto& opt, auto& v) { p.o.videoBitrate = parseOptionalRate(opt, v); }},
        {"-bt", [](auto& p, auto& opt, auto& v) { p.o.varBitrate = parseOptionalRate(opt, v); }},
        {"-maxrate", [](auto& p, auto& opt, auto& v) { p.o.maxRate = parseOptionalRate(opt, v); }},
        {"-minrate", [](auto& p, auto& opt, auto& v) { p.o.minRate = parseOptionalRate(opt, v); }},
        {"-ab", [](auto& p, auto& opt, auto& v) { p.o.audioBitrate = parseOptionalRate(opt, v); }},
        {"-ac", [](auto& p, auto& opt, auto& v) { p.o.channels = parseInt(opt, v, 1, 8); }},
        {"-ar",
         [](auto& p, auto& opt, auto& v) { p.o.sampleRate = parseInt(opt, v, 8000, 96000); }},
        {"-ss", [](auto& p, auto& opt, auto& v) { p.o.startUs = parseTime(opt, v); }},
        {"-t", takeDuration},
        {"-target", [](auto& p, auto&, auto& v) { parseTarget(v, p.o); }},
        {plexavo::contract::kCanResumeOption,
         [](auto& p, auto& opt, auto& v) { p.o.canResume = fileNameOf(opt, v); }},
        {plexavo::contract::kResumeOption,
         [](auto& p, auto& opt, auto& v) { p.resumed = fileNameOf(opt, v); }},
        {plexavo::contract::kCanWriteOption, takeCapabilityQuestion},
    };
    return table;
}

void readArguments(Parsing& p, const std::vector<std::string>& args, size_t first) {
    const auto& withValue = valueOptions();
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool last = i + 1 == args.size();
        auto it = withValue.find(a);
        if (it != withValue.end()) {
            if (last)
                bad("option " + a + " needs a value");
            it->second(p, a, args[++i]);
            continue;
        }
        if (a == "-y") {
            p.o.overwrite = true;
            continue;
        }
        if (a == plexavo::contract::kClaimOption) {
            p.o.claim = true;
            continue;
        }
        // The output path is always the last argument and may itself begin with '-'.
        if (last && !a.empty()) {
            p.o.output = a;
            continue;
        }
        if (!a.empty() && a[0] == '-')
            bad("unknown option '" + a + "'");
        bad("unexpected argument '" + a + "' (the output file must come last)");
    }
}

// What no single option can check: the ones that exclude or need each other.
void settleOptions(Parsing& p) {
    Options& o = p.o;
    if (o.canResume && p.resumed)
        bad("options -can-resume and -resume do not go together");
    if ((o.canResume || p.resumed) && o.output)
        bad("unexpected argument '" + *o.output + "' (-can-resume and -resume name the output)");
    if (p.resumed) {
        o.resume = true;
        o.output = p.resumed;
    }
    if (!o.input)
        bad("no input file given (use -i FILE)");
    if (o.input->empty())
        bad("the input file name is empty");
    if (o.maxRate && o.minRate && *o.minRate > *o.maxRate)
        bad("option -minrate must not be above -maxrate");
}

// Bytes that would break the one-line form, and the escape itself, as %XX.
std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f || c == '%' || c == ' ') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::string canonicalSettings(const Options& o) {
    std::string s;
    const auto add = [&s](const char* key, const std::string& value) {
        if (!s.empty())
            s += ' ';
        s += key;
        s += '=';
        s += value;
    };
    const auto number = [](const auto& v) { return v ? std::to_string(*v) : std::string("-"); };
    add("vcodec", o.vcodec == VideoCodecChoice::Xvid ? "xvid" : "h264");
    add("pix_fmt", escaped(o.pixFmt.value_or("yuv420p")));
    add("size", o.width && o.height ? std::to_string(*o.width) + "x" + std::to_string(*o.height)
                                    : std::string("-"));
    add("rate", o.frameRate
                    ? std::to_string(o.frameRate->num) + "/" + std::to_string(o.frameRate->den)
                    : std::string("-"));
    add("b", number(o.videoBitrate));
    add("bt", number(o.varBitrate));
    add("maxrate", number(o.maxRate));
    add("minrate", number(o.minRate));
    add("ab", number(o.audioBitrate));
    add("ac", number(o.channels));
    add("ar", number(o.sampleRate));
    add("ss", std::to_string(o.startUs.value_or(0)));
    add("t", std::to_string(o.durationUs.value_or(0)));
    static const char* const norms[] = {"guess", "ntsc", "pal", "film"};
    static const char* const discs[] = {"none", "dvd", "vcd", "svcd", "dv"};
    add("target", o.disc == DiscKind::None ? std::string("none")
                                           : std::string(norms[static_cast<int>(o.norm)]) + "-" +
                                                 discs[static_cast<int>(o.disc)]);
    add("title", o.title ? "'" + escaped(*o.title) + "'" : std::string("-"));
    return s;
}

Options parseOptions(const std::vector<std::string>& args) {
    Parsing p;
    readArguments(p, args, !args.empty() && isAccessCode(args[0]) ? 1 : 0);
    if (p.o.askedForCapability)
        return p.o;
    settleOptions(p);
    return p.o;
}

} // namespace plexavo::core
