// Continuing a stopped output, without running the core: the settings that must match, the
// note a stop leaves, the answer on real files in a temporary folder, the replacement of the
// kept file at the end, and the plain decisions of the join.
#include "Resume.h"
#include "Join.h"
#include "Options.h"
#include "OutputFile.h"
#include "PlexcoreContract.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace plexavo::core;
using testing_support::EnvGuard;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

namespace contract = plexavo::contract;

Options parse(std::vector<std::string> middle) {
    std::vector<std::string> args = {contract::kAccessCode, "-i", "in.mp4"};
    args.insert(args.end(), middle.begin(), middle.end());
    args.push_back("out.mp4");
    return parseOptions(args);
}

std::string refusal(std::vector<std::string> args) {
    args.insert(args.begin(), {"-i", "in.mp4"});
    try {
        parseOptions(args);
    } catch (const UsageError& e) {
        return e.what();
    }
    return {};
}

const std::vector<std::string> kSettings = {"-vcodec", "h264", "-s",  "320x240", "-r",  "25",
                                            "-b",      "768",  "-ab", "128",     "-ar", "44100"};

// A stop's note for output and source as they are now, with kSettings.
StoppedNote noteFor(const std::string& output, const std::string& source) {
    StoppedNote n;
    n.outputPath = absolutePath(output);
    n.sourcePath = absolutePath(source);
    n.output = *identityOf(output);
    n.source = *identityFollowing(source);
    n.settings = canonicalSettings(parse(kSettings));
    n.keptSeconds = 31.5;
    n.totalSeconds = 60.0;
    return n;
}

Options question(const std::string& source, const std::string& output,
                 std::vector<std::string> settings = kSettings) {
    std::vector<std::string> args = {"-i", source};
    args.insert(args.end(), settings.begin(), settings.end());
    args.insert(args.end(), {contract::kCanResumeOption, output});
    return parseOptions(args);
}

std::size_t notesIn(const std::string& stateHome) {
    const std::string folder = stateHome + "/plexavo/stopped";
    if (!fileExists(folder))
        return 0;
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

// The file's modification time moved by a second, its bytes the same.
void touchLater(const std::string& path) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + 1, st.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

} // namespace

// Two command lines that make the same streams match whatever their spelling; any option
// that changes the streams makes them differ, the ones that only name the file do not.
TEST(ResumeSettings, TheSameStreamsMatchWhateverTheSpelling) {
    const std::string base = canonicalSettings(parse(kSettings));
    EXPECT_EQ(canonicalSettings(parse({"-ar", "44100", "-ab", "128k", "-b", "0.768M", "-r", "25/1",
                                       "-s", "qvga", "-y", "-claim", "-ss", "0", "-t", "0"})),
              base);
    EXPECT_EQ(
        canonicalSettings(parse({"-vcodec", "libx264", "-s", "320x240", "-r", "25", "-b", "768",
                                 "-ab", "128", "-ar", "44100", "-pix_fmt", "yuv420p"})),
        base);
    const std::vector<std::vector<std::string>> others = {
        {"-vcodec", "xvid"}, {"-s", "320x180"},   {"-r", "30"},          {"-b", "700"},
        {"-bt", "768"},      {"-maxrate", "900"}, {"-minrate", "100"},   {"-ab", "96"},
        {"-ac", "1"},        {"-ar", "48000"},    {"-ss", "1"},          {"-t", "20"},
        {"-title", "x"},     {"-title", ""},      {"-target", "pal-dvd"}};
    for (const auto& extra : others) {
        std::vector<std::string> args = kSettings;
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_NE(canonicalSettings(parse(args)), base) << extra[0] << " " << extra[1];
    }
    // A title is kept whole, blanks and line breaks too, on one line.
    const std::string titled = canonicalSettings(parse({"-title", "a b\nc%"}));
    EXPECT_EQ(titled.find('\n'), std::string::npos);
    EXPECT_NE(titled, canonicalSettings(parse({"-title", "a b c%"})));
}

TEST(ResumeSettings, TheQuestionAndTheContinuationOnTheCommandLine) {
    const Options asked = question("in.mp4", "kept.mp4");
    ASSERT_TRUE(asked.canResume);
    EXPECT_EQ(*asked.canResume, "kept.mp4");
    EXPECT_FALSE(asked.output);
    EXPECT_FALSE(asked.resume);

    const Options go =
        parseOptions({"-i", "in.mp4", "-b", "768", contract::kResumeOption, "-x.mp4"});
    EXPECT_TRUE(go.resume);
    ASSERT_TRUE(go.output);
    EXPECT_EQ(*go.output, "-x.mp4") << "the file continued is the output, whatever its name";

    EXPECT_NE(refusal({contract::kResumeOption, "a.mp4", "b.mp4"}), "")
        << "a second output besides the one continued";
    EXPECT_NE(refusal({contract::kCanResumeOption, "a.mp4", "b.mp4"}), "");
    EXPECT_NE(refusal({contract::kCanResumeOption, "a.mp4", contract::kResumeOption, "a.mp4"}), "");
    EXPECT_NE(refusal({contract::kResumeOption, ""}), "");
    EXPECT_NE(refusal({contract::kResumeOption}), "");
}

// The note survives any byte a path may hold, and a note cut short or garbled is no note.
TEST(StoppedNotes, ReadBackAsWrittenAndNothingElse) {
    StoppedNote n;
    n.outputPath = "/films/a b%20\nc\x7f\xc3\xa9.mp4";
    n.sourcePath = "/films/source %.mkv";
    n.output = {0xfe00, 0x1234abcd, 3787067, 1796678717, 574743765};
    n.source = {0x801, 7, 6589267, 1700000000, 1};
    n.settings = "vcodec=h264 title='a%20b'";
    n.keptSeconds = 33.84;
    n.totalSeconds = 60.0;
    const std::string text = stoppedNoteText(n);
    const auto back = parseStoppedNote(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->outputPath, n.outputPath);
    EXPECT_EQ(back->sourcePath, n.sourcePath);
    EXPECT_EQ(back->output, n.output);
    EXPECT_EQ(back->source, n.source);
    EXPECT_EQ(back->settings, n.settings);
    EXPECT_DOUBLE_EQ(back->keptSeconds, n.keptSeconds);
    EXPECT_DOUBLE_EQ(back->totalSeconds, n.totalSeconds);
    EXPECT_EQ(stoppedNoteName(n.output), "fe00-1234abcd");

    EXPECT_FALSE(parseStoppedNote(text.substr(0, text.size() - 1))) << "cut short";
    EXPECT_FALSE(parseStoppedNote(text.substr(0, text.find("settings")))) << "lines missing";
    EXPECT_FALSE(parseStoppedNote("plexcore partial 1\n" + text.substr(text.find('\n') + 1)));
    std::string garbled = text;
    garbled.replace(garbled.find("kept 33"), 7, "kept -3");
    EXPECT_FALSE(parseStoppedNote(garbled));
    garbled = text;
    garbled.replace(garbled.find("%0A"), 3, "%0G");
    EXPECT_FALSE(parseStoppedNote(garbled));
    garbled = text;
    garbled.replace(garbled.find("output-path /"), 13, "output-path x");
    EXPECT_FALSE(parseStoppedNote(garbled)) << "a relative output path";
    EXPECT_TRUE(parseStoppedNote(text + "later-key some value\n")) << "a later core's key";
}

// Each answer on real files: yes, then what changed, and a stale note goes when it is seen.
TEST(StoppedNotes, TheAnswerForEachWayAFileCanDiffer) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    writeFile(dir / "source.mp4", "the source's bytes");
    writeFile(dir / "kept.mp4", "the kept prefix");
    writeStoppedNote(noteFor(dir / "kept.mp4", dir / "source.mp4"));
    ASSERT_EQ(notesIn(state.path()), 1u);
    struct stat folder {};
    ASSERT_EQ(::lstat((state / "plexavo/stopped").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u) << "the notes folder is private";

    const Resumability yes =
        checkResumable(question(dir / "source.mp4", dir / "kept.mp4"), dir / "kept.mp4");
    EXPECT_TRUE(yes.ok) << yes.reason;
    EXPECT_DOUBLE_EQ(yes.note.keptSeconds, 31.5);
    {
        // The same file by another path to its folder, and the source through a link.
        ASSERT_EQ(::symlink("source.mp4", (dir / "linked.mp4").c_str()), 0);
        const std::string viaDot = dir.path() + "/./kept.mp4";
        EXPECT_TRUE(checkResumable(question(dir / "linked.mp4", viaDot), viaDot).ok);
    }

    const auto reason = [&](const std::string& source, const std::string& kept,
                            std::vector<std::string> settings = kSettings) {
        const Resumability r = checkResumable(question(source, kept, settings), kept);
        return r.ok ? std::string("resumable") : r.reason;
    };
    std::vector<std::string> other = kSettings;
    other.insert(other.end(), {"-ac", "1"});
    EXPECT_EQ(reason(dir / "source.mp4", dir / "kept.mp4", other), "other settings");
    writeFile(dir / "copy.mp4", "the source's bytes");
    EXPECT_EQ(reason(dir / "copy.mp4", dir / "kept.mp4"), "the source is another file");
    EXPECT_EQ(reason(dir / "missing.mp4", dir / "kept.mp4"),
              "the source is missing or not a plain file");
    writeFile(dir / "unknown.mp4", "never stopped");
    EXPECT_EQ(reason(dir / "source.mp4", dir / "unknown.mp4"), "no record of a stopped conversion");
    EXPECT_EQ(reason(dir / "source.mp4", dir / "none.mp4"),
              "the file is missing or not a plain file");

    touchLater(dir / "source.mp4");
    EXPECT_EQ(reason(dir / "source.mp4", dir / "kept.mp4"), "the source was changed");
    writeFile(dir / "source.mp4", "the source's bytes");
    EXPECT_EQ(reason(dir / "source.mp4", dir / "kept.mp4"), "the source was changed");

    // A kept file written to since is no longer what was kept; its note stays, saying so.
    writeStoppedNote(noteFor(dir / "kept.mp4", dir / "source.mp4"));
    touchLater(dir / "kept.mp4");
    EXPECT_EQ(reason(dir / "source.mp4", dir / "kept.mp4"),
              "the file was changed since it was stopped");
    EXPECT_EQ(notesIn(state.path()), 1u);

    // Another file under the kept name: the note is stale and goes when seen.
    writeFile(dir / "other.mp4", "someone else's file");
    ASSERT_EQ(::rename((dir / "other.mp4").c_str(), (dir / "kept.mp4").c_str()), 0);
    EXPECT_EQ(reason(dir / "source.mp4", dir / "kept.mp4"),
              "the file was changed since it was stopped");
    EXPECT_EQ(notesIn(state.path()), 0u) << "the stale note stayed";
    EXPECT_EQ(reason(dir / "source.mp4", dir / "kept.mp4"), "no record of a stopped conversion");
    EXPECT_EQ(readFile(dir / "kept.mp4"), "someone else's file");
}

// Stale notes go; a note whose folder cannot be reached (a disk not mounted) stays; a
// finished conversion into the name takes the note of what was there.
TEST(StoppedNotes, OnlyNotesOfFilesThatAreGoneOrReplacedAreDropped) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    writeFile(dir / "source.mp4", "source");
    for (const char* name : {"gone.mp4", "kept.mp4", "finished.mp4"})
        writeFile(dir / name, name);
    for (const char* name : {"gone.mp4", "kept.mp4", "finished.mp4"})
        writeStoppedNote(noteFor(dir / name, dir / "source.mp4"));
    StoppedNote away = noteFor(dir / "kept.mp4", dir / "source.mp4");
    away.outputPath = dir / "unmounted/film.mp4";
    away.output.ino += 1000;
    writeStoppedNote(away);
    ASSERT_EQ(notesIn(state.path()), 4u);

    ASSERT_EQ(::unlink((dir / "gone.mp4").c_str()), 0);
    dropStaleStoppedNotes();
    EXPECT_EQ(notesIn(state.path()), 3u) << "the note of a removed file stayed";
    EXPECT_EQ(notedFileState(away), NotedFile::Unknown);

    dropStaleStoppedNotes(absolutePath(dir / "finished.mp4"));
    EXPECT_EQ(notesIn(state.path()), 2u);
    EXPECT_TRUE(
        checkResumable(question(dir / "source.mp4", dir / "kept.mp4"), dir / "kept.mp4").ok);
    for (const char* name : {"kept.mp4", "finished.mp4", "source.mp4"})
        EXPECT_TRUE(fileExists(dir / name)) << "notes only; never a file";
}

// The continued whole replaces the kept file only while the name still holds that very file;
// else it goes under the next free numbered name and the other file stays.
TEST(StoppedNotes, TheWholeReplacesOnlyTheVeryKeptFile) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    writeFile(dir / "clip.mp4", "kept prefix");
    const FileIdentity kept = *identityOf(dir / "clip.mp4");
    {
        PartialFile whole(dir / "clip.mp4", NameRule::ReplaceKept, kept);
        writeFile(whole.path(), "the whole");
        EXPECT_EQ(whole.claim(), dir / "clip.mp4");
    }
    EXPECT_EQ(readFile(dir / "clip.mp4"), "the whole");
    EXPECT_FALSE(fileExists(dir / "clip[1].mp4"));

    const FileIdentity second = *identityOf(dir / "clip.mp4");
    {
        PartialFile whole(dir / "clip.mp4", NameRule::ReplaceKept, second);
        // Another program writes a file of its own under the name meanwhile.
        writeFile(dir / "other", "someone else's");
        ASSERT_EQ(::rename((dir / "other").c_str(), (dir / "clip.mp4").c_str()), 0);
        writeFile(whole.path(), "the whole again");
        EXPECT_EQ(whole.claim(), dir / "clip[1].mp4");
    }
    EXPECT_EQ(readFile(dir / "clip.mp4"), "someone else's");
    EXPECT_EQ(readFile(dir / "clip[1].mp4"), "the whole again");

    // Written to in place since: not the file that was continued either.
    const FileIdentity third = *identityOf(dir / "clip.mp4");
    {
        PartialFile whole(dir / "clip.mp4", NameRule::ReplaceKept, third);
        touchLater(dir / "clip.mp4");
        writeFile(whole.path(), "third");
        EXPECT_EQ(whole.claim(), dir / "clip[2].mp4");
    }
    EXPECT_EQ(readFile(dir / "clip.mp4"), "someone else's");
    // The name is free (the user removed the kept file): the whole takes it.
    ASSERT_EQ(::unlink((dir / "clip.mp4").c_str()), 0);
    {
        PartialFile whole(dir / "clip.mp4", NameRule::ReplaceKept, third);
        writeFile(whole.path(), "fourth");
        EXPECT_EQ(whole.claim(), dir / "clip.mp4");
    }
    EXPECT_EQ(readFile(dir / "clip.mp4"), "fourth");
}

// The sound changes over on a packet of the kept file that has two packets of real sound after
// it, no later than the picture's join, and the new encoder hears whole packets before it.
TEST(JoinDecisions, WhereTheSoundChangesOver) {
    // Packets of 1024 samples from the priming packet at -1024; the sound ends at 100 000.
    std::vector<int64_t> starts;
    for (int64_t p = -1024; p < 100000; p += 1024)
        starts.push_back(p);
    const int64_t end = 100000;

    SoundJoin j = soundJoin(starts, end, 50000, 1024, 4);
    EXPECT_EQ(j.join, 49152) << "the last packet start before the picture's join";
    EXPECT_EQ(j.feedFrom, 49152 - 4096);

    j = soundJoin(starts, end, INT64_MAX, 1024, 4);
    EXPECT_EQ(j.join, 97280) << "sound only: as late as two packets before the end allow";
    EXPECT_LE(j.join + 2048, end);

    j = soundJoin(starts, end, 2100, 1024, 4);
    EXPECT_EQ(j.join, 2048);
    EXPECT_EQ(j.feedFrom, 0) << "no more warm-up than there is sound before the join";

    // Too little kept to join on: the whole sound is new, the first packet included.
    j = soundJoin({-1024, 0, 1024}, 2000, INT64_MAX, 1024, 4);
    EXPECT_EQ(j.join, -1024);
    EXPECT_EQ(j.feedFrom, 0);
    j = soundJoin(starts, end, -5, 1024, 4);
    EXPECT_EQ(j.join, -1024);

    j = soundJoin({}, 0, INT64_MAX, 1024, 4);
    EXPECT_EQ(j.join, kEverythingNew);
}

// A Matroska clock counts milliseconds: 1024-sample packets at 44.1 kHz are put back where
// they lie, on the grid from the stream's first packet, whichever way the rounding went.
TEST(JoinDecisions, CoarseTimestampsGoBackOnThePacketGrid) {
    for (int64_t k : {0, 1, 7, 1206, 1291}) {
        const int64_t exact = k * 1024 - 4096;
        const int64_t rounded = (k * 1024 * 1000 + 22050) / 44100 * 441 / 10 - 4096;
        EXPECT_EQ(nearestOnGrid(rounded, -4096, 1024), exact) << k;
        EXPECT_EQ(nearestOnGrid(exact + 511, -4096, 1024), exact);
        EXPECT_EQ(nearestOnGrid(exact - 511, -4096, 1024), exact);
    }
    EXPECT_EQ(nearestOnGrid(-1536, 0, 1024), -1024) << "halves go up, below zero too";
    EXPECT_EQ(nearestOnGrid(-1537, 0, 1024), -2048);
    EXPECT_EQ(nearestOnGrid(5, 3, 0), 5) << "no grid";
}

// The parameter sets compare equal across the MP4 and the start-code forms, and not when one
// byte differs; a sample converts to start codes unit by unit, and a damaged one is refused.
TEST(JoinDecisions, H264ParameterSetsAndSamples) {
    const std::string sps = "\x67\x42\xc0\x1e\xd9\x01\x41\xfb\x01\x10";
    const std::string pps = std::string("\x68\xcb\x83\xcb\x20", 5);
    std::string avcc = std::string("\x01\x42\xc0\x1e\xff\xe1", 6);
    avcc += std::string{0, static_cast<char>(sps.size())} + sps;
    avcc += std::string("\x01\x00", 2) + static_cast<char>(pps.size()) + pps;
    const std::string annexB = std::string("\0\0\0\x01", 4) + sps + std::string("\0\0\x01", 3) +
                               pps + std::string("\0\0", 2);
    const auto u8 = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };

    const auto fromAvcc = avcParameterSets(u8(avcc), avcc.size());
    ASSERT_TRUE(fromAvcc);
    EXPECT_EQ(*fromAvcc, (std::vector<std::string>{sps, pps}));
    EXPECT_EQ(annexBParameterSets(u8(annexB), annexB.size()), *fromAvcc);
    EXPECT_EQ(avcLengthSize(u8(avcc), avcc.size()), 4);
    std::string otherPps = annexB;
    otherPps[otherPps.size() - 3] ^= 1;
    EXPECT_NE(annexBParameterSets(u8(otherPps), otherPps.size()), *fromAvcc);
    EXPECT_FALSE(avcParameterSets(u8(annexB), annexB.size())) << "start codes are no avcC";
    EXPECT_FALSE(avcParameterSets(u8(avcc), avcc.size() - 2)) << "cut short";

    const std::string sample =
        std::string("\0\0\0\x02\x65\x88", 6) + std::string("\0\0\0\x01\x06", 5);
    std::vector<uint8_t> out;
    ASSERT_TRUE(toAnnexB(u8(sample), sample.size(), 4, out));
    EXPECT_EQ(std::string(out.begin(), out.end()),
              std::string("\0\0\0\x01\x65\x88\0\0\0\x01\x06", 11));
    EXPECT_FALSE(toAnnexB(u8(sample), sample.size() - 1, 4, out)) << "a size past the end";
    EXPECT_FALSE(toAnnexB(u8(sample), 3, 4, out)) << "a size field cut short";
    ASSERT_TRUE(toAnnexB(u8(sample), 0, 4, out));
    EXPECT_TRUE(out.empty());
}
