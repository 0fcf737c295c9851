// Damaged media: bits flipped at random (fixed seeds) in generated clips. The core must read
// past the damage at least about as far as the ffmpeg tool does on the same bytes, and never
// make a clip longer than it was.
#include "support/Checks.h"
#include "support/Core.h"
#include "support/Fixtures.h"
#include "support/Media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

using namespace coretest;

namespace {

// Flips one bit per bytesPerFlip bytes, past the first kilobyte (the file's headers: without
// them neither tool reads anything, which proves nothing).
void writeDamaged(const std::string& source, const std::string& to, uint32_t seed,
                  size_t bytesPerFlip) {
    std::string data = readFile(source);
    ASSERT_GT(data.size(), 4096u);
    std::mt19937 rng(seed);
    const size_t flips = data.size() / bytesPerFlip;
    for (size_t i = 0; i < flips; ++i) {
        const size_t at = 1024 + rng() % (data.size() - 1024);
        data[at] = static_cast<char>(data[at] ^ (1u << (rng() % 8)));
    }
    writeFile(to, data);
}

struct Lengths {
    double video = 0; // 0 when the stream is missing
    double audio = 0;
};

Lengths lengthsOf(const std::string& path) {
    Lengths l;
    if (!fileExists(path))
        return l;
    const ProbeInfo p = ProbeInfo::of(path);
    if (!p.ok)
        return l;
    if (const int v = p.find("video"); v >= 0)
        l.video = std::max(0.0, streamDuration(p, v));
    if (const int a = p.find("audio"); a >= 0)
        l.audio = std::max(0.0, streamDuration(p, a));
    return l;
}

struct DamageCase {
    const char* name;
    const char* fixture;
    uint32_t seed;
    size_t bytesPerFlip;
    bool toTheEnd; // no length given (-t 0) instead of the whole seconds the program passes
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.name;
}

class Damaged : public ::testing::TestWithParam<DamageCase> {};

} // namespace

TEST_P(Damaged, ReadsOnAsFarAsTheFfmpegToolAndNoFurther) {
    const DamageCase& c = GetParam();
    TempDir dir;
    const std::string source = fixture(c.fixture);
    const double length = ProbeInfo::of(source).formatNum("duration").value_or(0);
    ASSERT_GT(length, 1.0);
    const std::string input = dir / (std::string("damaged.") + c.fixture);
    writeDamaged(source, input, c.seed, c.bytesPerFlip);

    Job job;
    job.input = input;
    job.output = dir / "out.mp4";
    job.length = c.toTheEnd ? "0" : std::to_string(static_cast<int>(std::ceil(length)));
    const RunResult r = job.run(120);
    ASSERT_FALSE(r.timedOut) << describe(r);
    ASSERT_EQ(r.termSignal, 0) << describe(r);

    // Always with a length: on some of these files the ffmpeg tool would go on for hours.
    const std::string reference = dir / "ffmpeg.mp4";
    const RunResult ref = run({"ffmpeg", "-v", "quiet", "-nostdin", "-y", "-i", input, "-t",
                               std::to_string(static_cast<int>(std::ceil(length))), "-c:v", "mpeg4",
                               "-q:v", "8", "-c:a", "aac", reference},
                              120);
    ASSERT_FALSE(ref.timedOut);
    const Lengths theirs = lengthsOf(reference);

    // Damage that ends the source early keeps what was read and says so (exit 4).
    if (r.exitCode != 0 && r.exitCode != plexavo::contract::kExitIncomplete) {
        // Failing is fair only where the ffmpeg tool gets next to nothing either.
        EXPECT_LT(std::max(theirs.video, theirs.audio), 0.5) << describe(r);
        EXPECT_FALSE(fileExists(job.output));
        return;
    }
    const Lengths mine = lengthsOf(job.output);
    const double tolerance = 0.3;
    EXPECT_GE(mine.video, std::min(theirs.video, length) - tolerance)
        << "video ends early; the ffmpeg tool reads " << theirs.video << " s\n"
        << describe(r);
    EXPECT_GE(mine.audio, std::min(theirs.audio, length) - tolerance)
        << "audio ends early; the ffmpeg tool reads " << theirs.audio << " s\n"
        << describe(r);
    EXPECT_LE(mine.video, length + tolerance) << "video made longer than the clip";
    EXPECT_LE(mine.audio, length + tolerance) << "audio made longer than the clip";
}

INSTANTIATE_TEST_SUITE_P(FlippedBits, Damaged,
                         ::testing::Values(DamageCase{"FlvLight1", "flv", 1, 2000, false},
                                           DamageCase{"FlvLight2", "flv", 2, 2000, false},
                                           DamageCase{"FlvLight3", "flv", 3, 2000, false},
                                           DamageCase{"FlvHeavy1", "flv", 1, 300, false},
                                           DamageCase{"FlvHeavy2", "flv", 2, 300, false},
                                           DamageCase{"FlvToTheEnd", "flv", 4, 300, true},
                                           DamageCase{"TsLight1", "ts", 1, 2000, false},
                                           DamageCase{"TsLight2", "ts", 2, 2000, false},
                                           DamageCase{"TsLight3", "ts", 3, 2000, false},
                                           DamageCase{"TsHeavy1", "ts", 1, 300, false},
                                           DamageCase{"TsHeavy2", "ts", 2, 300, false},
                                           DamageCase{"TsToTheEnd", "ts", 4, 300, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A source cut off after 44 % of its promised 10 s: what is there is converted and kept, and
// the run says how much of the promise it holds instead of claiming success.
TEST(EndedEarly, TruncatedSourceIsKeptAndReported) {
    TempDir dir;
    Job job = {};
    job.input = fixture("cut-short");
    job.output = dir / "out.mp4";
    job.length = "0";
    job.overwrite = false;
    job.extra = {plexavo::contract::kClaimOption};
    const RunResult r = job.run(120);
    ASSERT_EQ(r.termSignal, 0) << describe(r);
    EXPECT_EQ(r.exitCode, plexavo::contract::kExitIncomplete) << describe(r);
    EXPECT_EQ(writtenOutput(r.out), job.output) << describe(r);
    const auto errors = linesStartingWith(r.out, plexavo::contract::kErrorPrefix);
    ASSERT_EQ(errors.size(), 1u) << describe(r);
    double held = 0, promised = 0;
    ASSERT_EQ(std::sscanf(errors[0].c_str(),
                          "Error: the output holds %lf of %lf seconds: the "
                          "source is damaged",
                          &held, &promised),
              2)
        << errors[0];
    EXPECT_NEAR(promised, 10.0, 0.1);
    const double length = ProbeInfo::of(job.output).formatNum("duration").value_or(0);
    EXPECT_NEAR(held, length, 0.3) << "the line does not tell what the file holds";
    EXPECT_GT(length, 2.0);
    EXPECT_LT(length, 6.0);
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());

    // A whole source, and a part well inside the truncated one, are no such case.
    for (const auto& [input, length] :
         {std::pair{fixture("mp4"), "0"}, std::pair{fixture("cut-short"), "2"}}) {
        Job whole = job;
        whole.input = input;
        whole.length = length;
        const RunResult ok = whole.run(120);
        EXPECT_EQ(ok.exitCode, 0) << input << "\n" << describe(ok);
        EXPECT_TRUE(linesStartingWith(ok.out, plexavo::contract::kErrorPrefix).empty());
    }
}
