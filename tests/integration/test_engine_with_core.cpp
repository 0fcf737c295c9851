// The probe and the conversion run of the engine against the real encoder
// core, as the program uses them.
#include "engine/convert/EncodeJob.h"
#include "engine/convert/EncodingOptions.h"
#include "engine/convert/OutputNaming.h"
#include "engine/media/SourceItem.h"
#include "engine/platform/CoreLocator.h"
#include "engine/settings/ConversionSettings.h"

#include "MediaTools.h"
#include "Process.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <thread>

using namespace plexavo;
using plexavo::convert::buildOptionText;
using plexavo::convert::EncodeJob;
using plexavo::convert::partOf;
using plexavo::media::kProbeFailed;
using plexavo::media::SourceItem;
using plexavo::platform::ensureFolder;
using plexavo::platform::fileExists;
using plexavo::platform::folderExists;
using plexavo::settings::ConversionSettings;
using plexavo::settings::kTargetH264;
using plexavo::settings::kTargetMpeg4;
using plexavo::settings::TargetExtensions;
using testing_support::decodesCleanly;
using testing_support::probeDuration;
using testing_support::run;
using testing_support::TempDir;

namespace {

class EngineWithCore : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir;
        // 12 s of 320x240 video with sound, in a folder and a name that need care.
        std::filesystem::create_directories(*s_dir / "in put");
        s_source = *s_dir / "in put/-été \"clip\".mp4";
        const auto made = run({"ffmpeg",
                               "-v",
                               "error",
                               "-f",
                               "lavfi",
                               "-i",
                               "testsrc2=size=320x240:rate=25",
                               "-f",
                               "lavfi",
                               "-i",
                               "sine=frequency=440:sample_rate=44100",
                               "-t",
                               "12",
                               "-c:v",
                               "libx264",
                               "-preset",
                               "ultrafast",
                               "-pix_fmt",
                               "yuv420p",
                               "-c:a",
                               "aac",
                               "-shortest",
                               "-y",
                               s_source},
                              300);
        ASSERT_EQ(made.exitCode, 0) << made.out;
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { platform::setCoreFolder(PLEXCORE_FOLDER); }
    void TearDown() override { platform::setCoreFolder(""); }

    static TempDir* s_dir;
    static std::string s_source;
};

TempDir* EngineWithCore::s_dir = nullptr;
std::string EngineWithCore::s_source;

} // namespace

TEST_F(EngineWithCore, ProbeReadsTheRealCoresDescription) {
    SourceItem item;
    ASSERT_EQ(item.probe(s_source), 0) << item.durationText;
    EXPECT_EQ(item.durationSeconds, 12);
    EXPECT_EQ(item.endSeconds, 12u);
    EXPECT_EQ(item.title, "-été \"clip\"");
    EXPECT_EQ(item.extension, "mp4");
    EXPECT_NE(item.durationText.find("(12 s)"), std::string::npos) << item.durationText;
    EXPECT_NE(item.bitrateText.find(" kb/s"), std::string::npos);
    EXPECT_NE(item.videoDescription.find("h264"), std::string::npos) << item.videoDescription;
    EXPECT_NE(item.videoDescription.find("320x240"), std::string::npos) << item.videoDescription;
    EXPECT_NE(item.audioDescription.find("aac"), std::string::npos) << item.audioDescription;
    EXPECT_NE(item.audioDescription.find("44100 Hz"), std::string::npos) << item.audioDescription;

    const std::string notMedia = *s_dir / "notes.mp4";
    testing_support::writeFile(notMedia, "this is not a video\n");
    SourceItem bad;
    EXPECT_EQ(bad.probe(notMedia), kProbeFailed);
    EXPECT_EQ(bad.probe(*s_dir / "missing.mp4"), kProbeFailed);
}

TEST_F(EngineWithCore, ConvertsTheSelectedPartForEachDeviceTarget) {
    SourceItem item;
    ASSERT_EQ(item.probe(s_source), 0);
    item.startSeconds = 2;
    item.endSeconds = 6;

    for (int target : {kTargetMpeg4, kTargetH264}) {
        ConversionSettings settings;
        settings.targetFormat = target;
        settings.sizeChoice = 5; // 320x240, the iPod nano
        settings.applySizeChoice();
        settings.videoBitRateChoice = 3;
        settings.outputPath = *s_dir / "out/deeper";
        ensureFolder(settings.outputPath);
        ASSERT_TRUE(folderExists(settings.outputPath));
        item.assignOutputName(settings.outputPath, TargetExtensions[target], "cvt");

        EncodeJob job;
        const std::string options = buildOptionText(settings);
        EXPECT_EQ(job.run(item.path, item.outputFilePath(), item.title, options, partOf(item)), 0)
            << job.errorText();
        EXPECT_EQ(job.percent, 100);
        EXPECT_EQ(job.duration, 4);
        ASSERT_TRUE(fileExists(item.outputFilePath()));
        EXPECT_NEAR(probeDuration(item.outputFilePath()), 4.0, 0.1);
        const std::string codec = run({"ffprobe", "-v", "error", "-select_streams", "v:0",
                                       "-show_entries", "stream=codec_name,width,height", "-of",
                                       "default=noprint_wrappers=1", item.outputFilePath()})
                                      .out;
        EXPECT_NE(codec.find(target == kTargetH264 ? "codec_name=h264" : "codec_name=mpeg4"),
                  std::string::npos)
            << codec;
        EXPECT_NE(codec.find("width=320\nheight=240"), std::string::npos) << codec;
    }
}

TEST_F(EngineWithCore, AFailingConversionIsAnErrorAndAStoppedOneLeavesAPlayableFile) {
    SourceItem item;
    ASSERT_EQ(item.probe(s_source), 0);
    EncodeJob job;
    ConversionSettings settings;
    const std::string options = buildOptionText(settings);

    // An output folder that does not exist and was not made.
    EXPECT_LT(job.run(item.path, *s_dir / "no/such/folder/x.mp4", item.title, options, {0, 12}), 0);
    EXPECT_NE(job.errorText().find("Error: "), std::string::npos);

    // Stopped half-way: not an error, and the shorter file plays to its end.
    const std::string stopped = *s_dir / "stopped.mp4";
    settings.sizeChoice = 14; // 1280x720 makes the run long enough to stop
    settings.applySizeChoice();
    settings.targetFormat = kTargetH264;
    const std::string slowOptions = buildOptionText(settings);
    std::thread stopper([&] {
        while (job.percent < 10 && fileExists(stopped) == false)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        job.stopRequested = true;
    });
    EXPECT_EQ(job.run(item.path, stopped, item.title, slowOptions, {0, 12}), 0);
    stopper.join();
    ASSERT_TRUE(fileExists(stopped));
    std::string complaints;
    EXPECT_TRUE(decodesCleanly(stopped, &complaints)) << complaints;
    const double length = probeDuration(stopped);
    EXPECT_GT(length, 0.0);
    EXPECT_LT(length, 12.0);
}

// A file named without its folder on the program's command line is found in
// the current folder, titled by its own name, and its output named after it.
TEST_F(EngineWithCore, AFileNamedWithoutAFolderKeepsItsTitle) {
    const std::string folder = *s_dir / "here";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(s_source, folder + "/-clip one.mp4");
    testing_support::SpawnOptions options = testing_support::inFolder(folder);
    options.joinStderr = false; // what it shows, without its warnings
    const auto probed = run({std::string(PLEXCORE_FOLDER) + "/plexavo", "--probe", "-clip one.mp4",
                             "--out", "converted"},
                            120, options);
    const std::string& shown = probed.out;
    EXPECT_EQ(probed.exitCode, 0) << shown << probed.err;
    EXPECT_EQ(shown.rfind("-clip one.mp4\n", 0), 0u) << shown;
    EXPECT_NE(shown.find("Output: -clip one-cvt.mp4"), std::string::npos) << shown;
}
