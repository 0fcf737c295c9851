// Language packs: shared libraries named LanRes<Name>Dll.so next to the
// program, each carrying a complete translated resource module. This is the
// Qt-free half (finding, querying, loading, choosing); the windows re-text
// themselves from the current module after a switch.
#pragma once

#include "engine/res/ResourceModule.h"

#include <cstdint>
#include <string>
#include <vector>

namespace plexavo::i18n {

// The C exports of a pack. The resource accessor carries the layout version of
// res::Entry in its name: a pack built against another layout lacks it and is
// left out instead of being misread. The pack's version is the program version
// it was built for ("1.0.0"); a pack of any other version, or of none, is left
// out too: its texts and dialogs are another program's.
inline constexpr const char* kExportLanguage = "GetLanguage";           // unsigned (void)
inline constexpr const char* kExportLanguageName = "GetLanguageName";   // const char* (void)
inline constexpr const char* kExportResources = "GetResourceModuleV1";  // const res::Module* (void)
inline constexpr const char* kExportPackVersion = "PlexavoPackVersion"; // const char[]

using GetLanguageFn = unsigned (*)();
using GetLanguageNameFn = const char* (*)();
using GetResourcesFn = const res::Module* (*)();

inline constexpr std::uint16_t kEnglishUs = 0x0409;         // 1033, the program's own texts
inline constexpr std::uint16_t kChineseSimplified = 0x0804; // 2052
inline constexpr int kFirstLanguageCommand = 32750;         // + index in the language list
inline constexpr int kLastLanguageCommand = 32769;
inline constexpr const char* kEnglishName = "&English";

// The folder searched for packs, with a trailing '/': the program's own unless
// set (tests point it at a folder of test packs; "" restores the default).
// "" when the program's folder cannot be read: then there are no packs.
std::string packFolder();
void setPackFolder(const std::string& folder);

// True for English (United States): primary language 9, sub-language 1.
bool isUsEnglish(unsigned langId);

// "LanRes*Dll.so", letter case ignored.
bool isPackFileName(const std::string& fileName);

// Appends folder + name for every pack-named entry of folder that is not a
// folder itself, in the order the file system returns them. An empty folder
// name lists nothing.
void enumLanguagePacks(const std::string& folder, std::vector<std::string>& list);

// Loads the library just long enough to read its language id (low 16 bits)
// and menu name. False when it does not load, lacks an export, was built for
// another version of the program or carries a malformed resource table.
bool queryLanguagePack(const std::string& path, std::uint16_t& langId, std::string& name);

// Path of the first pack in packFolder() whose id equals the low 16 bits of
// langId, or "".
std::string findLanguagePack(unsigned langId);

// Every usable pack of packFolder(), ordered by name in byte order (letter
// case significant); equal names keep their enumeration order.
void buildLanguageList(std::vector<std::uint16_t>& ids, std::vector<std::string>& names,
                       std::vector<std::string>& paths);

// A table that is safe to read: entries present, every text set, kinds known.
bool isWellFormed(const res::Module* module);

// The language state of the application: the loaded pack and the list behind
// the Language menu. One per process, used on the UI thread only (the current
// resource module it sets is process-wide).
class LanguagePacks {
  public:
    LanguagePacks() = default;
    // Restores the program's own module before releasing the pack it points into.
    ~LanguagePacks();
    LanguagePacks(const LanguagePacks&) = delete;
    LanguagePacks& operator=(const LanguagePacks&) = delete;

    // Makes langId the current language; false when there is nothing to do or
    // its pack cannot be found or loaded. A pack that is listed but fails to
    // load leaves the previous language current, so the texts on screen, the
    // texts to come and the checked menu entry stay one language.
    bool selectLanguage(unsigned langId);
    // Releases the loaded pack, then makes the pack at path current. An empty
    // path, or a pack that fails to load, leaves the program's own module current.
    bool loadLanguagePack(const std::string& path);
    // Rebuilds the three parallel lists: the built-in English first, then the packs.
    void refreshLanguageList();

    void* m_library = nullptr;           // the loaded pack, null for the program's own texts
    std::string m_packPath;              // its path, "" for the program's own texts
    std::uint16_t m_currentLanguage = 0; // 0 until a language has been selected
    std::vector<std::uint16_t> m_languageIds;
    std::vector<std::string> m_packPaths;     // "" for the built-in English
    std::vector<std::string> m_languageNames; // Language-menu texts
};

} // namespace plexavo::i18n
