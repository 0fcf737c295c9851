// The preview on a machine without one of the GStreamer plugins the package
// only recommends (the MPEG program-stream demuxer of
// gstreamer1.0-plugins-bad): a file that needs it fails with the missing part
// named in the text the preview shows, and a file that does not still plays.
// The whole program runs on the system's plugins less that one, so it is a
// program of its own.
#include "PreviewClips.h"
#include "engine/player/GraphHelpers.h"
#include "engine/player/MediaGraph.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace plexavo::preview;
using plexavo::platform::MediaGraph;
namespace hr = plexavo::platform::hr;
namespace fs = std::filesystem;

namespace {

const char* const kLeftOut = "libgstmpegpsdemux.so";

class WithoutTheProgramStreamDemuxer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Before GStreamer starts: it reads the plugin folders once.
        s_plugins = new testing_support::TempDir();
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(GST_SYSTEM_PLUGINS_DIR, ec))
            if (entry.path().extension() == ".so" && entry.path().filename() != kLeftOut)
                fs::create_symlink(entry.path(),
                                   fs::path(s_plugins->path()) / entry.path().filename());
        setenv("GST_PLUGIN_SYSTEM_PATH_1_0", s_plugins->path().c_str(), 1);
        setenv("GST_PLUGIN_PATH_1_0", "", 1);
        setenv("GST_REGISTRY_1_0", (*s_plugins / "registry.bin").c_str(), 1);
        MediaGraph::setDefaultAudioOutput(MediaGraph::AudioOutput::Fake);
        s_clips = new preview_test::Clips();
    }
    static void TearDownTestSuite() {
        delete s_clips;
        delete s_plugins;
    }

    static std::unique_ptr<MediaGraph> newGraph() {
        std::unique_ptr<MediaGraph> graph;
        EXPECT_EQ(MediaGraph::create(graph), hr::kOk);
        return graph;
    }

    static testing_support::TempDir* s_plugins;
    static preview_test::Clips* s_clips;
};
testing_support::TempDir* WithoutTheProgramStreamDemuxer::s_plugins = nullptr;
preview_test::Clips* WithoutTheProgramStreamDemuxer::s_clips = nullptr;

} // namespace

TEST_F(WithoutTheProgramStreamDemuxer, AFileThatNeedsItNamesWhatIsMissing) {
    const std::string mpg =
        s_clips->make("clip.mpg", 2, {"-c:v", "mpeg1video"}, {"-c:a", "mp2", "-f", "mpeg"});
    auto graph = newGraph();
    ASSERT_LT(RenderMediaFile(graph.get(), mpg), 0);
    const auto missing = graph->missingParts();
    ASSERT_EQ(missing.size(), 1u) << graph->lastErrorText();
    // GStreamer's own description of the demuxer it looked for.
    EXPECT_NE(missing[0].find("MPEG"), std::string::npos) << missing[0];
    EXPECT_NE(missing[0].find("demux"), std::string::npos) << missing[0];
    // The text the preview shows under "This file can't be played here."
    const std::string shown = graph->lastErrorMessage();
    EXPECT_NE(shown.find("Missing: " + missing[0]), std::string::npos) << shown;
    EXPECT_NE(shown.find("gstreamer1.0-plugins-bad"), std::string::npos) << shown;
}

TEST_F(WithoutTheProgramStreamDemuxer, FilesThatDoNotNeedItPlayAndSayNothing) {
    for (const std::string& clip : {s_clips->mp4(), s_clips->ogg()}) {
        SCOPED_TRACE(clip);
        auto graph = newGraph();
        ASSERT_EQ(RenderMediaFile(graph.get(), clip), S_OK) << graph->lastErrorText();
        EXPECT_TRUE(graph->hasVideo());
        EXPECT_TRUE(graph->hasAudio());
        EXPECT_TRUE(graph->missingParts().empty());
        EXPECT_EQ(graph->lastErrorMessage(), "");
    }
}
