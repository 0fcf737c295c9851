#include "support/Fixtures.h"

#include "support/Media.h"
#include "support/Shared.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#ifndef PLEXCORE_FIXTURE_DIR
#define PLEXCORE_FIXTURE_DIR "/tmp/plexcore-fixtures"
#endif

namespace fs = std::filesystem;

namespace coretest {

namespace {

using Args = std::vector<std::string>;

// A failed test's folder stays, so its output can be looked at.
bool currentTestFailed() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info && info->result() && info->result()->Failed();
}
const bool g_keepFailedFolders = (TempDir::keepWhen(currentTestFailed), true);

struct Recipe {
    using Maker = std::function<void(const std::string& out)>;
    Recipe() = default;
    Recipe(std::string e, Args a) : ext(std::move(e)), args(std::move(a)) {}
    // For the odd ones that plain ffmpeg arguments cannot make; bump `v` when `m` changes.
    Recipe(std::string e, Args a, Maker m, std::string v)
        : ext(std::move(e)), args(std::move(a)), make(std::move(m)), version(std::move(v)) {}

    std::string ext;
    Args args; // ffmpeg arguments, the output comes last
    Maker make;
    std::string version;
};

Args lavfi(const std::string& graph) {
    return {"-f", "lavfi", "-i", graph};
}

Args operator+(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string video(const std::string& size, double seconds, int rate = 25) {
    return "testsrc2=s=" + size + ":r=" + std::to_string(rate) + ":d=" + std::to_string(seconds);
}

std::string tone(int rate, double seconds, int hz = 440) {
    return "sine=f=" + std::to_string(hz) + ":sample_rate=" + std::to_string(rate) +
           ":d=" + std::to_string(seconds);
}

// Flat grey with grain: the picture's edges are easy to find against black bars.
std::string grey(const std::string& size, const std::string& extra = "") {
    return "color=c=0xB4B4B4:s=" + size + ":r=25:d=2,noise=alls=16:allf=t" + extra;
}

const Args kX264 = {"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p"};

std::string fixtureDir() {
    if (const char* env = std::getenv("PLEXCORE_TEST_FIXTURES"); env && *env)
        return env;
    return PLEXCORE_FIXTURE_DIR;
}

void ffmpeg(const Args& args, const std::string& out) {
    Args argv = {"ffmpeg", "-v", "error", "-nostdin", "-y"};
    argv = argv + args;
    argv.push_back(out);
    const RunResult r = run(argv, 300);
    if (r.exitCode != 0)
        throw std::runtime_error("making " + out + " failed: " + r.out);
}

// ffmpeg writing to a pipe cannot go back to fill in the duration or an index.
void ffmpegToPipe(const Args& args, const std::string& out) {
    Args argv = {"ffmpeg", "-v", "error", "-nostdin", "-y"};
    argv = argv + args;
    argv.push_back("pipe:1");
    const RunResult r = run(argv, 300, separateStderr());
    if (r.exitCode != 0 || r.out.empty())
        throw std::runtime_error("making " + out + " failed: " + r.err);
    writeFile(out, r.out);
}

// Runs ffmpeg with helper files (subtitles, chapters, pictures) written next to the output
// first and removed after; "{name}" in the arguments stands for a helper's path.
void ffmpegWith(const std::map<std::string, std::string>& files, Args args,
                const std::string& out) {
    std::map<std::string, std::string> paths;
    for (const auto& [name, text] : files) {
        paths[name] = out + "." + name;
        writeFile(paths[name], text);
    }
    for (std::string& a : args)
        for (const auto& [name, path] : paths)
            if (a == "{" + name + "}")
                a = path;
    struct Remove {
        const std::map<std::string, std::string>& paths;
        ~Remove() {
            for (const auto& [name, path] : paths)
                fs::remove(path);
        }
    } remove{paths};
    ffmpeg(args, out);
}

// A picture made by the ffmpeg tool, as the bytes of a file of the given extension.
std::string picture(const std::string& size, const std::string& ext) {
    const std::string path = fixtureDir() + "/.picture-" + size + ext;
    ffmpeg(lavfi("testsrc2=s=" + size + ":d=1") + Args{"-frames:v", "1", "-update", "1"}, path);
    std::string bytes = readFile(path);
    fs::remove(path);
    return bytes;
}

// An MPEG program stream with two DVD subtitle pictures (at 1 s and 3 s), made byte by byte:
// the ffmpeg tool makes picture subtitles only from other picture subtitles.
std::string dvdSubtitleStream() {
    const auto be16 = [](unsigned v) { return std::string{char(v >> 8 & 0xFF), char(v & 0xFF)}; };
    const auto pts = [](unsigned long long p) {
        return std::string{char(0x21 | (p >> 29 & 0x0E)), char(p >> 22 & 0xFF),
                           char((p >> 14 & 0xFE) | 1), char(p >> 7 & 0xFF),
                           char((p << 1 & 0xFE) | 1)};
    };
    // A 2x2 picture: empty run-length lines, then the control sequences that show it (colours,
    // contrast, area, line offsets) and hide it a second later.
    const std::string pixels(4, '\0');
    const unsigned first = 4 + static_cast<unsigned>(pixels.size());
    const std::string show = std::string("\x01\x03\x01\x23\x04\xFF\xF0\x05\x00\x00\x01\x00\x00\x01"
                                         "\x06\x00\x04\x00\x06\xFF",
                                         20);
    const unsigned second = first + 4 + static_cast<unsigned>(show.size());
    const std::string body = pixels + be16(0) + be16(second) + show + be16(100) + be16(second) +
                             std::string("\x02\xFF", 2);
    const std::string spu = be16(4 + static_cast<unsigned>(body.size())) + be16(first) + body;
    std::string ps;
    for (unsigned long long at : {90000ull, 270000ull}) {
        ps += std::string("\0\0\x01\xBA\x44\0\x04\0\x04\x01\x01\x89\xC3\xF8", 14);
        const std::string header = std::string("\x81\x80\x05", 3) + pts(at);
        const std::string payload = "\x20" + spu; // DVD subtitle substream 0
        ps += std::string("\0\0\x01\xBD", 4) +
              be16(static_cast<unsigned>(header.size() + payload.size())) + header + payload;
    }
    return ps + std::string("\0\0\x01\xB9", 4);
}

const char kFilmChapters[] = ";FFMETADATA1\n"
                             "title=A film with everything\n"
                             "artist=The Director\n"
                             "date=2011\n"
                             "genre=Drama\n"
                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\ntitle=Intro\n"
                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=5000\ntitle=Main\n";

const char kFilmSubtitles[] =
    "1\n00:00:00,500 --> 00:00:01,500\nHello there\n\n"
    "2\n00:00:02,000 --> 00:00:03,000\nSecond line\n\n"
    "3\n00:00:03,500 --> 00:00:04,500\nThird, with a comma\nand two lines\n";

// Two events overlap from 1.5 s to 2 s; both texts show there.
const char kAssSubtitles[] =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 384\nPlayResY: 288\n\n"
    "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
    "OutlineColour, "
    "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, "
    "Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0\n\n"
    "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
    "Dialogue: 0,0:00:00.50,0:00:02.00,Default,,0,0,0,,{\\i1}Styled{\\i0} words\n"
    "Dialogue: 0,0:00:01.50,0:00:03.00,Default,,0,0,0,,Overlapping\n";

const char kVttSubtitles[] = "WEBVTT\n\n00:00:01.000 --> 00:00:02.500\nFrom WebVTT\n\n"
                             "00:00:03.000 --> 00:00:03.800\nSecond cue\n";

// A minute of cues, 1.5 s every 2 s, every tenth one shown for 4 s (across the next), and
// three chapters, for a film long enough to be stopped halfway and continued.
std::string minuteSubtitles() {
    std::string srt;
    const auto at = [](int ms) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "00:%02d:%02d,%03d", ms / 60000, ms / 1000 % 60, ms % 1000);
        return std::string(buf);
    };
    for (int i = 0; i < 29; ++i) {
        const int start = 500 + 2000 * i;
        const int end = start + (i % 10 == 9 ? 4000 : 1500);
        srt += std::to_string(i + 1) + "\n" + at(start) + " --> " + at(end) + "\nLine " +
               std::to_string(i + 1) + "\n\n";
    }
    return srt;
}

const char kMinuteChapters[] = ";FFMETADATA1\n"
                               "title=A minute with everything\n"
                               "artist=The Director\n"
                               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=20000\ntitle=One\n"
                               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=20000\nEND=45000\ntitle=Two\n"
                               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=45000\nEND=60000\ntitle=Three\n";

void requireUnreadable(const std::string& path) {
    if (ProbeInfo::of(path).ok)
        throw std::runtime_error(path + " is still readable by ffprobe: not a damaged file");
}

const std::map<std::string, Recipe>& recipes() {
    static const std::map<std::string, Recipe> table = [] {
        std::map<std::string, Recipe> t;
        t["mp4"] = {".mp4", lavfi(video("320x240", 5)) + lavfi(tone(44100, 5)) + kX264 +
                                Args{"-ac", "2", "-c:a", "aac", "-b:a", "128k", "-metadata",
                                     "title=Source title", "-movflags", "+faststart"}};
        t["mkv"] = {".mkv", lavfi(video("320x240", 3)) + lavfi(tone(48000, 3)) + kX264 +
                                Args{"-c:a", "libmp3lame", "-metadata:s:v:0", "language=jpn",
                                     "-metadata:s:a:0", "language=eng"}};
        t["avi"] = {".avi",
                    lavfi(video("320x240", 3)) + lavfi(tone(44100, 3)) +
                        Args{"-c:v", "mpeg4", "-q:v", "5", "-ac", "2", "-c:a", "libmp3lame"}};
        t["mov"] = {".mov", lavfi(video("320x240", 3)) + lavfi(tone(44100, 3)) + kX264 +
                                Args{"-c:a", "aac", "-metadata:s:a:0", "language=eng"}};
        t["webm"] = {".webm", lavfi(video("320x240", 3)) + lavfi(tone(48000, 3)) +
                                  Args{"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used",
                                       "8", "-b:v", "300k", "-c:a", "libopus"}};
        t["ts"] = {".ts",
                   lavfi(video("320x240", 3)) + lavfi(tone(48000, 3)) +
                       Args{"-c:v", "mpeg2video", "-b:v", "1M", "-c:a", "mp2", "-f", "mpegts"}};
        // One encoder thread: the bytes, and so the damage done to them, are the same on
        // every machine.
        t["flv"] = {".flv",
                    lavfi(video("320x240", 4)) + lavfi(tone(44100, 4)) +
                        Args{"-c:v", "libx264", "-preset", "ultrafast", "-threads", "1", "-pix_fmt",
                             "yuv420p", "-c:a", "aac", "-ac", "2", "-f", "flv"}};
        t["mp3"] = {".mp3",
                    lavfi(tone(44100, 4)) + Args{"-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k"}};
        t["wav"] = {".wav", lavfi(tone(44100, 3)) + Args{"-ac", "2", "-c:a", "pcm_s16le"}};
        t["m4a"] = {".m4a", lavfi(tone(48000, 3)) + Args{"-ac", "2", "-c:a", "aac"}};
        t["video-only"] = {".mp4", lavfi(video("320x240", 3)) + kX264};
        t["odd"] = {".mkv", lavfi(video("321x241", 2)) + Args{"-c:v", "ffv1"}};
        // Two fields per frame, coded as interlaced top field first, as camcorders and DVDs do.
        t["interlaced"] = {".mpg",
                           lavfi(video("720x576", 2, 50)) +
                               Args{"-vf", "tinterlace=mode=interleave_top", "-c:v", "mpeg2video",
                                    "-b:v", "6M", "-flags", "+ilme+ildct", "-top", "1"}};
        t["wide"] = {".mp4", lavfi(grey("640x360")) + kX264};
        t["tall"] = {".mp4", lavfi(grey("240x320")) + kX264};
        t["sar"] = {".mp4", lavfi(grey("720x480", ",setsar=32/27")) + kX264};
        t["hd"] = {".mp4", lavfi(video("1280x720", 2)) + lavfi(tone(48000, 2)) + kX264 +
                               Args{"-c:a", "aac"}};
        // Twice the length of "mov" and another picture size: two outputs cannot be mistaken
        // for each other.
        t["six"] = {".mp4", lavfi(video("160x120", 6)) + lavfi(tone(44100, 6, 880)) + kX264 +
                                Args{"-ac", "2", "-c:a", "aac"}};
        // A minute, to be stopped halfway and continued; a key frame every 2 s.
        t["minute"] = {".mp4", lavfi(video("320x240", 60)) + lavfi(tone(44100, 60)) + kX264 +
                                   Args{"-g", "50", "-ac", "2", "-c:a", "aac"}};
        // The same with everything the devices show besides: two sound tracks (the second at
        // another rate), SubRip subtitles, chapters, tags and a cover, in Matroska (whose
        // millisecond clock is coarser than a sound sample).
        t["minute-film"] = {".mkv",
                            {},
                            [](const std::string& out) {
                                ffmpegWith({{"srt", minuteSubtitles()},
                                            {"meta", kMinuteChapters},
                                            {"png", picture("200x200", ".png")}},
                                           lavfi(video("320x240", 60)) +
                                               lavfi(tone(44100, 60, 440)) +
                                               lavfi(tone(48000, 60, 660)) +
                                               Args{"-i", "{srt}", "-i", "{meta}", "-map", "0:v",
                                                    "-map", "1:a", "-map", "2:a", "-map", "3:s",
                                                    "-map_metadata", "4", "-map_chapters", "4"} +
                                               kX264 +
                                               Args{"-g",
                                                    "50",
                                                    "-c:a",
                                                    "aac",
                                                    "-ac",
                                                    "2",
                                                    "-c:s",
                                                    "srt",
                                                    "-metadata:s:a:0",
                                                    "language=eng",
                                                    "-metadata:s:a:1",
                                                    "language=fre",
                                                    "-metadata:s:s:0",
                                                    "language=eng",
                                                    "-attach",
                                                    "{png}",
                                                    "-metadata:s:t",
                                                    "mimetype=image/png",
                                                    "-metadata:s:t",
                                                    "filename=cover.png"},
                                           out);
                            },
                            "1"};
        t["raw-h264"] = {".h264", lavfi(video("320x240", 3)) + kX264 + Args{"-f", "h264"}};
        t["pipe-mkv"] = {".mkv",
                         {},
                         [](const std::string& out) {
                             ffmpegToPipe(lavfi(video("320x240", 3)) + lavfi(tone(44100, 3)) +
                                              kX264 + Args{"-c:a", "aac", "-f", "matroska"},
                                          out);
                         },
                         "1"};
        t["surround"] = {".mkv",
                         lavfi(video("160x120", 3)) +
                             lavfi("aevalsrc=0.3*sin(2*PI*220*t)|0.3*sin(2*PI*330*t)|"
                                   "0.3*sin(2*PI*440*t)|0.2*sin(2*PI*60*t)|"
                                   "0.3*sin(2*PI*550*t)|0.3*sin(2*PI*660*t):c=5.1:s=48000:d=3") +
                             kX264 + Args{"-c:a", "ac3", "-b:a", "384k"}};
        t["audio-96k"] = {".wav", lavfi(tone(96000, 2)) + Args{"-ac", "2", "-c:a", "pcm_s16le"}};
        t["audio-22k"] = {".mp3", lavfi(tone(22050, 2)) + Args{"-ac", "1", "-c:a", "libmp3lame"}};
        const std::string rampAudio = "aevalsrc=0.9*t/5*sin(2*PI*440*t):s=44100:d=5";
        t["ramp"] = {".mkv",
                     lavfi("color=c=black:s=160x120:r=25:d=5,format=yuv420p,"
                           "geq=lum=16+1.6*N:cb=128:cr=128") +
                         lavfi(rampAudio) + kX264 +
                         Args{"-crf", "8", "-x264-params", "keyint=250:min-keyint=250:scenecut=0",
                              "-ac", "2", "-c:a", "pcm_s16le"}};
        t["ramp-audio"] = {".wav", lavfi(rampAudio) + Args{"-ac", "2", "-c:a", "pcm_s16le"}};
        t["noisy"] = {".mp4", lavfi(video("320x240", 4) + ",noise=alls=12:allf=t+u") +
                                  lavfi(tone(44100, 4)) + kX264 +
                                  Args{"-crf", "14", "-ac", "2", "-c:a", "aac"}};
        t["burst"] = {".mp4",
                      lavfi(video("320x240", 4) + ",noise=alls=40:allf=t:enable=gte(t\\,2)") +
                          kX264 + Args{"-crf", "14"}};
        t["vfr"] = {
            ".mkv",
            lavfi(video("320x240", 4) +
                  ",settb=1/1000,select=not(between(n\\,40\\,55)),setpts=PTS+0.012*mod(N\\,3)/TB") +
                kX264 + Args{"-fps_mode", "passthrough"}};
        {
            Args a = lavfi(video("160x120", 2));
            const char* langs[] = {"eng", "fra", "deu", "spa"};
            for (int i = 0; i < 4; ++i)
                a = a + lavfi(tone(44100, 2, 300 + 100 * i));
            a = a + Args{"-map", "0:v"};
            for (int i = 1; i <= 4; ++i)
                a = a + Args{"-map", std::to_string(i) + ":a"};
            a = a + kX264 + Args{"-c:a", "aac"};
            for (int i = 0; i < 4; ++i)
                a = a + Args{"-metadata:s:a:" + std::to_string(i),
                             std::string("language=") + langs[i],
                             "-metadata:s:a:" + std::to_string(i),
                             "title=Audio commentary number " + std::to_string(i + 1) +
                                 " with a rather long descriptive title"};
            a = a + Args{"-metadata", "title=A file with many streams and long tags",
                         "-metadata", "comment=" + std::string(1200, 'c'),
                         "-metadata", "artist=" + std::string(300, 'a')};
            t["many-streams"] = {".mkv", a};
        }
        // The film of the sound tracks, subtitles, chapters and tags: two sound tracks (English,
        // French), English subtitles inside, two chapters, a title, artist, date and genre.
        t["film"] = {".mkv",
                     {},
                     [](const std::string& out) {
                         ffmpegWith({{"srt", kFilmSubtitles}, {"meta", kFilmChapters}},
                                    lavfi(video("320x240", 5)) + lavfi(tone(44100, 5, 440)) +
                                        lavfi(tone(48000, 5, 660)) +
                                        Args{"-i", "{srt}", "-i", "{meta}", "-map", "0:v", "-map",
                                             "1:a", "-map", "2:a", "-map", "3:s", "-map_metadata",
                                             "4", "-map_chapters", "4"} +
                                        kX264 +
                                        Args{"-c:a", "aac", "-ac", "2", "-c:s", "srt",
                                             "-metadata:s:a:0", "language=eng", "-metadata:s:a:1",
                                             "language=fre", "-metadata:s:s:0", "language=eng",
                                             "-disposition:a:0", "default", "-disposition:a:1", "0",
                                             "-disposition:s:0", "0"},
                                    out);
                     },
                     "1"};
        // Three sound tracks, the middle one marked as the default.
        {
            Args a = lavfi(video("160x120", 3));
            for (int i = 0; i < 3; ++i)
                a = a + lavfi(tone(44100, 3, 300 + 200 * i));
            a = a + Args{"-map", "0:v", "-map", "1:a", "-map", "2:a", "-map", "3:a"} + kX264 +
                Args{"-c:a",
                     "aac",
                     "-metadata:s:a:0",
                     "language=eng",
                     "-metadata:s:a:1",
                     "language=fre",
                     "-metadata:s:a:2",
                     "language=ger",
                     "-disposition:a:0",
                     "0",
                     "-disposition:a:1",
                     "default",
                     "-disposition:a:2",
                     "0"};
            t["three-tracks"] = {".mkv", a};
        }
        // ASS (events that overlap) and WebVTT subtitles inside Matroska.
        t["styled-subtitles"] = {
            ".mkv",
            {},
            [](const std::string& out) {
                ffmpegWith({{"ass", kAssSubtitles}, {"vtt", kVttSubtitles}},
                           lavfi(video("160x120", 4)) + lavfi(tone(44100, 4)) +
                               Args{"-i", "{ass}", "-i", "{vtt}", "-map", "0:v", "-map", "1:a",
                                    "-map", "2:s", "-map", "3:s"} +
                               kX264 +
                               Args{"-c:a", "aac", "-c:s:0", "ass", "-c:s:1", "webvtt",
                                    "-metadata:s:s:0", "language=jpn", "-metadata:s:s:1",
                                    "language=spa", "-disposition:s:0", "0", "-disposition:s:1",
                                    "default+forced"},
                           out);
            },
            "1"};
        // DVD subtitles (pictures) beside the sound, with a language.
        t["picture-subtitles"] = {
            ".mkv",
            {},
            [](const std::string& out) {
                ffmpegWith(
                    {{"mpg", dvdSubtitleStream()}},
                    lavfi(video("160x120", 4)) + lavfi(tone(44100, 4)) +
                        Args{"-i", "{mpg}", "-map", "0:v", "-map", "1:a", "-map", "2:s"} + kX264 +
                        Args{"-c:a", "aac", "-c:s", "copy", "-metadata:s:s:0", "language=fre"},
                    out);
            },
            "1"};
        // A Matroska attachment as the cover: a PNG larger than the devices show.
        t["attached-cover"] = {
            ".mkv",
            {},
            [](const std::string& out) {
                ffmpegWith({{"png", picture("1000x800", ".png")}},
                           lavfi(video("160x120", 3)) + lavfi(tone(44100, 3)) + kX264 +
                               Args{"-c:a", "aac", "-attach", "{png}", "-metadata:s:t",
                                    "mimetype=image/png", "-metadata:s:t", "filename=cover.png"},
                           out);
            },
            "1"};
        // An MP3 with its front cover (a small JPEG) and the tags of a song.
        t["song"] = {".mp3",
                     {},
                     [](const std::string& out) {
                         ffmpegWith({{"jpg", picture("300x300", ".jpg")}},
                                    lavfi(tone(44100, 3)) + Args{"-i",
                                                                 "{jpg}",
                                                                 "-map",
                                                                 "0:a",
                                                                 "-map",
                                                                 "1:v",
                                                                 "-c:a",
                                                                 "libmp3lame",
                                                                 "-c:v",
                                                                 "copy",
                                                                 "-id3v2_version",
                                                                 "3",
                                                                 "-disposition:v",
                                                                 "attached_pic",
                                                                 "-metadata:s:v",
                                                                 "comment=Cover (front)",
                                                                 "-metadata",
                                                                 "title=A song",
                                                                 "-metadata",
                                                                 "artist=A singer",
                                                                 "-metadata",
                                                                 "album=An album",
                                                                 "-metadata",
                                                                 "album_artist=A band",
                                                                 "-metadata",
                                                                 "track=4/12",
                                                                 "-metadata",
                                                                 "disc=1/2",
                                                                 "-metadata",
                                                                 "comment=Recorded live"},
                                    out);
                     },
                     "1"};
        // More subtitle tracks than the probe's one read holds, and chapters.
        t["many-subtitles"] = {
            ".mkv",
            {},
            [](const std::string& out) {
                std::string meta = ";FFMETADATA1\n";
                for (int c = 0; c < 3; ++c)
                    meta += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(c * 1000) +
                            "\nEND=" + std::to_string(c * 1000 + 1000) + "\ntitle=Part " +
                            std::to_string(c + 1) + "\n";
                Args a = lavfi(video("160x120", 3)) + lavfi(tone(44100, 3)) +
                         Args{"-i", "{srt}", "-i", "{meta}", "-map", "0:v", "-map", "1:a"};
                const char* langs[] = {"eng", "fre", "ger", "spa", "ita"};
                for (int i = 0; i < 60; ++i)
                    a = a + Args{"-map", "2:s"};
                a = a + Args{"-map_chapters", "3"} + kX264 + Args{"-c:a", "aac", "-c:s", "srt"};
                for (int i = 0; i < 60; ++i)
                    a = a + Args{"-metadata:s:s:" + std::to_string(i),
                                 std::string("language=") + langs[i % 5]};
                ffmpegWith({{"srt", kFilmSubtitles}, {"meta", meta}}, a, out);
            },
            "1"};
        t["stream-long"] = {".mkv",
                            {},
                            [](const std::string& out) {
                                ffmpegToPipe(lavfi(video("320x240", 12)) + lavfi(tone(44100, 12)) +
                                                 kX264 +
                                                 Args{"-g", "25", "-c:a", "aac", "-f", "matroska"},
                                             out);
                            },
                            "1"};
        t["truncated"] = {".mp4",
                          {},
                          [](const std::string& out) {
                              // Without +faststart the index sits at the end, so half a file has
                              // none.
                              const std::string whole = out + ".whole.mp4";
                              ffmpeg(lavfi(video("320x240", 3)) + lavfi(tone(44100, 3)) + kX264 +
                                         Args{"-c:a", "aac"},
                                     whole);
                              const std::string data = readFile(whole);
                              fs::remove(whole);
                              writeFile(out, data.substr(0, data.size() / 2));
                              requireUnreadable(out);
                          },
                          "1"};
        t["cut-short"] = {".mp4",
                          {},
                          [](const std::string& out) {
                              // The index at the front promises 10 s; the data stops at 44 %,
                              // as a download or copy that broke off.
                              const std::string whole = out + ".whole.mp4";
                              ffmpeg(lavfi(video("320x240", 10)) + lavfi(tone(44100, 10)) + kX264 +
                                         Args{"-c:a", "aac", "-movflags", "+faststart"},
                                     whole);
                              const std::string data = readFile(whole);
                              fs::remove(whole);
                              writeFile(out, data.substr(0, data.size() * 44 / 100));
                          },
                          "1"};
        t["rate-change"] = {
            ".mp2",
            {},
            [](const std::string& out) {
                // MPEG audio frames simply concatenated: the decoder switches
                // from 32 kHz mono to 48 kHz stereo halfway.
                const std::string first = out + ".32k.mp2";
                const std::string second = out + ".48k.mp2";
                ffmpeg(lavfi(tone(32000, 2, 440)) + Args{"-ac", "1", "-c:a", "mp2", "-b:a", "96k"},
                       first);
                ffmpeg(lavfi(tone(48000, 2, 880)) + Args{"-ac", "2", "-c:a", "mp2", "-b:a", "192k"},
                       second);
                writeFile(out, readFile(first) + readFile(second));
                fs::remove(first);
                fs::remove(second);
            },
            "1"};
        t["garbled"] = {".mp4",
                        {},
                        [](const std::string& out) {
                            std::string data = readFile(fixture("mp4"));
                            unsigned state = 12345;
                            for (size_t i = 0; i < 16384 && i < data.size(); ++i) {
                                state = state * 1103515245u + 12345u;
                                data[i] = static_cast<char>(state >> 16);
                            }
                            writeFile(out, data);
                            requireUnreadable(out);
                        },
                        "1"};
        t["document"] = {".pdf",
                         {},
                         [](const std::string& out) {
                             std::string pdf =
                                 "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
                             for (int i = 0; i < 100; ++i)
                                 pdf += "% padding line " + std::to_string(i) + "\n";
                             writeFile(out, pdf + "%%EOF\n");
                             requireUnreadable(out);
                         },
                         "1"};
        t["text"] = {".txt",
                     {},
                     [](const std::string& out) {
                         std::string text;
                         for (int i = 0; i < 200; ++i)
                             text += "This is a shopping list, not a film. Line " +
                                     std::to_string(i) + "\n";
                         writeFile(out, text);
                     },
                     "1"};
        return t;
    }();
    return table;
}

// FNV-1a: a stable name for a recipe, so a changed recipe never reuses an old file.
std::string recipeKey(const Recipe& r) {
    unsigned long long h = 1469598103934665603ull;
    auto mix = [&h](const std::string& s) {
        for (unsigned char c : s) {
            h ^= c;
            h *= 1099511628211ull;
        }
        h ^= 0xff;
        h *= 1099511628211ull;
    };
    for (const auto& a : r.args)
        mix(a);
    mix(r.version);
    char buf[17];
    snprintf(buf, sizeof buf, "%016llx", h);
    return buf;
}

} // namespace

std::string fixture(const std::string& name) {
    const auto it = recipes().find(name);
    if (it == recipes().end())
        throw std::runtime_error("no fixture named " + name);
    const Recipe& recipe = it->second;
    if (name == "webm" && !(hasEncoder("libvpx-vp9") && hasEncoder("libopus")))
        throw std::runtime_error("this ffmpeg cannot make VP9 + Opus");

    const std::string dir = fixtureDir();
    fs::create_directories(dir);
    const std::string path = dir + "/" + name + "-" + recipeKey(recipe) + recipe.ext;
    if (fileExists(path))
        return path;

    // Test processes run side by side: one makes the file, the others wait for it.
    const std::string lockPath = dir + "/." + name + ".lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0)
        throw std::runtime_error("cannot lock " + lockPath);
    struct Unlock {
        int fd;
        ~Unlock() { ::close(fd); }
    } unlock{lock};
    if (fileExists(path))
        return path;

    const std::string partial = dir + "/." + name + ".partial" + recipe.ext;
    fs::remove(partial);
    if (recipe.make)
        recipe.make(partial);
    else
        ffmpeg(recipe.args, partial);
    fs::rename(partial, path);
    return path;
}

} // namespace coretest
