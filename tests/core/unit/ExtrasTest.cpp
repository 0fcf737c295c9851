// The decisions about what a source holds beyond its picture and first sound track: sound
// track order, subtitle files beside it, subtitle timing, chapters, tags and cover art, and
// the repair of the subtitle tracks' flags. No media is made here.
#include "Extras.h"
#include "Languages.h"
#include "MovBoxes.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace plexavo::core;
using testing_support::TempDir;

namespace {

void touch(const std::string& path,
           const std::string& text = "1\n00:00:01,000 --> 00:00:02,000\nx\n") {
    std::ofstream(path, std::ios::binary) << text;
}

SubtitleEvent event(double start, double end, const std::string& text,
                    const std::string& style = "Default") {
    return {static_cast<int64_t>(start * 1e6), static_cast<int64_t>(end * 1e6), style, text};
}

SubtitleCue cue(double start, double end, const std::string& text,
                const std::string& style = "Default") {
    return {static_cast<int64_t>(start * 1e6), static_cast<int64_t>(end * 1e6), style, text};
}

std::vector<SubtitleCue> allCues(SubtitleTimeline& t, int64_t limit = 0) {
    std::vector<SubtitleCue> cues = t.take();
    t.finish(limit);
    for (auto& c : t.take())
        cues.push_back(c);
    return cues;
}

ChapterMark mark(double start, double end, const std::string& title) {
    return {static_cast<int64_t>(start * 1e6), static_cast<int64_t>(end * 1e6), title};
}

// An MP4 box: size, type, contents.
std::string box(const std::string& type, const std::string& body) {
    const uint32_t size = static_cast<uint32_t>(body.size() + 8);
    std::string b;
    for (int shift = 24; shift >= 0; shift -= 8)
        b += static_cast<char>(size >> shift & 0xFF);
    return b + type + body;
}

// A track with a track header (enabled) and the given handler.
std::string track(const std::string& handler) {
    const std::string tkhd = box("tkhd", std::string("\0\0\0\x03", 4) + std::string(80, '\0'));
    const std::string hdlr =
        box("hdlr", std::string(8, '\0') + handler + std::string(12, '\0') + "Handler");
    return box("trak", tkhd + box("mdia", box("mdhd", std::string(24, '\0')) + hdlr));
}

} // namespace

TEST(SoundTracks, TheChosenTrackFirstThenTheSourcesOrder) {
    EXPECT_EQ(soundTrackOrder({1, 2, 4}, 2), (std::vector<int>{2, 1, 4}));
    EXPECT_EQ(soundTrackOrder({1, 2, 4}, 1), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(soundTrackOrder({3}, 3), (std::vector<int>{3}));
    // No track chosen (none the demuxer ranks): the source's order as it is.
    EXPECT_EQ(soundTrackOrder({1, 2}, -1), (std::vector<int>{1, 2}));
    EXPECT_TRUE(soundTrackOrder({}, -1).empty());
}

TEST(Languages, CodesBecomeTheBibliographicFormTheMuxersKnow) {
    EXPECT_EQ(deviceLanguage("en"), "eng");
    EXPECT_EQ(deviceLanguage("EN"), "eng");
    EXPECT_EQ(deviceLanguage("eng"), "eng");
    EXPECT_EQ(deviceLanguage("fr"), "fre");
    EXPECT_EQ(deviceLanguage("fra"), "fre");
    EXPECT_EQ(deviceLanguage("fre"), "fre");
    EXPECT_EQ(deviceLanguage("deu"), "ger");
    EXPECT_EQ(deviceLanguage("zh"), "chi");
    EXPECT_EQ(deviceLanguage("jpn"), "jpn");
    EXPECT_EQ(deviceLanguage("und"), "und");
    for (const char* notACode : {"", "e", "xx", "xyz", "english", "en-US", "e1", "cut", "qaa"})
        EXPECT_EQ(deviceLanguage(notACode), "") << notACode;
}

TEST(Languages, QuickTimeFilesNameSomeLanguagesTheirOwnWay) {
    EXPECT_EQ(quickTimeLanguage("eng"), "eng");
    EXPECT_EQ(quickTimeLanguage("fre"), "fra");
    EXPECT_EQ(quickTimeLanguage("cze"), "ces");
    EXPECT_EQ(quickTimeLanguage("swe"), "sve");
    EXPECT_EQ(quickTimeLanguage("ger"), "ger");
    EXPECT_EQ(quickTimeLanguage("chi"), "chi");
}

TEST(SideFiles, NamesThatBelongToTheSource) {
    struct Case {
        const char* file;
        bool belongs;
        const char* language;
        bool forced;
        bool isDefault;
    };
    const Case cases[] = {
        {"film.srt", true, "", false, false},
        {"film.en.srt", true, "eng", false, false},
        {"film.eng.srt", true, "eng", false, false},
        {"film.fra.srt", true, "fre", false, false},
        {"film.DE.SRT", true, "ger", false, false},
        {"film.en.forced.srt", true, "eng", true, false},
        {"film.forced.default.ass", true, "", true, true},
        {"film.es.sdh.vtt", true, "spa", false, false},
        {"film.ja.ssa", true, "jpn", false, false},
        // Another film's, or not subtitles at all.
        {"film.part2.srt", false, "", false, false},
        {"film.en.fr.srt", false, "", false, false},
        {"film2.srt", false, "", false, false},
        {"Film.srt", false, "", false, false},
        {"film.mkv", false, "", false, false},
        {"film.en.sub", false, "", false, false},
        {"film.", false, "", false, false},
        {"film..srt", true, "", false, false},
        {"other.en.srt", false, "", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto name = readSideFileName("film.mkv", c.file);
        ASSERT_EQ(name.has_value(), c.belongs);
        if (!name)
            continue;
        EXPECT_EQ(name->language, c.language);
        EXPECT_EQ(name->forced, c.forced);
        EXPECT_EQ(name->isDefault, c.isDefault);
    }
    // A source whose own name has dots keeps them all in the stem.
    EXPECT_EQ(readSideFileName("My.Film.2010.mp4", "My.Film.2010.en.srt")->language, "eng");
    EXPECT_FALSE(readSideFileName("My.Film.2010.mp4", "My.Film.en.srt"));
    // A subtitle file is not its own side file.
    EXPECT_FALSE(readSideFileName("film.srt", "film.srt"));
    EXPECT_TRUE(readSideFileName("noextension", "noextension.srt").has_value());
}

TEST(SideFiles, OnlyRegularFilesBesideTheSourceInNameOrder) {
    TempDir dir;
    const std::string folder = dir.path() + "/";
    touch(folder + "film.mkv", "not media");
    touch(folder + "film.srt");
    touch(folder + "film.en.srt");
    touch(folder + "film.part2.srt");
    touch(folder + "other.srt");
    touch(folder + "film.es.srt", "");                              // empty: nothing to show
    ASSERT_EQ(::mkfifo((folder + "film.fr.srt").c_str(), 0600), 0); // never opened
    std::filesystem::create_directory(folder + "film.de.srt");
    std::filesystem::create_symlink(folder + "film.srt", folder + "film.it.srt");
    {
        std::ofstream big(folder + "film.pt.srt", std::ios::binary);
        big.seekp(kMaxSideFileBytes);
        big << 'x';
    }
    EXPECT_EQ(findSideFiles(folder + "film.mkv"),
              (std::vector<std::string>{folder + "film.en.srt", folder + "film.it.srt",
                                        folder + "film.srt"}));

    // A bare name looks in the current folder, and names the files as bare names too.
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    const auto bare = findSideFiles("film.mkv");
    std::filesystem::current_path(here);
    EXPECT_EQ(bare, (std::vector<std::string>{"film.en.srt", "film.it.srt", "film.srt"}));

    EXPECT_TRUE(findSideFiles(folder + "missing/film.mkv").empty());

    for (int i = 0; i < 20; ++i)
        touch(folder + "many.srt." + std::to_string(i)); // wrong extension: not counted
    for (const char* lang : {"en", "fr", "de", "es", "it", "pt", "nl", "sv", "da", "fi",
                             "no", "pl", "cs", "hu", "ro", "el", "tr", "ru", "ja", "zh"})
        touch(folder + "many." + lang + ".srt");
    EXPECT_EQ(findSideFiles(folder + "many.mp4").size(), kMaxSideFiles);
}

TEST(SideFiles, Utf8CheckFollowsTheStandard) {
    EXPECT_TRUE(isUtf8(""));
    EXPECT_TRUE(isUtf8("plain ASCII"));
    EXPECT_TRUE(isUtf8("Été à 東京 🎬"));
    EXPECT_FALSE(isUtf8("caf\xE9"));          // Latin-1
    EXPECT_FALSE(isUtf8("\xC0\xAF"));         // overlong '/'
    EXPECT_FALSE(isUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(isUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(isUtf8("\xE6\x9D"));         // cut short
    EXPECT_FALSE(isUtf8("\x80"));
}

TEST(SubtitleTiming, OverlappingEventsBecomeCuesThatShowThemAll) {
    SubtitleTimeline t;
    t.add(event(1, 4, "A"));
    t.add(event(2, 3, "B"));
    t.add(event(2, 5, "C", "Top"));
    t.add(event(6, 7, "D"));
    EXPECT_EQ(allCues(t),
              (std::vector<SubtitleCue>{cue(1, 2, "A"), cue(2, 3, "A\\NB\\NC"), cue(3, 4, "A\\NC"),
                                        cue(4, 5, "C", "Top"), cue(6, 7, "D")}));
}

TEST(SubtitleTiming, CuesAreHandedOutOnceTheyCanNoLongerChange) {
    SubtitleTimeline t;
    t.add(event(1, 2, "A"));
    EXPECT_TRUE(t.take().empty()) << "a later event may still start within A";
    t.add(event(3, 4, "B"));
    EXPECT_EQ(t.take(), (std::vector<SubtitleCue>{cue(1, 2, "A")}));
    // The same text again straight after is one cue, also across a take.
    t.add(event(4, 5, "B"));
    t.add(event(9, 10, "C"));
    EXPECT_EQ(t.take(), (std::vector<SubtitleCue>{cue(3, 5, "B")}));
    t.finish();
    EXPECT_EQ(t.take(), (std::vector<SubtitleCue>{cue(9, 10, "C")}));
    EXPECT_TRUE(t.take().empty());
}

TEST(SubtitleTiming, TheWindowCutsAndTheLimitEnds) {
    // A part of 4 s: events before 0 and after 4 go, those across the edges are cut.
    SubtitleTimeline t(4'000'000);
    t.add(event(-2, -1, "gone"));
    t.add(event(-0.5, 1, "cut at the start"));
    t.add(event(3.5, 6, "cut at the end"));
    t.add(event(4, 5, "after"));
    EXPECT_EQ(allCues(t), (std::vector<SubtitleCue>{cue(0, 1, "cut at the start"),
                                                    cue(3.5, 4, "cut at the end")}));

    // A run stopped at 2.5 s: what shows then ends there.
    SubtitleTimeline stopped;
    stopped.add(event(1, 10, "long"));
    EXPECT_EQ(allCues(stopped, 2'500'000), (std::vector<SubtitleCue>{cue(1, 2.5, "long")}));

    EXPECT_EQ(cuesBefore({cue(0, 1, "a"), cue(2, 4, "b"), cue(5, 6, "c")}, 3'000'000),
              (std::vector<SubtitleCue>{cue(0, 1, "a"), cue(2, 3, "b")}));
}

TEST(SubtitleTiming, LateAndEmptyEventsLoseNothingElse) {
    SubtitleTimeline t;
    t.add(event(5, 8, "first"));
    t.add(event(9, 10, "second"));
    // Earlier than one already taken: shown from where the timeline stands, to its own end.
    t.add(event(7, 12, "late"));
    t.add(event(13, 14, ""));
    t.add(event(15, 15, "no time"));
    EXPECT_EQ(allCues(t), (std::vector<SubtitleCue>{cue(5, 8, "first"), cue(9, 10, "second\\Nlate"),
                                                    cue(10, 12, "late")}));
}

TEST(SubtitleTiming, AssEventsSplitAndJoin) {
    const auto parts = splitAssEvent("3,0,Sign, Bob,0,0,0,,Hello, world {\\i1}again{\\i0}");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->first, "Sign");
    EXPECT_EQ(parts->second, "Hello, world {\\i1}again{\\i0}");
    EXPECT_FALSE(splitAssEvent("not,an,event"));
    EXPECT_EQ(assEvent(cue(0, 1, "Hi\\Nthere", "Sign")), "0,0,Sign,,0,0,0,,Hi\\Nthere");
    EXPECT_EQ(assEvent(cue(0, 1, "Hi", "")), "0,0,Default,,0,0,0,,Hi");
    const auto back = splitAssEvent(assEvent(cue(0, 1, "a, b", "Top")));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->first, "Top");
    EXPECT_EQ(back->second, "a, b");
    EXPECT_EQ(assText("line one\r\nline {two}\n"), "line one\\Nline two");
}

TEST(SubtitleTiming, EveryEventInAStyleTheHeaderDefines) {
    const std::string header = "[Script Info]\r\nScriptType: v4.00+\r\n\r\n[V4+ Styles]\r\n"
                               "Format: Name, Fontname, Fontsize\r\n"
                               "Style: Top,Arial,16\r\nStyle:  Sign ,Arial,20\r\n\r\n"
                               "[Events]\r\nFormat: Layer, Start, End, Style, Text\r\n";
    const auto styles = assStyleNames(header);
    EXPECT_EQ(styles, (std::vector<std::string>{"Top", "Sign"}));
    EXPECT_EQ(knownStyle(styles, "Sign"), "Sign");
    EXPECT_EQ(knownStyle(styles, "Missing"), "Top");
    EXPECT_EQ(knownStyle({"Top", "Default"}, "Missing"), "Default");
    EXPECT_EQ(knownStyle({}, "Anything"), "Default");
    EXPECT_TRUE(assStyleNames("[Script Info]\nScriptType: v4.00+\n").empty());
}

TEST(Chapters, ThoseWithinThePartCutAndShifted) {
    // A part from 10 s to 40 s of the source: times here are already relative to its start.
    const std::vector<ChapterMark> source = {
        mark(-10, 0, "Opening"),  // wholly before the part
        mark(-5, 12, "Intro"),    // runs into it: starts at 0
        mark(12, 25, ""),         // untitled
        mark(25, 29.5, "Middle"), //
        mark(29.5, 50, "End"),    // runs out of it: cut at 30
        mark(50, 60, "After"),    // wholly after
    };
    EXPECT_EQ(chaptersWithin(source, 30'000'000),
              (std::vector<ChapterMark>{mark(0, 12, "Intro"), mark(12, 25, "Chapter 2"),
                                        mark(25, 29.5, "Middle")}))
        << "End would last half a second: left out";

    // Unordered, without ends, overlapping: in order, each up to the next.
    EXPECT_EQ(chaptersWithin({mark(20, 0, "C"), mark(0, 0, "A"), mark(10, 30, "B")}, 60'000'000),
              (std::vector<ChapterMark>{mark(0, 10, "A"), mark(10, 20, "B"), mark(20, 60, "C")}));
    // A chapter that was short in the source stays; only the cut ones must last a second.
    EXPECT_EQ(chaptersWithin({mark(0, 0.2, " Logo "), mark(0.2, 5, "Film")}, 5'000'000),
              (std::vector<ChapterMark>{mark(0, 0.2, "Logo"), mark(0.2, 5, "Film")}));
    EXPECT_TRUE(chaptersWithin({mark(0, 5, "A")}, 0).empty());
    EXPECT_TRUE(chaptersWithin({}, 5'000'000).empty());
}

TEST(Tags, TheLibrarysTagsFromTheSourceAndTheTitleFallback) {
    std::map<std::string, std::string> source = {
        {"title", "Source title"}, {"artist", "Someone"}, {"album_artist", "Band"},
        {"date_released", "1999"}, {"genre", "  Drama "}, {"comment", "   "},
        {"synopsis", "Long text"}, {"track", "3/12"},     {"disc", "one"},
        {"encoder", "Lavf"},       {"album", "Album"},
    };
    const auto lookup = [&source](const char* key) {
        const auto it = source.find(key);
        return it == source.end() ? std::string() : it->second;
    };
    const Tags tags = deviceTags(lookup, std::string("file name"));
    EXPECT_EQ(tags, (Tags{{"title", "Source title"},
                          {"artist", "Someone"},
                          {"album", "Album"},
                          {"album_artist", "Band"},
                          {"date", "1999"},
                          {"genre", "Drama"},
                          {"description", "Long text"},
                          {"track", "3/12"}}))
        << "blank comments and disc numbers that are no numbers are left out";

    source.erase("title");
    EXPECT_EQ(deviceTags(lookup, std::string("file name")).front(),
              (std::pair<std::string, std::string>{"title", "file name"}));
    source = {{"title", "\t"}};
    EXPECT_EQ(deviceTags(lookup, std::string("name")), (Tags{{"title", "name"}}));
    EXPECT_TRUE(deviceTags(lookup, std::nullopt).empty());
    EXPECT_TRUE(deviceTags(lookup, std::string("")).empty());
}

TEST(Cover, TheFrontCoverFittedToTheDevices) {
    EXPECT_EQ(pickCover({}), -1);
    EXPECT_EQ(pickCover({{2, "Other", ""}, {3, "", ""}}), 2);
    EXPECT_EQ(pickCover({{2, "Other", ""}, {5, "Cover (front)", ""}}), 5);
    EXPECT_EQ(pickCover({{1, "", "back.png"}, {4, "", "Cover.JPG"}}), 4);

    const auto same = planCover(true, 600, 400);
    ASSERT_TRUE(same);
    EXPECT_TRUE(same->copy);
    const auto large = planCover(true, 1200, 900);
    ASSERT_TRUE(large);
    EXPECT_FALSE(large->copy);
    EXPECT_EQ(large->width, 600);
    EXPECT_EQ(large->height, 450);
    const auto tall = planCover(true, 500, 2000);
    EXPECT_EQ(tall->width, 150);
    EXPECT_EQ(tall->height, 600);
    // A small picture in a format the devices do not read is written as JPEG at its size.
    const auto bmp = planCover(false, 300, 300);
    EXPECT_FALSE(bmp->copy);
    EXPECT_EQ(bmp->width, 300);
    EXPECT_EQ(bmp->height, 300);
    // Written pictures have even sides, for their half-size colour planes.
    const auto strip = planCover(false, 6000, 1);
    EXPECT_EQ(strip->width, 600);
    EXPECT_EQ(strip->height, 2);
    EXPECT_EQ(planCover(false, 301, 99)->width, 302);
    EXPECT_FALSE(planCover(true, 0, 0));
}

TEST(MovRepair, FindsTheFlagsOfTheSubtitleTracksOnly) {
    const std::string moov =
        box("moov", box("mvhd", std::string(100, '\0')) + track("vide") + track("soun") +
                        track("sbtl") + track("text") + track("sbtl") + box("udta", ""));
    const auto flags = subtitleTrackFlags(moov);
    ASSERT_EQ(flags.size(), 2u);
    for (std::size_t at : flags) {
        EXPECT_EQ(moov.substr(at - 7, 4), "tkhd");
        EXPECT_EQ(moov[at], '\x03');
    }
    EXPECT_TRUE(subtitleTrackFlags(box("free", "")).empty());
    // A box whose size runs past its parent is where reading stops, not a crash.
    std::string broken = moov;
    broken[8 + 108 + 3] = '\x7F';
    EXPECT_NO_THROW(subtitleTrackFlags(broken));
    EXPECT_TRUE(subtitleTrackFlags(moov.substr(0, 50)).empty());
}

TEST(MovRepair, TurnsOffTheSubtitleTracksInTheFile) {
    TempDir dir;
    const std::string path = dir.path() + "/out.mp4";
    const std::string moov = box("moov", track("soun") + track("sbtl"));
    const std::string file = box("ftyp", "isom") + moov + box("mdat", std::string(64, 'x'));
    touch(path, file);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(turnOffSubtitleTracks(fd));
    ::close(fd);
    std::ifstream in(path, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(after.size(), file.size());
    const auto flags = subtitleTrackFlags(after.substr(12, moov.size()));
    ASSERT_EQ(flags.size(), 1u);
    EXPECT_EQ(after[12 + flags[0]], '\x02') << "enabled bit cleared, in-movie bit kept";
    std::string expected = file;
    expected[12 + flags[0]] = '\x02';
    EXPECT_EQ(after, expected) << "nothing else changed";

    // No index at all: reported, nothing written.
    const std::string bare = dir.path() + "/bare.mp4";
    touch(bare, box("ftyp", "isom") + box("mdat", "x"));
    const int fd2 = ::open(bare.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_FALSE(turnOffSubtitleTracks(fd2));
    ::close(fd2);
}
