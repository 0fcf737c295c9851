#include "engine/platform/Files.h"

#include "engine/platform/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
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

} // namespace plexavo::platform
