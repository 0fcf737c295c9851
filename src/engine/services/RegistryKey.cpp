#include "engine/services/RegistryKey.h"

#include "engine/platform/Files.h"
#include "engine/platform/Utf8.h"
#include "engine/services/DebugLog.h"
#include "engine/services/HiveStore.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::string g_strRegKey;
int g_nQuartzMajor = 0;
int g_nQuartzMinor = 0;
bool g_bToolTipsHidden = false;

namespace plexavo {

using namespace hive;

namespace {

constexpr char kProductName[] = "Plexavo";

const char* rootName(HKEY root) {
    switch (root) {
    case HKEY::ClassesRoot:
        return "HKEY_CLASSES_ROOT";
    case HKEY::CurrentUser:
        return "HKEY_CURRENT_USER";
    case HKEY::LocalMachine:
        return "HKEY_LOCAL_MACHINE";
    default:
        return nullptr;
    }
}

// Makes the settings folder and its missing parents: 0, or the errno of the
// level that could not be made, which is what the user needs to hear.
int makeFolders(const std::string& path) {
    if (folderExists(path))
        return 0;
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const auto slash = p.rfind('/');
    if (slash != std::string::npos && slash > 0)
        if (const int error = makeFolders(p.substr(0, slash)))
            return error;
    if (mkdir(p.c_str(), 0777) == 0)
        return 0;
    const int error = errno;
    if (error == EEXIST)
        return folderExists(p) ? 0 : ENOTDIR;
    return error;
}

} // namespace

// ---------------------------------------------------------------- the key

struct CRegistryKey::Handle {
    std::string hive;    // the file
    std::string section; // "HKEY_LOCAL_MACHINE\Software\Vantrel\Plexavo"
};

std::string CRegistryKey::hiveFolder() {
    if (const char* dir = std::getenv("PLEXAVO_CONFIG_DIR"); dir && *dir)
        return dir;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.config";
    }
    return base + "/Vantrel";
}

std::string CRegistryKey::hivePath() {
    return hiveFolder() + "/" + kProductName + ".reg";
}

CRegistryKey::CRegistryKey(HKEY root, const std::string& path, int mode)
    : m_hRoot(root), m_strPath(path), m_strPathCopy(path), m_nMode(mode) {
    const char* name = rootName(root);
    bool ok = name != nullptr && (mode & (KEY_MODE_READ | KEY_MODE_WRITE)) != 0;
    const std::string folder = hiveFolder();
    if (ok && (mode & KEY_MODE_WRITE)) {
        // Writing needs a folder to write in. Without one the key still reads:
        // a read-only configuration is still a configuration.
        int error = makeFolders(folder);
        if (!error && access(folder.c_str(), W_OK | X_OK) != 0)
            error = errno;
        if (error) {
            WriteLog("Settings: cannot write in %s (%s)", folder.c_str(), std::strerror(error));
            m_writeError = error;
            m_writeFile = hivePath();
            m_nMode &= ~KEY_MODE_WRITE;
            ok = m_nMode != 0;
        }
    }
    if (!ok) {
        if (!m_writeError) {
            m_writeError = EINVAL;
            m_writeFile = hivePath();
        }
        m_hRoot = HKEY::None;
        m_strPath.clear();
        m_strPathCopy.clear();
        m_nMode = 0;
        return;
    }
    std::string key = path;
    while (!key.empty() && key.front() == '\\')
        key.erase(0, 1);
    while (!key.empty() && key.back() == '\\')
        key.pop_back();
    m_hKey = std::make_unique<Handle>();
    m_hKey->hive = hivePath();
    m_hKey->section = key.empty() ? std::string(name) : std::string(name) + "\\" + key;
}

CRegistryKey::~CRegistryKey() = default;

LONG CRegistryKey::ReadDword(const char* name, DWORD& value) {
    if (!m_hKey || !name)
        return ERROR_INVALID_HANDLE;
    const Loaded loaded = loadHive(m_hKey->hive);
    if (loaded.state != LoadState::Ok)
        return ERROR_FILE_NOT_FOUND;
    const auto found = findValue(loaded.hive, m_hKey->section, name);
    if (!found)
        return ERROR_FILE_NOT_FOUND;
    if (found->type != REG_DWORD || found->data.size() != 4)
        return ERROR_WRONG_TYPE;
    std::memcpy(&value, found->data.data(), 4);
    return ERROR_SUCCESS;
}

LONG CRegistryKey::ReadString(const char* name, std::string& value) {
    if (!m_hKey || !name)
        return ERROR_INVALID_HANDLE;
    const Loaded loaded = loadHive(m_hKey->hive);
    if (loaded.state != LoadState::Ok)
        return ERROR_FILE_NOT_FOUND;
    const auto found = findValue(loaded.hive, m_hKey->section, name);
    if (!found)
        return ERROR_FILE_NOT_FOUND;
    if (found->type != REG_SZ)
        return ERROR_WRONG_TYPE;
    value = found->data;
    return ERROR_SUCCESS;
}

LONG CRegistryKey::write(const char* name, DWORD type, const std::string& data) {
    WriteFailure why;
    if (!m_hKey || !name || !(m_nMode & KEY_MODE_WRITE)) {
        // The key's own reason (a folder that cannot be written) when it has one.
        why.error = m_writeError ? m_writeError : EINVAL;
        why.file = m_writeFile.empty() ? hivePath() : m_writeFile;
        m_writeError = why.error;
        m_writeFile = why.file;
        return ERROR_INVALID_HANDLE;
    }
    const LONG result = writeValue(m_hKey->hive, m_hKey->section, name, type, data, &why);
    if (result != ERROR_SUCCESS) {
        m_writeError = why.error ? why.error : EIO;
        m_writeFile = why.file;
    }
    return result;
}

LONG CRegistryKey::WriteDword(const char* name, DWORD value) {
    return write(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4));
}

LONG CRegistryKey::WriteString(const char* name, const std::string& value) {
    // A registry string ends at its first NUL.
    return write(name, REG_SZ, value.substr(0, value.find('\0')));
}

} // namespace plexavo

// ---------------------------------------------------------------- the three values

namespace plexavo::settings {

namespace {

std::string keyPath() {
    return g_strRegKey.empty() ? std::string("Software\\Vantrel\\") + kProductName : g_strRegKey;
}

// The helpers' one way to report a write.
SaveResult saved(const CRegistryKey& key, LONG result) {
    SaveResult out;
    if (result == ERROR_SUCCESS)
        return out;
    out.ok = false;
    out.file = key.lastWriteFile();
    out.error = key.lastWriteError();
    return out;
}

} // namespace

std::string SaveResult::reason() const {
    char buffer[256];
    // The GNU strerror_r: the text may come back in its own storage.
    return strerror_r(error ? error : EIO, buffer, sizeof buffer);
}

void initRegKey() {
    g_strRegKey = std::string("Software\\Vantrel\\") + kProductName;
}

bool readToolTipsHidden() {
    CRegistryKey key(HKEY_LOCAL_MACHINE, keyPath(), 3);
    std::string text;
    key.ReadString(kHiddenToolTips, text);
    return equalsNoCase(text, "TRUE");
}

SaveResult writeToolTipsHidden() {
    CRegistryKey key(HKEY_LOCAL_MACHINE, keyPath(), 3);
    return saved(key, key.WriteString(kHiddenToolTips, "TRUE"));
}

long readLanguage() {
    CRegistryKey key(HKEY_LOCAL_MACHINE, keyPath(), 3);
    DWORD value = 0xFFFFFFFF;
    key.ReadDword(kLanguage, value);
    return static_cast<std::int32_t>(value);
}

SaveResult writeLanguage(DWORD languageId) {
    CRegistryKey key(HKEY_LOCAL_MACHINE, keyPath(), 3);
    return saved(key, key.WriteDword(kLanguage, languageId));
}

std::string resolveOutputPath(const std::string& stored) {
    if (stored.empty() || stored[0] == '/')
        return stored;
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = getpwuid(getuid())) {
        home = pw->pw_dir;
    }
    if (stored[0] == '~') {
        const auto slash = stored.find('/');
        const std::string user =
            stored.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
        const std::string rest = slash == std::string::npos ? std::string() : stored.substr(slash);
        if (user.empty())
            return home + rest;
        if (const passwd* pw = getpwnam(user.c_str()))
            return std::string(pw->pw_dir) + rest;
        // "~name" of nobody known: a plain relative name after all.
    }
    if (home.empty())
        return stored;
    return home + (home.back() == '/' ? "" : "/") + stored;
}

std::string readOutputPath() {
    CRegistryKey key(HKEY_LOCAL_MACHINE, keyPath(), 3);
    std::string stored;
    key.ReadString(kOutputPath, stored);
    const std::string folder = resolveOutputPath(stored);
    return folderExists(folder) ? folder : defaultOutputPath();
}

SaveResult writeOutputPath(const std::string& folder) {
    CRegistryKey key(HKEY_LOCAL_MACHINE, keyPath(), 3);
    return saved(key, key.WriteString(kOutputPath, folder));
}

} // namespace plexavo::settings
