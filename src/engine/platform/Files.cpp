#include "engine/platform/Files.h"

#include <cstdlib>
#include <sys/stat.h>

namespace plexavo {

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool folderExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ensureFolder(const std::string& path) {
    if (path.empty() || folderExists(path))
        return;
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const auto slash = p.rfind('/');
    if (slash != std::string::npos && slash > 0)
        ensureFolder(p.substr(0, slash));
    mkdir(p.c_str(), 0777);
}

std::string defaultOutputPath() {
    const char* home = std::getenv("HOME");
    std::string base = home && *home ? home : "/tmp";
    if (base.back() != '/')
        base += '/';
    return base + "ConvertedMedia/";
}

} // namespace plexavo
