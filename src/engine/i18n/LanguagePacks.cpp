#include "engine/i18n/LanguagePacks.h"

#include "engine/i18n/ResourceText.h"
#include "engine/platform/DebugLog.h"
#include "engine/platform/Platform.h"

#include "PlexavoVersion.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>
#include <utility>

namespace plexavo::i18n {

using platform::writeLog;

namespace {

std::mutex g_folderMutex;
std::string g_folder;

bool endsWithNoCase(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return s.size() >= n && strncasecmp(s.c_str() + s.size() - n, suffix, n) == 0;
}

// A handle that closes itself: a query must not leave a pack mapped.
struct Library {
    explicit Library(const std::string& path)
        : handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle)
            dlclose(handle);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    void* release() { return std::exchange(handle, nullptr); }
    void* handle;
};

template <typename Fn> Fn symbol(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

// Empty when the pack was built for this version of the program, else why not.
std::string versionFault(void* handle) {
    const auto* version = static_cast<const char*>(dlsym(handle, kExportPackVersion));
    if (!version)
        return "carries no version";
    // Read no further than this program's version and its terminator.
    if (std::strncmp(version, kProgramVersion, sizeof kProgramVersion) == 0)
        return {};
    return "was built for version " + std::string(version, strnlen(version, 32)) + ", not " +
           kProgramVersion;
}

const res::Module* resourcesOf(void* handle) {
    const auto get = symbol<GetResourcesFn>(handle, kExportResources);
    if (!get)
        return nullptr;
    const res::Module* module = get();
    return isWellFormed(module) ? module : nullptr;
}

} // namespace

std::string packFolder() {
    std::lock_guard lock(g_folderMutex);
    // Packs are code the program runs: with its own folder unknown there
    // are none, rather than whatever lies in the current folder.
    return g_folder.empty() ? platform::knownProgramFolder() : g_folder;
}

void setPackFolder(const std::string& folder) {
    std::lock_guard lock(g_folderMutex);
    g_folder = folder;
    if (!g_folder.empty() && g_folder.back() != '/')
        g_folder += '/';
}

bool isUsEnglish(unsigned langId) {
    return (langId & 0x3FF) == 9 && ((langId >> 10) & 0x3F) == 1;
}

bool isPackFileName(const std::string& fileName) {
    constexpr std::size_t kPrefix = 6; // "LanRes"
    return fileName.size() >= kPrefix + 6 &&
           strncasecmp(fileName.c_str(), "LanRes", kPrefix) == 0 &&
           endsWithNoCase(fileName, "Dll.so");
}

void enumLanguagePacks(const std::string& folder, std::vector<std::string>& list) {
    if (folder.empty())
        return; // no folder, no packs: never the current one
    std::string dir = folder;
    if (dir.back() != '/')
        dir += '/';
    DIR* d = opendir(dir.c_str());
    if (!d)
        return;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (!isPackFileName(name))
            continue;
        const std::string path = dir + name;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
            continue;
        list.push_back(path);
    }
    closedir(d);
}

bool isWellFormed(const res::Module* module) {
    if (!module || (module->count > 0 && !module->entries))
        return false;
    for (std::size_t i = 0; i < module->count; ++i) {
        const res::Entry& e = module->entries[i];
        if (!e.text || static_cast<unsigned>(e.kind) > static_cast<unsigned>(res::Kind::Dialog))
            return false;
    }
    return true;
}

bool queryLanguagePack(const std::string& path, std::uint16_t& langId, std::string& name) {
    Library lib(path);
    if (!lib.handle)
        return false;
    const auto getLanguage = symbol<GetLanguageFn>(lib.handle, kExportLanguage);
    const auto getName = symbol<GetLanguageNameFn>(lib.handle, kExportLanguageName);
    if (!getLanguage || !getName || !versionFault(lib.handle).empty() || !resourcesOf(lib.handle))
        return false;
    const char* text = getName();
    if (!text)
        return false;
    langId = static_cast<std::uint16_t>(getLanguage() & 0xFFFF);
    name = text; // copied before the library goes away
    return true;
}

std::string findLanguagePack(unsigned langId) {
    std::vector<std::string> packs;
    enumLanguagePacks(packFolder(), packs);
    for (const std::string& path : packs) {
        std::uint16_t id = 0;
        std::string name;
        if (queryLanguagePack(path, id, name) && id == (langId & 0xFFFF))
            return path;
    }
    return {};
}

void buildLanguageList(std::vector<std::uint16_t>& ids, std::vector<std::string>& names,
                       std::vector<std::string>& paths) {
    std::vector<std::string> packs;
    enumLanguagePacks(packFolder(), packs);
    for (const std::string& path : packs) {
        std::uint16_t id = 0;
        std::string name;
        if (!queryLanguagePack(path, id, name))
            continue;
        // First name that compares greater (strcmp: unsigned bytes), so equal
        // names stay in enumeration order.
        const auto at = std::find_if(names.begin(), names.end(), [&](const std::string& n) {
            return std::strcmp(n.c_str(), name.c_str()) > 0;
        });
        const auto j = at - names.begin();
        ids.insert(ids.begin() + j, id);
        names.insert(names.begin() + j, name);
        paths.insert(paths.begin() + j, path);
    }
}

LanguagePacks::~LanguagePacks() {
    if (m_library) {
        i18n::setCurrentModule(nullptr);
        dlclose(m_library);
    }
}

bool LanguagePacks::loadLanguagePack(const std::string& path) {
    i18n::setCurrentModule(nullptr);
    if (m_library) {
        dlclose(m_library);
        m_library = nullptr;
        m_packPath.clear();
    }
    if (path.empty())
        return false;
    Library lib(path);
    if (!lib.handle) {
        writeLog("Language pack %s does not load: %s", path.c_str(), dlerror());
        return false;
    }
    if (const std::string fault = versionFault(lib.handle); !fault.empty()) {
        writeLog("Language pack %s %s", path.c_str(), fault.c_str());
        return false;
    }
    // Only a table that can be read safely becomes current.
    const res::Module* module = resourcesOf(lib.handle);
    if (!module) {
        writeLog("Language pack %s has no usable resource table", path.c_str());
        return false;
    }
    m_library = lib.release();
    m_packPath = path;
    i18n::setCurrentModule(module);
    return true;
}

bool LanguagePacks::selectLanguage(unsigned langId) {
    const auto id = static_cast<std::uint16_t>(langId & 0xFFFF);
    if (isUsEnglish(langId)) {
        loadLanguagePack("");
        m_currentLanguage = id;
        return true;
    }
    if (id == m_currentLanguage)
        return false;
    const std::string path = findLanguagePack(langId);
    if (path.empty())
        return false;
    const std::string previous = m_packPath;
    if (!loadLanguagePack(path)) {
        // The old pack was released first; take it back rather than leave
        // the program's own texts under another language's name.
        if (!previous.empty() && !loadLanguagePack(previous))
            m_currentLanguage = 0;
        return false;
    }
    m_currentLanguage = id;
    return true;
}

void LanguagePacks::refreshLanguageList() {
    m_languageIds.clear();
    m_languageNames.clear();
    m_packPaths.clear();
    buildLanguageList(m_languageIds, m_languageNames, m_packPaths);
    m_languageIds.insert(m_languageIds.begin(), kEnglishUs);
    m_languageNames.insert(m_languageNames.begin(), kEnglishName);
    m_packPaths.insert(m_packPaths.begin(), std::string());
}

} // namespace plexavo::i18n
