// The program's own English resources: string table, main menu, command
// prompts and dialog texts. Language packs carry the same keys.
#include "engine/res/DialogLabels.h"
#include "engine/res/ResourceModule.h"

namespace plexavo::res {

namespace {

namespace lm = label::main;
namespace lp = label::progress;
namespace lv = label::preview;

const Entry kEntries[] = {
    // ---- String table -------------------------------------------------------

    // Start-up: the media framework could not be initialised.
    {Kind::String, 0, 100, 0,
     "Media framework initialization failed.  Make sure that the GStreamer libraries are the "
     "correct version."},
    // Document template: window title, document name, file-new name, filter
    // name, filter extension, file-type id, file-type name. None is visible.
    // text composed: none given
    {Kind::String, 0, 128, 0, "Vantrel Converter\n\nVantrel\n\n\nVantrel.Doc\nVantrel Document"},

    // Status bar: idle text and the lock-key indicators.
    {Kind::String, 0, 57345, 0, "Ready"},
    {Kind::String, 0, 59137, 0, "CAP"},  // Caps Lock indicator
    {Kind::String, 0, 59138, 0, "NUM"},  // Num Lock indicator
    {Kind::String, 0, 59139, 0, "SCRL"}, // Scroll Lock indicator

    // Media framework runtime: kept beside the codec texts; no check shows them.
    // text composed: none given
    {Kind::String, 0, 61200, 0, "Please restart the application after installing GStreamer."},
    // Codec checks before a conversion.
    {Kind::String, 0, 61201, 0,
     "Please restart the application after installing Ogg Codec package."},
    // Detection pass: head of the failure report.
    {Kind::String, 0, 61205, 0, "Can't playback the following files."},
    // Conversion progress window: end and cancel messages.
    {Kind::String, 0, 61207, 0, "Conversion is canceled."},
    {Kind::String, 0, 61208, 0, "Are you sure to cancel all convert tasks?"},
    {Kind::String, 0, 61209, 0, "Conversion is completed."},
    {Kind::String, 0, 61210, 0,
     "Please restart the application after installing Windows Media Player."},
    // Detection window status: file number, file count, path.
    {Kind::String, 0, 61212, 0, "Detecting selected files.\nNo.%d/%d: \"%s\""},
    // Conversion step: item number, item count, source path, output path.
    {Kind::String, 0, 61215, 0,
     "Step %d/%d: From \"%s\" \n          to \"%s\" \n          Click \"Skip\" or \"Cancel\" to "
     "abort conversion."},
    // Exit confirmation: product name.
    {Kind::String, 0, 61221, 0, "Thanks for using %s. Sure to exit?"},
    // Tail of both failure reports.
    {Kind::String, 0, 61222, 0,
     "Please note the following reasons:\n"
     "1. This file is not an available media file or doesn't include audio data.\n"
     "2. The file is damaged, incomplete or protected.\n"
     "3. The encoder core has no decoder for this format.\n"
     "4. The file plays for less than one second.\n"
     "5. You need install other third-party codec.\n"
     "\n"
     "Please click menu \"Download\" to get more."},
    // Media framework runtime download offer, the partner of 61200.
    // text composed: none given
    {Kind::String, 0, 61224, 0,
     "You need download and install GStreamer 1.16 or later with its plugins before previewing "
     "media files,\ndownload it now?"},
    {Kind::String, 0, 61225, 0,
     "You need download and install Windows Media Player 9.0 or later before converting WMA and "
     "WMV format,\ndownload it now?"},
    {Kind::String, 0, 61226, 0,
     "You need download and install Ogg Codec package before converting OGG format, \ndownload it "
     "now?"},
    // Output folder picker title.
    {Kind::String, 0, 61242, 0, "Please select output folder"},
    // Conversion: head of the failure report.
    {Kind::String, 0, 61243, 0,
     "Unknown file format . Please ensure your computer can playback the file normally."},
    // Conversion window, the line under the current bar: batch time so far,
    // estimated time left (clock texts "0:01:02"), the core's speed ("3.4"),
    // and how the three stand together.
    {Kind::String, 0, 61900, 0, "Elapsed %s"},
    {Kind::String, 0, 61901, 0, "Left about %s"},
    {Kind::String, 0, 61902, 0, "%sx"},
    {Kind::String, 0, 61903, 0, "%s   %s   %s"},
    // The desktop notification at the end of a batch: the rows done, failed
    // and skipped; and the label of its default action (shows the window).
    {Kind::String, 0, 62050, 0, "%d converted, %d failed, %d skipped"},
    {Kind::String, 0, 62051, 0, "Show"},

    // Toolbar button texts, list column titles and item status texts.
    {Kind::String, 0, 61308, 0, "Add"},
    {Kind::String, 0, 61310, 0, "Convert"},
    {Kind::String, 0, 61311, 0, "Convert Duration"},
    {Kind::String, 0, 61313, 0, "Error"},
    {Kind::String, 0, 61315, 0, "Exit"},
    {Kind::String, 0, 61316, 0, "Doing"},
    {Kind::String, 0, 61317, 0, "Done"},
    {Kind::String, 0, 61319, 0, "Move Up"},
    {Kind::String, 0, 61320, 0, "Move Down"},
    {Kind::String, 0, 61322, 0, "Preview"},
    {Kind::String, 0, 61323, 0, "Ready"},
    {Kind::String, 0, 61324, 0, "Remove"},
    {Kind::String, 0, 61325, 0, "Remove All"},
    {Kind::String, 0, 61328, 0, "Skip"},
    {Kind::String, 0, 61329, 0, "Source"},
    {Kind::String, 0, 61330, 0, "Status"},
    {Kind::String, 0, 61332, 0, "Target"},
    {Kind::String, 0, 61335, 0, "Waiting"},
    // Settings lists.
    {Kind::String, 0, 61336, 0, "Recommended"},
    {Kind::String, 0, 61337, 0, "Keep Original"},
    {Kind::String, 0, 61338, 0, "1 Channel, Mono"},
    {Kind::String, 0, 61339, 0, "2 Channels, Stereo"},
    {Kind::String, 0, 61340, 0, "Disable Audio"},

    // A bound value longer than its limit (the framework's own message). Its
    // "%1" insert is written "%d": every string is formatted printf-style, and
    // "%1 c" would read as a "%c" directive.
    {Kind::String, 0, 61716, 0, "Please enter no more than %d characters."},

    // Main window: About box, help, folder and list texts (61920-61949).
    {Kind::String, 0, 61920, 0, "Version %d.%d.%d"},
    {Kind::String, 0, 61921, 0, "About %s"},
    {Kind::String, 0, 61922, 0, "&About %s ..."},
    {Kind::String, 0, 61923, 0, "Can't find xdg-open. It's included in the xdg-utils package."},
    {Kind::String, 0, 61924, 0, "Source files"},
    {Kind::String, 0, 61925, 0, "File information"},
    // The Add dialog's filters: description|patterns pairs, ended by "||".
    {Kind::String, 0, 61926, 0,
     "All Media Files|*.3gp; *.acp; *.aif; *.aifc; *.aiff; *.au; *.asf; *.avi; *.dat; *.m1v; "
     "*.m4a; *.m4p; "
     "*.m4v; *.mov; *.mp1; *.mp2; *.mp3; *.mp4; *.mpa; *.mpe; *.mpeg; *.mpg; *.mpga; *.mov; *.oga; "
     "*.ogg; "
     "*.ogm; *.ogv; *.qt; *.ra; *.ram; *.rm; *.rmm; *.rmvb; *.rmj; *.rms; *.rp; *.rt; *.rv; *.snd; "
     "*.vcd; "
     "*.vob; *.wav; *.wm; *.wma; *.wmd; *.wmv|"
     "Video Files (*.3gp; *.asf; *.avi; *.dat; *.m1v; *.m4p; *.m4v; *.mov; .mp4; *.mpe; *.mpeg; "
     "*.mpg; "
     "*.mov; *.ogg; *.ogm; *.ogv; *.qt; *.ram; *.rm; *.rmm; *.rmvb; *.rmj; *.rms; *.rp; *.rt; "
     "*.rv; *.vcd; "
     "*.vob; *.wm; *.wmd; *.wmv)|"
     "*.asf; *.avi; *.dat; *.m1v; *.m4p; *.m4v; *.mov; .mp4; *.mpe; *.mpeg; *.mpg; *.mov; *.ogg; "
     "*.ogm; "
     "*.ogv; *.qt; *.ram; *.rm; *.rmm; *.rmvb; *.rmj; *.rms; *.rp; *.rt; *.rv; *.vcd; *.vob; *.wm; "
     "*.wmd; "
     "*.wmv|"
     "Windows Media Files (*.aifc; *.aiff; *.au; *.asf; *.avi; *.mp3; *.wav; *.wm; *.wma; *.wmd; "
     "*.wmv)|"
     "*.aifc; *.aiff; *.au; *.asf; *.avi; *.mp3; *.wav; *.wm; *.wma; *.wmd; *.wmv|"
     "QuickTime Media Files (*.3gp; *.mp4; *.mov; *.qt)|*.3gp; *.mp4; *.mov; *.qt|"
     "Real Media Files (*.ra; *.ram; *.rm; *.rmm; *.rmvb; *.rmj; *.rms; *.rp; *.rt; *.rv)|"
     "*.ra; *.ram; *.rm; *.rmm; *.rmvb; *.rmj; *.rms; *.rp; *.rt; *.rv|"
     "OGG Files (*.oga; *.ogg; *.ogm; *.ogv)|*.oga; *.ogg; *.ogm; *.ogv|"
     "All Files (*.*)|*.*||"},
    {Kind::String, 0, 61927, 0, "Can't find the help document:\n%s"},
    // About box title: product name.
    {Kind::String, 0, 61928, 0, "%s ( tm )"},
    {Kind::String, 0, 61929, 0, "Toolbar"},
    // "Go" before the first conversion has made the output folder.
    {Kind::String, 0, 61930, 0,
     "The output folder doesn't exist yet:\n%s\n\nIt is made by the first conversion."},
    {Kind::String, 0, 61931, 0, "Caps Lock"},
    {Kind::String, 0, 61932, 0, "Num Lock"},
    {Kind::String, 0, 61933, 0, "Scroll Lock"},

    // Language packs (61990-61999): the notice after a switch, with the
    // address translators are asked to write to.
    {Kind::String, 0, 61990, 0,
     "If you find any translation error, please mail to %s, thanks a lot."},
    // The source list's information box: its headings (subtitles and
    // chapters after the others), and its text for a file without probe
    // details.
    {Kind::String, 0, 61991, 0, "Duration:"},
    {Kind::String, 0, 61992, 0, "Bitrate:"},
    {Kind::String, 0, 61993, 0, "Video"},
    {Kind::String, 0, 61994, 0, "Audio"},
    {Kind::String, 0, 61995, 0, "Unknown file format."},
    {Kind::String, 0, 61996, 0, "Subtitles"},
    {Kind::String, 0, 61997, 0, "Chapters: "},

    // Why a file failed, under its name in the failure report and on the
    // command line (62000-62019). The core's own reasons come as it words them.
    {Kind::String, 0, 62000, 0, "The encoder core is missing: %s"},
    // The core is there but the system will not run it: its path, then the
    // system's reason ("Permission denied", "Exec format error").
    {Kind::String, 0, 62001, 0, "The encoder core %s cannot be started: %s"},
    // The engine asks a core past its time limits (or on the user's second
    // request) to abort, which removes its unfinished file, and kills it
    // outright 3 s later if it is still there; that file then stays until
    // the next conversion into the folder.
    {Kind::String, 0, 62002, 0,
     "The encoder core had to be ended before it finished, so no file was written under the "
     "output name. Its unfinished file was removed, or, if the core had to be killed outright, "
     "is removed by the next conversion into this folder."},
    {Kind::String, 0, 62003, 0, "The encoder core ended without giving a reason (exit status %d)."},
    {Kind::String, 0, 62004, 0, "The encoder core was ended by signal %d."},
    {Kind::String, 0, 62005, 0, "The source file is gone: %s"},
    {Kind::String, 0, 62006, 0, "The output folder cannot be made: %s (%s)"},
    {Kind::String, 0, 62007, 0, "The selected part is empty."},
    {Kind::String, 0, 62008, 0, "Nothing converts to the target format %s."},
    // The command line after Ctrl+C: the file kept and the seconds in it.
    {Kind::String, 0, 62009, 0, "Stopped: %s holds the first %s seconds."},
    {Kind::String, 0, 62010, 0, "Stopped before anything was written."},
    // The source ended well before the length its probe promised: the file
    // written (kept, playable up to there), the seconds it holds and the
    // seconds promised, as the core printed them.
    {Kind::String, 0, 62011, 0, "%s holds %s of %s seconds: the source is damaged"},
    // The core said it finished, but what is under the name is no file it
    // wrote (nothing, or a link planted there).
    {Kind::String, 0, 62012, 0,
     "The encoder core reported success, but %s is not there as a regular file."},
    // The core's exit status was taken by another process and it named no
    // finished file.
    {Kind::String, 0, 62013, 0,
     "The encoder core ended without finishing the file; how it ended is unknown."},

    // A batch or list that went on after a stop or a crash (62080-62084).
    // Conversion step of a continued file: item number, item count, source
    // path, the second it goes on from, output path.
    {Kind::String, 0, 62080, 0,
     "Step %d/%d: Continuing \"%s\" \n          from second %s in \"%s\" \n          Click "
     "\"Skip\" or \"Cancel\" to abort conversion."},
    // Before a batch whose list holds stopped files the core can continue: how many.
    {Kind::String, 0, 62081, 0,
     "%d file(s) of this list were stopped before their end.\n"
     "Continue them from where they stopped?\n\n"
     "Yes: they go on from there, and the files converted already stay as they are.\n"
     "No: every file is converted again from the start."},
    // At start: the list of a run that did not end normally, its row count.
    {Kind::String, 0, 62082, 0,
     "The last list (%d file(s)) was not closed normally.\nRestore it?\n\n"
     "If you answer No, it is kept for one more start."},
    // A row's status: a stopped output that holds seconds of the whole.
    {Kind::String, 0, 62083, 0, "Stopped: %s of %s s kept"},
    // A row's status: a restored row whose source is no longer there.
    {Kind::String, 0, 62084, 0, "File not found"},

    // A link or page that would not open (62030-62044): the head, then the
    // reason by the start result (0, 2, 3, 5, 8, 11, 26 to 32, any other).
    {Kind::String, 0, 62030, 0, "Can't open link:\n\n%s"},
    {Kind::String, 0, 62031, 0, "The operating system is out\nof memory or resources."},
    {Kind::String, 0, 62032, 0, "The specified file was not found."},
    {Kind::String, 0, 62033, 0, "The specified path was not found."},
    {Kind::String, 0, 62034, 0, "The operating system denied\naccess to the specified file."},
    {Kind::String, 0, 62035, 0, "There was not enough memory to complete the operation."},
    {Kind::String, 0, 62036, 0,
     "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
    {Kind::String, 0, 62037, 0, "A sharing violation occurred. "},
    {Kind::String, 0, 62038, 0, "The filename association is\nincomplete or invalid."},
    {Kind::String, 0, 62039, 0,
     "The DDE transaction could not\nbe completed because the request timed out."},
    {Kind::String, 0, 62040, 0, "The DDE transaction failed."},
    {Kind::String, 0, 62041, 0,
     "The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
     "processed."},
    {Kind::String, 0, 62042, 0,
     "There is no application associated\nwith the given filename extension."},
    {Kind::String, 0, 62043, 0, "The specified dynamic-link library was not found."},
    {Kind::String, 0, 62044, 0, "Unknown Error (%d) occurred."},
    // The translation notice of a build that names no address to write to.
    {Kind::String, 0, 62045, 0,
     "If you find any translation error, please let us know, thanks a lot."},
    // What screen readers call the information box.
    {Kind::String, 0, 62046, 0, "Information"},

    // ---- Main menu 128 ------------------------------------------------------
    // The document commands, the Save entries and the target formats after
    // H.264 stay in the resource; the menu rebuild deletes them by command id.

    {Kind::Menu, 128, 0, 0, "&File"},
    {Kind::Menu, 128, 57600, 1, "&New"},
    {Kind::Menu, 128, 57601, 1, "&Open..."},
    {Kind::Menu, 128, 57603, 1, "&Save"},
    {Kind::Menu, 128, 57604, 1, "Save &As..."},
    {Kind::Menu, 128, 32801, 1, "&Add..."},
    {Kind::Menu, 128, 32803, 1, "&Remove"},
    {Kind::Menu, 128, 32804, 1, "Re&move All"},
    {Kind::Menu, 128, 0, 1, ""},
    {Kind::Menu, 128, 57665, 1, "E&xit"},

    {Kind::Menu, 128, 0, 0, "&Action"},
    {Kind::Menu, 128, 32805, 1, "Move &Up"},
    {Kind::Menu, 128, 32806, 1, "Move &Down"},
    {Kind::Menu, 128, 0, 1, ""},
    {Kind::Menu, 128, 32807, 1, "&Preview"},
    {Kind::Menu, 128, 32808, 1, "&Convert"},

    // Rebuilt at run time from the installed language packs.
    {Kind::Menu, 128, 0, 0, "&Language"},
    {Kind::Menu, 128, 32750, 1, "&English"},

    {Kind::Menu, 128, 0, 0, "&Source Format"},
    {Kind::Menu, 128, 32703, 1, "RM"},
    {Kind::Menu, 128, 32708, 1, "MPEG"},
    {Kind::Menu, 128, 32709, 1, "ASF"},
    {Kind::Menu, 128, 32710, 1, "WMV"},
    {Kind::Menu, 128, 32712, 1, "AVI"},
    {Kind::Menu, 128, 32713, 1, "MOV/QT"},
    {Kind::Menu, 128, 32717, 1, "OGG/OGM"},
    {Kind::Menu, 128, 32702, 1, "MP4"},
    {Kind::Menu, 128, 32701, 1, "VCD/VOB"},
    {Kind::Menu, 128, 32718, 1, "Other"},

    {Kind::Menu, 128, 0, 0, "&Target Format"},
    {Kind::Menu, 128, 32719, 1, "MPEG4"},
    {Kind::Menu, 128, 32720, 1, "H.264"},
    {Kind::Menu, 128, 32721, 1, "MOV"},
    {Kind::Menu, 128, 32733, 1, "WMV"},
    {Kind::Menu, 128, 32722, 1, "3GP"},
    {Kind::Menu, 128, 32723, 1, "OGM"},
    {Kind::Menu, 128, 32730, 1, "AVI"},
    {Kind::Menu, 128, 32725, 1, "DVD"},
    {Kind::Menu, 128, 32724, 1, "VCD"},
    {Kind::Menu, 128, 32726, 1, "SVCD"},
    {Kind::Menu, 128, 32727, 1, "DV"},

    {Kind::Menu, 128, 0, 0, "&Download"},
    {Kind::Menu, 128, 32776, 1, "GStreamer Runtime"},
    {Kind::Menu, 128, 32778, 1, "GStreamer Plugins"},
    {Kind::Menu, 128, 32777, 1, "RealMedia Support"},
    {Kind::Menu, 128, 32779, 1, "QuickTime Support"},
    {Kind::Menu, 128, 0, 1, ""},
    {Kind::Menu, 128, 32780, 1, "Ogg Codec"},

    {Kind::Menu, 128, 0, 0, "&Help"},
    {Kind::Menu, 128, 32791, 1, "&Contents..."},
    {Kind::Menu, 128, 32792, 1, "&Tool Tips"},
    {Kind::Menu, 128, 0, 1, ""},
    // Re-set at run time to "&About " + product name + " ...".
    {Kind::Menu, 128, 57664, 1, "&About Plexavo ..."},

    // ---- Command prompts: "status-bar prompt\ntooltip" ----------------------
    // Commands without a toolbar button carry the prompt alone.

    // File and Action (toolbar commands)
    {Kind::Prompt, 0, 32801, 0, "Add source file(s)\nAdd source file(s)"},
    {Kind::Prompt, 0, 32803, 0, "Remove selected file(s)\nRemove selected file(s)"},
    {Kind::Prompt, 0, 32804, 0, "Remove all files\nRemove all files"},
    {Kind::Prompt, 0, 57665, 0, "Quit the application; prompts to save documents\nExit"},
    {Kind::Prompt, 0, 32805, 0, "Move up selected files\nMove up selected files"},
    {Kind::Prompt, 0, 32806, 0, "Move down selected files\nMove down selected files"},
    {Kind::Prompt, 0, 32807, 0,
     "Play first selected file and set selection part for converting.\nPreview or set selection "
     "part"},
    {Kind::Prompt, 0, 32808, 0, "Convert all source files\nConvert"},
    // Source Format ("MP4" and "VCD/VOB" have none)
    {Kind::Prompt, 0, 32703, 0, "RealMedia file"},
    {Kind::Prompt, 0, 32708, 0, "Mpeg file (MPEG,DVD,SVCD,VCD...)"},
    {Kind::Prompt, 0, 32709, 0, "Microsoft ASF file"},
    {Kind::Prompt, 0, 32710, 0, "Windows Media Video file"},
    {Kind::Prompt, 0, 32712, 0, "AVI file"},
    {Kind::Prompt, 0, 32713, 0, "QuickTime media file"},
    {Kind::Prompt, 0, 32717, 0, "Ogg media file"},
    {Kind::Prompt, 0, 32718, 0, "Other format supported by third-part."},
    // Target Format ("H.264" has none)
    {Kind::Prompt, 0, 32719, 0, "Mpeg4 file"},
    // Download
    {Kind::Prompt, 0, 32776, 0, "Download the GStreamer runtime."},
    {Kind::Prompt, 0, 32778, 0, "Download the GStreamer plugins."},
    {Kind::Prompt, 0, 32777, 0, "Download RealMedia support."},
    {Kind::Prompt, 0, 32779, 0, "Download QuickTime support."},
    {Kind::Prompt, 0, 32780, 0, "Download Ogg Codec package."},
    // Help
    {Kind::Prompt, 0, 32791, 0, "Open help document."},
    {Kind::Prompt, 0, 32792, 0, "Display/Hide help tool tips."},
    {Kind::Prompt, 0, 57664, 0, "Display program information, version number and copyright\nAbout"},

    // ---- Dialogs --------------------------------------------------------------

    // About box (100). Caption, title and version are replaced when it opens;
    // these are the template's defaults.
    // text composed: none given (caption, 1046, 1103, 1032, notice)
    {Kind::Dialog, 100, 0, 0, "About Plexavo"},
    {Kind::Dialog, 100, 1046, 0, "Plexavo ( tm )"},
    {Kind::Dialog, 100, 1103, 0, "Version 1.0.0"},
    {Kind::Dialog, 100, label::about::kNotice, 0,
     "Copyright (C) Vantrel. Free software under the GNU GPL, version 3 or later."},
    {Kind::Dialog, 100, 1032, 0, "Vantrel home page"},
    {Kind::Dialog, 100, 1, 0, "OK"},

    // Main form (101): settings panel; it has no caption.
    {Kind::Dialog, 101, lm::kConversionGroup, 0, "Conversion Settings"},
    {Kind::Dialog, 101, lm::kType, 0, "Type:"},
    {Kind::Dialog, 101, 1004, 0, "MPEG-4"},
    {Kind::Dialog, 101, 1005, 0, "H.264"},
    {Kind::Dialog, 101, 1006, 0, "DVD"},
    {Kind::Dialog, 101, 1007, 0, "WMV"},
    {Kind::Dialog, 101, 1008, 0, "3GP"},
    {Kind::Dialog, 101, 1009, 0, "OGM"},
    {Kind::Dialog, 101, 1010, 0, "VCD"},
    {Kind::Dialog, 101, 1011, 0, "SVCD"},
    {Kind::Dialog, 101, 1012, 0, "DV"},
    {Kind::Dialog, 101, 1013, 0, "AVI"},
    {Kind::Dialog, 101, 1077, 0, "Format:"},
    {Kind::Dialog, 101, 1015, 0, "NTSC"},
    {Kind::Dialog, 101, 1016, 0, "PAL"},
    {Kind::Dialog, 101, 1017, 0, "NTSC-Film"},
    {Kind::Dialog, 101, lm::kVideoGroup, 0, "Video Settings"},
    {Kind::Dialog, 101, lm::kSize, 0, "Size:"},
    {Kind::Dialog, 101, lm::kWidth, 0, "X="},
    {Kind::Dialog, 101, lm::kHeight, 0, "Y="},
    {Kind::Dialog, 101, lm::kFrameRate, 0, "Framerate:"},
    {Kind::Dialog, 101, lm::kVideoBitRate, 0, "Bitrate:"},
    {Kind::Dialog, 101, 1118, 0, "Variable Bit Rate"},
    {Kind::Dialog, 101, lm::kMaxRate, 0, "Max:"},
    {Kind::Dialog, 101, lm::kMaxRateUnit, 0, "kbps"},
    {Kind::Dialog, 101, lm::kMinRate, 0, "Min:"},
    {Kind::Dialog, 101, lm::kMinRateUnit, 0, "kbps"},
    {Kind::Dialog, 101, lm::kAudioGroup, 0, "Audio Settings"},
    {Kind::Dialog, 101, lm::kChannels, 0, "Channels:"},
    {Kind::Dialog, 101, lm::kAudioBitRate, 0, "Bitrate:"},
    {Kind::Dialog, 101, lm::kSampleRate, 0, "Samplerate:"},
    {Kind::Dialog, 101, lm::kVolume, 0, "Volume:"},
    {Kind::Dialog, 101, lm::kPathGroup, 0, "Path Information "},
    {Kind::Dialog, 101, lm::kOutputPath, 0, "Output Path:"},
    {Kind::Dialog, 101, 1002, 0, "Browse..."},
    {Kind::Dialog, 101, 1003, 0, "Go"},
    {Kind::Dialog, 101, 32792, 0, "Hide the tooltips"},
    {Kind::Dialog, 101, 1101, 0,
     "Tips: Please install GStreamer 1.16 or later with its plugins. ( Click Menu/Download )"},

    // Conversion progress window (106); the caption is set when it opens.
    {Kind::Dialog, 106, 0, 0, "Convert Video to iPhone Video formats"},
    {Kind::Dialog, 106, 1030, 0, "Prepare to convert..."},
    {Kind::Dialog, 106, lp::kOverall, 0, "Overall Progress:"},
    {Kind::Dialog, 106, lp::kCurrent, 0, "Current Progress:"},
    {Kind::Dialog, 106, lp::kFileSize, 0, "File Size:"},
    {Kind::Dialog, 106, 1028, 0, "0k"},
    {Kind::Dialog, 106, 1036, 0, "Skip Current"},
    {Kind::Dialog, 106, 1022, 0, "Cancel All"},

    // Preview and part selection (107).
    {Kind::Dialog, 107, 0, 0, "Preview and select a part to convert"},
    {Kind::Dialog, 107, 1049, 0, "Play"},
    {Kind::Dialog, 107, 1050, 0, "Pause"},
    {Kind::Dialog, 107, 1051, 0, "Stop"},
    {Kind::Dialog, 107, 1052, 0, "Start"},
    {Kind::Dialog, 107, 1053, 0, "End"},
    {Kind::Dialog, 107, 1054, 0, "Full"},
    {Kind::Dialog, 107, 1, 0, "OK"},
    {Kind::Dialog, 107, 1037, 0, "Cancel"},
    {Kind::Dialog, 107, lv::kInformationGroup, 0, "Information"},
    {Kind::Dialog, 107, lv::kStartTime, 0, "Start Time:"},
    {Kind::Dialog, 107, lv::kEndTime, 0, "End Time:"},
    {Kind::Dialog, 107, lv::kDuration, 0, "Duration:"},
    {Kind::Dialog, 107, lv::kElapsedTime, 0, "Elapsed Time:"},
    {Kind::Dialog, 107, lv::kVolumeGroup, 0, "Volume"},
    {Kind::Dialog, 107, lv::kVolumeMin, 0, "Min"},
    {Kind::Dialog, 107, lv::kVolumeMax, 0, "Max"},
    {Kind::Dialog, 107, lv::kBalanceGroup, 0, "Balance"},
    {Kind::Dialog, 107, lv::kBalanceLeft, 0, "Left"},
    {Kind::Dialog, 107, lv::kBalanceRight, 0, "Right"},
    {Kind::Dialog, 107, lv::kHint, 0, "? You can select a part from the full duration to convert."},
    // Preview: names that screen readers give the controls without a label.
    {Kind::String, 0, 61970, 0, "Position"}, // slider 1043
    {Kind::String, 0, 61971, 0, "Video"},    // video area 1062
    // Preview: the line over the video area when the file cannot be played;
    // GStreamer's own message follows it.
    {Kind::String, 0, 62060, 0, "This file can't be played here."},
    // ... and the reason after it when the player found the failure itself.
    {Kind::String, 0, 62070, 0, "Nothing in it could be read as picture or sound."},

    // Detection window (137): no caption; the worker replaces the status text.
    {Kind::Dialog, 137, 1030, 0, "Detecting selected files..."},

    // Help-tips window (138).
    // text composed: none given (caption)
    {Kind::Dialog, 138, 0, 0, "Help Tips"},
    {Kind::Dialog, 138, label::tips::kSteps, 0,
     "Help 1-2-3-4\n"
     "\n"
     "   1. Add a media file or more to source list.\n"
     "   2. Preview it or set the convert part, full duration is default.\n"
     "   3. Select and set the target format.\n"
     "   4. OK, Convert it."},
    {Kind::Dialog, 138, 1073, 0, "Hide the tooltips"},

    // A setting that could not be written (62020): the settings file and the
    // system's reason. Files whose names did not survive the file dialog
    // (62021): the list of those names.
    {Kind::String, 0, 62020, 0,
     "The settings cannot be saved in\n%s\n(%s).\n\nYour choice applies until Plexavo is "
     "closed and is lost after that."},
    {Kind::String, 0, 62021, 0,
     "The names of these files cannot be read, so they were not added:%s\n\nTo add such a "
     "file, drop it on the window or name it on the command line."},
};

} // namespace

const Module& defaultModule() {
    static const Module m{"English", 0x0409, kEntries, sizeof kEntries / sizeof kEntries[0]};
    return m;
}

} // namespace plexavo::res
