// Fixed-seed random inputs for the probe and progress parsers: the same
// checks as the libFuzzer targets (tests/fuzz), run in every build and under
// the sanitizers, seeded with real texts of the encoder core.
#include "ParserChecks.h"

#include "TestSupport.h"

#include <array>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string> corpus(const std::string& kind) {
    std::vector<std::string> texts;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(PLEXAVO_FUZZ_CORPUS) + "/" + kind))
        texts.push_back(testing_support::readFile(entry.path().string()));
    return texts;
}

// Pieces the parsers look for, so random texts reach past the first test.
constexpr std::array<std::string_view, 24> kWords = {"Duration: ",
                                                     "Stream #",
                                                     "Video:",
                                                     "Audio:",
                                                     ":",
                                                     ",",
                                                     "\n",
                                                     "\r",
                                                     " ",
                                                     "start: ",
                                                     "bitrate: ",
                                                     " kb/s",
                                                     "time=",
                                                     "Error: ",
                                                     "N/A",
                                                     "-",
                                                     "00",
                                                     "59",
                                                     "99999999999999999999",
                                                     "2147483647",
                                                     ".",
                                                     "0.",
                                                     "\r\n",
                                                     "frame="};

class Generator {
  public:
    explicit Generator(std::uint32_t seed) : m_random(seed) {}

    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_random);
    }

    // Words and digits and the odd raw byte, up to the probe's read size.
    std::string words() {
        std::string text;
        const std::size_t parts = below(80);
        for (std::size_t i = 0; i < parts && text.size() < 2100; ++i) {
            switch (below(4)) {
            case 0:
                text += std::to_string(below(100000));
                break;
            case 1:
                text += static_cast<char>(below(256));
                break;
            default:
                text += kWords[below(kWords.size())];
            }
        }
        return text;
    }

    // A real text, damaged: bytes flipped, cut, parts repeated or dropped.
    std::string mutate(std::string text) {
        const std::size_t edits = 1 + below(8);
        for (std::size_t i = 0; i < edits && !text.empty(); ++i) {
            const std::size_t at = below(text.size());
            switch (below(5)) {
            case 0:
                text[at] = static_cast<char>(below(256));
                break;
            case 1:
                text.resize(at);
                break;
            case 2:
                text.insert(at, text.substr(at, below(200)));
                break;
            case 3:
                text.erase(at, below(50));
                break;
            default:
                text.insert(at, kWords[below(kWords.size())]);
            }
        }
        return text;
    }

    std::string durationPrefix() {
        const std::int64_t choices[] = {
            0,         1,         4,
            100,       3723,      -5,
            INT64_MAX, INT64_MIN, static_cast<std::int64_t>(below(1u << 30))};
        const std::int64_t d = choices[below(std::size(choices))];
        return std::string(reinterpret_cast<const char*>(&d), sizeof d);
    }

  private:
    std::mt19937 m_random;
};

const std::uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

} // namespace

TEST(ParserFuzz, ProbeTextsOfAnyShape) {
    Generator gen(20240607);
    const auto seeds = corpus("probe");
    ASSERT_GE(seeds.size(), 4u);
    for (const auto& seed : seeds)
        ASSERT_EQ(parser_checks::checkProbeText(bytes(seed), seed.size()), "") << seed;
    for (int i = 0; i < 20000; ++i) {
        const std::string text = i % 2 ? gen.words() : gen.mutate(seeds[gen.below(seeds.size())]);
        const std::string broken = parser_checks::checkProbeText(bytes(text), text.size());
        ASSERT_EQ(broken, "") << "input " << i << ": " << testing::PrintToString(text);
    }
}

TEST(ParserFuzz, ProgressTextsOfAnyShape) {
    Generator gen(19700101);
    const auto seeds = corpus("progress");
    ASSERT_GE(seeds.size(), 2u);
    for (int i = 0; i < 20000; ++i) {
        const std::string body = i % 2 ? gen.words() : gen.mutate(seeds[gen.below(seeds.size())]);
        const std::string text = gen.durationPrefix() + body;
        const std::string broken = parser_checks::checkProgressText(bytes(text), text.size());
        ASSERT_EQ(broken, "") << "input " << i << ": " << testing::PrintToString(text);
    }
}
