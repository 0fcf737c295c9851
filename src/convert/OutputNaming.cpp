#include "convert/OutputNaming.h"

#include "media/SourceItem.h"

#include <cstdio>
#include <sys/stat.h>

namespace plexavo {

namespace {
constexpr int kMaxCounter = 1000;
}

bool fileExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool folderExists(const std::string& path) {
    struct stat st{};
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

std::string FormatSeconds(std::uint64_t seconds) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>((seconds / 60) % 60),
                  static_cast<unsigned long long>(seconds % 60));
    return buffer;
}

bool CSourceItem::assignOutputName(const std::string& folder, const std::string& extension,
                                   const std::string& suffix) {
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    const std::string base = suffix.empty() ? title : title + "-" + suffix;
    std::string stem = base;
    std::string candidate = stem + "." + extension;
    for (int n = 1; fileExists(dir + candidate);) {
        stem = base + "[" + std::to_string(n) + "]";
        candidate = stem + "." + extension;
        if (++n > kMaxCounter)
            break;
    }
    outputFolder = dir;
    outputName = stem;
    outputExtension = extension;
    return true;
}

} // namespace plexavo
