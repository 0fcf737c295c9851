#include "OutputFile.h"

#include "FFmpeg.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace plexavo::core {
namespace {

constexpr char kPartialMark[] = ".partial-";
constexpr std::size_t kPartialMarkLength = sizeof kPartialMark - 1;
constexpr char kTagAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool isTagChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The output path's folder as given ("dir/", "/" or "" for the working folder), the folder
// to open, and the file name.
struct Place {
    std::string prefix;
    std::string folder;
    std::string name;
};

Place placeOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {"", ".", path};
    return {path.substr(0, slash + 1), slash == 0 ? "/" : path.substr(0, slash),
            path.substr(slash + 1)};
}

std::string errnoText(int err) {
    return std::strerror(err);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether name in folder is still the file open as fd: not renamed or replaced meanwhile.
bool stillNamed(int folder, const std::string& name, int fd) {
    struct stat byName {
    }, byFd{};
    return ::fstatat(folder, name.c_str(), &byName, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(fd, &byFd) == 0 && sameFile(byName, byFd);
}

// A note: what marks a partial file as a core's own. The name goes last, raw, so that any
// byte a file name may hold survives.
constexpr char kNoteHeader[] = "plexcore partial 1\n";
constexpr std::size_t kNoteMax = 8192;

struct Note {
    unsigned long long folderDev = 0, folderIno = 0, fileDev = 0, fileIno = 0;
    // When the file was made, where the file system keeps it: an inode number freed by a
    // removed partial file may soon hold someone else's new file.
    long long bornSec = -1;
    unsigned bornNsec = 0;
    std::string name;
};

// The birth time of an open file; false where the file system keeps none.
bool birthOf(int fd, long long& sec, unsigned& nsec) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_BTIME, &sx) != 0 ||
        !(sx.stx_mask & STATX_BTIME))
        return false;
    sec = sx.stx_btime.tv_sec;
    nsec = sx.stx_btime.tv_nsec;
    return true;
}

std::string noteText(const struct stat& folder, int file, const struct stat& fileSt,
                     const std::string& name) {
    char head[224];
    int n = std::snprintf(head, sizeof head, "%sfolder %llx %llx\nfile %llx %llx\n", kNoteHeader,
                          static_cast<unsigned long long>(folder.st_dev),
                          static_cast<unsigned long long>(folder.st_ino),
                          static_cast<unsigned long long>(fileSt.st_dev),
                          static_cast<unsigned long long>(fileSt.st_ino));
    long long sec = 0;
    unsigned nsec = 0;
    if (birthOf(file, sec, nsec))
        n += std::snprintf(head + n, sizeof head - static_cast<std::size_t>(n), "born %lld %u\n",
                           sec, nsec);
    return std::string(head, static_cast<std::size_t>(n)) + "name " + name;
}

bool parseNote(const std::string& text, Note& note) {
    const std::size_t header = sizeof kNoteHeader - 1;
    if (text.compare(0, header, kNoteHeader) != 0)
        return false;
    int used = 0;
    if (std::sscanf(text.c_str() + header, "folder %llx %llx\nfile %llx %llx\n%n", &note.folderDev,
                    &note.folderIno, &note.fileDev, &note.fileIno, &used) != 4 ||
        used == 0)
        return false;
    std::size_t at = header + static_cast<std::size_t>(used);
    if (text.compare(at, 5, "born ") == 0) {
        used = 0;
        if (std::sscanf(text.c_str() + at, "born %lld %u\n%n", &note.bornSec, &note.bornNsec,
                        &used) != 2 ||
            used == 0)
            return false;
        at += static_cast<std::size_t>(used);
    }
    if (text.compare(at, 5, "name ") != 0)
        return false;
    note.name = text.substr(at + 5);
    return !note.name.empty() && note.name.find('/') == std::string::npos;
}

// Whether the open file is the one the note was written for.
bool isNotedFile(const Note& note, int fd, const struct stat& st) {
    if (!S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_dev) != note.fileDev ||
        static_cast<unsigned long long>(st.st_ino) != note.fileIno)
        return false;
    if (note.bornSec < 0)
        return true; // a file system without birth times: device and inode are all there is
    long long sec = 0;
    unsigned nsec = 0;
    return birthOf(fd, sec, nsec) && sec == note.bornSec && nsec == note.bornNsec;
}

// Makes dir (one level) private to this user if it is missing; true when it is a folder of
// this user's that is not a link.
bool ownFolder(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

std::string randomTag() {
    unsigned char bytes[kPartialTagLength] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy yet (early boot): the clock and pid still differ between processes,
        // and O_EXCL catches what they do not.
        timespec t{};
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        unsigned long long mix = static_cast<unsigned long long>(t.tv_nsec) ^
                                 (static_cast<unsigned long long>(::getpid()) << 20) ^
                                 static_cast<unsigned long long>(t.tv_sec);
        for (unsigned char& b : bytes) {
            mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
            b = static_cast<unsigned char>(mix >> 56);
        }
    }
    std::string tag;
    for (unsigned char b : bytes)
        tag += kTagAlphabet[b % (sizeof kTagAlphabet - 1)];
    return tag;
}

} // namespace

// ---------------------------------------------------------------------------
// Names

NameParts splitName(const std::string& name) {
    NameParts p;
    std::string stem = name;
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        stem = name.substr(0, dot);
        p.ext = name.substr(dot);
    }
    p.base = stem;
    // "[k]" at the end of the stem, k a plain decimal from 1 (what -claim itself writes).
    if (stem.size() >= 3 && stem.back() == ']') {
        const std::size_t open = stem.find_last_of('[');
        const std::size_t digits = open == std::string::npos ? 0 : stem.size() - open - 2;
        if (open != std::string::npos && digits >= 1 && digits <= 9 && stem[open + 1] != '0') {
            unsigned k = 0;
            bool ok = true;
            for (std::size_t i = open + 1; i + 1 < stem.size(); ++i) {
                if (stem[i] < '0' || stem[i] > '9') {
                    ok = false;
                    break;
                }
                k = k * 10 + static_cast<unsigned>(stem[i] - '0');
            }
            if (ok) {
                p.base = stem.substr(0, open);
                p.counter = k;
            }
        }
    }
    return p;
}

std::string cutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t cut = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the character the cut
    // falls into; a character has at most three of them, so other bytes lose no more.
    for (int back = 0; back < 3 && cut > 0; ++back) {
        if ((static_cast<unsigned char>(text[cut]) & 0xC0) != 0x80)
            break;
        --cut;
    }
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        cut = maxBytes; // not UTF-8 after all: a plain byte cut
    return text.substr(0, cut);
}

std::string numberedName(const NameParts& parts, unsigned counter, std::size_t nameMax) {
    std::string tail = counter > 0 ? "[" + std::to_string(counter) + "]" : std::string();
    tail += parts.ext;
    if (tail.size() >= nameMax)
        return {};
    const std::string base = cutUtf8(parts.base, nameMax - tail.size());
    if (base.empty() && !parts.base.empty())
        return {};
    return base + tail;
}

std::string partialName(const std::string& outputName, const std::string& tag,
                        std::size_t nameMax) {
    const std::size_t dot = outputName.find_last_of('.');
    const std::string stem =
        dot != std::string::npos && dot > 0 ? outputName.substr(0, dot) : outputName;
    const std::size_t tail = kPartialMarkLength + tag.size();
    return cutUtf8(stem, nameMax > tail ? nameMax - tail : 0) + kPartialMark + tag;
}

bool isPartialName(const std::string& name) {
    const std::size_t tail = kPartialMarkLength + kPartialTagLength;
    if (name.size() < tail)
        return false;
    const std::size_t mark = name.size() - tail;
    if (name.compare(mark, kPartialMarkLength, kPartialMark) != 0)
        return false;
    for (std::size_t i = mark + kPartialMarkLength; i < name.size(); ++i)
        if (!isTagChar(name[i]))
            return false;
    return true;
}

// ---------------------------------------------------------------------------
// Files

std::optional<FileIdentity> identityOfDescriptor(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    FileIdentity id;
    id.dev = static_cast<std::uint64_t>(st.st_dev);
    id.ino = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::int64_t>(st.st_size);
    id.mtimeSec = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    id.mtimeNsec = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    return id;
}

std::optional<FileIdentity> identityOf(const std::string& path) {
    // Without following a link and without blocking on a FIFO planted under the name.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return identityOfDescriptor(fd.get());
}

bool isNoteName(const char* name) {
    return name[0] != '.' && !std::strstr(name, ".new-");
}

bool readNoteFile(int folder, const char* name, std::string& text) {
    Descriptor fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_size <= 0 || static_cast<std::size_t>(st.st_size) > kNoteMax)
        return false;
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::string writeNoteFile(const std::string& folder, const std::string& name,
                          const std::string& text) {
    if (folder.empty() || name.empty() || !isNoteName(name.c_str()))
        return {};
    const std::string target = folder + "/" + name;
    const std::string temp = target + ".new-" + std::to_string(::getpid());
    Descriptor fd(
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd)
        return {};
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0)
        return target;
    ::unlink(temp.c_str());
    return {};
}

Descriptor& Descriptor::operator=(Descriptor&& o) noexcept {
    if (this != &o)
        reset(o.release());
    return *this;
}

void Descriptor::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

PartialFile::PartialFile(const std::string& outputPath, NameRule rule,
                         std::optional<FileIdentity> kept)
    : m_rule(rule), m_kept(kept) {
    if (m_rule == NameRule::ReplaceKept && !m_kept)
        m_rule = NameRule::Claim;
    const Place place = placeOf(outputPath);
    m_prefix = place.prefix;
    m_outputName = place.name;
    if (m_outputName.empty() || m_outputName == "." || m_outputName == "..")
        throw Failure("the output '" + outputPath + "' names a folder, not a file");
    m_folder.reset(::open(place.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!m_folder)
        throw Failure("cannot write the output file '" + outputPath + "': " + errnoText(errno));
    // The folder's own limit: some file systems allow less than the usual 255 bytes.
    const long max = ::fpathconf(m_folder.get(), _PC_NAME_MAX);
    m_nameMax = max > 0 ? static_cast<std::size_t>(max) : NAME_MAX;
    if (m_rule != NameRule::Claim && m_outputName.size() > m_nameMax)
        throw Failure("the output file name '" + m_outputName +
                      "' is longer than its folder allows (" + std::to_string(m_nameMax) +
                      " bytes)");

    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = partialName(m_outputName, randomTag(), m_nameMax);
        // O_EXCL makes the name ours alone, also against other cores in the same folder.
        Descriptor fd(::openat(m_folder.get(), name.c_str(),
                               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd) {
            if (errno == EEXIST)
                continue;
            throw Failure("cannot write the output file '" + outputPath + "': " + errnoText(errno));
        }
        // A file system without locks (ENOLCK) fails the others' lock attempts just the
        // same, so their clean-up leaves this file alone there too.
        while (::flock(fd.get(), LOCK_EX) != 0 && errno == EINTR) {
        }
        // Another core's clean-up may have taken the file in the instant before the lock.
        if (!stillNamed(m_folder.get(), name, fd.get()))
            continue;
        m_name = name;
        m_path = m_prefix + m_name;
        m_file = std::move(fd);
        writeNote();
        return;
    }
    throw Failure("cannot make a partial file next to '" + outputPath + "'");
}

PartialFile::~PartialFile() {
    // Removed before the lock goes with the descriptor, and only while the name is still
    // this file's.
    if (!m_claimed && m_file && stillNamed(m_folder.get(), m_name, m_file.get()))
        ::unlinkat(m_folder.get(), m_name.c_str(), 0);
    dropNote();
}

void PartialFile::writeNote() {
    struct stat folderSt {
    }, fileSt{};
    if (::fstat(m_folder.get(), &folderSt) != 0 || ::fstat(m_file.get(), &fileSt) != 0)
        return;
    char id[64];
    std::snprintf(id, sizeof id, "%llx-%llx", static_cast<unsigned long long>(fileSt.st_dev),
                  static_cast<unsigned long long>(fileSt.st_ino));
    // No note: this file is then never taken for a leftover, which is the safe side.
    m_notePath =
        writeNoteFile(partialNotesFolder(), id, noteText(folderSt, m_file.get(), fileSt, m_name));
}

void PartialFile::dropNote() {
    if (!m_notePath.empty())
        ::unlink(m_notePath.c_str());
    m_notePath.clear();
}

PartialFile::Move PartialFile::moveWithoutReplacing(const std::string& target) {
    if (::renameat2(m_folder.get(), m_name.c_str(), m_folder.get(), target.c_str(),
                    RENAME_NOREPLACE) == 0)
        return Move::Done;
    if (errno == EEXIST)
        return Move::Taken;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        throw Failure("cannot give the output file its name '" + m_prefix + target +
                      "': " + errnoText(errno));
    // This file system refuses the flag (NFS, some FUSE file systems). link() never replaces
    // an existing name either, so it claims the name just as atomically; the partial name
    // is then dropped. A partial name left by a failed unlink is only a second link.
    if (::linkat(m_folder.get(), m_name.c_str(), m_folder.get(), target.c_str(), 0) == 0) {
        ::unlinkat(m_folder.get(), m_name.c_str(), 0);
        return Move::Done;
    }
    if (errno == EEXIST)
        return Move::Taken;
    throw Failure("cannot give the output file its name '" + m_prefix + target +
                  "' without the risk of replacing another file: " + errnoText(errno));
}

std::string PartialFile::claim() {
    if (m_rule == NameRule::Replace) {
        if (::renameat(m_folder.get(), m_name.c_str(), m_folder.get(), m_outputName.c_str()) != 0)
            throw Failure("cannot give the output file its name '" + m_prefix + m_outputName +
                          "': " + errnoText(errno));
        m_claimed = true;
        dropNote();
        return m_prefix + m_outputName;
    }
    if (m_rule == NameRule::Exact) {
        if (moveWithoutReplacing(m_outputName) == Move::Taken)
            throw Failure("the output file '" + m_prefix + m_outputName +
                          "' appeared while converting; it was not replaced (use -y to replace "
                          "it)");
        m_claimed = true;
        dropNote();
        return m_prefix + m_outputName;
    }
    if (m_rule == NameRule::ReplaceKept && replaceKept()) {
        m_claimed = true;
        dropNote();
        return m_prefix + m_outputName;
    }
    return claimFree();
}

bool PartialFile::replaceKept() {
    const auto current = [this](const std::string& name) -> std::optional<FileIdentity> {
        Descriptor fd(::openat(m_folder.get(), name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        return identityOfDescriptor(fd.get());
    };
    if (current(m_outputName) != m_kept)
        return false;
    // Swapped in one step, then the file that came out is looked at: only the very file that
    // was continued is removed. Whatever took its name in the instant between the look and the
    // swap is swapped back and kept.
    if (::renameat2(m_folder.get(), m_name.c_str(), m_folder.get(), m_outputName.c_str(),
                    RENAME_EXCHANGE) == 0) {
        if (current(m_name) == m_kept) {
            ::unlinkat(m_folder.get(), m_name.c_str(), 0);
            return true;
        }
        if (::renameat2(m_folder.get(), m_name.c_str(), m_folder.get(), m_outputName.c_str(),
                        RENAME_EXCHANGE) != 0)
            throw Failure("cannot give the output file its name '" + m_prefix + m_outputName +
                          "': " + errnoText(errno));
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        throw Failure("cannot give the output file its name '" + m_prefix + m_outputName +
                      "': " + errnoText(errno));
    // A file system without the swap: the look and the rename as close together as can be.
    if (current(m_outputName) != m_kept)
        return false;
    if (::renameat(m_folder.get(), m_name.c_str(), m_folder.get(), m_outputName.c_str()) != 0)
        throw Failure("cannot give the output file its name '" + m_prefix + m_outputName +
                      "': " + errnoText(errno));
    return true;
}

std::string PartialFile::claimFree() {
    const NameParts parts = splitName(m_outputName);
    for (unsigned i = 0; i <= kClaimTries; ++i) {
        // First the asked name itself (shortened only when the folder needs it), then the
        // numbers after its own.
        std::string target = i == 0 && m_outputName.size() <= m_nameMax
                                 ? m_outputName
                                 : numberedName(parts, parts.counter + i, m_nameMax);
        if (target.empty())
            break;
        if (moveWithoutReplacing(target) == Move::Done) {
            m_claimed = true;
            dropNote();
            return m_prefix + target;
        }
    }
    throw Failure("no free name for the output file '" + m_prefix + m_outputName + "' (tried " +
                  std::to_string(kClaimTries) + " numbered names)");
}

std::string stateFolder(const char* leaf) {
    std::string base;
    // XDG base directories: a relative XDG_STATE_HOME is to be ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
        base = state;
    } else {
        std::string home;
        if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
            home = h;
        } else {
            struct passwd pw {};
            struct passwd* found = nullptr;
            char buf[4096];
            if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &found) == 0 && found &&
                found->pw_dir && found->pw_dir[0] == '/')
                home = found->pw_dir;
        }
        if (home.empty())
            return {};
        ::mkdir((home + "/.local").c_str(), 0700); // usually there already
        base = home + "/.local/state";
    }
    // Only the last two levels must be ours alone; the ones above are the user's to arrange.
    if (::mkdir(base.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    const std::string app = base + "/plexavo";
    const std::string notes = app + "/" + leaf;
    if (!ownFolder(app) || !ownFolder(notes))
        return {};
    return notes;
}

std::string partialNotesFolder() {
    return stateFolder("partials");
}

void removeStalePartials(const std::string& outputPath, const std::string& inputPath) {
    const std::string notes = partialNotesFolder();
    if (notes.empty())
        return; // without notes nothing is provably ours
    const Place place = placeOf(outputPath);
    Descriptor folder(::open(place.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat folderSt {};
    if (!folder || ::fstat(folder.get(), &folderSt) != 0)
        return; // the conversion reports an unusable folder itself
    struct stat inputSt {};
    const bool haveInput = !inputPath.empty() && ::stat(inputPath.c_str(), &inputSt) == 0;

    const int notesFd = ::open(notes.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (notesFd < 0)
        return;
    DIR* dir = ::fdopendir(notesFd);
    if (!dir) {
        ::close(notesFd);
        return;
    }
    while (const dirent* e = ::readdir(dir)) {
        if (!isNoteName(e->d_name))
            continue;
        std::string text;
        Note note;
        if (!readNoteFile(notesFd, e->d_name, text) || !parseNote(text, note) ||
            !isPartialName(note.name))
            continue; // not a note of ours: leave it be
        if (note.folderDev != static_cast<unsigned long long>(folderSt.st_dev) ||
            note.folderIno != static_cast<unsigned long long>(folderSt.st_ino))
            continue; // another folder's; its own next conversion looks at it
        // Non-blocking and without following links: nothing under that name is waited on or
        // followed.
        Descriptor fd(::openat(folder.get(), note.name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        if (!fd) {
            if (errno == ENOENT)
                ::unlinkat(notesFd, e->d_name, 0); // finished and named, or removed: done
            continue;
        }
        if (::fstat(fd.get(), &st) != 0)
            continue;
        if (!isNotedFile(note, fd.get(), st)) {
            // The name now belongs to another file: whoever made it, it is not ours.
            ::unlinkat(notesFd, e->d_name, 0);
            continue;
        }
        if (st.st_uid != ::geteuid())
            continue;
        if (haveInput && st.st_dev == inputSt.st_dev && st.st_ino == inputSt.st_ino)
            continue; // a kept partial file chosen as the source: never under its own feet
        // Its owner holds the lock while it lives. Got the lock: the owner is gone, or has
        // just given the file its final name; only the first kind still has this name.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (stillNamed(folder.get(), note.name, fd.get()))
            ::unlinkat(folder.get(), note.name.c_str(), 0);
        ::unlinkat(notesFd, e->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace plexavo::core
