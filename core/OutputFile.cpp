#include "OutputFile.h"

#include "FFmpeg.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace plex {
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

Descriptor& Descriptor::operator=(Descriptor&& o) noexcept {
    if (this != &o)
        reset(o.release());
    return *this;
}

void Descriptor::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

PartialFile::PartialFile(const std::string& outputPath, NameRule rule) : rule_(rule) {
    const Place place = placeOf(outputPath);
    prefix_ = place.prefix;
    outputName_ = place.name;
    if (outputName_.empty() || outputName_ == "." || outputName_ == "..")
        throw Failure("the output '" + outputPath + "' names a folder, not a file");
    folder_.reset(::open(place.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder_)
        throw Failure("cannot write the output file '" + outputPath + "': " + errnoText(errno));
    // The folder's own limit: some file systems allow less than the usual 255 bytes.
    const long max = ::fpathconf(folder_.get(), _PC_NAME_MAX);
    nameMax_ = max > 0 ? static_cast<std::size_t>(max) : NAME_MAX;
    if (rule_ != NameRule::Claim && outputName_.size() > nameMax_)
        throw Failure("the output file name '" + outputName_ +
                      "' is longer than its folder allows (" + std::to_string(nameMax_) +
                      " bytes)");

    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = partialName(outputName_, randomTag(), nameMax_);
        // O_EXCL makes the name ours alone, also against other cores in the same folder.
        Descriptor fd(::openat(folder_.get(), name.c_str(),
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
        if (!stillNamed(folder_.get(), name, fd.get()))
            continue;
        name_ = name;
        path_ = prefix_ + name_;
        file_ = std::move(fd);
        return;
    }
    throw Failure("cannot make a partial file next to '" + outputPath + "'");
}

PartialFile::~PartialFile() {
    // Removed before the lock goes with the descriptor, and only while the name is still
    // this file's.
    if (!claimed_ && file_ && stillNamed(folder_.get(), name_, file_.get()))
        ::unlinkat(folder_.get(), name_.c_str(), 0);
}

PartialFile::Move PartialFile::moveWithoutReplacing(const std::string& target) {
    if (::renameat2(folder_.get(), name_.c_str(), folder_.get(), target.c_str(),
                    RENAME_NOREPLACE) == 0)
        return Move::Done;
    if (errno == EEXIST)
        return Move::Taken;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        throw Failure("cannot give the output file its name '" + prefix_ + target +
                      "': " + errnoText(errno));
    // This file system refuses the flag (NFS, some FUSE file systems). link() never replaces
    // an existing name either, so it claims the name just as atomically; the partial name
    // is then dropped. A partial name left by a failed unlink is only a second link.
    if (::linkat(folder_.get(), name_.c_str(), folder_.get(), target.c_str(), 0) == 0) {
        ::unlinkat(folder_.get(), name_.c_str(), 0);
        return Move::Done;
    }
    if (errno == EEXIST)
        return Move::Taken;
    throw Failure("cannot give the output file its name '" + prefix_ + target +
                  "' without the risk of replacing another file: " + errnoText(errno));
}

std::string PartialFile::claim() {
    if (rule_ == NameRule::Replace) {
        if (::renameat(folder_.get(), name_.c_str(), folder_.get(), outputName_.c_str()) != 0)
            throw Failure("cannot give the output file its name '" + prefix_ + outputName_ +
                          "': " + errnoText(errno));
        claimed_ = true;
        return prefix_ + outputName_;
    }
    if (rule_ == NameRule::Exact) {
        if (moveWithoutReplacing(outputName_) == Move::Taken)
            throw Failure("the output file '" + prefix_ + outputName_ +
                          "' appeared while converting; it was not replaced (use -y to replace "
                          "it)");
        claimed_ = true;
        return prefix_ + outputName_;
    }
    const NameParts parts = splitName(outputName_);
    for (unsigned i = 0; i <= kClaimTries; ++i) {
        // First the asked name itself (shortened only when the folder needs it), then the
        // numbers after its own.
        std::string target = i == 0 && outputName_.size() <= nameMax_
                                 ? outputName_
                                 : numberedName(parts, parts.counter + i, nameMax_);
        if (target.empty())
            break;
        if (moveWithoutReplacing(target) == Move::Done) {
            claimed_ = true;
            return prefix_ + target;
        }
    }
    throw Failure("no free name for the output file '" + prefix_ + outputName_ + "' (tried " +
                  std::to_string(kClaimTries) + " numbered names)");
}

void removeStalePartials(const std::string& outputPath) {
    const Place place = placeOf(outputPath);
    const int folderFd = ::open(place.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return; // the conversion reports an unusable folder itself
    DIR* dir = ::fdopendir(folderFd);
    if (!dir) {
        ::close(folderFd);
        return;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (!isPartialName(name) || (e->d_type != DT_REG && e->d_type != DT_UNKNOWN))
            continue;
        // Non-blocking and without following links: a FIFO or link under such a name is
        // never waited on or followed.
        Descriptor fd(::openat(folderFd, name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        // Its owner holds the lock while it lives. Got the lock: the owner is gone, or has
        // just given the file its final name; only the first kind still has this name.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (stillNamed(folderFd, name, fd.get()))
            ::unlinkat(folderFd, name.c_str(), 0);
    }
    ::closedir(dir);
}

} // namespace plex
