#include "engine/media/SourcePaths.h"

#include "engine/platform/Platform.h"

#include <algorithm>
#include <filesystem>
#include <fnmatch.h>

namespace plexavo {

namespace fs = std::filesystem;

namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

std::vector<std::string> splitPatterns(const std::string& text) {
    std::vector<std::string> out;
    std::string current;
    for (char c : text + ";") {
        if (c == ';' || c == ' ') {
            if (!current.empty())
                out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return out;
}

} // namespace

std::vector<FileFilter> parseFilterList(const std::string& text) {
    std::vector<std::string> fields;
    std::string current;
    for (char c : text) {
        if (c == '|') {
            fields.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        fields.push_back(current);

    std::vector<FileFilter> filters;
    for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
        if (fields[i].empty()) // the "||" that ends the list
            break;
        filters.push_back({trimmed(fields[i]), splitPatterns(fields[i + 1])});
    }
    return filters;
}

bool matchesAnyPattern(const std::string& fileName, const std::vector<std::string>& patterns) {
    for (const auto& pattern : patterns) {
        // "*.*" is the old spelling of "every file", with or without a dot.
        if (pattern == "*.*" || pattern == "*")
            return true;
        if (fnmatch(pattern.c_str(), fileName.c_str(), FNM_CASEFOLD) == 0)
            return true;
    }
    return false;
}

std::vector<std::string> expandSourcePaths(const std::vector<std::string>& paths,
                                           const std::vector<std::string>& patterns) {
    std::vector<std::string> out;
    for (const auto& path : paths) {
        std::error_code ec;
        if (!fs::is_directory(path, ec)) {
            out.push_back(path);
            continue;
        }
        std::vector<std::string> inside;
        for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.empty() || name[0] == '.')
                continue;
            std::error_code typeError;
            if (!it->is_regular_file(typeError) || !matchesAnyPattern(name, patterns))
                continue;
            inside.push_back(name);
        }
        std::sort(inside.begin(), inside.end());
        std::string folder = path;
        if (folder.empty() || folder.back() != '/')
            folder += '/';
        for (const auto& name : inside)
            out.push_back(folder + name);
    }
    return out;
}

std::string absoluteSourcePath(const std::string& path) {
    return platform::absolutePath(path);
}

} // namespace plexavo
