// The preview's rules on a scripted builder: the order of the attempts at
// building a file's pipeline, faults inside them, the size refusal; and the
// length the preview spans.
#include "PreviewClips.h"
#include "engine/platform/DebugLog.h"
#include "engine/player/PreviewRules.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

using namespace plexavo::player;

namespace {

// A builder that records every call and answers as scripted: every attempt
// fails unless named in `succeeds`.
class ScriptedBuilder final : public PipelineBuilder {
  public:
    std::vector<std::string> calls; // "decodebin", a demuxer's name or "clear"
    std::set<std::string> succeeds;
    std::set<std::string> throws;

    // Only the attempts.
    std::vector<std::string> attempts() const {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c != "clear")
                out.push_back(c);
        return out;
    }

    bool buildAutomatic(const std::string&) override { return attempt("decodebin"); }
    bool buildWithDemuxer(const std::string&, const std::string& demuxer) override {
        return attempt(demuxer);
    }
    void clear() override { calls.push_back("clear"); }

  private:
    bool attempt(const std::string& kind) {
        calls.push_back(kind);
        if (throws.count(kind))
            throw std::runtime_error("fault in " + kind);
        return succeeds.count(kind) > 0;
    }
};

using Attempts = std::vector<std::string>;
const Attempts kEveryAttempt{"decodebin", "asfdemux", "rmdemux", "qtdemux"};

class OpenWithFallbacksTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { s_clips = new preview_test::Clips(); }
    static void TearDownTestSuite() {
        delete s_clips;
        s_clips = nullptr;
    }
    void SetUp() override {
        logPath = s_clips->path("log.txt");
        plexavo::platform::setLogPath(logPath);
    }
    void TearDown() override {
        plexavo::platform::setLogPath("");
        std::filesystem::remove(logPath);
    }
    // A file of `size` bytes named `name`.
    static std::string file(const std::string& name, std::size_t size = 4096) {
        const std::string path = s_clips->path(name);
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        return path;
    }
    std::string logText() const {
        std::ifstream in(logPath);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static preview_test::Clips* s_clips;
    std::string logPath;
};
preview_test::Clips* OpenWithFallbacksTest::s_clips = nullptr;

} // namespace

TEST_F(OpenWithFallbacksTest, RefusesFilesBelow102BytesBeforeAnyAttempt) {
    ScriptedBuilder builder;
    builder.succeeds = {"decodebin"};
    EXPECT_FALSE(openWithFallbacks(builder, file("small.mp4", 101)));
    EXPECT_TRUE(builder.calls.empty());
    EXPECT_NE(logText().find("**Error: file too small to play,size=101"), std::string::npos)
        << logText();

    ScriptedBuilder empty;
    empty.succeeds = {"decodebin"};
    EXPECT_FALSE(openWithFallbacks(empty, file("empty.mp4", 0)));
    EXPECT_TRUE(empty.calls.empty());
    EXPECT_NE(logText().find("size=0"), std::string::npos);

    ScriptedBuilder enough;
    enough.succeeds = {"decodebin"};
    EXPECT_TRUE(openWithFallbacks(enough, file("enough.mp4", 102)));
    EXPECT_EQ(enough.attempts(), Attempts{"decodebin"});
}

TEST_F(OpenWithFallbacksTest, MissingFileIsNotRefusedButEveryAttemptFails) {
    ScriptedBuilder builder;
    EXPECT_FALSE(openWithFallbacks(builder, s_clips->path("no such file.mp4")));
    EXPECT_EQ(builder.attempts(), kEveryAttempt);
    EXPECT_EQ(logText().find("too small"), std::string::npos);
}

TEST_F(OpenWithFallbacksTest, DecodebinThatSucceedsIsTheOnlyAttempt) {
    for (const char* name : {"clip.wmv", "clip.mov", "clip.mp4", "clip"}) {
        ScriptedBuilder builder;
        builder.succeeds = {"decodebin"};
        EXPECT_TRUE(openWithFallbacks(builder, file(name))) << name;
        EXPECT_EQ(builder.attempts(), Attempts{"decodebin"}) << name;
    }
}

TEST_F(OpenWithFallbacksTest, RealMediaExtensionsTryRmdemuxFirstWhateverTheCase) {
    for (const char* name : {"clip.RM", "clip.rmvb", "clip.Ram", "clip.ra"}) {
        ScriptedBuilder builder;
        builder.succeeds = {"rmdemux", "decodebin"};
        EXPECT_TRUE(openWithFallbacks(builder, file(name))) << name;
        EXPECT_EQ(builder.attempts(), Attempts{"rmdemux"}) << name;
    }
}

TEST_F(OpenWithFallbacksTest, FailedEarlyRmdemuxIsNotRepeatedInTheFallbacks) {
    ScriptedBuilder builder;
    EXPECT_FALSE(openWithFallbacks(builder, file("clip.RM")));
    EXPECT_EQ(builder.attempts(), (Attempts{"rmdemux", "decodebin", "asfdemux", "qtdemux"}));
}

TEST_F(OpenWithFallbacksTest, OtherNamesDoNotSelectTheEarlyAttempt) {
    // The extension follows the last dot, and a leading dot is no extension.
    for (const char* name : {"rm", "clip.rm.mp4", "clip.wma", "clip.qt", "clip.rma"}) {
        ScriptedBuilder builder;
        builder.succeeds = {"decodebin", "rmdemux"};
        EXPECT_TRUE(openWithFallbacks(builder, file(name)));
        EXPECT_EQ(builder.attempts(), Attempts{"decodebin"}) << name;
    }
    ScriptedBuilder bare;
    bare.succeeds = {"decodebin", "rmdemux"};
    EXPECT_TRUE(openWithFallbacks(bare, ".rm")); // the dot opens the path
    EXPECT_EQ(bare.attempts(), Attempts{"decodebin"});
}

TEST_F(OpenWithFallbacksTest, EachFallbackThatSucceedsEndsTheSearch) {
    struct Case {
        const char* succeeding;
        Attempts expected;
    };
    for (const Case& c :
         {Case{"asfdemux", {"decodebin", "asfdemux"}},
          Case{"rmdemux", {"decodebin", "asfdemux", "rmdemux"}}, Case{"qtdemux", kEveryAttempt}}) {
        ScriptedBuilder builder;
        builder.succeeds = {c.succeeding};
        EXPECT_TRUE(openWithFallbacks(builder, file("clip.mov"))) << c.succeeding;
        EXPECT_EQ(builder.attempts(), c.expected) << c.succeeding;
        // Only a fault clears: a failed attempt takes itself out.
        EXPECT_EQ(std::count(builder.calls.begin(), builder.calls.end(), "clear"), 0);
    }
}

TEST_F(OpenWithFallbacksTest, FaultInDecodebinClearsAndTheFallbacksRun) {
    ScriptedBuilder builder;
    builder.throws = {"decodebin"};
    builder.succeeds = {"asfdemux"};
    EXPECT_TRUE(openWithFallbacks(builder, file("clip.asf")));
    EXPECT_EQ(builder.calls, (std::vector<std::string>{"decodebin", "clear", "asfdemux"}));
}

TEST_F(OpenWithFallbacksTest, FaultInEveryAttemptFailsAfterClearingEach) {
    ScriptedBuilder builder;
    builder.throws = {"decodebin", "asfdemux", "rmdemux", "qtdemux"};
    EXPECT_FALSE(openWithFallbacks(builder, file("clip.mp4")));
    EXPECT_EQ(builder.calls, (std::vector<std::string>{"decodebin", "clear", "asfdemux", "clear",
                                                       "rmdemux", "clear", "qtdemux", "clear"}));
}

TEST_F(OpenWithFallbacksTest, FaultInTheEarlyAttemptStillLeadsToDecodebin) {
    ScriptedBuilder builder;
    builder.throws = {"rmdemux"};
    builder.succeeds = {"decodebin"};
    EXPECT_TRUE(openWithFallbacks(builder, file("clip.rmvb")));
    EXPECT_EQ(builder.calls, (std::vector<std::string>{"rmdemux", "clear", "decodebin"}));
}

TEST(PreviewDuration, ThePlayersWhereItAgreesWithTheProbeElseTheProbes) {
    using std::chrono::milliseconds;
    struct Case {
        std::optional<ClockTime> duration;
        std::int32_t probed;
        std::int32_t expected;
        const char* what;
    };
    for (const Case& c : {
             Case{milliseconds(6'100), 6, 6, "agreeing"},
             Case{milliseconds(7'990), 7, 7, "agreeing, cut off"},
             Case{milliseconds(7'000), 6, 7, "a second apart is rounding"},
             Case{milliseconds(5'000), 6, 5, "a second short"},
             Case{std::nullopt, 6, 6, "none: a bare stream"},
             Case{ClockTime::zero(), 6, 6, "zero is none"},
             Case{milliseconds(2'700), 6, 6, "short: wrapped timestamps"},
             Case{std::chrono::hours(10), 6, 6, "long: far past what the probe found"},
             Case{milliseconds(2'700), 0, 2, "probe unknown"},
             Case{std::nullopt, 0, 0, "neither"},
             Case{std::chrono::hours(1'000'000), 0, std::numeric_limits<std::int32_t>::max(),
                  "beyond what the slider holds"},
         }) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(previewDurationSeconds(c.duration, c.probed), c.expected);
    }
}
