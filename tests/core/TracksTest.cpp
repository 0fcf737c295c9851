// Everything in a source that the devices show beyond one picture and one sound: every sound
// track, text subtitles (inside and beside the source), chapters, tags and cover art. Judged on
// the written file with ffprobe, the ffmpeg tool and the file's own boxes.
#include "support/Checks.h"
#include "support/Core.h"
#include "support/Fixtures.h"
#include "support/Media.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sys/stat.h>

using namespace coretest;

namespace {

constexpr double kCueTolerance = 0.040;

std::vector<TrackBox> withHandler(const std::vector<TrackBox>& tracks, const std::string& handler) {
    std::vector<TrackBox> found;
    for (const TrackBox& t : tracks)
        if (t.handler == handler)
            found.push_back(t);
    return found;
}

// The languages of every stream of a kind, French by one name: QuickTime files call it "fra"
// (the code table of the mov muxer), the others "fre".
std::vector<std::string> languagesOf(const ProbeInfo& p, const std::string& kind) {
    std::vector<std::string> langs;
    for (int i = 0; i < p.count(kind); ++i) {
        const std::string lang = p.stream(p.find(kind, i), "tags.language");
        langs.push_back(lang == "fra" ? "fre" : lang);
    }
    return langs;
}

// What the devices need of every output: the profile and size they play, AAC-LC for every
// sound track, the index first, and a clean decode.
void expectDevicePlayable(const std::string& path, const std::string& codec) {
    SCOPED_TRACE("device checks of " + path);
    const ProbeInfo p = ProbeInfo::of(path);
    ASSERT_TRUE(p.ok) << p.error;
    if (const int v = p.find("video"); v >= 0 && p.stream(v, "disposition.attached_pic") != "1") {
        EXPECT_EQ(p.stream(v, "codec_name"), codec);
        EXPECT_LE(p.streamNum(v, "width").value_or(9999), 640);
        EXPECT_LE(p.streamNum(v, "height").value_or(9999), 480);
        EXPECT_EQ(p.stream(v, "pix_fmt"), "yuv420p");
        if (codec == "h264") {
            EXPECT_EQ(p.stream(v, "level"), "30");
            EXPECT_NE(p.stream(v, "profile").find("Baseline"), std::string::npos);
        } else {
            EXPECT_EQ(p.stream(v, "profile"), "Simple Profile");
        }
    }
    for (int i = 0; i < p.count("audio"); ++i) {
        const int a = p.find("audio", i);
        EXPECT_EQ(p.stream(a, "codec_name"), "aac");
        EXPECT_EQ(p.stream(a, "profile"), "LC");
    }
    expectIndexBeforeMedia(path);
    EXPECT_EQ(decodeErrors(path), "");
}

// Each cue of the output against the source's, moved by shift and cut to [0, end).
void expectCues(const std::vector<Cue>& got, const std::vector<Cue>& source, double shift = 0,
                double end = 1e9) {
    std::vector<Cue> expected;
    for (Cue c : source) {
        c.start = std::max(0.0, c.start - shift);
        c.end = std::min(end, c.end - shift);
        if (c.end > c.start)
            expected.push_back(c);
    }
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("cue " + std::to_string(i) + ": " + expected[i].text);
        EXPECT_EQ(got[i].text, expected[i].text);
        EXPECT_NEAR(got[i].start, expected[i].start, kCueTolerance);
        EXPECT_NEAR(got[i].end, expected[i].end, kCueTolerance);
    }
}

Job deviceJob(const std::string& input, const std::string& output, const std::string& codec) {
    Job job;
    job.input = input;
    job.output = output;
    job.vcodec = codec;
    job.size = codec == "h264" ? "640x480" : "320x240";
    job.rate = "25";
    job.title = "file name";
    return job;
}

// The tag boxes whose names begin with the copyright sign (0xA9 in the box type).
std::string quickTime(const std::string& name) {
    return "\xA9" + name;
}

std::vector<std::string> noteLines(const RunResult& r) {
    return linesStartingWith(r.out, plexavo::contract::kNotePrefix);
}

struct FilmCase {
    const char* name;
    const char* vcodec;
    const char* ext;
};

void PrintTo(const FilmCase& c, std::ostream* os) {
    *os << c.name;
}

class Film : public ::testing::TestWithParam<FilmCase> {};

} // namespace

// The film of the issue that asked for all this: two sound tracks, subtitles, two chapters,
// a title, artist, date and genre; each reaches the output in the form the devices read.
TEST_P(Film, KeepsEveryTrackSubtitleChapterAndTag) {
    const FilmCase& c = GetParam();
    TempDir dir;
    const std::string src = fixture("film");
    Job job = deviceJob(src, dir / (std::string("out") + c.ext), c.vcodec);
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;

    // Both sound tracks in the source's order with their languages; the first is the default.
    ASSERT_EQ(p.count("audio"), 2);
    EXPECT_EQ(languagesOf(p, "audio"), (std::vector<std::string>{"eng", "fre"}));
    EXPECT_EQ(p.stream(p.find("audio", 0), "disposition.default"), "1");
    EXPECT_EQ(p.stream(p.find("audio", 1), "disposition.default"), "0");
    EXPECT_NEAR(streamDuration(p, p.find("audio", 1)), 5.0, 0.05);
    const auto tracks = trackBoxes(job.output);
    const auto sound = withHandler(tracks, "soun");
    ASSERT_EQ(sound.size(), 2u);
    EXPECT_EQ(sound[0].flags & 1u, 1u) << "the first sound track is on";
    EXPECT_EQ(sound[1].flags & 1u, 0u) << "the others wait to be chosen";
    EXPECT_NE(sound[0].alternateGroup, 0);
    EXPECT_EQ(sound[0].alternateGroup, sound[1].alternateGroup) << "one group: a choice";

    // The subtitles as timed text the players list, in English, off as in the source.
    ASSERT_EQ(p.count("subtitle"), 1);
    const int s = p.find("subtitle");
    EXPECT_EQ(p.stream(s, "codec_name"), "mov_text");
    EXPECT_EQ(p.stream(s, "tags.language"), "eng");
    const auto text = withHandler(tracks, "sbtl");
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(text[0].sampleEntry, "tx3g");
    EXPECT_EQ(text[0].flags & 1u, 0u);
    EXPECT_NE(text[0].alternateGroup, 0);
    EXPECT_NE(text[0].alternateGroup, sound[0].alternateGroup);
    const auto sourceCues = subtitleCues(src);
    ASSERT_EQ(sourceCues.size(), 3u);
    EXPECT_EQ(sourceCues[2].text, "Third, with a comma\nand two lines");
    expectCues(subtitleCues(job.output), sourceCues);

    // The chapters, with a QuickTime chapter track every other track points at.
    const auto marks = chapters(job.output);
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0].title, "Intro");
    EXPECT_EQ(marks[1].title, "Main");
    EXPECT_NEAR(marks[0].start, 0.0, kCueTolerance);
    EXPECT_NEAR(marks[1].start, 2.0, kCueTolerance);
    EXPECT_NEAR(marks[1].end, 5.0, 0.1);
    EXPECT_TRUE(withHandler(tracks, "vide").at(0).chapterReference);
    EXPECT_EQ(withHandler(tracks, "text").size(), 1u) << "the chapter track";

    // The source's own title wins over the file's name.
    EXPECT_EQ(p.format("tags.title"), "A film with everything");
    EXPECT_EQ(p.format("tags.artist"), "The Director");
    EXPECT_EQ(p.format("tags.date"), "2011");
    EXPECT_EQ(p.format("tags.genre"), "Drama");
    const auto tags = tagBoxes(job.output);
    for (const std::string& atom :
         {quickTime("nam"), quickTime("ART"), quickTime("day"), quickTime("gen")})
        EXPECT_NE(std::find(tags.begin(), tags.end(), atom), tags.end()) << atom;

    EXPECT_NEAR(p.formatNum("duration").value_or(0), 5.0, 0.1);
    expectDevicePlayable(job.output, c.vcodec == std::string("h264") ? "h264" : "mpeg4");
}

INSTANTIATE_TEST_SUITE_P(Targets, Film,
                         ::testing::Values(FilmCase{"H264InMov", "h264", ".mov"},
                                           FilmCase{"Mpeg4InMp4", "xvid", ".mp4"},
                                           FilmCase{"H264InM4v", "h264", ".m4v"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SoundTracks, TheSourcesDefaultComesFirstTheOthersInOrder) {
    TempDir dir;
    Job job = deviceJob(fixture("three-tracks"), dir / "out.mp4", "h264");
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    EXPECT_EQ(languagesOf(p, "audio"), (std::vector<std::string>{"fre", "eng", "ger"}));
    const auto sound = withHandler(trackBoxes(job.output), "soun");
    ASSERT_EQ(sound.size(), 3u);
    EXPECT_EQ(sound[0].flags & 1u, 1u);
    for (size_t i = 1; i < sound.size(); ++i) {
        EXPECT_EQ(sound[i].flags & 1u, 0u);
        EXPECT_EQ(sound[i].alternateGroup, sound[0].alternateGroup);
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(streamDuration(p, p.find("audio", i)), 3.0, 0.05);
    expectDevicePlayable(job.output, "h264");

    // The equivalent command names each track by its place in the source.
    Job plan = job;
    plan.output = dir / "plan.mp4";
    const RunResult planned = plan.run(withEnv({"PLEXCORE_PLAN=1"}));
    ASSERT_EQ(planned.exitCode, 0) << describe(planned);
    const auto lines = linesStartingWith(planned.out, "Plan: ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("-map 0:a:0 -filter:a:1"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("-map 0:a:2 -filter:a:2"), std::string::npos) << lines[0];
}

// Disc formats take one sound track, as before.
TEST(SoundTracks, DiscTargetsKeepOne) {
    TempDir dir;
    Job job;
    job.input = fixture("three-tracks");
    job.output = dir / "out.mpg";
    job.clearDeviceOptions();
    job.extra = {"-target", "pal-dvd"};
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    EXPECT_EQ(p.count("audio"), 1);
    EXPECT_EQ(p.count("subtitle"), 0);
}

TEST(Subtitles, AssAndWebVttInsideBecomeTimedText) {
    TempDir dir;
    const std::string src = fixture("styled-subtitles");
    Job job = deviceJob(src, dir / "out.mp4", "h264");
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_EQ(p.count("subtitle"), 2);
    EXPECT_EQ(languagesOf(p, "subtitle"), (std::vector<std::string>{"jpn", "spa"}));
    const auto text = withHandler(trackBoxes(job.output), "sbtl");
    ASSERT_EQ(text.size(), 2u);
    // The WebVTT track is the default and forced: on, and forced in its sample entry.
    EXPECT_EQ(text[0].flags & 1u, 0u);
    EXPECT_EQ(text[0].displayFlags & 0x80000000u, 0u);
    EXPECT_EQ(text[1].flags & 1u, 1u);
    EXPECT_EQ(text[1].displayFlags & 0x80000000u, 0x80000000u);
    EXPECT_EQ(text[0].alternateGroup, text[1].alternateGroup);

    // ASS: the italics kept, the overlap shown as both texts.
    const auto ass = subtitleCues(src, 0);
    ASSERT_EQ(ass.size(), 2u);
    const double at = ass[0].start - 0.5; // where the muxer put the source's zero
    expectCues(subtitleCues(job.output, 0),
               {{0.5 + at, 1.5 + at, "<i>Styled</i> words"},
                {1.5 + at, 2.0 + at, "<i>Styled</i> words\nOverlapping"},
                {2.0 + at, 3.0 + at, "Overlapping"}});
    expectCues(subtitleCues(job.output, 1), subtitleCues(src, 1));
    expectDevicePlayable(job.output, "h264");
}

TEST(Subtitles, FilesBesideTheSourceAreAddedWithTheirLanguages) {
    TempDir dir;
    const std::string film = dir / "film.mp4";
    copyFile(fixture("mp4"), film);
    writeFile(dir / "film.en.srt", "1\n00:00:01,000 --> 00:00:02,000\nEnglish\n");
    writeFile(dir / "film.es.srt", "1\n00:00:01,500 --> 00:00:02,500\nEspa\xF1ol\n"); // Latin-1
    writeFile(dir / "film.fre.forced.ass",
              "[Script Info]\nScriptType: v4.00+\n\n[Events]\nFormat: Layer, Start, End, "
              "Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
              "Dialogue: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,Fran\xC3\xA7"
              "ais\n");
    writeFile(dir / "film.srt", "1\n00:00:03,000 --> 00:00:04,250\nNo language\n");
    writeFile(dir / "film.vtt", "WEBVTT\n\n00:00:00.250 --> 00:00:00.750\nWeb text\n");
    // Not this film's, not text, not a file: none of them is read.
    writeFile(dir / "film.part2.srt", "1\n00:00:01,000 --> 00:00:02,000\nOther film\n");
    writeFile(dir / "other.srt", "1\n00:00:01,000 --> 00:00:02,000\nOther film\n");
    writeFile(dir / "film.de.srt", "this is no subtitle file at all");
    ASSERT_EQ(::mkfifo((dir / "film.it.srt").c_str(), 0600), 0) << "a pipe nobody writes";

    Job job = deviceJob(film, dir / "out.mp4", "h264");
    const RunResult r = job.run(120);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    // The one that looked like a side file but is none is named in a warning.
    const auto warnings = linesStartingWith(r.out, "Warning: ");
    ASSERT_EQ(warnings.size(), 1u) << r.out;
    EXPECT_NE(warnings[0].find("'film.de.srt'"), std::string::npos) << warnings[0];
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_EQ(p.count("subtitle"), 5);
    EXPECT_EQ(languagesOf(p, "subtitle"),
              (std::vector<std::string>{"eng", "spa", "fre", "und", "und"}));
    const std::vector<std::pair<Cue, bool>> expected = {
        {{1.0, 2.0, "English"}, false},
        {{1.5, 2.5, "Espa\xC3\xB1ol"}, false},
        {{2.0, 3.0,
          "Fran\xC3\xA7"
          "ais"},
         true},
        {{3.0, 4.25, "No language"}, false},
        {{0.25, 0.75, "Web text"}, false},
    };
    const auto text = withHandler(trackBoxes(job.output), "sbtl");
    ASSERT_EQ(text.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("subtitle track " + std::to_string(i));
        expectCues(subtitleCues(job.output, static_cast<int>(i)), {expected[i].first});
        EXPECT_EQ((text[i].displayFlags & 0x80000000u) != 0, expected[i].second) << "forced";
        EXPECT_EQ(text[i].flags & 1u, 0u) << "none is on: none was asked to be";
    }
    expectDevicePlayable(job.output, "h264");
}

TEST(Subtitles, PictureSubtitlesAreLeftOutAndSaidSo) {
    TempDir dir;
    const std::string src = fixture("picture-subtitles");
    ASSERT_EQ(ProbeInfo::of(src).stream(2, "codec_name"), "dvd_subtitle");
    Job job = deviceJob(src, dir / "out.mp4", "h264");
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const auto notes = noteLines(r);
    ASSERT_EQ(notes.size(), 1u) << r.out;
    EXPECT_NE(notes[0].find("picture subtitles (dvd_subtitle, stream 2)"), std::string::npos)
        << notes[0];
    const ProbeInfo p = ProbeInfo::of(job.output);
    EXPECT_EQ(p.count("subtitle"), 0);
    EXPECT_EQ(p.streamCount(), 2);
    expectDevicePlayable(job.output, "h264");
}

// A part from 1 s for 3 s: the tags stay, chapters and subtitles within it are shifted, and
// nothing reaches past its end.
TEST(MarkedPart, KeepsTheTagsAndWhatFallsWithinIt) {
    TempDir dir;
    const std::string src = fixture("film");
    Job job = deviceJob(src, dir / "out.mp4", "h264");
    job.start = "1";
    job.length = "3";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    EXPECT_NEAR(p.formatNum("duration").value_or(0), 3.0, 0.1);
    EXPECT_EQ(p.format("tags.title"), "A film with everything");
    EXPECT_EQ(p.format("tags.artist"), "The Director");
    const auto marks = chapters(job.output);
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0].title, "Intro");
    EXPECT_NEAR(marks[0].start, 0.0, kCueTolerance);
    EXPECT_NEAR(marks[1].start, 1.0, kCueTolerance);
    EXPECT_NEAR(marks[1].end, 3.0, 0.1);
    expectCues(subtitleCues(job.output), subtitleCues(src), 1.0, 3.0);
    EXPECT_EQ(p.count("audio"), 2);

    // Cut at 2.5 s, Main would last half a second: left out, and the file ends at 2.5 s.
    Job shorter = deviceJob(src, dir / "short.mp4", "h264");
    shorter.length = "2.5";
    ASSERT_EQ(shorter.run().exitCode, 0);
    const auto left = chapters(shorter.output);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].title, "Intro");
    EXPECT_NEAR(ProbeInfo::of(shorter.output).formatNum("duration").value_or(0), 2.5, 0.1);
}

// The read of a marked part lands on the key frame before its start (20 s here), after line 10
// began (18.5 s): the line still shows from the part's first instant.
TEST(MarkedPart, ALineOnScreenAtTheStartIsShown) {
    TempDir dir;
    const std::string src = fixture("minute-film");
    Job whole = deviceJob(src, dir / "whole.mp4", "xvid");
    whole.length = "30";
    ASSERT_EQ(whole.run().exitCode, 0);
    Job part = deviceJob(src, dir / "part.mp4", "xvid");
    part.start = "21";
    part.length = "4";
    const RunResult r = part.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const auto cues = subtitleCues(part.output);
    ASSERT_FALSE(cues.empty());
    EXPECT_EQ(cues.front().text, "Line 10\nLine 11");
    expectCues(cues, subtitleCues(whole.output), 21.0, 4.0);
}

TEST(Cover, AMatroskaAttachmentIsScaledIntoTheDevicesLimits) {
    TempDir dir;
    Job job = deviceJob(fixture("attached-cover"), dir / "out.mp4", "h264");
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    int cover = -1;
    for (int i = 0; i < p.streamCount(); ++i)
        if (p.stream(i, "disposition.attached_pic") == "1")
            cover = i;
    ASSERT_GE(cover, 0) << "no cover";
    EXPECT_EQ(p.stream(cover, "codec_name"), "mjpeg");
    EXPECT_EQ(p.stream(cover, "width"), "600");
    EXPECT_EQ(p.stream(cover, "height"), "480");
    const auto tags = tagBoxes(job.output);
    EXPECT_NE(std::find(tags.begin(), tags.end(), "covr"), tags.end());
    EXPECT_EQ(withHandler(trackBoxes(job.output), "vide").size(), 1u) << "the cover is no track";
    expectDevicePlayable(job.output, "h264");

    // A QuickTime file gets the same picture, as the iTunes cover item the muxer leaves out.
    Job mov = deviceJob(fixture("attached-cover"), dir / "out.mov", "h264");
    const RunResult rm = mov.run();
    ASSERT_EQ(rm.exitCode, 0) << describe(rm);
    EXPECT_TRUE(noteLines(rm).empty()) << rm.out;
    EXPECT_TRUE(linesStartingWith(rm.out, "Warning: ").empty()) << rm.out;
    const ProbeInfo pm = ProbeInfo::of(mov.output);
    const int movCover = pm.find("video", 1);
    ASSERT_GE(movCover, 0) << "no cover";
    EXPECT_EQ(pm.stream(movCover, "disposition.attached_pic"), "1");
    EXPECT_EQ(pm.stream(movCover, "width"), "600");
    EXPECT_EQ(pm.stream(movCover, "height"), "480");
    const auto item = coverItem(mov.output);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->dataType, 13u) << "JPEG";
    ASSERT_TRUE(coverItem(job.output));
    EXPECT_EQ(item->bytes, coverItem(job.output)->bytes);
    EXPECT_EQ(withHandler(trackBoxes(mov.output), "vide").size(), 1u) << "the cover is no track";
    expectDevicePlayable(mov.output, "h264");
}

// The cover joins a QuickTime film whose index comes first: everything after the index moves,
// and the film is, frame for frame, what it is without the cover; its tags, chapters and
// subtitle tracks (all off) are as they were.
TEST(Cover, AQuickTimeFilmWithItsIndexFirstKeepsItsFramesTagsAndTracks) {
    TempDir dir;
    const std::string png = dir / "cover.png";
    const std::string covered = dir / "covered.mkv";
    const RunResult made = run({"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i",
                                "testsrc2=s=320x240", "-frames:v", "1", png},
                               60);
    ASSERT_EQ(made.exitCode, 0) << made.out;
    const RunResult attached =
        run({"ffmpeg", "-v", "error", "-nostdin", "-i", fixture("film"), "-map", "0", "-c", "copy",
             "-attach", png, "-metadata:s:t", "mimetype=image/png", "-metadata:s:t",
             "filename=cover.png", covered},
            60);
    ASSERT_EQ(attached.exitCode, 0) << attached.out;
    // At x264's quality setting the same input gives the same frames.
    Job with = deviceJob(covered, dir / "with.mov", "h264");
    Job without = deviceJob(fixture("film"), dir / "without.mov", "h264");
    with.bitrate = without.bitrate = std::nullopt;
    const RunResult r = with.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_TRUE(linesStartingWith(r.out, "Warning: ").empty()) << r.out;
    ASSERT_EQ(without.run().exitCode, 0);
    expectDevicePlayable(with.output, "h264");

    const auto item = coverItem(with.output);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->dataType, 14u) << "PNG";
    EXPECT_EQ(item->bytes, readFile(png)) << "small enough: kept as it is";
    EXPECT_FALSE(coverItem(without.output));
    // The last progress line gives the finished file's size, the cover added after the muxer
    // closed it included.
    const auto sizeAt = r.out.rfind("size=");
    ASSERT_NE(sizeAt, std::string::npos) << r.out;
    EXPECT_EQ(std::stoll(r.out.substr(sizeAt + 5)),
              static_cast<long long>(std::filesystem::file_size(with.output) / 1024));
    const ProbeInfo p = ProbeInfo::of(with.output);
    const int cover = p.find("video", 1);
    ASSERT_GE(cover, 0);
    EXPECT_EQ(p.stream(cover, "codec_name"), "png");
    EXPECT_EQ(p.stream(cover, "disposition.attached_pic"), "1");
    EXPECT_EQ(p.format("tags.title"), "A film with everything");
    EXPECT_EQ(p.format("tags.artist"), "The Director");
    const auto tags = tagBoxes(with.output);
    EXPECT_NE(std::find(tags.begin(), tags.end(), quickTime("nam")), tags.end());
    EXPECT_NE(std::find(tags.begin(), tags.end(), "covr"), tags.end());

    const auto tracks = trackBoxes(with.output);
    ASSERT_EQ(withHandler(tracks, "sbtl").size(), 1u);
    EXPECT_EQ(withHandler(tracks, "sbtl")[0].flags & 1u, 0u) << "still off";
    const auto marks = chapters(with.output);
    const auto plainMarks = chapters(without.output);
    ASSERT_EQ(marks.size(), plainMarks.size());
    ASSERT_FALSE(marks.empty());
    for (size_t i = 0; i < marks.size(); ++i) {
        EXPECT_EQ(marks[i].title, plainMarks[i].title);
        EXPECT_EQ(marks[i].start, plainMarks[i].start);
    }
    expectCues(subtitleCues(with.output), subtitleCues(without.output));

    // Every picture and sound frame decoded from where the moved offsets point.
    const auto frames = [](const std::string& path) {
        return run({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:V", "-map", "0:a",
                    "-f", "framemd5", "-"},
                   120, separateStderr())
            .out;
    };
    const std::string hashes = frames(with.output);
    EXPECT_NE(hashes.find("\n0,"), std::string::npos);
    EXPECT_NE(hashes.find("\n1,"), std::string::npos);
    EXPECT_EQ(hashes, frames(without.output));
}

TEST(Cover, ASongKeepsItsCoverAndItsTags) {
    TempDir dir;
    const std::string src = fixture("song");
    Job job = deviceJob(src, dir / "out.m4a", "h264");
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_EQ(p.count("audio"), 1);
    const int cover = p.find("video");
    ASSERT_GE(cover, 0);
    EXPECT_EQ(p.stream(cover, "disposition.attached_pic"), "1");
    EXPECT_EQ(p.stream(cover, "codec_name"), "mjpeg");
    EXPECT_EQ(p.stream(cover, "width"), "300") << "small enough: kept as it is";
    // The same bytes as the source's picture.
    const RunResult a =
        run({"ffmpeg", "-v", "error", "-i", src, "-map", "0:v", "-c", "copy", "-f", "md5", "-"}, 60,
            separateStderr());
    const RunResult b = run(
        {"ffmpeg", "-v", "error", "-i", job.output, "-map", "0:v", "-c", "copy", "-f", "md5", "-"},
        60, separateStderr());
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(p.format("tags.title"), "A song");
    EXPECT_EQ(p.format("tags.artist"), "A singer");
    EXPECT_EQ(p.format("tags.album"), "An album");
    EXPECT_EQ(p.format("tags.album_artist"), "A band");
    EXPECT_EQ(p.format("tags.track"), "4/12");
    EXPECT_EQ(p.format("tags.disc"), "1/2");
    EXPECT_EQ(p.format("tags.comment"), "Recorded live");
    const auto tags = tagBoxes(job.output);
    for (const std::string& atom :
         {quickTime("nam"), quickTime("ART"), quickTime("alb"), std::string("aART"),
          std::string("trkn"), std::string("disk"), quickTime("cmt"), std::string("covr")})
        EXPECT_NE(std::find(tags.begin(), tags.end(), atom), tags.end()) << atom;
    expectIndexBeforeMedia(job.output);
    EXPECT_EQ(decodeErrors(job.output), "");
}

// The extras cost a source that has none of them nothing: the same two tracks, no chapter
// reference, no subtitle track, the title from the command line.
TEST(NoExtras, ASourceWithOneSoundTrackGivesWhatItGaveBefore) {
    TempDir dir;
    Job job = deviceJob(fixture("six"), dir / "out.mp4", "h264");
    job.title = "Été \"à\" 東京 – it's a test";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_TRUE(noteLines(r).empty()) << r.out;
    const auto tracks = trackBoxes(job.output);
    ASSERT_EQ(tracks.size(), 2u);
    for (const TrackBox& t : tracks) {
        EXPECT_FALSE(t.chapterReference);
        EXPECT_EQ(t.flags & 1u, 1u);
    }
    EXPECT_EQ(tagBoxes(job.output), (std::vector<std::string>{quickTime("nam"), quickTime("too")}));
    const ProbeInfo p = ProbeInfo::of(job.output);
    EXPECT_EQ(p.format("tags.title"), *job.title) << "the source has none: the one asked for";
    EXPECT_EQ(p.streamCount(), 2);
    EXPECT_TRUE(chapters(job.output).empty());
}

// Further tracks change nothing in the others: the picture and the first sound track of the
// film are, packet for packet, what a copy of it with only those two streams gives.
TEST(NoExtras, FurtherTracksLeaveThePictureAndFirstSoundAsTheyWere) {
    TempDir dir;
    const std::string film = fixture("film");
    const std::string plain = dir / "plain.mkv";
    const RunResult cut =
        run({"ffmpeg", "-v", "error", "-nostdin", "-i", film, "-map", "0:v", "-map", "0:a:0", "-c",
             "copy", "-map_metadata", "-1", "-map_chapters", "-1", plain},
            120);
    ASSERT_EQ(cut.exitCode, 0) << cut.out;
    const auto streams = [](const std::string& path) {
        return run({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:v:0", "-map",
                    "0:a:0", "-c", "copy", "-f", "streamhash", "-"},
                   120, separateStderr())
            .out;
    };
    // x264 at an average bit rate differs from run to run with its threads; at its quality
    // setting, and the MPEG-4 encoder at any, the same input gives the same bytes.
    for (const char* codec : {"h264", "xvid"}) {
        SCOPED_TRACE(codec);
        Job all = deviceJob(film, dir / (std::string("all-") + codec + ".mp4"), codec);
        Job one = deviceJob(plain, dir / (std::string("one-") + codec + ".mp4"), codec);
        if (codec == std::string("h264"))
            all.bitrate = one.bitrate = std::nullopt;
        ASSERT_EQ(all.run().exitCode, 0);
        ASSERT_EQ(one.run().exitCode, 0);
        EXPECT_EQ(ProbeInfo::of(all.output).count("audio"), 2);
        EXPECT_EQ(ProbeInfo::of(one.output).streamCount(), 2);
        const std::string hashes = streams(all.output);
        EXPECT_NE(hashes.find("0,v,"), std::string::npos) << hashes;
        EXPECT_EQ(hashes, streams(one.output));
    }
}

// Sources this test makes itself, with a fixed seed each: a random number of sound tracks in
// random languages with a random default, random subtitle tracks with random cues, random
// chapters and a random part.
TEST(HeldOut, SourcesMadeHereKeepWhatTheyHold) {
    const char* languages[] = {"eng", "fre", "ger", "spa", "ita", "jpn", "dut", "swe"};
    for (unsigned seed : {7u, 1234u, 99991u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        const auto pick = [&rng](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(rng);
        };
        TempDir dir;
        const double length = 4.0;
        const int sounds = pick(1, 3);
        const int subtitles = pick(0, 2);
        const int defaultSound = pick(0, sounds - 1);
        std::vector<std::string> soundLangs, subLangs;
        std::vector<std::string> args = {"ffmpeg",   "-v", "error",
                                         "-nostdin", "-y", "-f",
                                         "lavfi",    "-i", "testsrc2=s=160x120:r=25:d=4"};
        for (int i = 0; i < sounds; ++i) {
            args.insert(args.end(),
                        {"-f", "lavfi", "-i", "sine=f=" + std::to_string(300 + 100 * i) + ":d=4"});
            soundLangs.push_back(languages[pick(0, 7)]);
        }
        std::vector<std::vector<Cue>> cueSets;
        for (int i = 0; i < subtitles; ++i) {
            std::string srt;
            std::vector<Cue> cues;
            double t = 0.1 * pick(0, 5);
            for (int n = 1; t < length - 0.5; ++n) {
                const double end = std::min(length - 0.1, t + 0.1 * pick(3, 12));
                char line[160];
                const auto ts = [](double s, char* out) {
                    const int ms = static_cast<int>(std::lround(s * 1000));
                    std::snprintf(out, 32, "00:00:%02d,%03d", ms / 1000, ms % 1000);
                };
                char a[32], b[32];
                ts(t, a);
                ts(end, b);
                const std::string text =
                    "Cue " + std::to_string(n) + " of track " + std::to_string(i);
                std::snprintf(line, sizeof line, "%d\n%s --> %s\n%s\n\n", n, a, b, text.c_str());
                srt += line;
                cues.push_back({t, end, text});
                t = end + 0.1 * pick(1, 6);
            }
            const std::string path = dir / ("subs" + std::to_string(i) + ".srt");
            writeFile(path, srt);
            args.insert(args.end(), {"-i", path});
            cueSets.push_back(cues);
            subLangs.push_back(languages[pick(0, 7)]);
        }
        const int chapterCount = pick(0, 3);
        std::vector<Chapter> marks;
        std::string meta = ";FFMETADATA1\ntitle=Held-out " + std::to_string(seed) + "\n";
        for (int i = 0; i < chapterCount; ++i) {
            const double start = i * length / chapterCount;
            const double end = (i + 1) * length / chapterCount;
            marks.push_back({start, end, "Part " + std::to_string(i + 1)});
            meta +=
                "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(std::lround(start * 1000)) +
                "\nEND=" + std::to_string(std::lround(end * 1000)) +
                "\ntitle=" + marks.back().title + "\n";
        }
        writeFile(dir / "meta.txt", meta);
        args.insert(args.end(), {"-i", dir / "meta.txt", "-map", "0:v"});
        for (int i = 0; i < sounds; ++i)
            args.insert(args.end(), {"-map", std::to_string(1 + i) + ":a"});
        for (int i = 0; i < subtitles; ++i)
            args.insert(args.end(), {"-map", std::to_string(1 + sounds + i) + ":s"});
        const std::string metaInput = std::to_string(1 + sounds + subtitles);
        args.insert(args.end(),
                    {"-map_metadata", metaInput, "-map_chapters", metaInput, "-c:v", "libx264",
                     "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-c:s", "srt"});
        for (int i = 0; i < sounds; ++i) {
            args.insert(args.end(),
                        {"-metadata:s:a:" + std::to_string(i), "language=" + soundLangs[i],
                         "-disposition:a:" + std::to_string(i),
                         i == defaultSound ? "default" : "0"});
        }
        for (int i = 0; i < subtitles; ++i)
            args.insert(args.end(),
                        {"-metadata:s:s:" + std::to_string(i), "language=" + subLangs[i],
                         "-disposition:s:" + std::to_string(i), "0"});
        const std::string src = dir / "held-out.mkv";
        args.push_back(src);
        const RunResult made = run(args, 120);
        ASSERT_EQ(made.exitCode, 0) << made.out;

        const double start = 0.5 * pick(0, 2);
        const double part = 2.0 + 0.5 * pick(0, 2);
        Job job = deviceJob(src, dir / "out.mp4", pick(0, 1) ? "h264" : "xvid");
        job.start = std::to_string(start);
        job.length = std::to_string(part);
        const RunResult r = job.run();
        ASSERT_EQ(r.exitCode, 0) << describe(r);
        const ProbeInfo p = ProbeInfo::of(job.output);
        ASSERT_TRUE(p.ok) << p.error;

        std::vector<std::string> order = {soundLangs[defaultSound]};
        for (int i = 0; i < sounds; ++i)
            if (i != defaultSound)
                order.push_back(soundLangs[i]);
        EXPECT_EQ(languagesOf(p, "audio"), order);
        EXPECT_EQ(languagesOf(p, "subtitle"), subLangs);
        for (int i = 0; i < subtitles; ++i)
            expectCues(subtitleCues(job.output, i), subtitleCues(src, i), start, part);
        std::vector<Chapter> expected;
        for (const Chapter& m : marks) {
            const double s = std::max(0.0, m.start - start);
            const double e = std::min(part, m.end - start);
            const bool cut = m.start < start || m.end > start + part;
            if (e > s && !(cut && e - s < 1.0))
                expected.push_back({s, e, m.title});
        }
        const auto got = chapters(job.output);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].title, expected[i].title);
            EXPECT_NEAR(got[i].start, expected[i].start, kCueTolerance);
        }
        EXPECT_EQ(p.format("tags.title"), "Held-out " + std::to_string(seed));
        EXPECT_NEAR(p.formatNum("duration").value_or(0), part, 0.1);
        expectDevicePlayable(job.output, job.vcodec == std::string("h264") ? "h264" : "mpeg4");
    }
}
