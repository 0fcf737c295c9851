// The preview's player on real files made by ffmpeg: which attempt builds
// the pipeline, durations and positions, accurate seeking, the end of
// playback (also with tracks it does not play), sound settings, and that
// closing lets go of everything; GStreamer started by the first use, not before.
#include "PreviewClips.h"
#include "engine/player/GStreamerRuntime.h"
#include "engine/player/PlayerModule.h"
#include "engine/player/PreviewRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

using namespace plexavo::player;
using namespace std::chrono_literals;

namespace {

constexpr ClockTime kFrame = 40ms; // 25 frames a second

double seconds(std::optional<ClockTime> time) {
    return time ? std::chrono::duration<double>(*time).count() : -1.0;
}

// Passes every call to a real player and notes the attempts.
class RecordingBuilder final : public PipelineBuilder {
  public:
    explicit RecordingBuilder(Player& player) : m_player(player) {}
    std::vector<std::string> attempts;

    bool buildAutomatic(const std::string& path) override {
        attempts.push_back("decodebin");
        return m_player.buildAutomatic(path);
    }
    bool buildWithDemuxer(const std::string& path, const std::string& demuxer) override {
        attempts.push_back(demuxer);
        return m_player.buildWithDemuxer(path, demuxer);
    }
    void clear() override { m_player.clear(); }

  private:
    Player& m_player;
};

class PlayerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        Player::setDefaultAudioOutput(Player::AudioOutput::Silent);
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

    static std::unique_ptr<Player> newPlayer() {
        std::string error;
        auto player = Player::create(&error);
        EXPECT_TRUE(player) << error;
        return player;
    }

    // Waits (at most 30 s) for the end of playback or an error.
    static Player::Ending waitForTheEnd(Player& player) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        Player::Ending ending = Player::Ending::None;
        while (ending == Player::Ending::None && std::chrono::steady_clock::now() < deadline)
            ending = player.waitForEnd(100ms);
        return ending;
    }

    static preview_test::Clips* s_clips;
    static std::string s_mp4, s_mkv, s_ogg, s_audio;
};
preview_test::Clips* PlayerTest::s_clips = nullptr;
std::string PlayerTest::s_mp4, PlayerTest::s_mkv, PlayerTest::s_ogg, PlayerTest::s_audio;

using Attempts = std::vector<std::string>;

} // namespace

TEST_F(PlayerTest, CommonFilesOpenThroughDecodebinWithTheirDuration) {
    struct Case {
        std::string path;
        bool video;
    };
    for (const Case& c :
         {Case{s_mp4, true}, Case{s_mkv, true}, Case{s_ogg, true}, Case{s_audio, false}}) {
        SCOPED_TRACE(c.path);
        auto player = newPlayer();
        RecordingBuilder recording(*player);
        EXPECT_TRUE(openWithFallbacks(recording, c.path)) << player->errorDetails();
        EXPECT_EQ(recording.attempts, Attempts{"decodebin"});
        EXPECT_EQ(player->openedWith(), "decodebin");
        EXPECT_EQ(player->hasVideo(), c.video);
        EXPECT_TRUE(player->hasAudio());
        EXPECT_NEAR(seconds(player->duration()), 3.0, 0.1);
        EXPECT_EQ(player->position(), ClockTime::zero());
        EXPECT_EQ(player->state(), Player::State::Stopped);
    }
}

TEST_F(PlayerTest, OddFileNamesAreOpenedAsTheyStand) {
    for (const char* name : {"-leading dash.mp4", "quote \" and 'apostrophe'.mp4",
                             "\xc3\xa7"
                             "a \xe6\x97\xa5\xe6\x9c\xac #1 %d.mp4"}) {
        SCOPED_TRACE(name);
        const std::string path = s_clips->copy(s_mp4, name);
        auto player = newPlayer();
        EXPECT_TRUE(player->open(path)) << player->errorDetails();
        EXPECT_TRUE(player->hasVideo());
    }
}

TEST_F(PlayerTest, WithoutASoundDeviceTheSoundGoesSilentlyAndStillKeepsTime) {
    // The desktop's output as chosen for real use: where there is no device
    // (as on a build machine) the preview must play all the same.
    Player::setDefaultAudioOutput(Player::AudioOutput::Automatic);
    auto player = newPlayer();
    Player::setDefaultAudioOutput(Player::AudioOutput::Silent);
    ASSERT_TRUE(player->open(s_audio)) << player->errorDetails();
    ASSERT_TRUE(player->hasAudio());
    ASSERT_TRUE(player->seek(2500ms));
    ASSERT_TRUE(player->play());
    EXPECT_EQ(player->state(), Player::State::Playing);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(waitForTheEnd(*player), Player::Ending::EndOfStream);
    // Half a second of sound takes about half a second, device or not.
    EXPECT_GE(std::chrono::steady_clock::now() - started, 350ms);
}

TEST_F(PlayerTest, FirstFrameIsReadyWhenOpenReturnsAndFitsTheBox) {
    auto player = newPlayer();
    player->setVideoSize(200, 200); // 4:3 picture in a square: black bands above and below
    ASSERT_TRUE(player->open(s_mp4));
    VideoFrame frame;
    ASSERT_TRUE(player->latestFrame(frame));
    EXPECT_EQ(frame.width, 200);
    EXPECT_EQ(frame.height, 200);
    ASSERT_EQ(frame.pixels.size(), 200u * 200u * 4u);
    auto pixel = [&](int x, int y) {
        const auto* p = frame.pixels.data() + static_cast<std::size_t>(y) * frame.stride + x * 4;
        return p[0] + p[1] + p[2];
    };
    EXPECT_LT(pixel(100, 2), 30);   // letterbox band
    EXPECT_GT(pixel(100, 100), 60); // the test picture itself
    EXPECT_EQ(frame.position, ClockTime::zero());
}

TEST_F(PlayerTest, RealMediaNameOnAnotherKindOfFileFallsThroughQuickly) {
    const std::string fake = s_clips->copy(s_mp4, "not real.RM");
    auto player = newPlayer();
    RecordingBuilder recording(*player);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(openWithFallbacks(recording, fake)) << player->errorDetails();
    EXPECT_EQ(recording.attempts, (Attempts{"rmdemux", "decodebin"}));
    EXPECT_EQ(player->openedWith(), "decodebin"); // the failed attempt was taken out
    // rmdemux alone would read to the end and wait out the preroll limit;
    // the look at the file's first bytes refuses it at once.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
}

TEST_F(PlayerTest, QtdemuxBehindAFilesrcPlaysAnMp4) {
    auto player = newPlayer();
    EXPECT_TRUE(player->buildWithDemuxer(s_mp4, kQuickTimeFallback.demuxer))
        << player->errorDetails();
    EXPECT_EQ(player->openedWith(), "qtdemux");
    EXPECT_TRUE(player->hasVideo());
    EXPECT_TRUE(player->hasAudio());
    EXPECT_NEAR(seconds(player->duration()), 3.0, 0.1);
}

TEST_F(PlayerTest, AFailedDemuxerAttemptLeavesNothingAndSaysWhy) {
    auto player = newPlayer();
    ASSERT_TRUE(player->open(s_mp4));
    // A demuxer that is not installed, and one that does not take the file.
    for (const char* demuxer : {"nosuchdemux", "asfdemux"}) {
        SCOPED_TRACE(demuxer);
        EXPECT_FALSE(player->buildWithDemuxer(s_mp4, demuxer));
        EXPECT_NE(player->errorDetails().find(demuxer), std::string::npos)
            << player->errorDetails();
        EXPECT_EQ(player->openedWith(), "");
        EXPECT_FALSE(player->hasVideo());
        EXPECT_FALSE(player->play());
        EXPECT_FALSE(player->position());
    }
}

TEST_F(PlayerTest, ClearTakesOutWhatWasOpened) {
    auto player = newPlayer();
    ASSERT_TRUE(player->open(s_mp4));
    ASSERT_TRUE(player->play());
    player->clear();
    EXPECT_EQ(player->openedWith(), "");
    EXPECT_FALSE(player->hasVideo());
    EXPECT_FALSE(player->hasAudio());
    VideoFrame frame;
    EXPECT_FALSE(player->latestFrame(frame));
    EXPECT_FALSE(player->duration());
    EXPECT_FALSE(player->seek(1s));
    // And opens again.
    EXPECT_TRUE(player->open(s_ogg)) << player->errorDetails();
    EXPECT_TRUE(player->latestFrame(frame));
}

TEST_F(PlayerTest, TooSmallAndMissingFiles) {
    const std::string small = s_clips->truncated(s_mp4, "small.mp4", 101);
    const std::string barely = s_clips->truncated(s_mp4, "barely.mp4", 102);
    {
        auto player = newPlayer();
        RecordingBuilder recording(*player);
        EXPECT_FALSE(openWithFallbacks(recording, small));
        EXPECT_TRUE(recording.attempts.empty());
        // Refused by the player itself: nothing from GStreamer to show.
        EXPECT_EQ(player->errorMessage(), "");
    }
    for (const std::string& path : {barely, s_clips->path("missing.mp4")}) {
        SCOPED_TRACE(path);
        auto player = newPlayer();
        RecordingBuilder recording(*player);
        EXPECT_FALSE(openWithFallbacks(recording, path));
        EXPECT_EQ(recording.attempts, (Attempts{"decodebin", "asfdemux", "rmdemux", "qtdemux"}));
        EXPECT_FALSE(player->errorDetails().empty());
        EXPECT_EQ(player->openedWith(), "");
        EXPECT_FALSE(player->play()); // nothing to play
        EXPECT_FALSE(player->pause());
        EXPECT_FALSE(player->stop());
    }
    // GStreamer's own words for a file that is not there.
    auto player = newPlayer();
    EXPECT_FALSE(player->buildAutomatic(s_clips->path("missing.mp4")));
    EXPECT_FALSE(player->errorMessage().empty());
}

TEST_F(PlayerTest, AccurateSeekWhilePausedLandsOnTheAskedPosition) {
    auto player = newPlayer();
    ASSERT_TRUE(player->open(s_mp4));
    ASSERT_TRUE(player->pause());
    EXPECT_EQ(player->state(), Player::State::Paused);
    for (ClockTime target : {ClockTime(1500ms), ClockTime(2200ms), ClockTime(400ms)}) {
        SCOPED_TRACE(target.count());
        ASSERT_TRUE(player->seek(target));
        EXPECT_TRUE(player->waitUntilSettled(5s));
        const auto position = player->position();
        ASSERT_TRUE(position);
        EXPECT_LE(std::chrono::abs(*position - target), kFrame);
        // The frame on show is the one at the target, not the key frame before it.
        VideoFrame frame;
        ASSERT_TRUE(player->latestFrame(frame));
        ASSERT_TRUE(frame.position);
        EXPECT_LE(std::chrono::abs(*frame.position - target), kFrame);
    }
}

TEST_F(PlayerTest, PlaybackEndsAndStopGoesBackToTheFirstFrame) {
    auto player = newPlayer();
    ASSERT_TRUE(player->open(s_ogg));
    ASSERT_TRUE(player->seek(2s));
    EXPECT_EQ(player->waitForEnd(0ms), Player::Ending::None);
    ASSERT_TRUE(player->play());
    EXPECT_EQ(waitForTheEnd(*player), Player::Ending::EndOfStream);
    EXPECT_GT(player->framesRendered(), 5u);

    // Stopped, it shows the first frame again and can play anew.
    ASSERT_TRUE(player->stop());
    EXPECT_TRUE(player->waitUntilSettled(5s));
    EXPECT_EQ(player->state(), Player::State::Stopped);
    EXPECT_EQ(player->position(), ClockTime::zero());
    VideoFrame frame;
    ASSERT_TRUE(player->latestFrame(frame));
    ASSERT_TRUE(frame.position);
    EXPECT_LE(std::chrono::abs(*frame.position), kFrame);
    EXPECT_TRUE(player->play());
}

TEST_F(PlayerTest, VolumeAndBalanceReachTheSoundElements) {
    auto player = newPlayer();
    // Set before opening, they hold for what is opened.
    EXPECT_TRUE(player->setVolume(0.5));
    ASSERT_TRUE(player->open(s_audio));
    double gain = -1, panorama = -2;
    ASSERT_TRUE(player->audioLevels(gain, panorama));
    EXPECT_NEAR(gain, 0.5, 1e-6);
    EXPECT_NEAR(panorama, 0.0, 1e-6);

    EXPECT_TRUE(player->setVolume(0.1));
    EXPECT_TRUE(player->setBalance(-1.0));
    ASSERT_TRUE(player->audioLevels(gain, panorama));
    EXPECT_NEAR(gain, 0.1, 1e-6);
    EXPECT_NEAR(panorama, -1.0, 1e-6);
    // Out of range: refused, the levels stay.
    EXPECT_FALSE(player->setVolume(1.01));
    EXPECT_FALSE(player->setVolume(-0.1));
    EXPECT_FALSE(player->setVolume(std::nan("")));
    EXPECT_FALSE(player->setBalance(1.5));
    EXPECT_DOUBLE_EQ(player->volume(), 0.1);
    EXPECT_DOUBLE_EQ(player->balance(), -1.0);
    ASSERT_TRUE(player->audioLevels(gain, panorama));
    EXPECT_NEAR(gain, 0.1, 1e-6);

    auto silent = newPlayer();
    ASSERT_TRUE(silent->open(s_clips->make("picture only.mkv", 1, {"-c:v", "libx264"}, {})));
    EXPECT_FALSE(silent->hasAudio());
    EXPECT_FALSE(silent->audioLevels(gain, panorama));
}

TEST_F(PlayerTest, ClosingReleasesTheFileAndTheStreamingThreads) {
    {
        // Warm up: the first player loads plugins and may start lasting helpers.
        auto player = newPlayer();
        ASSERT_TRUE(player->open(s_mkv));
        player->play();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const int threadsBefore = testing_support::threadCount();
    {
        auto player = newPlayer();
        ASSERT_TRUE(player->open(s_mkv));
        player->play();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_GE(testing_support::openDescriptorsTo(s_mkv), 1);
        EXPECT_GT(testing_support::threadCount(), threadsBefore);
    }
    EXPECT_EQ(testing_support::openDescriptorsTo(s_mkv), 0);
    EXPECT_LE(testing_support::threadCount(), threadsBefore);

    // Nothing else stays behind either: the bus, its wake-up sockets and
    // every element go with the player, however many previews come and go.
    const int handlesBefore = testing_support::openDescriptorCount();
    for (int round = 0; round < 3; ++round) {
        auto player = newPlayer();
        ASSERT_TRUE(player->open(s_mp4));
        player->play();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        player->pause();
        player->seek(1s);
    }
    EXPECT_EQ(testing_support::openDescriptorCount(), handlesBefore);
}

// After the count of threads above: four players at once leave the thread
// pool more idle threads than one player does, and they go only in time.
TEST_F(PlayerTest, ExtraTracksNeitherHurryThePositionNorDecideTheEnd) {
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
    // All at once, each in its own player, so the test lasts one clip's length.
    std::vector<std::unique_ptr<Player>> players;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        players.push_back(newPlayer());
        Player& player = *players.back();
        ASSERT_TRUE(player.open(c.path)) << player.errorDetails();
        EXPECT_EQ(player.hasVideo(), c.video);
        EXPECT_TRUE(player.hasAudio());
        EXPECT_NEAR(seconds(player.duration()), 3.0, 0.1);
    }
    const auto started = std::chrono::steady_clock::now();
    auto secondsSince = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    for (auto& player : players)
        ASSERT_TRUE(player->play());

    std::this_thread::sleep_for(1s);
    const double played = secondsSince();
    for (std::size_t i = 0; i < players.size(); ++i) {
        SCOPED_TRACE(cases[i].path);
        // A second a second: a track nobody plays, read as fast as it comes,
        // would put it at the end by now.
        const double position = seconds(players[i]->position());
        EXPECT_GT(position, 0.3);
        EXPECT_LT(position, played + 0.25);
    }

    std::vector<double> endedAt(players.size(), -1.0);
    auto running = [&] { return std::count(endedAt.begin(), endedAt.end(), -1.0) > 0; };
    while (running() && secondsSince() < 30) {
        for (std::size_t i = 0; i < players.size(); ++i) {
            if (endedAt[i] >= 0)
                continue;
            const Player::Ending ending = players[i]->waitForEnd(20ms);
            if (ending != Player::Ending::None) {
                EXPECT_EQ(ending, Player::Ending::EndOfStream) << cases[i].path;
                endedAt[i] = secondsSince();
            }
        }
    }
    for (std::size_t i = 0; i < players.size(); ++i) {
        SCOPED_TRACE(cases[i].path);
        EXPECT_GE(endedAt[i], 2.5); // at its length, neither before nor never
    }
}

TEST(GStreamerRuntime, VersionRule) {
    EXPECT_FALSE(versionIsEnough({1, 15, 9}));
    EXPECT_TRUE(versionIsEnough({1, 16, 0}));
    EXPECT_TRUE(versionIsEnough({1, 22, 0}));
    EXPECT_TRUE(versionIsEnough({2, 0, 0}));
    EXPECT_FALSE(versionIsEnough({0, 10, 36}));
}

TEST(GStreamerRuntime, ThisMachineHasWhatThePreviewNeeds) {
    const GStreamerVersion version = gstreamerVersion();
    EXPECT_EQ(version.major, 1u);
    EXPECT_GE(version.minor, 16u);
    std::string missing;
    for (const auto& part : missingPreviewParts())
        missing += part + " ";
    EXPECT_TRUE(missing.empty()) << missing;
    EXPECT_TRUE(previewCanPlay());
}

// Each in a process of its own (the death tests' "threadsafe" style runs the
// test program again for just that test), so that nothing before it has
// loaded the module or started GStreamer.
class GStreamerFirstUse : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(GStreamerFirstUse, TheCodecCheckStartsItWhenFirstAsked) {
    EXPECT_EXIT(
        {
            const bool before = playerModuleLoaded() || gstreamerStarted();
            const bool plays = previewCanPlay();
            std::exit(!before && plays && gstreamerStarted() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(GStreamerFirstUse, APlayerStartsItWhenFirstMade) {
    EXPECT_EXIT(
        {
            const bool before = playerModuleLoaded() || gstreamerStarted();
            std::string error;
            const bool made = Player::create(&error) != nullptr;
            std::exit(!before && made && gstreamerStarted() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(GStreamerFirstUse, WithoutItsModuleNothingPlaysAndTheReasonIsGiven) {
    EXPECT_EXIT(
        {
            setenv("PLEXAVO_PLAYER_MODULE", "/nonexistent/libplexavo-player.so", 1);
            std::string error;
            const bool made = Player::create(&error) != nullptr;
            std::string started;
            const bool ok = initializeGStreamer(&started);
            const bool named = error.find("/nonexistent/") != std::string::npos &&
                               started.find("/nonexistent/") != std::string::npos;
            std::exit(!made && !ok && named && !previewCanPlay() &&
                              missingPreviewParts() == std::vector<std::string>{"gstreamer"}
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
