#include "engine/settings/SettingsFile.h"

#include "engine/platform/DebugLog.h"
#include "engine/platform/Files.h"
#include "engine/platform/Utf8.h"
#include "engine/settings/OldRegFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <memory>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::settings {

using platform::makeFolders;
using platform::writeLog;

namespace {

constexpr char kGroup[] = "Settings";
constexpr char kFileName[] = "plexavo.conf";
// Far beyond any file this program writes; a bigger one is not ours.
constexpr std::size_t kMaxFileBytes = 1u << 20;
constexpr int kLockWaitMs = 5000;

struct KeyFileFree {
    void operator()(GKeyFile* keys) const { g_key_file_free(keys); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;

KeyFile newKeyFile() {
    return KeyFile(g_key_file_new());
}

// A GError to hand to GLib, freed when it goes out of scope.
class Error {
  public:
    Error() = default;
    ~Error() {
        if (m_error)
            g_error_free(m_error);
    }
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    GError** out() { return &m_error; }
    explicit operator bool() const { return m_error != nullptr; }
    const char* message() const { return m_error ? m_error->message : ""; }

  private:
    GError* m_error = nullptr;
};

// ---------------------------------------------------------------- reading

enum class State { Missing, Ok, Damaged, Unreadable };

struct Loaded {
    State state = State::Missing;
    KeyFile keys = newKeyFile(); // Ok: the file's values; otherwise none
    std::string text;            // what was read (Damaged: kept for the copy set aside)
    bool complete = true;        // false: the file was larger than kMaxFileBytes
    mode_t mode = 0644;
    int error = 0; // Unreadable: why
};

// The file's bytes, its mode and whether it is there and readable at all.
Loaded readBytes(const std::string& path) {
    Loaded result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        // No file, or no folder for it (a file where the folder belongs).
        result.state = errno == ENOENT || errno == ENOTDIR ? State::Missing : State::Unreadable;
        return result;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0) {
        result.mode = st.st_mode & 07777;
        if (!S_ISREG(st.st_mode)) {
            ::close(fd);
            result.state = State::Unreadable;
            result.error = EISDIR;
            return result;
        }
    }
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error = errno;
            result.state = State::Unreadable;
            break;
        }
        result.text.append(buffer, static_cast<std::size_t>(n));
        if (result.text.size() > kMaxFileBytes) {
            result.complete = false;
            break;
        }
    }
    ::close(fd);
    if (result.state != State::Unreadable)
        result.state = State::Ok;
    return result;
}

Loaded loadFile(const std::string& path) {
    Loaded loaded = readBytes(path);
    if (loaded.state != State::Ok)
        return loaded;
    Error error;
    if (loaded.complete &&
        g_key_file_load_from_data(
            loaded.keys.get(), loaded.text.data(), loaded.text.size(),
            GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS), error.out()))
        return loaded;
    writeLog("Settings: %s is damaged (%s); the defaults apply", path.c_str(),
             loaded.complete ? error.message() : "too large");
    loaded.state = State::Damaged;
    loaded.keys = newKeyFile();
    return loaded;
}

void setValue(GKeyFile* keys, const std::string& key, const Value& value) {
    if (const bool* flag = std::get_if<bool>(&value))
        g_key_file_set_boolean(keys, kGroup, key.c_str(), *flag);
    else if (const int* number = std::get_if<int>(&value))
        g_key_file_set_integer(keys, kGroup, key.c_str(), *number);
    else
        g_key_file_set_string(keys, kGroup, key.c_str(), std::get<std::string>(value).c_str());
}

// Puts an older Plexavo's values into `keys`: true when there were any.
bool takeOldValues(GKeyFile* keys, const std::string& oldPath) {
    const Loaded old = readBytes(oldPath);
    if (old.state != State::Ok || !old.complete)
        return false;
    const auto values = parseOldRegFile(old.text);
    if (values.empty()) {
        writeLog("Settings: %s holds no settings of ours; not taken over", oldPath.c_str());
        return false;
    }
    for (const auto& [key, value] : values)
        setValue(keys, key, value);
    return true;
}

// ---------------------------------------------------------------- writing

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
                                      : (slash == 0 ? "/" : path.substr(0, slash));
}

// The file a write replaces: the target of a symbolic link (a config folder
// kept under version control links its files), else the path itself.
std::string writeTarget(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            std::string target = real;
            std::free(real);
            return target;
        }
    }
    return path;
}

// Keeps a damaged file under a name of its own before a fresh one replaces
// it: 0 when kept, else the errno that stopped it.
int setAside(const std::string& path, const Loaded& loaded) {
    for (int n = 0; n < 100; ++n) {
        const std::string backup =
            path + ".damaged" + (n ? "." + std::to_string(n) : std::string());
        if (::link(path.c_str(), backup.c_str()) == 0) {
            writeLog("Settings: the damaged %s was kept as %s", path.c_str(), backup.c_str());
            return 0;
        }
        if (errno == EEXIST)
            continue;
        // No hard links on this file system: copy what was read, if it was all.
        if (!loaded.complete)
            return EFBIG;
        const int fd = ::open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return errno;
        const bool ok = platform::writeAll(fd, loaded.text) && fsync(fd) == 0;
        const int error = ok ? 0 : errno;
        ::close(fd);
        if (ok)
            writeLog("Settings: the damaged %s was kept as %s", path.c_str(), backup.c_str());
        return error;
    }
    return EEXIST;
}

int save(const std::string& target, GKeyFile* keys, mode_t mode) {
    gsize size = 0;
    const std::unique_ptr<gchar, decltype(&g_free)> data(g_key_file_to_data(keys, &size, nullptr),
                                                         g_free);
    const int error = platform::replaceFileAtomically(target, std::string(data.get(), size), mode);
    if (error)
        writeLog("Settings: cannot write %s (%s)", target.c_str(), std::strerror(error));
    return error;
}

// The writers' lock: a file of its own, as the settings file is replaced on
// every write and a lock on it would guard a file nobody opens again.
class WriterLock {
  public:
    explicit WriterLock(const std::string& settingsPath) {
        m_fd = ::open((settingsPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_error = errno;
            return;
        }
        for (int waited = 0; waited < kLockWaitMs; waited += 10) {
            if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
                m_locked = true;
                return;
            }
            m_error = errno;
            if (errno != EWOULDBLOCK && errno != EINTR)
                break;
            usleep(10000);
        }
    }
    ~WriterLock() {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;
    bool locked() const { return m_locked; }
    // Why it is not locked: the open's or the last flock's errno.
    int error() const { return m_error; }

  private:
    int m_fd = -1;
    bool m_locked = false;
    int m_error = 0;
};

SaveResult failed(const std::string& file, int error) {
    return SaveResult{false, file, error ? error : EIO};
}

// Saves an older Plexavo's values as the new file, unless another copy of
// the program did so first; a failure leaves them to be read from the old
// file again.
void saveTakenOver(const std::string& path, const std::string& oldPath, GKeyFile* keys) {
    if (makeFolders(folderOf(path)) != 0)
        return;
    const WriterLock lock(path);
    const std::string target = writeTarget(path);
    if (!lock.locked() || readBytes(target).state != State::Missing)
        return;
    if (save(target, keys, 0644) == 0)
        writeLog("Settings: the settings of %s were taken over into %s", oldPath.c_str(),
                 target.c_str());
}

// What a read sees: the file's values, none when it is damaged or cannot be
// read, and while there is no file, an older Plexavo's values (saved as the
// new file on the way, so that the old one is read once).
KeyFile readValues(const std::string& path, const std::string& oldPath) {
    Loaded loaded = loadFile(path);
    if (loaded.state == State::Missing && takeOldValues(loaded.keys.get(), oldPath))
        saveTakenOver(path, oldPath, loaded.keys.get());
    return std::move(loaded.keys);
}

} // namespace

std::string SaveResult::reason() const {
    char buffer[256];
    // The GNU strerror_r: the text may come back in its own storage.
    return strerror_r(error ? error : EIO, buffer, sizeof buffer);
}

std::string SettingsFile::configHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : "/tmp";
    }
    return std::string(home) + "/.config";
}

std::string SettingsFile::folder() {
    if (const char* dir = std::getenv("PLEXAVO_CONFIG_DIR"); dir && *dir)
        return dir;
    return configHome() + "/plexavo";
}

SettingsFile::SettingsFile() : m_path(folder() + "/" + kFileName), m_oldPath(oldRegFilePath()) {}

std::optional<bool> SettingsFile::readFlag(const std::string& key) const {
    const KeyFile keys = readValues(m_path, m_oldPath);
    Error error;
    const bool flag = g_key_file_get_boolean(keys.get(), kGroup, key.c_str(), error.out());
    return error ? std::nullopt : std::optional<bool>(flag);
}

std::optional<int> SettingsFile::readNumber(const std::string& key) const {
    const KeyFile keys = readValues(m_path, m_oldPath);
    Error error;
    const int number = g_key_file_get_integer(keys.get(), kGroup, key.c_str(), error.out());
    return error ? std::nullopt : std::optional<int>(number);
}

std::optional<std::string> SettingsFile::readText(const std::string& key) const {
    const KeyFile keys = readValues(m_path, m_oldPath);
    Error error;
    const std::unique_ptr<gchar, decltype(&g_free)> text(
        g_key_file_get_string(keys.get(), kGroup, key.c_str(), error.out()), g_free);
    return error ? std::nullopt : std::optional<std::string>(text.get());
}

SaveResult SettingsFile::write(const std::string& key, const Value& value) const {
    if (const auto* text = std::get_if<std::string>(&value); text && !platform::isValidUtf8(*text))
        return failed(m_path, EILSEQ);
    if (const int error = makeFolders(folderOf(m_path))) {
        writeLog("Settings: cannot make %s (%s)", folderOf(m_path).c_str(), std::strerror(error));
        return failed(m_path, error);
    }
    const WriterLock lock(m_path);
    if (!lock.locked()) {
        writeLog("Settings: cannot lock %s (%s); \"%s\" not saved", m_path.c_str(),
                 std::strerror(lock.error()), key.c_str());
        return failed(m_path, lock.error());
    }
    const std::string target = writeTarget(m_path);
    Loaded loaded = loadFile(target);
    if (loaded.state == State::Unreadable) {
        writeLog("Settings: cannot read %s (%s); \"%s\" not saved", target.c_str(),
                 std::strerror(loaded.error), key.c_str());
        return failed(target, loaded.error);
    }
    if (loaded.state == State::Damaged)
        if (const int error = setAside(target, loaded))
            return failed(target, error);
    if (loaded.state == State::Missing)
        takeOldValues(loaded.keys.get(), m_oldPath);
    setValue(loaded.keys.get(), key, value);
    if (const int error =
            save(target, loaded.keys.get(), loaded.state == State::Missing ? 0644 : loaded.mode))
        return failed(target, error);
    return {};
}

} // namespace plexavo::settings
