// The graph helpers' rules on scripted graphs: the order of the render
// attempts, faults, the size refusal, and the time-format dance of the
// seeking helpers.
#include "PreviewClips.h"
#include "engine/player/GraphHelpers.h"
#include "engine/services/DebugLog.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>

using namespace plexavo::preview;
using plexavo::platform::HResult;
using plexavo::platform::TimeFormat;
namespace hr = plexavo::platform::hr;

namespace {

constexpr HResult kRenderFailed = hr::kInvalidFileFormat;

// A graph that records every call and answers as scripted.
class ScriptedGraph final : public IGraphBuilder {
  public:
    std::vector<std::string> calls;
    std::vector<std::string> filters;
    HResult renderFileResult = kRenderFailed;
    bool renderFileThrows = false;
    std::set<std::string> notInstalled;
    std::set<std::string> throwsWhileRendering;
    std::map<std::string, HResult> outputsResult; // default: failure
    std::map<std::string, int> outputCount;       // default: 1

    // Only the attempts: "auto" or the named source's name.
    std::vector<std::string> attempts() const {
        std::vector<std::string> out;
        for (const auto& c : calls) {
            if (c == "renderFile")
                out.push_back("auto");
            else if (c.rfind("add ", 0) == 0)
                out.push_back(c.substr(4));
        }
        return out;
    }

    HResult renderFile(const std::string&) override {
        calls.push_back("renderFile");
        filters.push_back("File Source");
        if (renderFileThrows)
            throw std::runtime_error("fault in a decoder");
        return renderFileResult;
    }
    HResult addSourceFilter(const std::string& name, const std::string& kind) override {
        calls.push_back("add " + name);
        kinds[name] = kind;
        if (notInstalled.count(name))
            return hr::kFail;
        filters.push_back(name);
        return hr::kOk;
    }
    HResult loadSource(const std::string& name, const std::string&) override {
        calls.push_back("load " + name);
        return hr::kOk;
    }
    HResult renderSourceOutputs(const std::string& name, int& outputs) override {
        calls.push_back("outputs " + name);
        if (throwsWhileRendering.count(name))
            throw std::runtime_error("fault in a filter");
        outputs = outputCount.count(name) ? outputCount[name] : 1;
        return outputsResult.count(name) ? outputsResult[name] : kRenderFailed;
    }
    HResult removeFilter(const std::string& name) override {
        calls.push_back("remove " + name);
        std::erase(filters, name);
        return hr::kOk;
    }
    HResult enumFilters(std::vector<std::string>& names) override {
        calls.push_back("enum");
        names = filters;
        return hr::kOk;
    }

    std::map<std::string, std::string> kinds;
};

class RenderMediaFileTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_clips = new preview_test::Clips();
        const std::string big(4096, 'x');
        std::ofstream(s_clips->path("data.bin"), std::ios::binary) << big;
    }
    static void TearDownTestSuite() {
        delete s_clips;
        s_clips = nullptr;
    }
    void SetUp() override {
        logPath = s_clips->path("log.txt");
        plexavo::log::setLogPath(logPath);
    }
    void TearDown() override {
        plexavo::log::setLogPath("");
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
preview_test::Clips* RenderMediaFileTest::s_clips = nullptr;

using Attempts = std::vector<std::string>;

} // namespace

TEST_F(RenderMediaFileTest, NoGraphIsAPointerError) {
    EXPECT_EQ(RenderMediaFile(nullptr, file("a.mp4")), E_POINTER);
    EXPECT_EQ(AddNamedSourceFilter(nullptr, "a.mp4", "QuickTime Source", "qtdemux"), E_POINTER);
    EXPECT_EQ(ClearGraph(nullptr), E_POINTER);
}

TEST_F(RenderMediaFileTest, RefusesFilesBelow102BytesBeforeTouchingTheGraph) {
    ScriptedGraph graph;
    EXPECT_EQ(RenderMediaFile(&graph, file("small.mp4", 101)), E_CUS_FILE_SIZE_TOO_LITTLE);
    EXPECT_TRUE(graph.calls.empty());
    EXPECT_NE(logText().find("**Error:E_CUS_FILE_SIZE_TOO_LITTLE,size=101"), std::string::npos)
        << logText();

    ScriptedGraph empty;
    EXPECT_EQ(RenderMediaFile(&empty, file("empty.mp4", 0)), E_CUS_FILE_SIZE_TOO_LITTLE);
    EXPECT_NE(logText().find("size=0"), std::string::npos);

    ScriptedGraph enough;
    enough.renderFileResult = hr::kOk;
    EXPECT_EQ(RenderMediaFile(&enough, file("enough.mp4", 102)), hr::kOk);
    EXPECT_EQ(enough.attempts(), Attempts{"auto"});
}

TEST_F(RenderMediaFileTest, MissingFileIsNotRefusedButEveryAttemptFails) {
    ScriptedGraph graph;
    EXPECT_EQ(RenderMediaFile(&graph, s_clips->path("no such file.mp4")), E_UNEXPECTED);
    EXPECT_EQ(graph.attempts(),
              (Attempts{"auto", "WindowsMedia Source", "RealMedia Source", "QuickTime Source"}));
    EXPECT_EQ(logText().find("E_CUS_FILE_SIZE_TOO_LITTLE"), std::string::npos);
}

TEST_F(RenderMediaFileTest, AutomaticRenderThatSucceedsCreatesNoNamedSource) {
    for (const char* name : {"clip.wmv", "clip.mov", "clip.mp4", "clip"}) {
        ScriptedGraph graph;
        graph.renderFileResult = hr::kFalse; // a success code is passed on as it is
        EXPECT_EQ(RenderMediaFile(&graph, file(name)), hr::kFalse) << name;
        EXPECT_EQ(graph.attempts(), Attempts{"auto"}) << name;
    }
}

TEST_F(RenderMediaFileTest, RealMediaExtensionsTryTheRealMediaSourceFirstWhateverTheCase) {
    for (const char* name : {"clip.RM", "clip.rmvb", "clip.Ram", "clip.ra"}) {
        ScriptedGraph graph;
        graph.outputsResult["RealMedia Source"] = hr::kOk;
        EXPECT_EQ(RenderMediaFile(&graph, file(name)), hr::kOk) << name;
        EXPECT_EQ(graph.attempts(), Attempts{"RealMedia Source"}) << name;
        EXPECT_EQ(graph.kinds["RealMedia Source"], "rmdemux");
    }
}

TEST_F(RenderMediaFileTest, FailedEarlyRealMediaAttemptIsNotRepeatedInTheFallbacks) {
    ScriptedGraph graph;
    EXPECT_EQ(RenderMediaFile(&graph, file("clip.RM")), E_UNEXPECTED);
    EXPECT_EQ(graph.attempts(),
              (Attempts{"RealMedia Source", "auto", "WindowsMedia Source", "QuickTime Source"}));
}

TEST_F(RenderMediaFileTest, OtherNamesDoNotSelectTheEarlyAttempt) {
    // The extension follows the last dot, and a leading dot is no extension.
    for (const char* name : {"rm", "clip.rm.mp4", "clip.wma", "clip.qt", "clip.rma"}) {
        ScriptedGraph graph;
        graph.renderFileResult = hr::kOk;
        RenderMediaFile(&graph, file(name));
        EXPECT_EQ(graph.attempts(), Attempts{"auto"}) << name;
    }
    ScriptedGraph bare;
    bare.renderFileResult = hr::kOk;
    RenderMediaFile(&bare, ".rm"); // the dot opens the path
    EXPECT_EQ(bare.attempts(), Attempts{"auto"});
}

TEST_F(RenderMediaFileTest, WindowsMediaSuccessInTheFallbackEndsTheSearch) {
    ScriptedGraph graph;
    graph.outputsResult["WindowsMedia Source"] = hr::kOk;
    EXPECT_EQ(RenderMediaFile(&graph, file("clip.wmv")), hr::kOk);
    EXPECT_EQ(graph.attempts(), (Attempts{"auto", "WindowsMedia Source"}));
    EXPECT_EQ(graph.kinds["WindowsMedia Source"], "asfdemux");
}

TEST_F(RenderMediaFileTest, QuickTimeIsTheLastResort) {
    ScriptedGraph graph;
    graph.outputsResult["QuickTime Source"] = hr::kOk;
    EXPECT_EQ(RenderMediaFile(&graph, file("clip.mov")), hr::kOk);
    EXPECT_EQ(graph.attempts(),
              (Attempts{"auto", "WindowsMedia Source", "RealMedia Source", "QuickTime Source"}));
    EXPECT_EQ(graph.kinds["QuickTime Source"], "qtdemux");
    EXPECT_EQ(graph.filters, (std::vector<std::string>{"File Source", "QuickTime Source"}));
}

TEST_F(RenderMediaFileTest, SourcesThatAreNotInstalledOnlyFailTheirOwnAttempt) {
    ScriptedGraph graph;
    graph.notInstalled = {"WindowsMedia Source", "RealMedia Source"};
    graph.outputsResult["QuickTime Source"] = hr::kOk;
    EXPECT_EQ(RenderMediaFile(&graph, file("clip.mov")), hr::kOk);
    EXPECT_EQ(graph.attempts(),
              (Attempts{"auto", "WindowsMedia Source", "RealMedia Source", "QuickTime Source"}));
    // Nothing was added for them, so nothing is taken out.
    for (const auto& call : graph.calls)
        EXPECT_EQ(call.find("remove W"), std::string::npos) << call;
}

TEST_F(RenderMediaFileTest, FaultInTheAutomaticRenderEmptiesTheGraphAndTheFallbacksRun) {
    ScriptedGraph graph;
    graph.renderFileThrows = true;
    graph.outputsResult["WindowsMedia Source"] = hr::kOk;
    EXPECT_EQ(RenderMediaFile(&graph, file("clip.asf")), hr::kOk);
    const Attempts expected{"renderFile",
                            "enum",
                            "remove File Source",
                            "add WindowsMedia Source",
                            "load WindowsMedia Source",
                            "outputs WindowsMedia Source"};
    EXPECT_EQ(graph.calls, expected);
}

TEST_F(RenderMediaFileTest, FaultInEveryAttemptEndsUnexpected) {
    ScriptedGraph graph;
    graph.renderFileThrows = true;
    graph.throwsWhileRendering = {"WindowsMedia Source", "RealMedia Source", "QuickTime Source"};
    EXPECT_EQ(RenderMediaFile(&graph, file("clip.mp4")), E_UNEXPECTED);
    EXPECT_EQ(graph.attempts(),
              (Attempts{"auto", "WindowsMedia Source", "RealMedia Source", "QuickTime Source"}));
    EXPECT_TRUE(graph.filters.empty());
}

TEST_F(RenderMediaFileTest, FaultInTheEarlyAttemptStillLeadsToTheAutomaticRender) {
    ScriptedGraph graph;
    graph.throwsWhileRendering = {"RealMedia Source"};
    graph.renderFileResult = hr::kOk;
    EXPECT_EQ(RenderMediaFile(&graph, file("clip.rmvb")), hr::kOk);
    EXPECT_EQ(graph.attempts(), (Attempts{"RealMedia Source", "auto"}));
    EXPECT_EQ(graph.filters, std::vector<std::string>{"File Source"});
}

TEST_F(RenderMediaFileTest, PlainFailureLeavesTheGraphAsTheAttemptLeftIt) {
    // Only a fault empties the graph; a failed render's leftovers stay.
    ScriptedGraph graph;
    graph.outputsResult["WindowsMedia Source"] = hr::kOk;
    RenderMediaFile(&graph, file("clip.wmv"));
    EXPECT_EQ(graph.filters, (std::vector<std::string>{"File Source", "WindowsMedia Source"}));
    for (const auto& call : graph.calls)
        EXPECT_NE(call, "enum");
}

TEST(AddNamedSourceFilter, RemovesAFailedSourceAndKeepsAGoodOne) {
    ScriptedGraph failing;
    EXPECT_EQ(AddNamedSourceFilter(&failing, "a.wmv", "WindowsMedia Source", "asfdemux"),
              kRenderFailed);
    EXPECT_EQ(failing.calls, (std::vector<std::string>{
                                 "add WindowsMedia Source", "load WindowsMedia Source",
                                 "outputs WindowsMedia Source", "remove WindowsMedia Source"}));
    EXPECT_TRUE(failing.filters.empty());

    ScriptedGraph good;
    good.outputsResult["QuickTime Source"] = hr::kFalse;
    EXPECT_EQ(AddNamedSourceFilter(&good, "a.mov", "QuickTime Source", "qtdemux"), hr::kFalse);
    EXPECT_EQ(good.filters, std::vector<std::string>{"QuickTime Source"});
}

TEST(AddNamedSourceFilter, SourceWithoutOutputsIsUnexpected) {
    ScriptedGraph graph;
    graph.outputsResult["QuickTime Source"] = hr::kOk;
    graph.outputCount["QuickTime Source"] = 0;
    EXPECT_EQ(AddNamedSourceFilter(&graph, "a.mov", "QuickTime Source", "qtdemux"), E_UNEXPECTED);
    EXPECT_TRUE(graph.filters.empty());
}

TEST(AddNamedSourceFilter, MissingSourceIsUnexpectedAndAddsNothing) {
    ScriptedGraph graph;
    graph.notInstalled = {"RealMedia Source"};
    EXPECT_EQ(AddNamedSourceFilter(&graph, "a.rm", "RealMedia Source", "rmdemux"), E_UNEXPECTED);
    EXPECT_EQ(graph.calls, std::vector<std::string>{"add RealMedia Source"});
}

TEST(ClearGraph, RemovesEveryFilter) {
    ScriptedGraph graph;
    graph.filters = {"a", "b", "c"};
    EXPECT_EQ(ClearGraph(&graph), S_OK);
    EXPECT_TRUE(graph.filters.empty());
}

// ---------------------------------------------------------------------------

namespace {

// Seeking that counts in the format it is set to: media time or bytes (one
// byte per 100 ns unit here, so the helpers' conversions show).
class ScriptedSeeking final : public IMediaSeeking {
  public:
    TimeFormat format = TimeFormat::MediaTime;
    bool mediaTimeSupported = true;
    HResult getFormatResult = hr::kOk;
    HResult operationResult = hr::kOk;
    std::vector<std::string> calls;
    std::int64_t lastCurrent = -1;
    Positioning lastCurrentFlags = Positioning::None;
    Positioning lastStopFlags = Positioning::Absolute;

    HResult isFormatSupported(TimeFormat f) override {
        return f != TimeFormat::MediaTime || mediaTimeSupported ? hr::kOk : hr::kFalse;
    }
    HResult getTimeFormat(TimeFormat& f) override {
        calls.push_back("get format");
        f = format;
        return getFormatResult;
    }
    HResult setTimeFormat(TimeFormat f) override {
        calls.push_back(f == TimeFormat::MediaTime ? "set media time" : "set other");
        format = f;
        return hr::kOk;
    }
    HResult setPositions(std::int64_t* current, Positioning cf, std::int64_t*,
                         Positioning sf) override {
        calls.push_back(format == TimeFormat::MediaTime ? "seek in media time" : "seek in bytes");
        lastCurrent = *current;
        lastCurrentFlags = cf;
        lastStopFlags = sf;
        return operationResult;
    }
    HResult getCurrentPosition(std::int64_t& p) override {
        calls.push_back("position");
        p = format == TimeFormat::MediaTime ? 15'000'000 : 7;
        return operationResult;
    }
    HResult getDuration(std::int64_t& d) override {
        calls.push_back("duration");
        d = format == TimeFormat::MediaTime ? duration : 9;
        return operationResult;
    }
    std::int64_t duration = 30'000'000;
};

} // namespace

TEST(SeekingHelpers, WithoutSeekingOrMediaTimeThereIsNoInterface) {
    std::int64_t value = 0;
    EXPECT_EQ(GetDurationInMediaTime(nullptr, value), E_NOINTERFACE);
    EXPECT_EQ(GetCurrentPositionInMediaTime(nullptr, value), E_NOINTERFACE);
    EXPECT_EQ(SetPositionsInMediaTime(nullptr, 0, Positioning::Absolute, 0, Positioning::None),
              E_NOINTERFACE);
    ScriptedSeeking seeking;
    seeking.mediaTimeSupported = false;
    EXPECT_EQ(GetDurationInMediaTime(&seeking, value), E_NOINTERFACE);
    EXPECT_TRUE(seeking.calls.empty());
}

TEST(SeekingHelpers, AnotherFormatIsSwitchedToMediaTimeAndBack) {
    ScriptedSeeking seeking;
    seeking.format = TimeFormat::Byte;
    std::int64_t duration = 0;
    EXPECT_EQ(GetDurationInMediaTime(&seeking, duration), S_OK);
    EXPECT_EQ(duration, 30'000'000);
    EXPECT_EQ(seeking.calls,
              (std::vector<std::string>{"get format", "set media time", "duration", "set other"}));
    EXPECT_EQ(seeking.format, TimeFormat::Byte);
}

TEST(SeekingHelpers, MediaTimeGraphKeepsItsFormatAndTheOperationsResult) {
    ScriptedSeeking seeking;
    seeking.operationResult = hr::kFalse;
    std::int64_t position = 0;
    EXPECT_EQ(GetCurrentPositionInMediaTime(&seeking, position), hr::kFalse);
    EXPECT_EQ(position, 15'000'000);
    EXPECT_EQ(seeking.calls,
              (std::vector<std::string>{"get format", "set media time", "position"}));
}

TEST(SeekingHelpers, SetPositionsPassesPositionAndFlags) {
    ScriptedSeeking seeking;
    seeking.format = TimeFormat::Byte;
    EXPECT_EQ(
        SetPositionsInMediaTime(&seeking, 25'000'000, Positioning::Absolute, 0, Positioning::None),
        S_OK);
    EXPECT_EQ(seeking.lastCurrent, 25'000'000);
    EXPECT_EQ(seeking.lastCurrentFlags, Positioning::Absolute);
    EXPECT_EQ(seeking.lastStopFlags, Positioning::None);
    EXPECT_EQ(seeking.calls[2], "seek in media time");
}

TEST(SeekingHelpers, FailuresReturnAtOnce) {
    ScriptedSeeking failingOperation;
    failingOperation.format = TimeFormat::Byte;
    failingOperation.operationResult = hr::kFail;
    std::int64_t value = 0;
    EXPECT_EQ(GetDurationInMediaTime(&failingOperation, value), hr::kFail);
    // Left at media time: the failure comes back before the switch back.
    EXPECT_EQ(failingOperation.format, TimeFormat::MediaTime);

    ScriptedSeeking failingFormat;
    failingFormat.getFormatResult = hr::kWrongState;
    EXPECT_EQ(GetDurationInMediaTime(&failingFormat, value), hr::kWrongState);
    EXPECT_EQ(failingFormat.calls, std::vector<std::string>{"get format"});
}

TEST(PreviewDuration, TheGraphsWhereItAgreesWithTheProbeElseTheProbes) {
    struct Case {
        HResult result;
        std::int64_t duration; // media time
        std::int32_t probed;
        std::int32_t expected;
        const char* what;
    };
    for (const Case& c : {
             Case{hr::kOk, 61'000'000, 6, 6, "agreeing"},
             Case{hr::kOk, 79'900'000, 7, 7, "agreeing, cut off"},
             Case{hr::kOk, 70'000'000, 6, 7, "a second apart is rounding"},
             Case{hr::kOk, 50'000'000, 6, 5, "a second short"},
             Case{hr::kFail, 0, 6, 6, "none: a bare stream"},
             Case{hr::kOk, 0, 6, 6, "zero is none"},
             Case{hr::kOk, 27'000'000, 6, 6, "short: wrapped timestamps"},
             Case{hr::kOk, 360'060'000'000, 6, 6, "long: far past what the probe found"},
             Case{hr::kOk, 27'000'000, 0, 2, "probe unknown"},
             Case{hr::kFail, 0, 0, 0, "neither"},
         }) {
        SCOPED_TRACE(c.what);
        ScriptedSeeking seeking;
        seeking.operationResult = c.result;
        seeking.duration = c.duration;
        EXPECT_EQ(PreviewDurationSeconds(&seeking, c.probed), c.expected);
    }
    EXPECT_EQ(PreviewDurationSeconds(nullptr, 9), 9); // no graph at all
}
