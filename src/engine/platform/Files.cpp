#include "engine/platform/Files.h"

#include "engine/platform/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::platform {

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool folderExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int makeFolders(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return error.value();
}

std::string defaultOutputPath() {
    const char* home = std::getenv("HOME");
    std::string base = home && *home ? home : "/tmp";
    if (base.back() != '/')
        base += '/';
    return base + "ConvertedMedia/";
}

std::size_t fileNameLimit(const std::string& folder) {
    constexpr std::size_t kFallback = 255;
    std::string dir = folder.empty() ? std::string(".") : folder;
    for (;;) {
        errno = 0;
        const long limit = pathconf(dir.c_str(), _PC_NAME_MAX);
        if (limit > 0)
            return static_cast<std::size_t>(limit);
        if (errno != ENOENT && errno != ENOTDIR)
            return kFallback;
        // The folder is made only when the conversion starts: ask its parent.
        while (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        const auto slash = dir.rfind('/');
        if (slash == std::string::npos)
            dir = ".";
        else if (slash == 0)
            dir = "/";
        else
            dir.resize(slash);
        if (dir == "/" || dir == ".") {
            const long top = pathconf(dir.c_str(), _PC_NAME_MAX);
            return top > 0 ? static_cast<std::size_t>(top) : kFallback;
        }
    }
}

std::string cutAtCharacter(const std::string& text, std::size_t maxBytes) {
    std::size_t end = 0;
    while (end < text.size()) {
        // A byte that begins no well-formed sequence is a character of its own.
        const std::size_t n = std::max<std::size_t>(platform::utf8SequenceAt(text, end), 1);
        if (end + n > maxBytes)
            break;
        end += n;
    }
    return text.substr(0, end);
}

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

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
                                      : (slash == 0 ? "/" : path.substr(0, slash));
}

} // namespace

int replaceFileAtomically(const std::string& target, const std::string& content, unsigned mode) {
    const std::string temp = target + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    // The first errno is the reason: the steps after it only clean up.
    int error = 0;
    if (fchmod(fd, static_cast<mode_t>(mode)) != 0 || !writeAll(fd, content) || fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && std::rename(temp.c_str(), target.c_str()) != 0)
        error = errno;
    if (error) {
        ::unlink(temp.c_str());
        return error;
    }
    if (const int folder = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folder >= 0) {
        fsync(folder);
        ::close(folder);
    }
    return 0;
}

} // namespace plexavo::platform
