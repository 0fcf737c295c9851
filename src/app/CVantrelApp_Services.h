// The shell services the main window leans on: the settings store, the
// browser and file-manager launch, the version of the program and of the
// media framework. One narrow header, so the window code does not care which
// library answers.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace plexavo::shell {

// Names of the stored values.
inline constexpr char kHiddenToolTips[] = "HiddenToolTips";
inline constexpr char kOutputPath[] = "OutputPath";
inline constexpr char kLanguage[] = "Language";

// A stored text value; nothing when it is missing or not a text.
std::optional<std::string> readString(const char* name);
// Stores a text value; false when it could not be written.
bool writeString(const char* name, const std::string& value);

// "HiddenToolTips" as read once at start-up: the help window opens by
// itself only while it is false.
bool toolTipsHiddenAtStart();
void setToolTipsHiddenAtStart(bool hidden);

// Starts program with exactly these arguments, not waiting for it. False
// when it could not be started (not installed, not executable).
bool startDetached(const std::string& program, const std::vector<std::string>& arguments);

// Opens a web address in the desktop's browser.
bool openWithBrowser(const std::string& address);
// The address of one of the maker's pages, e.g. page "download.html" with
// anchor "#directx".
std::string makerPageAddress(const std::string& page, const std::string& anchor = {});

// The help document shipped next to the program.
std::string helpDocumentPath();

struct Version {
    int major = 0;
    int minor = 0;
    int build = 0;
};
// The running program's own version; zeros when it cannot be read.
Version programVersion();

// The media framework's runtime version; 0.0 when it cannot be read.
Version mediaFrameworkVersion();
// The oldest media framework with which the preview works.
inline constexpr int kMediaFrameworkMajor = 1;
inline constexpr int kMediaFrameworkMinor = 16;
bool mediaFrameworkPresent(const Version& v);

} // namespace plexavo::shell
