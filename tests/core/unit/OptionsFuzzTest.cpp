// Random command lines from a fixed seed: the parser either accepts a line whose values are
// all in range or refuses it with a reason; nothing else (no crash, no other exception).
#include "OptionsFuzzing.h"
#include "PlexcoreContract.h"

#include <gtest/gtest.h>

#include <random>

namespace {

const char* const kOptions[] = {"-i",
                                "-title",
                                "-vcodec",
                                "-pix_fmt",
                                "-s",
                                "-r",
                                "-b",
                                "-bt",
                                "-maxrate",
                                "-minrate",
                                "-ab",
                                "-ac",
                                "-ar",
                                "-ss",
                                "-t",
                                "-y",
                                "-target",
                                "-can-write",
                                "-",
                                "--",
                                "-x",
                                plexavo::contract::kAccessCode,
                                plexavo::contract::kCanResumeOption,
                                plexavo::contract::kResumeOption};

const char* const kValues[] = {
    "",           "0",           "1",         "-1",          "00",
    "0.0",        "0k",          "0M",        "1.5M",        "768",
    "768k",       "k",           "M",         "1e400",       "-1e400",
    "nan",        "inf",         "1e-400",    "0x10",        "9999999999999999999",
    "2147483648", "-2147483649", "320x240",   "vga",         "hd1080",
    "16x16",      "15x16",       "4096x4096", "4097x16",     "99999x99999",
    "x",          "320x",        "x240",      "30000/1001",  "1/0",
    "0/0",        "-30/-1",      "120",       "120.001",     "29.97",
    "23.976",     "00:00:01",    "99:99:99",  "-00:00:01",   "1:2:3:4",
    "1e10",       "ntsc-dvd",    "pal-",      "film-svcd",   "dv",
    "wmv",        "ogm",         "xvid",      "h264",        "yuv420p",
    "yuv411p",    "8000",        "96000",     "96001",       "8",
    "9",          "out.mp4",     "-out.mp4",  "in file.mkv", "\xc3\xa9t\xc3\xa9",
    "a\nb",       "%s%n",        "\x7f\x01"};

std::string randomBytes(std::mt19937& rng) {
    std::string s(rng() % 12, '\0');
    for (char& c : s)
        c = static_cast<char>(1 + rng() % 255);
    return s;
}

std::vector<std::string> randomLine(std::mt19937& rng) {
    std::vector<std::string> args;
    const size_t n = rng() % 14;
    for (size_t i = 0; i < n; ++i) {
        switch (rng() % 4) {
        case 0:
        case 1:
            args.push_back(kOptions[rng() % std::size(kOptions)]);
            break;
        case 2:
            args.push_back(kValues[rng() % std::size(kValues)]);
            break;
        default:
            args.push_back(randomBytes(rng));
        }
    }
    // Many lines start the way the program writes them, so the deeper checks are reached.
    if (rng() % 2)
        args.insert(args.begin(), {"-i", "in.mp4"});
    return args;
}

} // namespace

TEST(OptionsFuzz, RandomCommandLinesAreAcceptedInRangeOrRefused) {
    std::mt19937 rng(20240611u);
    int accepted = 0, refused = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::vector<std::string> args = randomLine(rng);
        const std::string why = optionsfuzz::violation(args);
        ASSERT_EQ(why, "") << "line " << i << ": " << ::testing::PrintToString(args);
        try {
            plexavo::core::parseOptions(args);
            ++accepted;
        } catch (const plexavo::core::UsageError&) {
            ++refused;
        }
    }
    // The generator must exercise both ways out, or the test proves little.
    EXPECT_GT(accepted, 1000);
    EXPECT_GT(refused, 1000);
}

TEST(OptionsFuzz, BytesSplitIntoArgumentsAtNul) {
    const uint8_t bytes[] = {'-', 'i', 0, 'a', 0, 0, 'b'};
    const auto args = optionsfuzz::argsFromBytes(bytes, sizeof bytes);
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[0], "-i");
    EXPECT_EQ(args[1], "a");
    EXPECT_EQ(args[2], "");
    EXPECT_EQ(args[3], "b");
}
