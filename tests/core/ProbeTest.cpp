// Probing a source: the program starts the core with only an input, does ONE
// blocking read of one buffer (less its terminator) and kills it. Everything it needs (duration and
// every stream) must therefore arrive in that one read, in the shape it parses.
#include "support/Checks.h"
#include "support/Core.h"
#include "support/Fixtures.h"
#include "support/Media.h"

#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <regex>

using namespace coretest;

namespace {

// What the program would get from its single read.
std::string probeLikeTheProgram(const std::string& input) {
    Child child(coreArgv({"-i", input}));
    if (!child.started())
        return {};
    std::string text = child.readOnce(plexavo::contract::kProbeReportMax);
    child.signal(SIGKILL);
    child.wait(5000);
    return text;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const auto nl = text.find('\n', pos);
        lines.push_back(text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
        if (nl == std::string::npos)
            break;
        pos = nl + 1;
    }
    return lines;
}

std::string capitalised(std::string kind) {
    if (!kind.empty())
        kind[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(kind[0])));
    return kind;
}

bool hasToken(const std::string& text, const std::string& token) {
    return std::regex_search(text, std::regex("(^|[^0-9A-Za-z_])" + token + "([^0-9A-Za-z_]|$)"));
}

struct ProbeCase {
    const char* name;
    const char* fixture;
    double knownDuration; // > 0 where the container itself records none
};

void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << c.name;
}

class ProbeReport : public ::testing::TestWithParam<ProbeCase> {};

} // namespace

TEST_P(ProbeReport, OneReadHoldsDurationAndEveryStream) {
    const ProbeCase& c = GetParam();
    if (std::string(c.fixture) == "webm" && !(hasEncoder("libvpx-vp9") && hasEncoder("libopus")))
        GTEST_SKIP() << "this ffmpeg cannot make VP9 + Opus";
    const std::string src = fixture(c.fixture);
    const ProbeInfo ref = ProbeInfo::of(src);
    ASSERT_TRUE(ref.ok) << ref.error;

    const std::string text = probeLikeTheProgram(src);
    ASSERT_FALSE(text.empty()) << "nothing arrived";
    SCOPED_TRACE("one read gave:\n" + text);
    EXPECT_EQ(text.back(), '\n') << "the read ends inside a line";
    EXPECT_EQ(text.find('\r'), std::string::npos);
    const auto lines = linesOf(text);

    // A banner first, then the input line naming the demuxer and the path as given.
    ASSERT_GE(lines.size(), 3u);
    EXPECT_FALSE(lines[0].empty());
    EXPECT_NE(lines[0].rfind("Input #", 0), 0u) << "no banner line";
    size_t in = 0;
    while (in < lines.size() && lines[in].rfind("Input #0, ", 0) != 0)
        ++in;
    ASSERT_LT(in, lines.size()) << "no Input line";
    EXPECT_EQ(lines[in], "Input #0, " + ref.format("format_name") + ", from '" + src + "':");

    // The duration line comes straight after: no metadata may push the streams out of the read.
    ASSERT_LT(in + 1, lines.size());
    static const std::regex durationLine(
        R"(^  Duration: ((\d\d):(\d\d):(\d\d)\.(\d\d)), start: (-?\d+\.\d{6}), bitrate: (\d+ kb/s|N/A)$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[in + 1], m, durationLine)) << lines[in + 1];
    const double shown =
        std::stoi(m[2]) * 3600 + std::stoi(m[3]) * 60 + std::stoi(m[4]) + std::stoi(m[5]) / 100.0;
    const double expected =
        c.knownDuration > 0 ? c.knownDuration : ref.formatNum("duration").value();
    EXPECT_NEAR(shown, expected, c.knownDuration > 0 ? 0.1 : 0.011) << "duration";
    // The program reads the text up to the first ',' after the first "Duration: ".
    const auto d = text.find("Duration: ");
    EXPECT_EQ(text.substr(d + 10, text.find(',', d) - d - 10), m[1].str());
    if (auto start = ref.formatNum("start_time")) {
        EXPECT_NEAR(std::stod(m[6]), *start, 0.001) << "start";
    }
    const std::string bitrate = m[7];
    if (auto rate = ref.formatNum("bit_rate")) {
        ASSERT_NE(bitrate, "N/A") << "bitrate known to ffprobe: " << *rate;
        EXPECT_NEAR(std::stod(bitrate), *rate / 1000, std::max(2.0, *rate / 1000 * 0.03));
    } else if (bitrate != "N/A") {
        const double measured = fileSize(src) * 8.0 / expected / 1000;
        EXPECT_NEAR(std::stod(bitrate), measured, measured * 0.1);
    }

    // One line per stream, numbered "0.N", right after the duration, with the
    // first two colons after the number and after the kind.
    static const std::regex head(R"(^0\.(\d+)(\[0x[0-9a-fA-F]+\])?(\(([^():]*)\))?$)");
    std::vector<std::string> streamLines;
    for (size_t i = in + 2; i < lines.size() && lines[i].rfind("    Stream #", 0) == 0; ++i)
        streamLines.push_back(lines[i].substr(12));
    const int expectedStreams = ref.count("video") + ref.count("audio");
    ASSERT_EQ(static_cast<int>(streamLines.size()), expectedStreams)
        << "stream lines missing from the read or not straight after the duration";
    EXPECT_EQ(text.find("Stream #0:"), std::string::npos) << "streams numbered 0:N";
    for (int i = 0; i < expectedStreams; ++i) {
        const std::string& s = streamLines[i];
        SCOPED_TRACE("stream line: " + s);
        const auto c1 = s.find(':');
        const auto c2 = s.find(':', c1 + 1);
        ASSERT_NE(c2, std::string::npos);
        std::smatch hm;
        const std::string number = s.substr(0, c1);
        ASSERT_TRUE(std::regex_match(number, hm, head)) << "bad stream number part: " << number;
        EXPECT_EQ(std::stoi(hm[1]), i);
        const std::string lang = ref.stream(i, "tags.language");
        if (!lang.empty() && lang != "und") {
            EXPECT_EQ(hm[4].str(), lang);
        }
        const std::string kind = ref.stream(i, "codec_type");
        EXPECT_EQ(s.substr(c1 + 1, c2 - c1 - 1), " " + capitalised(kind));
        const std::string desc = s.substr(c2 + 1);
        EXPECT_TRUE(hasToken(desc, ref.stream(i, "codec_name"))) << "codec name missing";
        // The profile, by the ffmpeg tool's name for it, straight after the codec: the
        // program reads "aac (LC)" as codec and profile, for audio as for video.
        const std::string profile = ref.stream(i, "profile");
        const bool named = !profile.empty() && profile != "unknown" &&
                           !std::isdigit(static_cast<unsigned char>(profile[0])) &&
                           profile[0] != '-';
        if (named) {
            EXPECT_EQ(desc.rfind(" " + ref.stream(i, "codec_name") + " (" + profile + "), ", 0), 0u)
                << "profile " << profile << " missing";
        } else {
            EXPECT_NE(desc.rfind(" " + ref.stream(i, "codec_name") + " (", 0), 0u)
                << "a profile ffprobe does not know";
        }
        if (kind == "video") {
            EXPECT_TRUE(hasToken(desc, ref.stream(i, "width") + "x" + ref.stream(i, "height")))
                << "picture size missing";
        }
        if (kind == "audio") {
            EXPECT_NE(desc.find(ref.stream(i, "sample_rate") + " Hz"), std::string::npos)
                << "sample rate missing";
        }
    }
}

TEST_P(ProbeReport, EndsSayingAnOutputFileIsNeeded) {
    const ProbeCase& c = GetParam();
    if (std::string(c.fixture) == "webm" && !(hasEncoder("libvpx-vp9") && hasEncoder("libopus")))
        GTEST_SKIP() << "this ffmpeg cannot make VP9 + Opus";
    const std::string src = fixture(c.fixture);
    const RunResult r = run(coreArgv({"-i", src}), 60);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.termSignal, 0);
    EXPECT_NE(r.exitCode, 0);
    const auto lines = splitLines(r.out);
    ASSERT_FALSE(lines.empty());
    std::string last = lines.back();
    for (auto& ch : last)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_NE(last.find("output file"), std::string::npos) << "last line: " << lines.back();
    EXPECT_EQ(r.out.back(), '\n');
    // Whatever follows the report, the report itself is what the single read sees first.
    const auto streamsEnd = r.out.rfind("    Stream #");
    ASSERT_NE(streamsEnd, std::string::npos);
    EXPECT_LE(r.out.find('\n', streamsEnd) + 1, plexavo::contract::kProbeReportMax)
        << "the report outgrows one read";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ProbeReport,
    ::testing::Values(
        ProbeCase{"Mp4", "mp4", 0}, ProbeCase{"Matroska", "mkv", 0}, ProbeCase{"Avi", "avi", 0},
        ProbeCase{"QuickTime", "mov", 0}, ProbeCase{"WebM", "webm", 0},
        ProbeCase{"MpegTs", "ts", 0}, ProbeCase{"Mp3", "mp3", 0}, ProbeCase{"Wav", "wav", 0},
        ProbeCase{"M4a", "m4a", 0}, ProbeCase{"VideoOnly", "video-only", 0},
        ProbeCase{"OddSize", "odd", 0}, ProbeCase{"NonSquarePixels", "sar", 0},
        ProbeCase{"Surround", "surround", 0}, ProbeCase{"ManyStreamsLongTags", "many-streams", 0},
        // Containers without a recorded duration: it has to be measured.
        ProbeCase{"RawH264", "raw-h264", 3.0}, ProbeCase{"PipedMatroska", "pipe-mkv", 3.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Probe, MissingInputIsOneErrorLine) {
    TempDir dir;
    const RunResult r = run(coreArgv({"-i", dir / "nothing here.mp4"}), 60);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.termSignal, 0);
    EXPECT_EQ(linesStartingWith(r.out, "Error: ").size(), 1u) << r.out;
}

// ---------------------------------------------------------------------------
// Subtitles and chapters: lines of their own after the sound tracks, which older readers of
// the report pass over.

TEST(ProbeExtras, SubtitlesAndChaptersFollowTheSoundTracks) {
    TempDir dir;
    const std::string film = dir / "film.mkv";
    copyFile(fixture("film"), film);
    writeFile(dir / "film.fr.forced.srt", "1\n00:00:01,000 --> 00:00:02,000\nBonjour\n");
    writeFile(dir / "film.notes.srt", "1\n00:00:01,000 --> 00:00:02,000\nNot the film's\n");
    const std::string text = probeLikeTheProgram(film);
    SCOPED_TRACE("one read gave:\n" + text);
    const auto lines = linesOf(text);
    ASSERT_GE(lines.size(), 8u);
    const size_t n = lines.size();
    EXPECT_EQ(lines[n - 8].rfind("  Duration: 00:00:05.", 0), 0u);
    EXPECT_EQ(lines[n - 7].rfind("    Stream #0.0: Video: h264", 0), 0u);
    EXPECT_EQ(lines[n - 6].rfind("    Stream #0.1(eng): Audio: aac (LC), 44100 Hz", 0), 0u);
    EXPECT_EQ(lines[n - 5].rfind("    Stream #0.2(fre): Audio: aac (LC), 48000 Hz", 0), 0u);
    EXPECT_EQ(lines[n - 4], "    Stream #0.3(eng): Subtitle: subrip (text)");
    EXPECT_EQ(lines[n - 3],
              "    Stream #1.0(fre): Subtitle: subrip (text), forced, from film.fr.forced.srt");
    EXPECT_EQ(lines[n - 2], "  Chapters: 2");
    EXPECT_EQ(lines[n - 1], "At least one output file must be specified");
}

TEST(ProbeExtras, PictureSubtitlesAreNamedAsPictures) {
    const std::string text = probeLikeTheProgram(fixture("picture-subtitles"));
    EXPECT_NE(text.find("\n    Stream #0.2(fre): Subtitle: dvd_subtitle (picture)\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Chapters:"), std::string::npos) << "no chapters, no line";
}

// Sixty subtitle tracks do not fit one read: whole subtitle lines are dropped, never a sound
// track's line, the chapter count or the last line.
TEST(ProbeExtras, ManySubtitleTracksStillFitOneRead) {
    const std::string src = fixture("many-subtitles");
    const std::string text = probeLikeTheProgram(src);
    SCOPED_TRACE("one read gave:\n" + text);
    ASSERT_LE(text.size(), plexavo::contract::kProbeReportMax);
    const auto lines = linesOf(text);
    ASSERT_GE(lines.size(), 4u);
    const size_t n = lines.size();
    EXPECT_EQ(lines[n - 1], "At least one output file must be specified");
    EXPECT_EQ(lines[n - 2], "  Chapters: 3");
    static const std::regex subtitle(
        R"(^    Stream #0\.(\d+)\((eng|fre|ger|spa|ita)\): Subtitle: subrip \(text\)(, default)?$)");
    int subtitles = 0, sound = 0, picture = 0;
    for (const std::string& line : lines) {
        if (line.find(": Subtitle: ") != std::string::npos) {
            EXPECT_TRUE(std::regex_match(line, subtitle)) << line;
            ++subtitles;
        }
        sound += line.find(": Audio: ") != std::string::npos;
        picture += line.find(": Video: ") != std::string::npos;
    }
    EXPECT_EQ(sound, 1);
    EXPECT_EQ(picture, 1);
    EXPECT_GT(subtitles, 10);
    EXPECT_LT(subtitles, 60);
    // Whatever was dropped, the report is still what the single read sees first.
    const RunResult r = run(coreArgv({"-i", src}), 60);
    EXPECT_EQ(r.out.substr(r.out.find("Plexcore ")), text);
}
