// The probe's text read field by field, and the JSON document made of it:
// parsed back with the JSON library, never compared as text.
#include "engine/media/ProbeJson.h"
#include "engine/media/ProbeReport.h"
#include "engine/media/SourceItem.h"
#include "engine/platform/Utf8.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace plexavo;
using nlohmann::json;
using plexavo::media::base64;
using plexavo::media::channelsOfLayout;
using plexavo::media::kProbeFailed;
using plexavo::media::parseProbeReport;
using plexavo::media::ProbedFile;
using plexavo::media::probeFailureReason;
using plexavo::media::probeJsonDocument;
using plexavo::media::ProbeReport;
using plexavo::media::ProbeStream;
using plexavo::media::ProbeSubtitle;
using plexavo::media::SourceItem;
using plexavo::media::subtitleSummary;

namespace {

const char kTwoAudioTracks[] =
    "Plexcore 1.0.0, libavformat 59.27.100\n"
    "Input #0, matroska,webm, from '/media/film.mkv':\n"
    "  Duration: 01:02:03.99, start: 0.000000, bitrate: 5120 kb/s\n"
    "    Stream #0.0(und): Video: h264 (High 4:2:2), yuv422p, 1920x1080 [SAR 1:1 DAR 16:9], "
    "4800 kb/s, 29.97 fps\n"
    "    Stream #0.1(eng): Audio: aac (LC), 44100 Hz, stereo, fltp, 128 kb/s\n"
    "    Stream #0.3: Audio: ac3, 48000 Hz, 5.1(side), fltp\n"
    "At least one output file must be specified\n";

// The lines a source with subtitles (its own and a file beside it) and
// chapters adds after its sound tracks.
const char kWithExtras[] =
    "Plexcore 1.0.0, libavformat 59.27.100\n"
    "Input #0, matroska,webm, from '/media/film.mkv':\n"
    "  Duration: 00:00:05.00, start: 0.000000, bitrate: 871 kb/s\n"
    "    Stream #0.0: Video: h264 (High), yuv420p, 320x240 [SAR 1:1 DAR 4:3], 25 fps\n"
    "    Stream #0.1(eng): Audio: aac (LC), 44100 Hz, stereo, fltp\n"
    "    Stream #0.2(fre): Audio: aac (LC), 48000 Hz, stereo, fltp\n"
    "    Stream #0.3(eng): Subtitle: subrip (text), default\n"
    "    Stream #0.4: Subtitle: dvd_subtitle (picture), forced\n"
    "    Stream #1.0(fre): Subtitle: ass (text), forced, from film, from: a.fr.forced.ass\n"
    "  Chapters: 12\n"
    "At least one output file must be specified\n";

json parse(const std::vector<ProbedFile>& files) {
    return json::parse(probeJsonDocument(files)); // throws, and so fails, on invalid JSON
}

} // namespace

TEST(ProbeReport, ReadsEveryStreamWithItsFields) {
    const ProbeReport r = parseProbeReport(kTwoAudioTracks);
    EXPECT_TRUE(r.answered);
    ASSERT_TRUE(r.durationSeconds);
    EXPECT_NEAR(*r.durationSeconds, 3723.99, 1e-9);
    EXPECT_EQ(r.bitRateKbps, 5120);
    EXPECT_TRUE(r.error.empty());
    ASSERT_EQ(r.streams.size(), 3u);

    const ProbeStream& v = r.streams[0];
    EXPECT_EQ(v.index, 0);
    EXPECT_EQ(v.kind, "video");
    EXPECT_EQ(v.codec, "h264");
    EXPECT_EQ(v.profile, "High 4:2:2") << "a colon in the profile is no field separator";
    EXPECT_EQ(v.language, "und");
    EXPECT_EQ(v.pixelFormat, "yuv422p");
    EXPECT_EQ(v.width, 1920);
    EXPECT_EQ(v.height, 1080);
    EXPECT_EQ(v.bitRateKbps, 4800);
    ASSERT_TRUE(v.frameRate);
    EXPECT_DOUBLE_EQ(*v.frameRate, 29.97);

    const ProbeStream& a = r.streams[1];
    EXPECT_EQ(a.kind, "audio");
    EXPECT_EQ(a.codec, "aac");
    EXPECT_EQ(a.profile, "LC");
    EXPECT_EQ(a.sampleRate, 44100);
    EXPECT_EQ(a.channelLayout, "stereo");
    EXPECT_EQ(a.channels, 2);
    EXPECT_EQ(a.sampleFormat, "fltp");
    EXPECT_EQ(a.bitRateKbps, 128);

    const ProbeStream& b = r.streams[2];
    EXPECT_EQ(b.index, 3);
    EXPECT_TRUE(b.language.empty());
    EXPECT_EQ(b.channels, 6);
    EXPECT_FALSE(b.bitRateKbps) << "a rate the probe does not print stays unknown";
}

TEST(ProbeReport, UnknownsAndFailuresStayUnknown) {
    const ProbeReport na = parseProbeReport("  Duration: N/A, start: 0.000000, bitrate: N/A\n"
                                            "    Stream #0.0: Video: mjpeg, yuvj420p, 0x0\n");
    EXPECT_FALSE(na.durationSeconds);
    EXPECT_FALSE(na.bitRateKbps);
    ASSERT_EQ(na.streams.size(), 1u);
    EXPECT_FALSE(na.streams[0].frameRate);
    EXPECT_EQ(probeFailureReason(na), "The encoder core found no duration in the file.");

    const ProbeReport failed =
        parseProbeReport("Plexcore 1.0.0\nError: cannot read input '/m/x.txt': not a media file\n");
    EXPECT_EQ(failed.error, "cannot read input '/m/x.txt': not a media file");
    EXPECT_EQ(probeFailureReason(failed), failed.error);
    EXPECT_EQ(probeFailureReason(parseProbeReport("  Duration: 00:00:00.40, start: 0\n")),
              "The file plays for less than one second.");
    EXPECT_FALSE(parseProbeReport("").answered);

    EXPECT_EQ(channelsOfLayout("mono"), 1);
    EXPECT_EQ(channelsOfLayout("7.1(wide-side)"), 8);
    EXPECT_EQ(channelsOfLayout("3 channels"), 3);
    EXPECT_EQ(channelsOfLayout("2 channels (FL+LFE)"), 2);
    EXPECT_FALSE(channelsOfLayout("unknown"));
    EXPECT_FALSE(channelsOfLayout("x channels"));
}

// The Input line prints the name as it is; a name may hold a whole fake
// duration line. Both the source list's fields and the report take the
// core's own line, which comes after the name.
TEST(ProbeReport, ANameHoldingADurationLineIsNotTakenForOne) {
    const std::string path = "/m/a\n  Duration: 99:00:00.00, start: 0, bitrate: 1 kb/s\n"
                             "    Stream #0.0: Video: fake, yuv420p, 9x9\nb.mp4";
    const std::string text = "Plexcore 1.0.0\nInput #0, mov, from '" + path +
                             "':\n"
                             "  Duration: 00:00:05.00, start: 0.000000, bitrate: 64 kb/s\n"
                             "    Stream #0.0(und): Audio: aac (LC), 48000 Hz, mono, fltp\n"
                             "At least one output file must be specified\n";
    const ProbeReport r = parseProbeReport(text);
    EXPECT_EQ(r.durationSeconds, 5.0);
    EXPECT_EQ(r.bitRateKbps, 64);
    ASSERT_EQ(r.streams.size(), 1u);
    EXPECT_EQ(r.streams[0].codec, "aac");

    SourceItem item;
    EXPECT_EQ(item.parseProbeOutput(path, text.c_str()), 0);
    EXPECT_EQ(item.durationSeconds, 5);
    EXPECT_EQ(item.bitrateText, "64 kb/s");
    EXPECT_TRUE(item.videoDescription.empty()) << item.videoDescription;

    // An error line quotes the name too (control characters as '?'): no duration in it counts.
    SourceItem failed;
    EXPECT_EQ(failed.parseProbeOutput("/m/Duration: 01:00:00.00, x",
                                      "Error: cannot read input '/m/Duration: 01:00:00.00, x': "
                                      "not a media file\n"),
              kProbeFailed);
}

TEST(ProbeReport, SubtitlesAndChaptersAfterTheSoundTracks) {
    const ProbeReport r = parseProbeReport(kWithExtras);
    ASSERT_EQ(r.streams.size(), 3u) << "subtitle lines are no streams of the old kinds";
    EXPECT_EQ(r.chapters, 12);
    ASSERT_EQ(r.subtitles.size(), 3u);
    const ProbeSubtitle& own = r.subtitles[0];
    EXPECT_EQ(own.index, 3);
    EXPECT_TRUE(own.file.empty());
    EXPECT_EQ(own.codec, "subrip");
    EXPECT_EQ(own.language, "eng");
    EXPECT_TRUE(own.text);
    EXPECT_TRUE(own.isDefault);
    EXPECT_FALSE(own.forced);
    const ProbeSubtitle& picture = r.subtitles[1];
    EXPECT_EQ(picture.codec, "dvd_subtitle");
    EXPECT_FALSE(picture.text);
    EXPECT_TRUE(picture.language.empty());
    EXPECT_TRUE(picture.forced);
    const ProbeSubtitle& beside = r.subtitles[2];
    EXPECT_EQ(beside.index, 0);
    EXPECT_EQ(beside.file, "film, from: a.fr.forced.ass") << "the name is the rest of the line";
    EXPECT_EQ(beside.codec, "ass");
    EXPECT_TRUE(beside.forced);

    EXPECT_EQ(subtitleSummary(own), "eng subrip (text, default)");
    EXPECT_EQ(subtitleSummary(picture), "dvd_subtitle (picture, forced)");
    EXPECT_EQ(subtitleSummary(beside), "fre ass (text, forced) from film, from: a.fr.forced.ass");

    // The source list's own fields read the sound tracks as they always did.
    SourceItem item;
    EXPECT_EQ(item.parseProbeOutput("/media/film.mkv", kWithExtras), 0);
    EXPECT_EQ(item.audioDescription, " aac (LC), 48000 Hz, stereo, fltp");
    EXPECT_EQ(item.videoDescription, " h264 (High), yuv420p, 320x240 [SAR 1:1 DAR 4:3], 25 fps");
    EXPECT_EQ(item.report.subtitles.size(), 3u);

    // Files without them: none, and no chapters.
    const ProbeReport plain = parseProbeReport(kTwoAudioTracks);
    EXPECT_TRUE(plain.subtitles.empty());
    EXPECT_EQ(plain.chapters, 0);
    // Lines that only look like them are not taken.
    const ProbeReport odd = parseProbeReport("  Duration: 00:00:05.00, start: 0, bitrate: N/A\n"
                                             "    Stream #0.2: Subtitle: srt (text), from x.srt\n"
                                             "    Stream #1.0: Subtitle: srt (text)\n"
                                             "    Stream #x: Subtitle: srt (text)\n"
                                             "  Chapters: many\n");
    EXPECT_TRUE(odd.subtitles.empty());
    EXPECT_EQ(odd.chapters, 0);
}

TEST(ProbeJson, ConvertibleAndFailedFilesWithTheirDocumentedFields) {
    ProbedFile good{"/media/film.mkv", true, parseProbeReport(kTwoAudioTracks), 3723};
    ProbedFile bad{"notes.txt", false,
                   parseProbeReport("Error: cannot read input 'notes.txt': not a media file\n"), 0};
    const json doc = parse({good, bad});
    EXPECT_EQ(doc["version"], 1);
    ASSERT_EQ(doc["files"].size(), 2u);

    const json& f = doc["files"][0];
    EXPECT_EQ(f["path"], "/media/film.mkv");
    EXPECT_FALSE(f.contains("path_bytes_base64")) << "only for names that are not UTF-8";
    EXPECT_EQ(f["convertible"], true);
    EXPECT_FALSE(f.contains("reason"));
    EXPECT_DOUBLE_EQ(f["duration_seconds"].get<double>(), 3723.99);
    EXPECT_EQ(f["duration"], "01:02:03");
    EXPECT_EQ(f["bit_rate_kbps"], 5120);
    ASSERT_EQ(f["streams"].size(), 3u);
    const json& v = f["streams"][0];
    EXPECT_EQ(v["kind"], "video");
    EXPECT_EQ(v["codec"], "h264");
    EXPECT_EQ(v["width"], 1920);
    EXPECT_EQ(v["height"], 1080);
    EXPECT_DOUBLE_EQ(v["frame_rate"].get<double>(), 29.97);
    EXPECT_EQ(v["pixel_format"], "yuv422p");
    EXPECT_FALSE(v.contains("channels")) << "audio fields belong to audio streams";
    const json& a = f["streams"][2];
    EXPECT_EQ(a["index"], 3);
    EXPECT_EQ(a["channels"], 6);
    EXPECT_EQ(a["channel_layout"], "5.1(side)");
    EXPECT_EQ(a["sample_rate"], 48000);
    EXPECT_TRUE(a["bit_rate_kbps"].is_null()) << "unknown fields are present, as null";
    EXPECT_TRUE(a["language"].is_null());
    EXPECT_FALSE(a.contains("width"));

    EXPECT_EQ(f["subtitles"], json::array()) << "always there for a convertible file";
    EXPECT_EQ(f["chapters"], 0);

    const json& b = doc["files"][1];
    EXPECT_FALSE(b.contains("subtitles"));
    EXPECT_FALSE(b.contains("chapters"));
    EXPECT_EQ(b["convertible"], false);
    EXPECT_EQ(b["reason"], "cannot read input 'notes.txt': not a media file");
    EXPECT_FALSE(b.contains("streams"));
    EXPECT_FALSE(b.contains("duration"));
}

TEST(ProbeJson, SubtitlesAndChaptersAsTheirOwnFields) {
    const json f = parse({{"/media/film.mkv", true, parseProbeReport(kWithExtras), 5}})["files"][0];
    EXPECT_EQ(f["streams"].size(), 3u);
    EXPECT_EQ(f["chapters"], 12);
    ASSERT_EQ(f["subtitles"].size(), 3u);
    EXPECT_EQ(f["subtitles"][0], json::parse(R"({"index": 3, "file": null, "codec": "subrip",
        "language": "eng", "form": "text", "default": true, "forced": false})"));
    EXPECT_EQ(f["subtitles"][1]["form"], "picture");
    EXPECT_TRUE(f["subtitles"][1]["language"].is_null());
    EXPECT_EQ(f["subtitles"][2]["file"], "film, from: a.fr.forced.ass");
    EXPECT_EQ(f["subtitles"][2]["index"], 0);
}

// The source list reads "1x" hours as one; the report reads no half
// numbers. A convertible file still gets a duration, the list's.
TEST(ProbeJson, ADurationOnlyTheSourceListReadsIsItsWholeSeconds) {
    const char text[] = "  Duration: 1x:00:05.50, start: 0.000000, bitrate: 64 kb/s\n";
    SourceItem item;
    ASSERT_EQ(item.parseProbeOutput("/m/a.mp4", text), 0);
    ASSERT_FALSE(item.report.durationSeconds);
    const json f = parse({{"/m/a.mp4", true, item.report, item.durationSeconds}})["files"][0];
    EXPECT_EQ(f["duration_seconds"], 3605);
    EXPECT_EQ(f["duration"], "01:00:05");
    EXPECT_EQ(f["bit_rate_kbps"], 64);
}

TEST(ProbeJson, HostileNamesComeOutAsValidJsonAndExactlyAsBase64) {
    const std::string quoted = "/m/say \"hi\"\\ \t\x01.mp4";
    const std::string broken = std::string("/m/caf\xC3\xA9 \xFF\xC3 \xED\xA0\x80 \xE2\x82\n.mp4");
    ProbedFile q{quoted, false, parseProbeReport("Error: x\n"), 0};
    ProbedFile b{broken, false, parseProbeReport(std::string("Error: cannot read '") + broken), 0};
    const json doc = parse({q, b});

    EXPECT_EQ(doc["files"][0]["path"], quoted) << "valid UTF-8 comes through unchanged";
    EXPECT_FALSE(doc["files"][0].contains("path_bytes_base64"));

    const json& f = doc["files"][1];
    // Each byte outside a well-formed sequence is one U+FFFD: the lone
    // 0xFF, the 0xC3 cut off by a blank, the three of an encoded surrogate
    // and the two of a cut three-byte sequence.
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(f["path"], "/m/caf\xC3\xA9 " + fffd + fffd + " " + fffd + fffd + fffd + " " + fffd +
                             fffd + "\n.mp4");
    EXPECT_EQ(f["path_bytes_base64"], base64(broken));
    EXPECT_TRUE(platform::isValidUtf8(f["reason"].get<std::string>()));
}

TEST(ProbeJson, Base64AndUtf8ChecksAgreeWithTheirStandards) {
    // RFC 4648's test vectors.
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foo"), "Zm9v");
    EXPECT_EQ(base64("foob"), "Zm9vYg==");
    EXPECT_EQ(base64("fooba"), "Zm9vYmE=");
    EXPECT_EQ(base64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64(std::string_view("\xFF\xFE\0a", 4)), "//4AYQ==")
        << "high bytes are unsigned, and a NUL is a byte like another";

    EXPECT_TRUE(platform::isValidUtf8("plain, \xC3\xA9, \xE2\x82\xAC, \xF0\x9F\x8E\xAC"));
    EXPECT_TRUE(platform::isValidUtf8("\xF4\x8F\xBF\xBF")) << "U+10FFFF is the last";
    EXPECT_FALSE(platform::isValidUtf8("\xC0\xAF")) << "overlong";
    EXPECT_FALSE(platform::isValidUtf8("\xE0\x80\xAF")) << "overlong";
    EXPECT_FALSE(platform::isValidUtf8("\xED\xA0\x80")) << "a surrogate";
    EXPECT_FALSE(platform::isValidUtf8("\xF4\x90\x80\x80")) << "past U+10FFFF";
    EXPECT_FALSE(platform::isValidUtf8("\xE2\x82")) << "cut short at the end";
    EXPECT_FALSE(platform::isValidUtf8("\x80")) << "a continuation byte alone";
}
