#include "Resume.h"
#include "PlexcoreContract.h"

#include "Console.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plexavo::core {
namespace {

namespace contract = plexavo::contract;

constexpr char kHeader[] = "plexcore stopped 1\n";

// Paths go on one line each: line breaks, other control bytes and the escape itself as %XX.
std::string escapeLine(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f || c == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescapeLine(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        char* end = nullptr;
        const std::string hex = text.substr(i + 1, 2);
        const long v = std::strtol(hex.c_str(), &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(hex[0])))
            return std::nullopt;
        out += static_cast<char>(v);
        i += 2;
    }
    return out;
}

std::string identityText(const FileIdentity& id) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%llx %llx %lld %lld %lld",
                  static_cast<unsigned long long>(id.dev), static_cast<unsigned long long>(id.ino),
                  static_cast<long long>(id.size), static_cast<long long>(id.mtimeSec),
                  static_cast<long long>(id.mtimeNsec));
    return buf;
}

bool parseIdentity(const std::string& text, FileIdentity& id) {
    unsigned long long dev = 0, ino = 0;
    long long size = 0, sec = 0, nsec = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%llx %llx %lld %lld %lld%n", &dev, &ino, &size, &sec, &nsec,
                    &used) != 5 ||
        static_cast<std::size_t>(used) != text.size())
        return false;
    id = {dev, ino, size, sec, nsec};
    return true;
}

bool parseSeconds(const std::string& text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && seconds >= 0.0;
}

// Calls visit(note name, parsed note) for every note of this user's; notes it cannot read
// are someone else's business and left alone.
template <typename Visit> void eachNote(const std::string& folder, Visit visit) {
    if (folder.empty())
        return;
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(fd ? ::fdopendir(fd.get()) : nullptr, ::closedir);
    if (!dir)
        return;
    const int dirFd = fd.release(); // the listing owns it now
    // Read whole first: visit() may remove notes, which a listing in progress must not see.
    std::vector<std::pair<std::string, StoppedNote>> notes;
    while (const dirent* e = ::readdir(dir.get())) {
        std::string text;
        if (!isNoteName(e->d_name) || !readNoteFile(dirFd, e->d_name, text))
            continue;
        if (auto note = parseStoppedNote(text))
            notes.emplace_back(e->d_name, std::move(*note));
    }
    for (auto& [name, note] : notes)
        visit(folder + "/" + name, note);
}

} // namespace

std::string stoppedNoteText(const StoppedNote& n) {
    char seconds[96];
    std::snprintf(seconds, sizeof seconds, "kept %.6f\ntotal %.6f\n", n.keptSeconds,
                  n.totalSeconds);
    return std::string(kHeader) + "output " + identityText(n.output) + "\nsource " +
           identityText(n.source) + "\n" + seconds + "settings " + escapeLine(n.settings) +
           "\noutput-path " + escapeLine(n.outputPath) + "\nsource-path " +
           escapeLine(n.sourcePath) + "\n";
}

std::optional<StoppedNote> parseStoppedNote(const std::string& text) {
    const std::size_t header = sizeof kHeader - 1;
    if (text.compare(0, header, kHeader) != 0)
        return std::nullopt;
    StoppedNote n;
    unsigned seen = 0;
    std::size_t at = header;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return std::nullopt; // cut short: not a note written whole
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const std::size_t blank = line.find(' ');
        if (blank == std::string::npos)
            return std::nullopt;
        const std::string key = line.substr(0, blank);
        const std::string value = line.substr(blank + 1);
        bool ok = true;
        if (key == "output") {
            ok = parseIdentity(value, n.output);
            seen |= 1;
        } else if (key == "source") {
            ok = parseIdentity(value, n.source);
            seen |= 2;
        } else if (key == "kept") {
            ok = parseSeconds(value, n.keptSeconds);
            seen |= 4;
        } else if (key == "total") {
            ok = parseSeconds(value, n.totalSeconds);
            seen |= 8;
        } else if (key == "settings" || key == "output-path" || key == "source-path") {
            const auto plain = unescapeLine(value);
            ok = plain.has_value();
            if (ok) {
                std::string& field = key == "settings"      ? n.settings
                                     : key == "output-path" ? n.outputPath
                                                            : n.sourcePath;
                field = *plain;
                seen |= key == "settings" ? 16u : key == "output-path" ? 32u : 64u;
            }
        } // a key a later core adds is passed over
        if (!ok)
            return std::nullopt;
    }
    if (seen != 127 || n.outputPath.empty() || n.outputPath[0] != '/')
        return std::nullopt;
    return n;
}

std::string stoppedNoteName(const FileIdentity& output) {
    char id[64];
    std::snprintf(id, sizeof id, "%llx-%llx", static_cast<unsigned long long>(output.dev),
                  static_cast<unsigned long long>(output.ino));
    return id;
}

std::string absolutePath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty())
        return {};
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved))
        return {};
    const std::string base = resolved;
    return (base == "/" ? "" : base) + "/" + name;
}

std::optional<FileIdentity> identityFollowing(const std::string& path) {
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return identityOfDescriptor(fd.get());
}

std::string stoppedNotesFolder() {
    return stateFolder("stopped");
}

void writeStoppedNote(const StoppedNote& note) {
    writeNoteFile(stoppedNotesFolder(), stoppedNoteName(note.output), stoppedNoteText(note));
}

void forgetStoppedNote(const FileIdentity& output) {
    const std::string folder = stoppedNotesFolder();
    if (!folder.empty())
        ::unlink((folder + "/" + stoppedNoteName(output)).c_str());
}

NotedFile notedFileState(const StoppedNote& note) {
    if (const auto now = identityOf(note.outputPath)) {
        if (*now == note.output)
            return NotedFile::Same;
        return now->sameFile(note.output) ? NotedFile::Changed : NotedFile::Replaced;
    }
    struct stat st {};
    if (::lstat(note.outputPath.c_str(), &st) == 0)
        return NotedFile::Replaced; // no longer a regular file
    const std::size_t slash = note.outputPath.find_last_of('/');
    const std::string folder = slash == 0 ? "/" : note.outputPath.substr(0, slash);
    if (errno == ENOENT && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return NotedFile::Replaced;
    return NotedFile::Unknown;
}

void dropStaleStoppedNotes(const std::string& finishedPath) {
    eachNote(stoppedNotesFolder(), [&](const std::string& notePath, const StoppedNote& note) {
        if (notedFileState(note) == NotedFile::Replaced ||
            (!finishedPath.empty() && note.outputPath == finishedPath))
            ::unlink(notePath.c_str());
    });
}

Resumability checkResumable(const Options& opt, const std::string& keptPath) {
    Resumability r;
    const auto kept = identityOf(keptPath);
    const std::string where = absolutePath(keptPath);
    bool replaced = false;
    bool found = false;
    eachNote(stoppedNotesFolder(), [&](const std::string& notePath, const StoppedNote& note) {
        const NotedFile state = notedFileState(note);
        if (state == NotedFile::Replaced) {
            replaced = replaced || note.outputPath == where;
            ::unlink(notePath.c_str()); // stale: seen, so removed
            return;
        }
        if (!found && kept && note.outputPath == where && note.output.sameFile(*kept)) {
            r.note = note;
            found = true;
        }
    });
    if (!kept) {
        r.reason = "the file is missing or not a plain file";
        return r;
    }
    if (!found) {
        r.reason = replaced ? "the file was changed since it was stopped"
                            : "no record of a stopped conversion";
        return r;
    }
    if (!(r.note.output == *kept)) {
        r.reason = "the file was changed since it was stopped";
        return r;
    }
    const auto source = identityFollowing(*opt.input);
    if (!source) {
        r.reason = "the source is missing or not a plain file";
        return r;
    }
    if (!source->sameFile(r.note.source)) {
        r.reason = "the source is another file";
        return r;
    }
    if (!(*source == r.note.source)) {
        r.reason = "the source was changed";
        return r;
    }
    if (canonicalSettings(opt) != r.note.settings) {
        r.reason = "other settings";
        return r;
    }
    r.ok = true;
    return r;
}

int runResumeQuestion(const Options& opt) {
    const Resumability r = checkResumable(opt, *opt.canResume);
    if (!r.ok) {
        printLine(contract::kNotResumablePrefix + oneLine(r.reason));
        return contract::kExitFailed;
    }
    char line[128];
    std::snprintf(line, sizeof line, contract::kResumableFormat, r.note.keptSeconds,
                  r.note.totalSeconds);
    printLine(line);
    return contract::kExitDone;
}

} // namespace plexavo::core
