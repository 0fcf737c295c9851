// The preview on a machine without one of the GStreamer plugins the package
// only recommends (the MPEG program-stream demuxer of
// gstreamer1.0-plugins-bad): a file that needs it fails with the missing part
// named in the text the preview shows, and a file that does not still plays.
// The whole program runs on the system's plugins less that one, so it is a
// program of its own.
#include "PreviewClips.h"
#include "engine/player/Player.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using plexavo::player::Player;
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
        Player::setDefaultAudioOutput(Player::AudioOutput::Silent);
        s_clips = new preview_test::Clips();
    }
    static void TearDownTestSuite() {
        delete s_clips;
        delete s_plugins;
    }

    static std::unique_ptr<Player> newPlayer() {
        std::string error;
        auto player = Player::create(&error);
        EXPECT_TRUE(player) << error;
        return player;
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
    auto player = newPlayer();
    ASSERT_FALSE(player->open(mpg));
    const auto missing = player->missingParts();
    ASSERT_EQ(missing.size(), 1u) << player->errorDetails();
    // GStreamer's own description of the demuxer it looked for.
    EXPECT_NE(missing[0].find("MPEG"), std::string::npos) << missing[0];
    EXPECT_NE(missing[0].find("demux"), std::string::npos) << missing[0];
    // The text the preview shows under "This file can't be played here."
    const std::string shown = player->errorMessage();
    EXPECT_NE(shown.find("Missing: " + missing[0]), std::string::npos) << shown;
    EXPECT_NE(shown.find("gstreamer1.0-plugins-bad"), std::string::npos) << shown;
}

TEST_F(WithoutTheProgramStreamDemuxer, FilesThatDoNotNeedItPlayAndSayNothing) {
    for (const std::string& clip : {s_clips->mp4(), s_clips->ogg()}) {
        SCOPED_TRACE(clip);
        auto player = newPlayer();
        ASSERT_TRUE(player->open(clip)) << player->errorDetails();
        EXPECT_TRUE(player->hasVideo());
        EXPECT_TRUE(player->hasAudio());
        EXPECT_TRUE(player->missingParts().empty());
        EXPECT_EQ(player->errorMessage(), "");
    }
}
