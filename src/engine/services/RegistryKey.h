// The settings store. Windows kept these few values in its registry; here they
// live in one per-user hive file in the registry's own text format (.reg), so
// value types survive ("Language" stored as a string still reads as missing):
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Software\Vantrel\Plexavo]
//   "HiddenToolTips"="TRUE"
//   "Language"=dword:00000804
//   "OutputPath"="/home/me/Videos/"
//
// The file is $PLEXAVO_CONFIG_DIR/Plexavo.reg when that variable is set, else
// $XDG_CONFIG_HOME/Vantrel/Plexavo.reg (default ~/.config). Every write is a
// locked read-modify-write that replaces the file atomically, so a crash never
// leaves half a file and two running copies never lose each other's values.
// A damaged or unreadable file reads as defaults; a damaged one is set aside
// (Plexavo.reg.damaged) before the next write, an unreadable one is never
// replaced.
//
// Usage: construct a key on the stack for one access, let it close on scope exit.
//
//   CRegistryKey key(HKEY_LOCAL_MACHINE, g_strRegKey, 3);
//   DWORD language = 0xFFFFFFFF;
//   key.ReadDword("Language", language);
//
// or, for the three values the program keeps, the helpers in plexavo::settings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace plexavo {

using DWORD = std::uint32_t;
using LONG = std::int32_t;

// The registry roots. One hive file holds the keys of every root.
enum class HKEY : int { None = 0, ClassesRoot, CurrentUser, LocalMachine };
inline constexpr HKEY HKEY_CLASSES_ROOT = HKEY::ClassesRoot;
inline constexpr HKEY HKEY_CURRENT_USER = HKEY::CurrentUser;
inline constexpr HKEY HKEY_LOCAL_MACHINE = HKEY::LocalMachine;

// Results, numbered as the registry numbers them.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2; // no such value (or key)
inline constexpr LONG ERROR_WRONG_TYPE = 4;     // the value exists with another type
inline constexpr LONG ERROR_ACCESS_DENIED = 5;  // hive unreadable, locked too long, or not writable
inline constexpr LONG ERROR_INVALID_HANDLE = 6; // the key failed to open
inline constexpr LONG ERROR_WRITE_FAULT = 29;   // the new file could not be written

// Open modes.
inline constexpr int KEY_MODE_READ = 1;
inline constexpr int KEY_MODE_WRITE = 2;

class CRegistryKey {
  public:
    // Opens (and, with the write mode, creates) the key. A failure is silent:
    // the fields are reset, every read returns ERROR_INVALID_HANDLE and leaves
    // the caller's default, every write does nothing.
    CRegistryKey(HKEY root, const std::string& path, int mode);
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // A value of another type returns ERROR_WRONG_TYPE and leaves `value` as it was.
    LONG ReadDword(const char* name, DWORD& value);
    LONG ReadString(const char* name, std::string& value);
    LONG WriteDword(const char* name, DWORD value);
    LONG WriteString(const char* name, const std::string& value);

    bool isOpen() const { return m_hKey != nullptr; }

    // After a write that failed: the file it was for and the system's reason
    // (an errno value); 0 while every write has succeeded.
    int lastWriteError() const { return m_writeError; }
    const std::string& lastWriteFile() const { return m_writeFile; }

    // Where the hive lives (see the top of this file).
    static std::string hiveFolder();
    static std::string hivePath();

  private:
    struct Handle;

    HKEY m_hRoot = HKEY::None;
    std::string m_strPath;
    std::unique_ptr<Handle> m_hKey;
    std::string m_strPathCopy;
    int m_nMode = 0;
    int m_writeError = 0;
    std::string m_writeFile;

    // Both writers: the value in the hive's form, and the failure noted.
    LONG write(const char* name, std::uint32_t type, const std::string& data);
};

} // namespace plexavo

// Process-wide values that start-up sets. Until then: empty, 0, 0, false.
extern std::string g_strRegKey; // "Software\Vantrel\Plexavo"
extern int g_nQuartzMajor;      // media framework version, 0.0 when unreadable
extern int g_nQuartzMinor;
extern bool g_bToolTipsHidden; // "HiddenToolTips" equals "TRUE" ignoring case

namespace plexavo::settings {

inline constexpr char kHiddenToolTips[] =
    "HiddenToolTips";                               // REG_SZ, "TRUE" once the tips were closed
inline constexpr char kLanguage[] = "Language";     // REG_DWORD, the selected LANGID
inline constexpr char kOutputPath[] = "OutputPath"; // REG_SZ, the folder for converted files

// What saving one setting came to: saved, or the file that could not be
// written and the system's reason. The windows tell the user, since a choice
// that is not saved is gone at the next start.
struct SaveResult {
    bool ok = true;
    std::string file;
    int error = 0;
    // The system's words for the reason ("Read-only file system").
    std::string reason() const;
};

// Sets g_strRegKey to "Software\Vantrel\" plus the product name.
void initRegKey();

// Each opens the key under HKEY_LOCAL_MACHINE (mode 3) for one access.
// True when "HiddenToolTips" is a string equal to "TRUE" ignoring case.
bool readToolTipsHidden();
SaveResult writeToolTipsHidden(); // stores "TRUE"
// The stored language, or -1 when there is none (missing, or not a dword).
long readLanguage();
SaveResult writeLanguage(DWORD languageId);
// The folder to convert into: the stored "OutputPath" resolved by
// resolveOutputPath when it names an existing folder, else the default
// ($HOME/ConvertedMedia/). The stored text's trailing '/' is kept as it was.
std::string readOutputPath();
SaveResult writeOutputPath(const std::string& folder);

// "~" and "~/x" become the home folder and a path inside it, "~user/x" the
// user's, and a relative name is taken inside the home folder: a relative
// output folder would otherwise land wherever the program was started.
std::string resolveOutputPath(const std::string& stored);

} // namespace plexavo::settings
