// The preview's player on real files made by ffmpeg: which attempt renders
// what, durations and positions in 100-ns units, accurate seeking, the end
// of playback (also with tracks it does not play), sound settings, and that
// closing lets go of everything.
#include "PreviewClips.h"
#include "engine/player/GraphHelpers.h"
#include "engine/player/MediaFramework.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

using namespace plexavo::preview;
using plexavo::platform::HResult;
using plexavo::platform::MediaGraph;
namespace hr = plexavo::platform::hr;
using plexavo::platform::kUnitsPerSecond;

namespace {

constexpr std::int64_t kFrame = kUnitsPerSecond / 25;

// Passes every call to a real graph and notes the attempts.
class RecordingGraph final : public IGraphBuilder {
  public:
    explicit RecordingGraph(IGraphBuilder& inner) : m_inner(inner) {}
    std::vector<std::string> attempts;

    HResult renderFile(const std::string& path) override {
        attempts.push_back("auto");
        return m_inner.renderFile(path);
    }
    HResult addSourceFilter(const std::string& name, const std::string& kind) override {
        attempts.push_back(name);
        return m_inner.addSourceFilter(name, kind);
    }
    HResult loadSource(const std::string& name, const std::string& path) override {
        return m_inner.loadSource(name, path);
    }
    HResult renderSourceOutputs(const std::string& name, int& outputs) override {
        return m_inner.renderSourceOutputs(name, outputs);
    }
    HResult removeFilter(const std::string& name) override { return m_inner.removeFilter(name); }
    HResult enumFilters(std::vector<std::string>& names) override {
        return m_inner.enumFilters(names);
    }

  private:
    IGraphBuilder& m_inner;
};

class MediaGraphTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        MediaGraph::setDefaultAudioOutput(MediaGraph::AudioOutput::Fake);
        s_clips = new preview_test::Clips();
        s_mp4 = s_clips->mp4();
        s_mkv = s_clips->mkv();
        s_ogg = s_clips->ogg();
        s_audio = s_clips->audioOnly();
    }
    static void TearDownTestSuite() {
        delete s_clips;
        s_clips = nullptr;
    }

    std::unique_ptr<MediaGraph> newGraph() {
        std::unique_ptr<MediaGraph> graph;
        EXPECT_EQ(MediaGraph::create(graph), hr::kOk);
        return graph;
    }

    static preview_test::Clips* s_clips;
    static std::string s_mp4, s_mkv, s_ogg, s_audio;
};
preview_test::Clips* MediaGraphTest::s_clips = nullptr;
std::string MediaGraphTest::s_mp4, MediaGraphTest::s_mkv, MediaGraphTest::s_ogg,
    MediaGraphTest::s_audio;

using Attempts = std::vector<std::string>;

} // namespace

TEST_F(MediaGraphTest, CommonFilesRenderAutomaticallyWithTheirDurationInMediaTime) {
    struct Case {
        std::string path;
        bool video;
    };
    for (const Case& c :
         {Case{s_mp4, true}, Case{s_mkv, true}, Case{s_ogg, true}, Case{s_audio, false}}) {
        SCOPED_TRACE(c.path);
        auto graph = newGraph();
        RecordingGraph recording(*graph);
        EXPECT_EQ(RenderMediaFile(&recording, c.path), S_OK) << graph->lastErrorText();
        EXPECT_EQ(recording.attempts, Attempts{"auto"});
        EXPECT_EQ(graph->hasVideo(), c.video);
        EXPECT_TRUE(graph->hasAudio());
        std::int64_t duration = 0;
        ASSERT_EQ(GetDurationInMediaTime(graph.get(), duration), S_OK);
        EXPECT_NEAR(static_cast<double>(duration), 3.0 * kUnitsPerSecond, 0.1 * kUnitsPerSecond);
        std::int64_t position = -1;
        ASSERT_EQ(GetCurrentPositionInMediaTime(graph.get(), position), S_OK);
        EXPECT_EQ(position, 0);
    }
}

TEST_F(MediaGraphTest, OddFileNamesAreOpenedAsTheyStand) {
    for (const char* name : {"-leading dash.mp4", "quote \" and 'apostrophe'.mp4",
                             "\xc3\xa7"
                             "a \xe6\x97\xa5\xe6\x9c\xac #1 %d.mp4"}) {
        SCOPED_TRACE(name);
        const std::string path = s_clips->copy(s_mp4, name);
        auto graph = newGraph();
        EXPECT_EQ(RenderMediaFile(graph.get(), path), S_OK) << graph->lastErrorText();
        EXPECT_TRUE(graph->hasVideo());
    }
}

TEST_F(MediaGraphTest, WithoutASoundDeviceTheSoundGoesSilentlyAndStillKeepsTime) {
    // The desktop's output as chosen for real use: where there is no device
    // (as on a build machine) the preview must play all the same.
    MediaGraph::setDefaultAudioOutput(MediaGraph::AudioOutput::Automatic);
    auto graph = newGraph();
    MediaGraph::setDefaultAudioOutput(MediaGraph::AudioOutput::Fake);
    ASSERT_EQ(RenderMediaFile(graph.get(), s_audio), S_OK) << graph->lastErrorText();
    ASSERT_TRUE(graph->hasAudio());
    ASSERT_EQ(SetPositionsInMediaTime(graph.get(), 25'000'000, Positioning::Absolute, 0,
                                      Positioning::None),
              S_OK);
    ASSERT_GE(graph->run(), 0);
    const auto started = std::chrono::steady_clock::now();
    long event = 0;
    while (graph->waitForCompletion(100, event) != S_OK &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(30)) {
    }
    EXPECT_EQ(event, plexavo::platform::kEventComplete);
    // Half a second of sound takes about half a second, device or not.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(350));
}

TEST_F(MediaGraphTest, FirstFrameIsReadyWhenTheRenderReturnsAndFitsTheBox) {
    auto graph = newGraph();
    graph->setVideoSize(200, 200); // 4:3 picture in a square: black bands above and below
    ASSERT_EQ(RenderMediaFile(graph.get(), s_mp4), S_OK);
    plexavo::platform::VideoFrame frame;
    ASSERT_TRUE(graph->latestFrame(frame));
    EXPECT_EQ(frame.width, 200);
    EXPECT_EQ(frame.height, 200);
    ASSERT_EQ(frame.pixels.size(), 200u * 200u * 4u);
    auto pixel = [&](int x, int y) {
        const auto* p = frame.pixels.data() + static_cast<std::size_t>(y) * frame.stride + x * 4;
        return p[0] + p[1] + p[2];
    };
    EXPECT_LT(pixel(100, 2), 30);   // letterbox band
    EXPECT_GT(pixel(100, 100), 60); // the test picture itself
    EXPECT_EQ(frame.position, 0);
}

TEST_F(MediaGraphTest, RealMediaNameOnAnotherKindOfFileFallsThroughQuickly) {
    const std::string fake = s_clips->copy(s_mp4, "not real.RM");
    auto graph = newGraph();
    RecordingGraph recording(*graph);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RenderMediaFile(&recording, fake), S_OK) << graph->lastErrorText();
    EXPECT_EQ(recording.attempts, (Attempts{"RealMedia Source", "auto"}));
    std::vector<std::string> filters;
    graph->enumFilters(filters);
    EXPECT_EQ(filters.size(), 1u); // the failed source was taken out again
    // The RealMedia demuxer alone would read to the end and wait out the
    // preroll limit; the check on loading refuses the file at once.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
}

TEST_F(MediaGraphTest, NamedQuickTimeSourcePlaysAnMp4) {
    auto graph = newGraph();
    EXPECT_EQ(
        AddNamedSourceFilter(graph.get(), s_mp4, kQuickTimeSource.name, kQuickTimeSource.kind),
        S_OK)
        << graph->lastErrorText();
    EXPECT_TRUE(graph->hasVideo());
    EXPECT_TRUE(graph->hasAudio());
    std::vector<std::string> filters;
    graph->enumFilters(filters);
    EXPECT_EQ(filters, std::vector<std::string>{"QuickTime Source"});
}

TEST_F(MediaGraphTest, TooSmallAndMissingFiles) {
    const std::string small = s_clips->truncated(s_mp4, "small.mp4", 101);
    const std::string barely = s_clips->truncated(s_mp4, "barely.mp4", 102);
    {
        auto graph = newGraph();
        RecordingGraph recording(*graph);
        EXPECT_EQ(RenderMediaFile(&recording, small), E_CUS_FILE_SIZE_TOO_LITTLE);
        EXPECT_TRUE(recording.attempts.empty());
    }
    for (const std::string& path : {barely, s_clips->path("missing.mp4")}) {
        SCOPED_TRACE(path);
        auto graph = newGraph();
        RecordingGraph recording(*graph);
        EXPECT_EQ(RenderMediaFile(&recording, path), E_UNEXPECTED);
        EXPECT_EQ(recording.attempts, (Attempts{"auto", "WindowsMedia Source", "RealMedia Source",
                                                "QuickTime Source"}));
        EXPECT_FALSE(graph->lastErrorText().empty());
        std::vector<std::string> filters;
        graph->enumFilters(filters);
        EXPECT_TRUE(filters.empty());
        EXPECT_LT(graph->run(), 0); // nothing to play
    }
}

TEST_F(MediaGraphTest, AccurateSeekWhilePausedLandsOnTheAskedPosition) {
    auto graph = newGraph();
    ASSERT_EQ(RenderMediaFile(graph.get(), s_mp4), S_OK);
    ASSERT_GE(graph->pause(), 0);
    for (std::int64_t target : {15'000'000LL, 22'000'000LL, 4'000'000LL}) {
        SCOPED_TRACE(target);
        ASSERT_EQ(SetPositionsInMediaTime(graph.get(), target, Positioning::Absolute, 0,
                                          Positioning::None),
                  S_OK);
        MediaGraph::State state;
        EXPECT_GE(graph->getState(5000, state), 0);
        std::int64_t position = -1;
        ASSERT_EQ(GetCurrentPositionInMediaTime(graph.get(), position), S_OK);
        EXPECT_NEAR(static_cast<double>(position), static_cast<double>(target), kFrame);
        // The frame on show is the one at the target, not the key frame before it.
        plexavo::platform::VideoFrame frame;
        ASSERT_TRUE(graph->latestFrame(frame));
        EXPECT_NEAR(static_cast<double>(frame.position), static_cast<double>(target), kFrame);
    }
}

TEST_F(MediaGraphTest, PlaybackEndsWithTheCompletionEvent) {
    auto graph = newGraph();
    ASSERT_EQ(RenderMediaFile(graph.get(), s_ogg), S_OK);
    ASSERT_EQ(SetPositionsInMediaTime(graph.get(), 20'000'000, Positioning::Absolute, 0,
                                      Positioning::None),
              S_OK);
    long event = 0;
    EXPECT_EQ(graph->waitForCompletion(0, event), hr::kAbort);
    EXPECT_EQ(event, 0);
    ASSERT_GE(graph->run(), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (graph->waitForCompletion(100, event) != S_OK &&
           std::chrono::steady_clock::now() < deadline) {
    }
    EXPECT_EQ(event, plexavo::platform::kEventComplete);
    EXPECT_GT(graph->framesRendered(), 5u);

    // Stopped and rewound, it shows the first frame again and can play anew.
    ASSERT_GE(graph->stop(), 0);
    ASSERT_EQ(SetPositionsInMediaTime(graph.get(), 0, Positioning::Absolute, 0, Positioning::None),
              S_OK);
    MediaGraph::State state;
    EXPECT_GE(graph->getState(5000, state), 0);
    EXPECT_EQ(state, MediaGraph::State::Stopped);
    plexavo::platform::VideoFrame frame;
    ASSERT_TRUE(graph->latestFrame(frame));
    EXPECT_NEAR(static_cast<double>(frame.position), 0.0, kFrame);
}

TEST_F(MediaGraphTest, SoundLevelsInHundredthsOfADecibel) {
    EXPECT_DOUBLE_EQ(MediaGraph::volumeToGain(0), 1.0);
    EXPECT_DOUBLE_EQ(MediaGraph::volumeToGain(-10000), 0.0);
    EXPECT_NEAR(MediaGraph::volumeToGain(-2000), 0.1, 1e-9);  // -20 dB
    EXPECT_NEAR(MediaGraph::volumeToGain(-600), 0.501, 1e-3); // -6 dB
    EXPECT_DOUBLE_EQ(MediaGraph::balanceToPanorama(0), 0.0);
    EXPECT_DOUBLE_EQ(MediaGraph::balanceToPanorama(10000), 1.0);
    EXPECT_DOUBLE_EQ(MediaGraph::balanceToPanorama(-10000), -1.0);
    // +20 dB of balance: the left side keeps a tenth.
    EXPECT_NEAR(MediaGraph::balanceToPanorama(2000), 0.9, 1e-9);
    EXPECT_NEAR(MediaGraph::balanceToPanorama(-2000), -0.9, 1e-9);

    auto graph = newGraph();
    ASSERT_EQ(RenderMediaFile(graph.get(), s_audio), S_OK);
    EXPECT_EQ(graph->setVolume(-2000), S_OK);
    EXPECT_EQ(graph->setBalance(-10000), S_OK);
    double gain = -1, panorama = -2;
    ASSERT_TRUE(graph->audioLevels(gain, panorama));
    EXPECT_NEAR(gain, 0.1, 1e-6);
    EXPECT_NEAR(panorama, -1.0, 1e-6);
    EXPECT_EQ(graph->setVolume(1), hr::kInvalidArg);
    EXPECT_EQ(graph->setBalance(10001), hr::kInvalidArg);
    EXPECT_EQ(graph->volume(), -2000);
}

TEST_F(MediaGraphTest, ClosingReleasesTheFileAndTheStreamingThreads) {
    {
        // Warm up: the first graph loads plugins and may start lasting helpers.
        auto graph = newGraph();
        ASSERT_EQ(RenderMediaFile(graph.get(), s_mkv), S_OK);
        graph->run();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const int threadsBefore = testing_support::threadCount();
    {
        auto graph = newGraph();
        ASSERT_EQ(RenderMediaFile(graph.get(), s_mkv), S_OK);
        graph->run();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_GE(testing_support::openDescriptorsTo(s_mkv), 1);
        EXPECT_GT(testing_support::threadCount(), threadsBefore);
    }
    EXPECT_EQ(testing_support::openDescriptorsTo(s_mkv), 0);
    EXPECT_LE(testing_support::threadCount(), threadsBefore);

    // Nothing else stays behind either: the bus, its wake-up sockets and
    // every element go with the graph, however many previews come and go.
    const int handlesBefore = testing_support::openDescriptorCount();
    for (int round = 0; round < 3; ++round) {
        auto graph = newGraph();
        ASSERT_EQ(RenderMediaFile(graph.get(), s_mp4), S_OK);
        graph->run();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        graph->pause();
        SetPositionsInMediaTime(graph.get(), 10'000'000, Positioning::Absolute, 0,
                                Positioning::None);
    }
    EXPECT_EQ(testing_support::openDescriptorCount(), handlesBefore);
}

// After the count of threads above: four graphs at once leave the thread
// pool more idle threads than one graph does, and they go only in time.
TEST_F(MediaGraphTest, ExtraTracksNeitherHurryThePositionNorDecideTheEnd) {
    using Extra = preview_test::Clips::Extra;
    struct Case {
        std::string path;
        bool video;
    };
    const std::vector<Case> cases = {
        {s_clips->tracks("two tracks, subtitles.mkv", 3, true, 2, Extra::Subtitles), true},
        {s_clips->tracks("three tracks.mkv", 3, true, 3), true},
        {s_clips->tracks("two tracks, data.mov", 3, true, 2, Extra::Data), true},
        {s_clips->tracks("two tracks.mka", 3, false, 2), false}};
    // All at once, each in its own graph, so the test lasts one clip's length.
    std::vector<std::unique_ptr<MediaGraph>> graphs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        graphs.push_back(newGraph());
        MediaGraph& graph = *graphs.back();
        ASSERT_EQ(RenderMediaFile(&graph, c.path), S_OK) << graph.lastErrorText();
        EXPECT_EQ(graph.hasVideo(), c.video);
        EXPECT_TRUE(graph.hasAudio());
        std::int64_t duration = 0;
        ASSERT_EQ(GetDurationInMediaTime(&graph, duration), S_OK);
        EXPECT_NEAR(static_cast<double>(duration), 3.0 * kUnitsPerSecond, 0.1 * kUnitsPerSecond);
    }
    const auto started = std::chrono::steady_clock::now();
    auto secondsSince = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    for (auto& graph : graphs)
        ASSERT_GE(graph->run(), 0);

    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double played = secondsSince();
    for (std::size_t i = 0; i < graphs.size(); ++i) {
        SCOPED_TRACE(cases[i].path);
        std::int64_t position = -1;
        ASSERT_EQ(GetCurrentPositionInMediaTime(graphs[i].get(), position), S_OK);
        // A second a second: a track nobody plays, read as fast as it comes,
        // would put it at the end by now.
        const double seconds = static_cast<double>(position) / kUnitsPerSecond;
        EXPECT_GT(seconds, 0.3);
        EXPECT_LT(seconds, played + 0.25);
    }

    std::vector<double> endedAt(graphs.size(), -1.0);
    auto running = [&] { return std::count(endedAt.begin(), endedAt.end(), -1.0) > 0; };
    while (running() && secondsSince() < 30) {
        for (std::size_t i = 0; i < graphs.size(); ++i) {
            long event = 0;
            if (endedAt[i] < 0 && graphs[i]->waitForCompletion(20, event) == S_OK) {
                EXPECT_EQ(event, plexavo::platform::kEventComplete) << cases[i].path;
                endedAt[i] = secondsSince();
            }
        }
    }
    for (std::size_t i = 0; i < graphs.size(); ++i) {
        SCOPED_TRACE(cases[i].path);
        EXPECT_GE(endedAt[i], 2.5); // at its length, neither before nor never
    }
}

TEST(MediaFramework, VersionRule) {
    EXPECT_FALSE(versionIsEnough({1, 15, 9}));
    EXPECT_TRUE(versionIsEnough({1, 16, 0}));
    EXPECT_TRUE(versionIsEnough({1, 22, 0}));
    EXPECT_TRUE(versionIsEnough({2, 0, 0}));
    EXPECT_FALSE(versionIsEnough({0, 10, 36}));
}

TEST(MediaFramework, ThisMachineHasWhatThePreviewNeeds) {
    const MediaFrameworkVersion version = mediaFrameworkVersion();
    EXPECT_EQ(version.major, 1u);
    EXPECT_GE(version.minor, 16u);
    std::string missing;
    for (const auto& part : missingPreviewParts())
        missing += part + " ";
    EXPECT_TRUE(missing.empty()) << missing;
    EXPECT_TRUE(mediaFrameworkPresent());
}
