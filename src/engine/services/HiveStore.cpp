#include "engine/services/HiveStore.h"

#include "engine/platform/Files.h"
#include "engine/services/DebugLog.h"
#include "engine/services/RegistryKey.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::hive {

namespace {

// Far beyond any hive this program writes; a bigger file is not ours.
constexpr std::size_t kMaxHiveBytes = 1u << 20;
constexpr int kLockWaitMs = 5000;

} // namespace

Loaded loadHive(const std::string& path) {
    Loaded result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        result.state = errno == ENOENT ? LoadState::Missing : LoadState::Unreadable;
        return result;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0) {
        result.mode = st.st_mode & 07777;
        if (!S_ISREG(st.st_mode)) {
            ::close(fd);
            result.state = LoadState::Unreadable;
            result.error = EISDIR;
            return result;
        }
    }
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error = errno;
            ::close(fd);
            result.state = LoadState::Unreadable;
            return result;
        }
        if (n == 0)
            break;
        result.text.append(buffer, static_cast<std::size_t>(n));
        if (result.text.size() > kMaxHiveBytes) {
            result.complete = false;
            break;
        }
    }
    ::close(fd);
    std::optional<Hive> hive;
    if (result.complete)
        hive = parseHive(result.text);
    if (!hive) {
        result.state = LoadState::Damaged;
        return result;
    }
    result.hive = std::move(*hive);
    result.state = LoadState::Ok;
    return result;
}

namespace {

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC; // nothing taken: the disk has no room for it
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

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

// Keeps a damaged hive under a name of its own before a fresh one replaces it.
// 0 when kept, else the errno that stopped it.
int setAside(const std::string& path, const Loaded& loaded) {
    for (int n = 0; n < 100; ++n) {
        const std::string backup =
            path + ".damaged" + (n ? "." + std::to_string(n) : std::string());
        if (::link(path.c_str(), backup.c_str()) == 0) {
            WriteLog("Settings: the damaged %s was kept as %s", path.c_str(), backup.c_str());
            return 0;
        }
        if (errno == EEXIST)
            continue;
        // No hard links on this file system: copy what was read, if it was all.
        if (!loaded.complete)
            return EFBIG;
        const int fd = ::open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        const bool ok = writeAll(fd, loaded.text) && fsync(fd) == 0;
        const int error = ok ? 0 : errno;
        ::close(fd);
        if (ok)
            WriteLog("Settings: the damaged %s was kept as %s", path.c_str(), backup.c_str());
        return error;
    }
    return EEXIST;
}

// The writers' lock: a file of its own, as the hive itself is replaced on
// every write and a lock on it would guard a file nobody opens again.
class HiveLock {
  public:
    explicit HiveLock(const std::string& hivePath) {
        m_fd = ::open((hivePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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
    ~HiveLock() {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;
    bool locked() const { return m_locked; }
    // Why it is not locked: the open's or the last flock's errno.
    int error() const { return m_error; }

  private:
    int m_fd = -1;
    bool m_locked = false;
    int m_error = 0;
};

} // namespace

std::int32_t writeValue(const std::string& hivePath, const std::string& section,
                        const std::string& name, DWORD type, const std::string& data,
                        WriteFailure* why) {
    auto fail = [&](std::int32_t code, const std::string& file, int error) {
        if (why)
            *why = WriteFailure{file, error};
        return code;
    };
    const HiveLock lock(hivePath);
    if (!lock.locked()) {
        WriteLog("Settings: %s is locked by another writer; \"%s\" not saved", hivePath.c_str(),
                 name.c_str());
        return fail(ERROR_ACCESS_DENIED, hivePath, lock.error());
    }
    const std::string target = writeTarget(hivePath);
    Loaded loaded = loadHive(target);
    if (loaded.state == LoadState::Unreadable) {
        WriteLog("Settings: cannot read %s (%s); \"%s\" not saved", target.c_str(),
                 std::strerror(loaded.error), name.c_str());
        return fail(ERROR_ACCESS_DENIED, target, loaded.error);
    }
    if (loaded.state == LoadState::Damaged) {
        if (const int error = setAside(target, loaded))
            return fail(ERROR_ACCESS_DENIED, target, error);
        loaded.hive = Hive{};
    }
    const auto text = valueLine(name, type, data, loaded.hive.unicodeHeader);
    if (!text) // text that is not UTF-8 in a file that holds UTF-16
        return fail(ERROR_WRITE_FAULT, target, EILSEQ);
    Value value;
    value.type = type;
    value.data = data;
    setValue(loaded.hive, section, name, *text, value);
    const std::string content = serialize(loaded.hive);

    // The new file is complete on disk before it takes the old one's name,
    // so a crash at any point leaves one whole file or the other.
    const std::string temp = target + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        WriteLog("Settings: cannot write %s (%s)", temp.c_str(), std::strerror(error));
        return fail(ERROR_WRITE_FAULT, target, error);
    }
    // The first errno is the reason: the steps after it only clean up.
    int error = 0;
    if (fchmod(fd, loaded.state == LoadState::Missing ? 0644 : loaded.mode) != 0 ||
        !writeAll(fd, content) || fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && std::rename(temp.c_str(), target.c_str()) != 0)
        error = errno;
    if (error) {
        WriteLog("Settings: cannot write %s (%s)", target.c_str(), std::strerror(error));
        ::unlink(temp.c_str());
        return fail(ERROR_WRITE_FAULT, target, error);
    }
    syncFolder(folderOf(target));
    return ERROR_SUCCESS;
}

} // namespace plexavo::hive
