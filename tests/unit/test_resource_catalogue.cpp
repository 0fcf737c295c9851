// Every English text of the string table, the main menu, the command prompts
// and the dialogs, character for character, so that a typo in the compiled-in
// module fails here. Texts naming a Windows-only component carry their Linux
// wording; everything else is as the program has always shown it.
#include "engine/res/DialogLabels.h"
#include "engine/res/ResourceModule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using plexavo::res::defaultModule;
using plexavo::res::Kind;
namespace label = plexavo::res::label;

namespace {

struct Expected {
    Kind kind;
    int owner;
    int id;
    const char* text;
};

const char* textOf(Kind kind, int owner, int id, int* count) {
    const auto& m = defaultModule();
    const char* found = nullptr;
    *count = 0;
    for (std::size_t i = 0; i < m.count; ++i) {
        const auto& e = m.entries[i];
        if (e.kind == kind && e.owner == owner && e.id == id) {
            found = e.text;
            ++*count;
        }
    }
    return found;
}

void expectAll(const std::vector<Expected>& table) {
    for (const auto& want : table) {
        int count = 0;
        const char* have = textOf(want.kind, want.owner, want.id, &count);
        SCOPED_TRACE("kind " + std::to_string(static_cast<int>(want.kind)) + " owner " +
                     std::to_string(want.owner) + " id " + std::to_string(want.id));
        ASSERT_NE(have, nullptr) << "missing: " << want.text;
        EXPECT_EQ(count, 1);
        EXPECT_EQ(std::string(have), std::string(want.text));
    }
}

constexpr int kMainMenu = 128;
const std::string kTen(10, ' ');

} // namespace

TEST(ResourceCatalogue, StringTable) {
    const std::string step = "Step %d/%d: From \"%s\" \n" + kTen + "to \"%s\" \n" + kTen +
                             "Click \"Skip\" or \"Cancel\" to abort conversion.";
    expectAll({
        {Kind::String, 0, 100,
         "Media framework initialization failed.  Make sure that the GStreamer libraries are the "
         "correct version."},
        {Kind::String, 0, 57345, "Ready"},
        {Kind::String, 0, 61201,
         "Please restart the application after installing Ogg Codec package."},
        {Kind::String, 0, 61205, "Can't playback the following files."},
        {Kind::String, 0, 61207, "Conversion is canceled."},
        {Kind::String, 0, 61208, "Are you sure to cancel all convert tasks?"},
        {Kind::String, 0, 61209, "Conversion is completed."},
        {Kind::String, 0, 61210,
         "Please restart the application after installing Windows Media Player."},
        {Kind::String, 0, 61212, "Detecting selected files.\nNo.%d/%d: \"%s\""},
        {Kind::String, 0, 61215, step.c_str()},
        {Kind::String, 0, 61221, "Thanks for using %s. Sure to exit?"},
        {Kind::String, 0, 61222,
         "Please note the following reasons:\n"
         "1. This file is not an available media file or doesn't include audio data.\n"
         "2. The file is damaged, incomplete or protected.\n"
         "3. The encoder core has no decoder for this format.\n"
         "4. The file plays for less than one second.\n"
         "5. You need install other third-party codec.\n"
         "\n"
         "Please click menu \"Download\" to get more."},
        {Kind::String, 0, 61225,
         "You need download and install Windows Media Player 9.0 or later before converting WMA "
         "and WMV format,\ndownload it now?"},
        {Kind::String, 0, 61226,
         "You need download and install Ogg Codec package before converting OGG format, "
         "\ndownload it now?"},
        {Kind::String, 0, 61242, "Please select output folder"},
        {Kind::String, 0, 61243,
         "Unknown file format . Please ensure your computer can playback the file normally."},
        // Toolbar buttons.
        {Kind::String, 0, 61308, "Add"},
        {Kind::String, 0, 61324, "Remove"},
        {Kind::String, 0, 61325, "Remove All"},
        {Kind::String, 0, 61319, "Move Up"},
        {Kind::String, 0, 61320, "Move Down"},
        {Kind::String, 0, 61322, "Preview"},
        {Kind::String, 0, 61310, "Convert"},
        {Kind::String, 0, 61315, "Exit"},
        // List columns and item states.
        {Kind::String, 0, 61329, "Source"},
        {Kind::String, 0, 61332, "Target"},
        {Kind::String, 0, 61311, "Convert Duration"},
        {Kind::String, 0, 61330, "Status"},
        {Kind::String, 0, 61323, "Ready"},
        {Kind::String, 0, 61335, "Waiting"},
        {Kind::String, 0, 61316, "Doing"},
        {Kind::String, 0, 61328, "Skip"},
        {Kind::String, 0, 61317, "Done"},
        {Kind::String, 0, 61313, "Error"},
        // Settings lists.
        {Kind::String, 0, 61336, "Recommended"},
        {Kind::String, 0, 61337, "Keep Original"},
        {Kind::String, 0, 61338, "1 Channel, Mono"},
        {Kind::String, 0, 61339, "2 Channels, Stereo"},
        {Kind::String, 0, 61340, "Disable Audio"},
        // "%1" of the framework's message, as a printf directive.
        {Kind::String, 0, 61716, "Please enter no more than %d characters."},
    });
}

TEST(ResourceCatalogue, MainMenu) {
    expectAll({
        {Kind::Menu, kMainMenu, 57600, "&New"},
        {Kind::Menu, kMainMenu, 57601, "&Open..."},
        {Kind::Menu, kMainMenu, 57603, "&Save"},
        {Kind::Menu, kMainMenu, 57604, "Save &As..."},
        {Kind::Menu, kMainMenu, 32801, "&Add..."},
        {Kind::Menu, kMainMenu, 32803, "&Remove"},
        {Kind::Menu, kMainMenu, 32804, "Re&move All"},
        {Kind::Menu, kMainMenu, 57665, "E&xit"},
        {Kind::Menu, kMainMenu, 32805, "Move &Up"},
        {Kind::Menu, kMainMenu, 32806, "Move &Down"},
        {Kind::Menu, kMainMenu, 32807, "&Preview"},
        {Kind::Menu, kMainMenu, 32808, "&Convert"},
        {Kind::Menu, kMainMenu, 32750, "&English"},
        {Kind::Menu, kMainMenu, 32703, "RM"},
        {Kind::Menu, kMainMenu, 32708, "MPEG"},
        {Kind::Menu, kMainMenu, 32709, "ASF"},
        {Kind::Menu, kMainMenu, 32710, "WMV"},
        {Kind::Menu, kMainMenu, 32712, "AVI"},
        {Kind::Menu, kMainMenu, 32713, "MOV/QT"},
        {Kind::Menu, kMainMenu, 32717, "OGG/OGM"},
        {Kind::Menu, kMainMenu, 32702, "MP4"},
        {Kind::Menu, kMainMenu, 32701, "VCD/VOB"},
        {Kind::Menu, kMainMenu, 32718, "Other"},
        {Kind::Menu, kMainMenu, 32719, "MPEG4"},
        {Kind::Menu, kMainMenu, 32720, "H.264"},
        {Kind::Menu, kMainMenu, 32721, "MOV"},
        {Kind::Menu, kMainMenu, 32733, "WMV"},
        {Kind::Menu, kMainMenu, 32722, "3GP"},
        {Kind::Menu, kMainMenu, 32723, "OGM"},
        {Kind::Menu, kMainMenu, 32730, "AVI"},
        {Kind::Menu, kMainMenu, 32725, "DVD"},
        {Kind::Menu, kMainMenu, 32724, "VCD"},
        {Kind::Menu, kMainMenu, 32726, "SVCD"},
        {Kind::Menu, kMainMenu, 32727, "DV"},
        {Kind::Menu, kMainMenu, 32776, "GStreamer Runtime"},
        {Kind::Menu, kMainMenu, 32778, "GStreamer Plugins"},
        {Kind::Menu, kMainMenu, 32777, "RealMedia Support"},
        {Kind::Menu, kMainMenu, 32779, "QuickTime Support"},
        {Kind::Menu, kMainMenu, 32780, "Ogg Codec"},
        {Kind::Menu, kMainMenu, 32791, "&Contents..."},
        {Kind::Menu, kMainMenu, 32792, "&Tool Tips"},
        {Kind::Menu, kMainMenu, 57664, "&About Plexavo ..."},
    });

    // The popups, in their order on the menu bar.
    std::vector<std::string> popups;
    const auto& m = defaultModule();
    for (std::size_t i = 0; i < m.count; ++i)
        if (m.entries[i].kind == Kind::Menu && m.entries[i].owner == kMainMenu &&
            m.entries[i].id == 0 && m.entries[i].text[0] != '\0')
            popups.push_back(m.entries[i].text);
    EXPECT_EQ(popups, (std::vector<std::string>{"&File", "&Action", "&Language", "&Source Format",
                                                "&Target Format", "&Download", "&Help"}));
}

TEST(ResourceCatalogue, CommandPrompts) {
    expectAll({
        // Toolbar commands: status-bar prompt, a line break, tooltip.
        {Kind::Prompt, 0, 32801, "Add source file(s)\nAdd source file(s)"},
        {Kind::Prompt, 0, 32803, "Remove selected file(s)\nRemove selected file(s)"},
        {Kind::Prompt, 0, 32804, "Remove all files\nRemove all files"},
        {Kind::Prompt, 0, 57665, "Quit the application; prompts to save documents\nExit"},
        {Kind::Prompt, 0, 32805, "Move up selected files\nMove up selected files"},
        {Kind::Prompt, 0, 32806, "Move down selected files\nMove down selected files"},
        {Kind::Prompt, 0, 32807,
         "Play first selected file and set selection part for converting.\n"
         "Preview or set selection part"},
        {Kind::Prompt, 0, 32808, "Convert all source files\nConvert"},
        // Source and target formats.
        {Kind::Prompt, 0, 32703, "RealMedia file"},
        {Kind::Prompt, 0, 32708, "Mpeg file (MPEG,DVD,SVCD,VCD...)"},
        {Kind::Prompt, 0, 32709, "Microsoft ASF file"},
        {Kind::Prompt, 0, 32710, "Windows Media Video file"},
        {Kind::Prompt, 0, 32712, "AVI file"},
        {Kind::Prompt, 0, 32713, "QuickTime media file"},
        {Kind::Prompt, 0, 32717, "Ogg media file"},
        {Kind::Prompt, 0, 32718, "Other format supported by third-part."},
        {Kind::Prompt, 0, 32719, "Mpeg4 file"},
        // Downloads and help.
        {Kind::Prompt, 0, 32776, "Download the GStreamer runtime."},
        {Kind::Prompt, 0, 32778, "Download the GStreamer plugins."},
        {Kind::Prompt, 0, 32777, "Download RealMedia support."},
        {Kind::Prompt, 0, 32779, "Download QuickTime support."},
        {Kind::Prompt, 0, 32780, "Download Ogg Codec package."},
        {Kind::Prompt, 0, 32791, "Open help document."},
        {Kind::Prompt, 0, 32792, "Display/Hide help tool tips."},
    });
    // These commands have no prompt at all.
    for (int id : {32702, 32701, 32720}) {
        int count = 0;
        EXPECT_EQ(textOf(Kind::Prompt, 0, id, &count), nullptr) << id;
    }
}

TEST(ResourceCatalogue, MainFormTexts) {
    namespace lm = label::main;
    expectAll({
        {Kind::Dialog, 101, lm::kConversionGroup, "Conversion Settings"},
        {Kind::Dialog, 101, lm::kType, "Type:"},
        {Kind::Dialog, 101, 1004, "MPEG-4"},
        {Kind::Dialog, 101, 1005, "H.264"},
        {Kind::Dialog, 101, 1006, "DVD"},
        {Kind::Dialog, 101, 1007, "WMV"},
        {Kind::Dialog, 101, 1008, "3GP"},
        {Kind::Dialog, 101, 1009, "OGM"},
        {Kind::Dialog, 101, 1010, "VCD"},
        {Kind::Dialog, 101, 1011, "SVCD"},
        {Kind::Dialog, 101, 1012, "DV"},
        {Kind::Dialog, 101, 1013, "AVI"},
        {Kind::Dialog, 101, 1077, "Format:"},
        {Kind::Dialog, 101, 1015, "NTSC"},
        {Kind::Dialog, 101, 1016, "PAL"},
        {Kind::Dialog, 101, 1017, "NTSC-Film"},
        {Kind::Dialog, 101, lm::kVideoGroup, "Video Settings"},
        {Kind::Dialog, 101, lm::kSize, "Size:"},
        {Kind::Dialog, 101, lm::kWidth, "X="},
        {Kind::Dialog, 101, lm::kHeight, "Y="},
        {Kind::Dialog, 101, lm::kFrameRate, "Framerate:"},
        {Kind::Dialog, 101, lm::kVideoBitRate, "Bitrate:"},
        {Kind::Dialog, 101, 1118, "Variable Bit Rate"},
        {Kind::Dialog, 101, lm::kMaxRate, "Max:"},
        {Kind::Dialog, 101, lm::kMaxRateUnit, "kbps"},
        {Kind::Dialog, 101, lm::kMinRate, "Min:"},
        {Kind::Dialog, 101, lm::kMinRateUnit, "kbps"},
        {Kind::Dialog, 101, lm::kAudioGroup, "Audio Settings"},
        {Kind::Dialog, 101, lm::kChannels, "Channels:"},
        {Kind::Dialog, 101, lm::kAudioBitRate, "Bitrate:"},
        {Kind::Dialog, 101, lm::kSampleRate, "Samplerate:"},
        {Kind::Dialog, 101, lm::kVolume, "Volume:"},
        {Kind::Dialog, 101, lm::kPathGroup, "Path Information "},
        {Kind::Dialog, 101, lm::kOutputPath, "Output Path:"},
        {Kind::Dialog, 101, 1002, "Browse..."},
        {Kind::Dialog, 101, 1003, "Go"},
        {Kind::Dialog, 101, 32792, "Hide the tooltips"},
        {Kind::Dialog, 101, 1101,
         "Tips: Please install GStreamer 1.16 or later with its plugins. ( Click Menu/Download )"},
    });
}

TEST(ResourceCatalogue, ProgressDetectionPreviewAndHelpWindows) {
    namespace lp = label::progress;
    namespace lv = label::preview;
    expectAll({
        // Conversion progress, 106.
        {Kind::Dialog, 106, 0, "Convert Video to iPhone Video formats"},
        {Kind::Dialog, 106, 1030, "Prepare to convert..."},
        {Kind::Dialog, 106, lp::kOverall, "Overall Progress:"},
        {Kind::Dialog, 106, lp::kCurrent, "Current Progress:"},
        {Kind::Dialog, 106, lp::kFileSize, "File Size:"},
        {Kind::Dialog, 106, 1028, "0k"},
        {Kind::Dialog, 106, 1036, "Skip Current"},
        {Kind::Dialog, 106, 1022, "Cancel All"},
        // Detection, 137.
        {Kind::Dialog, 137, 1030, "Detecting selected files..."},
        // Preview, 107.
        {Kind::Dialog, 107, 0, "Preview and select a part to convert"},
        {Kind::Dialog, 107, 1049, "Play"},
        {Kind::Dialog, 107, 1050, "Pause"},
        {Kind::Dialog, 107, 1051, "Stop"},
        {Kind::Dialog, 107, 1052, "Start"},
        {Kind::Dialog, 107, 1053, "End"},
        {Kind::Dialog, 107, 1054, "Full"},
        {Kind::Dialog, 107, 1, "OK"},
        {Kind::Dialog, 107, 1037, "Cancel"},
        {Kind::Dialog, 107, lv::kInformationGroup, "Information"},
        {Kind::Dialog, 107, lv::kStartTime, "Start Time:"},
        {Kind::Dialog, 107, lv::kEndTime, "End Time:"},
        {Kind::Dialog, 107, lv::kDuration, "Duration:"},
        {Kind::Dialog, 107, lv::kElapsedTime, "Elapsed Time:"},
        {Kind::Dialog, 107, lv::kVolumeGroup, "Volume"},
        {Kind::Dialog, 107, lv::kVolumeMin, "Min"},
        {Kind::Dialog, 107, lv::kVolumeMax, "Max"},
        {Kind::Dialog, 107, lv::kBalanceGroup, "Balance"},
        {Kind::Dialog, 107, lv::kBalanceLeft, "Left"},
        {Kind::Dialog, 107, lv::kBalanceRight, "Right"},
        {Kind::Dialog, 107, lv::kHint,
         "? You can select a part from the full duration to convert."},
        // Help tips, 138: six lines, the steps indented by three blanks.
        {Kind::Dialog, 138, label::tips::kSteps,
         "Help 1-2-3-4\n"
         "\n"
         "   1. Add a media file or more to source list.\n"
         "   2. Preview it or set the convert part, full duration is default.\n"
         "   3. Select and set the target format.\n"
         "   4. OK, Convert it."},
        {Kind::Dialog, 138, 1073, "Hide the tooltips"},
    });
}
