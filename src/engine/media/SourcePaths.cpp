#include "engine/media/SourcePaths.h"

#include "engine/platform/Platform.h"
#include "engine/platform/Utf8.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::media {

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

namespace {

// "%ff" becomes the byte 0xff; a '%' not followed by two hex digits stays.
std::string percentDecoded(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && platform::hexDigit(text[i + 1]) >= 0 &&
            platform::hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(platform::hexDigit(text[i + 1]) * 16 +
                                     platform::hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool isThisMachine(const std::string& host) {
    if (host.empty() || strcasecmp(host.c_str(), "localhost") == 0)
        return true;
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 && strcasecmp(host.c_str(), name) == 0;
}

// The path of one "file:" address of this machine, decoded; empty otherwise.
std::string localPath(const std::string& uri) {
    if (uri.size() < 5 || strncasecmp(uri.c_str(), "file:", 5) != 0)
        return {};
    std::string rest = uri.substr(5);
    // A raw '?' or '#' starts a query or a fragment; a name holding one
    // arrives as %3F or %23.
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.compare(0, 2, "//") == 0) {
        const auto slash = rest.find('/', 2);
        if (slash == std::string::npos || !isThisMachine(percentDecoded(rest.substr(2, slash - 2))))
            return {};
        rest.erase(0, slash);
    }
    if (rest.empty() || rest[0] != '/')
        return {};
    std::string path = percentDecoded(rest);
    // A NUL would cut the name short on its way to the core.
    if (path.find('\0') != std::string::npos)
        return {};
    return path;
}

} // namespace

std::vector<std::string> localPathsFromUriList(const std::string& text) {
    std::vector<std::string> paths;
    std::size_t begin = 0;
    while (begin < text.size()) {
        auto end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
            line.pop_back();
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        if (std::string path = localPath(line.substr(first)); !path.empty())
            paths.push_back(std::move(path));
    }
    return paths;
}

bool nameLostInConversion(const std::string& path) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8
    struct stat st {};
    return path.find(kReplacement) != std::string::npos && lstat(path.c_str(), &st) != 0;
}

} // namespace plexavo::media
