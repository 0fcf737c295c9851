// The command line: what each option accepts and the one-line reason for what it refuses.
#include "Options.h"
#include "PlexcoreContract.h"

#include <gtest/gtest.h>

using namespace plexavo::core;

namespace {

Options parse(std::vector<std::string> middle, const std::string& output = "out.mp4") {
    std::vector<std::string> args = {plexavo::contract::kAccessCode, "-i", "in.mp4"};
    args.insert(args.end(), middle.begin(), middle.end());
    if (!output.empty())
        args.push_back(output);
    return parseOptions(args);
}

// The reason parseOptions gives, or "" when it accepts the line.
std::string refusal(const std::vector<std::string>& args) {
    try {
        parseOptions(args);
    } catch (const UsageError& e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST(OptionParsing, TheProgramsCommandLine) {
    const Options o = parse({"-title", "My \"clip\"", "-vcodec",  "xvid",  "-pix_fmt", "yuv420p",
                             "-s",     "320x240",     "-r",       "29.97", "-b",       "768",
                             "-bt",    "700",         "-maxrate", "1000",  "-minrate", "100",
                             "-ac",    "2",           "-ab",      "128",   "-ar",      "44100",
                             "-ss",    "12",          "-t",       "30",    "-y"},
                            "out put.mp4");
    EXPECT_EQ(*o.input, "in.mp4");
    EXPECT_EQ(*o.output, "out put.mp4");
    EXPECT_EQ(*o.title, "My \"clip\"");
    EXPECT_EQ(o.vcodec, VideoCodecChoice::Xvid);
    EXPECT_EQ(*o.pixFmt, "yuv420p");
    EXPECT_EQ(*o.width, 320);
    EXPECT_EQ(*o.height, 240);
    EXPECT_EQ(o.frameRate->num, 30000);
    EXPECT_EQ(o.frameRate->den, 1001);
    EXPECT_EQ(*o.videoBitrate, 768000);
    EXPECT_EQ(*o.varBitrate, 700000);
    EXPECT_EQ(*o.maxRate, 1000000);
    EXPECT_EQ(*o.minRate, 100000);
    EXPECT_EQ(*o.channels, 2);
    EXPECT_EQ(*o.audioBitrate, 128000);
    EXPECT_EQ(*o.sampleRate, 44100);
    EXPECT_EQ(*o.startUs, 12000000);
    EXPECT_EQ(*o.durationUs, 30000000);
    EXPECT_TRUE(o.overwrite);
    EXPECT_EQ(o.disc, DiscKind::None);
}

TEST(OptionParsing, AccessCodeIsOptionalAndMayBeTrimmed) {
    EXPECT_EQ(*parseOptions({"-i", "a.mp4"}).input, "a.mp4");
    EXPECT_EQ(*parseOptions({"wpx93knTR&!", "-i", "a.mp4"}).input, "a.mp4");
    EXPECT_NE(refusal({" wpx93knTR&!  ", "-i", "a.mp4"}), "") << "only the exact code is skipped";
}

TEST(OptionParsing, ValuesAreTakenVerbatim) {
    // Names that look like options are values where a value is expected, and the last
    // argument is the output whatever it looks like.
    const Options o = parseOptions({"-i", "-y", "-title", "-t", "-y", "-out.mp4"});
    EXPECT_EQ(*o.input, "-y");
    EXPECT_EQ(*o.title, "-t");
    EXPECT_TRUE(o.overwrite);
    EXPECT_EQ(*o.output, "-out.mp4");
    EXPECT_FALSE(parseOptions({"-i", "a.mp4", "-y"}).output) << "-y last is the flag";
}

TEST(OptionParsing, RatesSizesAndTimesInTheirOtherSpellings) {
    EXPECT_EQ(*parse({"-b", "1.5M"}).videoBitrate, 1500000);
    EXPECT_EQ(*parse({"-b", "768k"}).videoBitrate, 768000);
    EXPECT_FALSE(parse({"-b", "0"}).videoBitrate) << "0 is not set";
    EXPECT_FALSE(parse({"-maxrate", "0k"}).maxRate);
    const Options vga = parse({"-s", "vga"});
    EXPECT_EQ(*vga.width, 640);
    EXPECT_EQ(*vga.height, 480);
    EXPECT_EQ(*parse({"-ss", "00:01:02.5"}).startUs, 62500000);
    EXPECT_EQ(*parse({"-ss", "1.25"}).startUs, 1250000);
    EXPECT_FALSE(parse({"-t", "0"}).durationUs) << "0 is to the end";
    EXPECT_FALSE(parse({"-t", "5", "-t", "0"}).durationUs) << "the last one counts";
    const Options r = parse({"-r", "23.976"});
    EXPECT_EQ(r.frameRate->num, 24000);
    EXPECT_EQ(r.frameRate->den, 1001);
    const Options q = parse({"-r", "30000/1001"});
    EXPECT_EQ(q.frameRate->num, 30000);
    EXPECT_EQ(q.frameRate->den, 1001);
    EXPECT_EQ(parse({"-vcodec", "libx264"}).vcodec, VideoCodecChoice::H264);
    EXPECT_EQ(parse({"-vcodec", "mpeg4"}).vcodec, VideoCodecChoice::Xvid);
}

TEST(OptionParsing, DiscTargets) {
    Options o = parse({"-target", "pal-dvd"});
    EXPECT_EQ(o.disc, DiscKind::Dvd);
    EXPECT_EQ(o.norm, TvNorm::Pal);
    o = parse({"-target", "ntsc-vcd"});
    EXPECT_EQ(o.disc, DiscKind::Vcd);
    EXPECT_EQ(o.norm, TvNorm::Ntsc);
    o = parse({"-target", "film-svcd"});
    EXPECT_EQ(o.disc, DiscKind::Svcd);
    EXPECT_EQ(o.norm, TvNorm::Film);
    o = parse({"-target", "dv"});
    EXPECT_EQ(o.disc, DiscKind::Dv);
    EXPECT_EQ(o.norm, TvNorm::Guess);
}

TEST(OptionParsing, CapabilityQuery) {
    const Options o = parseOptions({"-can-write", "ogm"});
    EXPECT_TRUE(o.askedForCapability);
    EXPECT_EQ(o.capability, "ogm");
    EXPECT_TRUE(
        parseOptions({plexavo::contract::kAccessCode, "-can-write", "wmv"}).askedForCapability);
}

// Every option's refusals: each names the option and the value at fault.
struct Refused {
    std::vector<std::string> middle; // between "-i in.mp4" and the output
    std::vector<std::string> mention;
};

TEST(OptionErrors, EachOptionRefusesMalformedValues) {
    const Refused cases[] = {
        {{"-vcodec", "theora"}, {"-vcodec", "theora"}},
        {{"-vcodec", ""}, {"-vcodec"}},
        {{"-pix_fmt", "rgb999"}, {"-pix_fmt", "rgb999"}},
        {{"-s", "320"}, {"-s", "320"}},
        {{"-s", "widexhigh"}, {"-s", "widexhigh"}},
        {{"-s", "0x0"}, {"-s"}},
        {{"-s", "8x8"}, {"-s"}},
        {{"-s", "5000x480"}, {"-s"}},
        {{"-s", "-320x240"}, {"-s"}},
        {{"-r", "fast"}, {"-r", "fast"}},
        {{"-r", "0.5"}, {"-r"}},
        {{"-r", "121"}, {"-r"}},
        {{"-r", "30/0"}, {"-r"}},
        {{"-b", "lots"}, {"-b", "lots"}},
        {{"-b", "0.5"}, {"-b", "out of range"}},
        {{"-b", "300000"}, {"-b", "out of range"}},
        {{"-b", "-768"}, {"-b"}},
        {{"-b", "nan"}, {"-b", "nan"}},
        {{"-b", "inf"}, {"-b", "inf"}},
        {{"-b", "12x"}, {"-b", "12x"}},
        {{"-b", "k"}, {"-b"}},
        {{"-bt", "x"}, {"-bt"}},
        {{"-maxrate", "x"}, {"-maxrate"}},
        {{"-minrate", "x"}, {"-minrate"}},
        {{"-ab", "12x"}, {"-ab", "12x"}},
        {{"-ac", "stereo"}, {"-ac", "stereo"}},
        {{"-ac", "0"}, {"-ac", "1 to 8"}},
        {{"-ac", "9"}, {"-ac"}},
        {{"-ac", "1.5"}, {"-ac"}},
        {{"-ac", ""}, {"-ac"}},
        {{"-ar", "high"}, {"-ar", "high"}},
        {{"-ar", "7999"}, {"-ar"}},
        {{"-ar", "96001"}, {"-ar"}},
        {{"-ar", "1e400"}, {"-ar"}},
        {{"-ss", "soon"}, {"-ss", "soon"}},
        {{"-ss", "-1"}, {"-ss"}},
        {{"-ss", ""}, {"-ss"}},
        {{"-t", "forever"}, {"-t", "forever"}},
        {{"-t", "-3"}, {"-t"}},
        {{"-target", "pal-laserdisc"}, {"-target", "pal-laserdisc"}},
        {{"-target", "pal-"}, {"-target"}},
        {{"-target", "secam-dvd"}, {"-target"}},
        {{"-can-write", "mkv"}, {"-can-write", "mkv"}},
        {{"-frobnicate", "1"}, {"frobnicate"}},
        {{"stray"}, {"stray", "last"}},
        {{"-maxrate", "500", "-minrate", "800"}, {"-minrate", "-maxrate"}},
    };
    for (const Refused& c : cases) {
        std::vector<std::string> args = {"-i", "in.mp4"};
        args.insert(args.end(), c.middle.begin(), c.middle.end());
        args.push_back("out.mp4");
        const std::string why = refusal(args);
        ASSERT_NE(why, "") << "accepted: " << ::testing::PrintToString(c.middle);
        for (const std::string& m : c.mention)
            EXPECT_NE(why.find(m), std::string::npos)
                << "'" << why << "' does not name '" << m << "'";
        EXPECT_EQ(why.find('\n'), std::string::npos) << "one line: " << why;
    }
}

TEST(OptionErrors, EveryValueOptionNeedsItsValue) {
    for (const char* opt :
         {"-i", "-title", "-vcodec", "-pix_fmt", "-s", "-r", "-b", "-bt", "-maxrate", "-minrate",
          "-ab", "-ac", "-ar", "-ss", "-t", "-target", "-can-write"}) {
        // As the last argument it has no value; the output cannot be an option's value.
        const std::string why = refusal({"-i", "in.mp4", "-y", opt});
        EXPECT_NE(why.find(std::string("option ") + opt + " needs a value"), std::string::npos)
            << opt << ": " << why;
    }
}

TEST(OptionErrors, InputIsRequiredAndNotEmpty) {
    EXPECT_NE(refusal({"out.mp4"}).find("no input"), std::string::npos);
    EXPECT_NE(refusal({}).find("no input"), std::string::npos);
    EXPECT_NE(refusal({"-i", "", "out.mp4"}).find("empty"), std::string::npos);
}

TEST(OptionErrors, UsageErrorIsAStandardException) {
    try {
        parseOptions({"-i", "in.mp4", "-frobnicate", "out.mp4"});
        FAIL() << "accepted";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("frobnicate"), std::string::npos);
    }
}
