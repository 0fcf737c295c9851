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

    if (r.exitCode != 0) {
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
