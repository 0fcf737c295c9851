#include "engine/services/OpenWithBrowser.h"

#include "engine/platform/Files.h"
#include "engine/platform/Platform.h"
#include "engine/services/DebugLog.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

#ifndef PLEXAVO_MAKER_SITE
#define PLEXAVO_MAKER_SITE ""
#endif

namespace plexavo {

namespace {

constexpr char kHtmlType[] = "text/html";
constexpr LONG ERROR_INVALID_PARAMETER = 87;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::vector<std::string> splitList(const std::string& text, char separator) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string home() {
    const char* h = std::getenv("HOME");
    return h ? h : "";
}

// An XDG variable holding one folder; relative values are invalid and ignored.
std::string xdgHome(const char* variable, const char* fallback) {
    if (const char* v = std::getenv(variable); v && v[0] == '/')
        return v;
    return home() + fallback;
}

std::vector<std::string> xdgDirs(const char* variable, const char* fallback) {
    const char* v = std::getenv(variable);
    std::vector<std::string> out;
    for (auto& dir : splitList(v && *v ? v : fallback, ':'))
        if (dir[0] == '/')
            out.push_back(dir);
    return out;
}

std::vector<std::string> dataDirs() {
    std::vector<std::string> dirs{xdgHome("XDG_DATA_HOME", "/.local/share")};
    for (auto& d : xdgDirs("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        dirs.push_back(d);
    return dirs;
}

// The mimeapps.list files, most important first: the user's config, the
// system's config, then the (older) places in the data folders; in each
// folder the current desktop's own list before the common one.
std::vector<std::string> mimeappsLists() {
    std::vector<std::string> folders{xdgHome("XDG_CONFIG_HOME", "/.config")};
    for (auto& d : xdgDirs("XDG_CONFIG_DIRS", "/etc/xdg"))
        folders.push_back(d);
    for (auto& d : dataDirs())
        folders.push_back(d + "/applications");
    std::vector<std::string> desktops;
    if (const char* current = std::getenv("XDG_CURRENT_DESKTOP"))
        for (auto& name : splitList(current, ':'))
            desktops.push_back(lower(name));
    std::vector<std::string> files;
    for (const auto& folder : folders) {
        for (const auto& desktop : desktops)
            files.push_back(folder + "/" + desktop + "-mimeapps.list");
        files.push_back(folder + "/mimeapps.list");
    }
    return files;
}

// The groups of a desktop-entry-style file, each a map of its keys.
using Groups = std::map<std::string, std::map<std::string, std::string>>;

Groups readKeyFile(const std::string& path) {
    Groups groups;
    std::ifstream in(path);
    std::string line;
    std::string group;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            const auto close = line.find(']');
            group = close == std::string::npos ? std::string() : line.substr(1, close - 1);
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || group.empty())
            continue;
        auto key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        auto value = line.substr(eq + 1);
        value.erase(0, value.find_first_not_of(' '));
        groups[group].emplace(key, value); // the first of repeated keys counts
    }
    return groups;
}

// The escapes of a desktop-entry string value: \s \n \t \r \\.
std::string unescapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\';
            out += value[i];
        }
    }
    return out;
}

bool onPath(const std::string& program) {
    if (program.empty())
        return false;
    if (program.find('/') != std::string::npos)
        return access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    for (auto& dir : splitList(path ? path : "/usr/local/bin:/usr/bin:/bin", ':'))
        if (access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

struct DesktopEntry {
    std::string id;
    std::string file;
    std::string exec; // unescaped
    std::string name;
    std::string icon;
    bool terminal = false;
};

// The installed entry of a desktop id: the first file of that id in the data
// folders; a hidden one, or one whose TryExec program is missing, is not installed.
std::optional<DesktopEntry> findEntry(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos || id.size() < 9 ||
        id.compare(id.size() - 8, 8, ".desktop") != 0)
        return std::nullopt;
    // "vendor-app.desktop" may also be applications/vendor/app.desktop.
    std::vector<std::string> relatives{id};
    for (std::size_t dash = id.find('-'); dash != std::string::npos; dash = id.find('-', dash + 1))
        relatives.push_back(id.substr(0, dash) + "/" + id.substr(dash + 1));
    for (const auto& dir : dataDirs()) {
        for (const auto& relative : relatives) {
            const std::string file = dir + "/applications/" + relative;
            struct stat st {};
            if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            auto groups = readKeyFile(file);
            auto& keys = groups["Desktop Entry"];
            if (keys["Hidden"] == "true" || (keys.count("Type") && keys["Type"] != "Application"))
                return std::nullopt;
            if (keys.count("TryExec") && !onPath(unescapeValue(keys["TryExec"])))
                return std::nullopt;
            DesktopEntry entry;
            entry.id = id;
            entry.file = file;
            entry.exec = unescapeValue(keys["Exec"]);
            entry.name = unescapeValue(keys["Name"]);
            entry.icon = unescapeValue(keys["Icon"]);
            entry.terminal = keys["Terminal"] == "true";
            return entry;
        }
    }
    return std::nullopt;
}

bool mentions(const std::string& list, const std::string& id) {
    const auto ids = splitList(list, ';');
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The default application for a MIME type, as the XDG rules choose it.
std::optional<DesktopEntry> defaultHandler(const std::string& mimeType) {
    const auto lists = mimeappsLists();
    std::vector<Groups> parsed;
    for (const auto& file : lists)
        parsed.push_back(readKeyFile(file));

    // 1. The first installed default, in the order of the lists.
    for (auto& groups : parsed)
        for (auto& id : splitList(groups["Default Applications"][mimeType], ';'))
            if (auto entry = findEntry(id))
                return entry;

    // 2. Else the associations, less those a list at least as important removed.
    auto removedUpTo = [&](std::size_t index, const std::string& id) {
        for (std::size_t i = 0; i <= index && i < parsed.size(); ++i)
            if (mentions(parsed[i]["Removed Associations"][mimeType], id))
                return true;
        return false;
    };
    for (std::size_t i = 0; i < parsed.size(); ++i)
        for (auto& id : splitList(parsed[i]["Added Associations"][mimeType], ';'))
            if (!removedUpTo(i, id))
                if (auto entry = findEntry(id))
                    return entry;

    // 3. Else any installed application that says it handles the type: the
    // cache of each data folder, or its desktop files when it has none.
    for (const auto& dir : dataDirs()) {
        const std::string apps = dir + "/applications";
        std::vector<std::string> candidates;
        auto cache = readKeyFile(apps + "/mimeinfo.cache");
        if (!cache.empty()) {
            candidates = splitList(cache["MIME Cache"][mimeType], ';');
        } else if (DIR* d = opendir(apps.c_str())) {
            std::vector<std::string> names;
            while (dirent* e = readdir(d)) {
                const std::string name = e->d_name;
                if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0)
                    names.push_back(name);
            }
            closedir(d);
            std::sort(names.begin(), names.end());
            for (auto& name : names) {
                auto groups = readKeyFile(apps + "/" + name);
                if (mentions(groups["Desktop Entry"]["MimeType"], mimeType))
                    candidates.push_back(name);
            }
        }
        for (auto& id : candidates)
            if (!removedUpTo(parsed.size(), id))
                if (auto entry = findEntry(id))
                    return entry;
    }
    return std::nullopt;
}

std::string percentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() &&
            std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// What a %f/%F program gets: a local path for a file:// address.
std::string asFileArgument(const std::string& url) {
    if (url.compare(0, 7, "file://") != 0)
        return url;
    std::string rest = url.substr(7);
    const auto slash = rest.find('/');
    if (slash == std::string::npos)
        return url;
    rest = rest.substr(slash); // drop the host ("localhost" or empty)
    rest = rest.substr(0, rest.find_first_of("?#"));
    return percentDecode(rest);
}

// The argv for an entry and an address: the field code that takes the
// address ends the command; everything after it is dropped.
std::optional<std::vector<std::string>> commandFor(const DesktopEntry& entry,
                                                   const std::string& url) {
    auto args = splitExec(entry.exec);
    if (!args || args->empty())
        return std::nullopt;
    std::vector<std::string> out;
    bool placed = false;
    for (const auto& arg : *args) {
        std::string expanded;
        bool hadCode = false;
        for (std::size_t i = 0; i < arg.size() && !placed; ++i) {
            if (arg[i] != '%' || i + 1 == arg.size()) {
                expanded += arg[i];
                continue;
            }
            const char code = arg[++i];
            hadCode = true;
            switch (code) {
            case '%':
                expanded += '%';
                break;
            case 'u':
            case 'U':
                expanded += url;
                placed = true;
                break;
            case 'f':
            case 'F':
                expanded += asFileArgument(url);
                placed = true;
                break;
            case 'i':
                if (!entry.icon.empty() && arg == "%i") {
                    out.push_back("--icon");
                    expanded += entry.icon;
                }
                break;
            case 'c':
                expanded += entry.name;
                break;
            case 'k':
                expanded += entry.file;
                break;
            default: // the deprecated codes, and unknown ones, expand to nothing
                break;
            }
        }
        // An argument that was only codes expanding to nothing is no argument.
        if (!expanded.empty() || !hadCode)
            out.push_back(expanded);
        if (placed)
            break;
    }
    if (out.empty())
        return std::nullopt;
    if (!placed)
        out.push_back(url);
    // Flatpak's exported entries put the address between "@@u" and "@@";
    // without the closing one Flatpak does not start the browser.
    const bool forwarding = std::find(out.begin(), out.end(), "@@u") != out.end() ||
                            std::find(out.begin(), out.end(), "@@") != out.end();
    if (placed && forwarding && std::find(args->begin(), args->end(), "@@") != args->end() &&
        out.back() != "@@")
        out.push_back("@@");
    if (entry.terminal && onPath("x-terminal-emulator"))
        out.insert(out.begin(), {"x-terminal-emulator", "-e"});
    return out;
}

int startResult(int error) {
    switch (error) {
    case 0:
        return kStartOk;
    case ENOENT:
        return kStartFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return kStartPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
        return kStartAccessDenied;
    case ENOMEM:
    case E2BIG:
        return kStartOutOfMemory;
    case ENOEXEC:
        return kStartBadFormat;
    default:
        return kStartOutOfResources;
    }
}

} // namespace

std::optional<std::vector<std::string>> splitExec(const std::string& exec) {
    std::vector<std::string> args;
    std::string current;
    bool inArg = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inArg)
                args.push_back(current);
            current.clear();
            inArg = false;
        } else if (c == '"') {
            inArg = true;
            bool closed = false;
            for (++i; i < exec.size(); ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size() && std::strchr("\"`$\\", exec[i + 1])) {
                    current += exec[++i];
                } else if (exec[i] == '"') {
                    closed = true;
                    break;
                } else {
                    current += exec[i];
                }
            }
            if (!closed)
                return std::nullopt;
        } else {
            inArg = true;
            current += c;
        }
    }
    if (inArg)
        args.push_back(current);
    return args;
}

LONG ReadClassesDefault(HKEY root, const char* subKey, char* out) {
    if (!out || !subKey)
        return ERROR_INVALID_PARAMETER;
    std::memset(out, 0, kClassesValueSize);
    if (root != HKEY_CLASSES_ROOT)
        return ERROR_FILE_NOT_FOUND;
    const std::string key = subKey;
    std::string value;
    const std::string suffix = "\\shell\\open\\command";
    if (lower(key) == ".htm" || lower(key) == ".html") {
        const auto entry = defaultHandler(kHtmlType);
        if (!entry)
            return ERROR_FILE_NOT_FOUND;
        value = entry->id;
    } else if (key.size() > suffix.size() &&
               lower(key.substr(key.size() - suffix.size())) == suffix) {
        const auto entry = findEntry(key.substr(0, key.size() - suffix.size()));
        if (!entry || entry->exec.empty())
            return ERROR_FILE_NOT_FOUND;
        value = entry->exec;
    } else {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::size_t n = std::min(value.size(), kClassesValueSize - 1);
    std::memcpy(out, value.data(), n);
    return ERROR_SUCCESS;
}

std::vector<std::string> browserCommand(const std::string& url) {
    const auto entry = defaultHandler(kHtmlType);
    if (!entry)
        return {};
    return commandFor(*entry, url).value_or(std::vector<std::string>{});
}

int OpenWithBrowser(const char* url, int /*showCmd: the browser shows itself*/) {
    const std::string address = url ? url : "";
    const auto entry = defaultHandler(kHtmlType);
    if (!entry) {
        WriteLog("Browser: no application is set up for %s; cannot open %s", kHtmlType,
                 address.c_str());
        return kStartNoAssociation;
    }
    const auto command = commandFor(*entry, address);
    if (!command) {
        WriteLog("Browser: %s has no usable Exec line", entry->file.c_str());
        return kStartBadAssociation;
    }
    const int result = startDetached(*command);
    if (result <= 31)
        WriteLog("Browser: cannot start %s (%d)", (*command)[0].c_str(), result);
    return result;
}

int startDetached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty())
        return kStartFileNotFound;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    // Its own session: a browser outlives this program and ignores its terminal.
    posix_spawnattr_setflags(&attr,
                             POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID);

    std::vector<std::string> copy = argv;
    std::vector<char*> args;
    for (auto& a : copy)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return startResult(rc);
    // Never waited for, but reaped when it ends, so it leaves no zombie.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return kStartOk;
}

int openWithDesktop(const std::string& pathOrUrl) {
    // xdg-open takes a name starting with '-' for an option.
    const std::string target =
        !pathOrUrl.empty() && pathOrUrl[0] == '-' ? "./" + pathOrUrl : pathOrUrl;
    return startDetached({"xdg-open", target});
}

} // namespace plexavo

namespace plexavo::pages {

namespace {

std::string canonical(const std::string& path) {
    if (char* real = realpath(path.c_str(), nullptr)) {
        std::string out = real;
        std::free(real);
        return out;
    }
    return path;
}

std::string withAnchor(const std::string& url, const std::string& anchor) {
    if (anchor.empty())
        return url;
    return url + (anchor[0] == '#' ? "" : "#") + anchor;
}

} // namespace

std::string locateShipped(const std::string& programFolder, const std::string& name) {
    std::string folder = programFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    // Beside the program; or in the data folder of a PREFIX/bin or PREFIX/lib/plexavo program.
    for (const std::string& candidate : {folder + name, folder + "../share/plexavo/" + name,
                                         folder + "../../share/plexavo/" + name})
        if (fileExists(candidate))
            return canonical(candidate);
    return folder + name;
}

std::string fileUrl(const std::string& absolutePath) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "file://";
    for (const char ch : absolutePath) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || std::strchr("/-._~", c)) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string homePageUrl() {
    const std::string site = PLEXAVO_MAKER_SITE;
    if (!site.empty())
        return site + "/index.html";
    return fileUrl(locateShipped(platform::programFolder(), "index.html"));
}

std::string downloadPageUrl(const std::string& anchor) {
    const std::string site = PLEXAVO_MAKER_SITE;
    if (!site.empty())
        return withAnchor(site + "/download.html", anchor);
    return withAnchor(fileUrl(locateShipped(platform::programFolder(), "download.html")), anchor);
}

std::string helpFilePath() {
    return locateShipped(platform::programFolder(), "Plexavo.html");
}

const char* downloadAnchor(int command) {
    switch (command) {
    case 32776:
        return "#directx";
    case 32778:
        return "#wmplayer";
    case 32777:
        return "#realplayer";
    case 32779:
        return "#quicktime";
    case 32780:
        return "#oggcodecs";
    default:
        return nullptr;
    }
}

} // namespace plexavo::pages
