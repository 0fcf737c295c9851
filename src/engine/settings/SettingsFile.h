// The settings file: a keyfile, the desktop's INI format, read and written
// with GLib's GKeyFile, holding the program's few values in one group:
//
//   [Settings]
//   HiddenToolTips=true
//   Language=2052
//   OutputPath=/home/me/Videos/
//
// It is $PLEXAVO_CONFIG_DIR/plexavo.conf when that variable is set (tests),
// else $XDG_CONFIG_HOME/plexavo/plexavo.conf (default ~/.config). Nothing is
// kept between accesses: a read reads the file, a write is a locked
// read-modify-write that replaces the file atomically, so a crash never
// leaves half a file and two running copies never lose each other's values.
// A damaged file reads as defaults and is kept aside (plexavo.conf.damaged)
// by the next write; an unreadable one is never replaced. While there is no
// file yet, the values an older Plexavo kept (OldRegFile.h) are read and saved
// as the new file, once; the old file is left as it is.
//
//   settings::SettingsFile file;               // one access
//   const auto language = file.readNumber("Language");
#pragma once

#include <optional>
#include <string>
#include <variant>

namespace plexavo::settings {

// A stored value as its type: a flag, a number, or a text in UTF-8.
using Value = std::variant<bool, int, std::string>;

// What saving one value came to: saved, or the file that could not be
// written and the system's reason (an errno value). The windows tell the
// user, since a choice that is not saved is gone at the next start.
struct SaveResult {
    bool ok = true;
    std::string file;
    int error = 0;
    // The system's words for the reason ("Read-only file system").
    std::string reason() const;
};

class SettingsFile {
  public:
    // The file the environment names now (see the top of this file).
    SettingsFile();

    // The value, or nothing when it is missing, stored as another type (a
    // text where a number is asked for), or the file cannot be read.
    std::optional<bool> readFlag(const std::string& key) const;
    std::optional<int> readNumber(const std::string& key) const;
    std::optional<std::string> readText(const std::string& key) const;

    // Sets one value and leaves every other line of the file as it was. A
    // text that is not UTF-8 is refused (EILSEQ) before the file is touched.
    SaveResult write(const std::string& key, const Value& value) const;

    const std::string& path() const { return m_path; }
    static std::string folder();
    // $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
    static std::string configHome();

  private:
    std::string m_path;
    std::string m_oldPath; // an older Plexavo's file
};

} // namespace plexavo::settings
