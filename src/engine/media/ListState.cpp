#include "engine/media/ListState.h"

#include "engine/platform/DebugLog.h"
#include "engine/platform/Files.h"
#include "engine/platform/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <memory>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::media {

using platform::ensureFolder;
using platform::fileExists;
using platform::folderExists;
using platform::replaceFileAtomically;
using platform::writeLog;
using settings::ConversionSettings;

namespace {

constexpr int kVersion = 1;
constexpr char kListGroup[] = "List";
constexpr char kSettingsGroup[] = "Settings";
constexpr char kListSuffix[] = ".list";
constexpr char kLockSuffix[] = ".lock";
// A lock file without its list is cleared away only when it is older than
// this: a copy starting this instant makes its lock a moment before it locks it.
constexpr std::int64_t kOrphanLockAgeNs = 60LL * 1000000000LL;
// Far beyond any list a person builds; a bigger file is not ours.
constexpr std::size_t kMaxFileBytes = 64u << 20;

struct KeyFileFree {
    void operator()(GKeyFile* keys) const { g_key_file_free(keys); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;

// ---- writing ----

class Writer {
  public:
    Writer() : m_keys(g_key_file_new()) {}
    void text(const char* group, const char* key, const std::string& value) {
        g_key_file_set_string(m_keys.get(), group, key, escapeBytes(value).c_str());
    }
    void number(const char* group, const char* key, long long value) {
        g_key_file_set_int64(m_keys.get(), group, key, value);
    }
    void real(const char* group, const char* key, double value) {
        g_key_file_set_double(m_keys.get(), group, key, value);
    }
    void flag(const char* group, const char* key, bool value) {
        g_key_file_set_boolean(m_keys.get(), group, key, value);
    }
    std::string data() const {
        gsize size = 0;
        const std::unique_ptr<gchar, decltype(&g_free)> out(
            g_key_file_to_data(m_keys.get(), &size, nullptr), g_free);
        return std::string(out.get(), size);
    }

  private:
    KeyFile m_keys;
};

void writeSettings(Writer& w, const ConversionSettings& s) {
    const char* g = kSettingsGroup;
    w.number(g, "TargetFormat", s.targetFormat);
    w.number(g, "TvStandard", s.tvStandard);
    w.number(g, "Size", s.sizeChoice);
    w.text(g, "Width", s.width);
    w.text(g, "Height", s.height);
    w.number(g, "FrameRate", s.frameRateChoice);
    w.number(g, "VideoBitRate", s.videoBitRateChoice);
    w.flag(g, "VariableBitRate", s.variableBitRate);
    w.text(g, "MaxRate", s.maxRate);
    w.text(g, "MinRate", s.minRate);
    w.number(g, "Channels", s.channelsChoice);
    w.number(g, "AudioBitRate", s.audioBitRateChoice);
    w.number(g, "SampleRate", s.sampleRateChoice);
    w.number(g, "Volume", s.volumeChoice);
    w.text(g, "OutputPath", s.outputPath);
}

void writeRow(Writer& w, const std::string& group, const SourceItem& item) {
    const char* g = group.c_str();
    w.text(g, "Path", item.path);
    w.text(g, "Extension", item.extension);
    w.text(g, "Title", item.title);
    w.number(g, "BitsPerSample", item.bitsPerSample);
    w.number(g, "SampleRate", item.sampleRate);
    w.number(g, "Channels", item.channels);
    w.number(g, "Duration", item.durationSeconds);
    w.real(g, "ExactDuration", item.report.durationSeconds.value_or(0.0));
    w.number(g, "FormatTag", item.formatTag);
    w.number(g, "BytesPerSecond", item.averageBytesPerSecond);
    w.number(g, "BlockAlign", item.blockAlign);
    w.text(g, "DurationText", item.durationText);
    w.text(g, "BitRateText", item.bitrateText);
    w.text(g, "Video", item.videoDescription);
    w.text(g, "Audio", item.audioDescription);
    w.number(g, "Start", item.startSeconds);
    w.number(g, "End", item.endSeconds);
    w.text(g, "OutputFolder", item.outputFolder);
    w.text(g, "OutputName", item.outputName);
    w.text(g, "OutputExtension", item.outputExtension);
    w.number(g, "Status", item.status);
    w.flag(g, "Converted", item.converted);
    w.real(g, "KeptSeconds", item.keptSeconds);
    w.real(g, "KeptOfSeconds", item.keptOfSeconds);
}

// ---- reading ----

// Reads values of one group; a value that is missing or of another type
// leaves the field as it was, and marks the read as failed when required.
class Reader {
  public:
    explicit Reader(GKeyFile* keys) : m_keys(keys) {}
    bool has(const char* group, const char* key) const {
        return g_key_file_has_key(m_keys, group, key, nullptr);
    }
    void text(const char* group, const char* key, std::string& out) {
        GError* error = nullptr;
        gchar* value = g_key_file_get_string(m_keys, group, key, &error);
        if (error) {
            g_error_free(error);
            return;
        }
        out = unescapeBytes(value);
        g_free(value);
    }
    template <typename T> void number(const char* group, const char* key, T& out) {
        GError* error = nullptr;
        const gint64 value = g_key_file_get_int64(m_keys, group, key, &error);
        if (error) {
            g_error_free(error);
            return;
        }
        out = static_cast<T>(value);
    }
    void real(const char* group, const char* key, double& out) {
        GError* error = nullptr;
        const double value = g_key_file_get_double(m_keys, group, key, &error);
        if (error) {
            g_error_free(error);
            return;
        }
        out = value;
    }
    void flag(const char* group, const char* key, bool& out) {
        GError* error = nullptr;
        const gboolean value = g_key_file_get_boolean(m_keys, group, key, &error);
        if (error) {
            g_error_free(error);
            return;
        }
        out = value != 0;
    }

  private:
    GKeyFile* m_keys;
};

void readSettings(Reader& r, ConversionSettings& s) {
    const char* g = kSettingsGroup;
    r.number(g, "TargetFormat", s.targetFormat);
    r.number(g, "TvStandard", s.tvStandard);
    r.number(g, "Size", s.sizeChoice);
    r.text(g, "Width", s.width);
    r.text(g, "Height", s.height);
    r.number(g, "FrameRate", s.frameRateChoice);
    r.number(g, "VideoBitRate", s.videoBitRateChoice);
    r.flag(g, "VariableBitRate", s.variableBitRate);
    r.text(g, "MaxRate", s.maxRate);
    r.text(g, "MinRate", s.minRate);
    r.number(g, "Channels", s.channelsChoice);
    r.number(g, "AudioBitRate", s.audioBitRateChoice);
    r.number(g, "SampleRate", s.sampleRateChoice);
    r.number(g, "Volume", s.volumeChoice);
    r.text(g, "OutputPath", s.outputPath);
}

void readRow(Reader& r, const std::string& group, SourceItem& item) {
    const char* g = group.c_str();
    r.text(g, "Path", item.path);
    r.text(g, "Extension", item.extension);
    r.text(g, "Title", item.title);
    r.number(g, "BitsPerSample", item.bitsPerSample);
    r.number(g, "SampleRate", item.sampleRate);
    r.number(g, "Channels", item.channels);
    r.number(g, "Duration", item.durationSeconds);
    double exact = 0;
    r.real(g, "ExactDuration", exact);
    if (exact > 0)
        item.report.durationSeconds = exact;
    r.number(g, "FormatTag", item.formatTag);
    r.number(g, "BytesPerSecond", item.averageBytesPerSecond);
    r.number(g, "BlockAlign", item.blockAlign);
    r.text(g, "DurationText", item.durationText);
    r.text(g, "BitRateText", item.bitrateText);
    r.text(g, "Video", item.videoDescription);
    r.text(g, "Audio", item.audioDescription);
    r.number(g, "Start", item.startSeconds);
    r.number(g, "End", item.endSeconds);
    r.text(g, "OutputFolder", item.outputFolder);
    r.text(g, "OutputName", item.outputName);
    r.text(g, "OutputExtension", item.outputExtension);
    r.number(g, "Status", item.status);
    r.flag(g, "Converted", item.converted);
    r.real(g, "KeptSeconds", item.keptSeconds);
    r.real(g, "KeptOfSeconds", item.keptOfSeconds);
    if (item.status < kStatusReady || item.status > kStatusError)
        item.status = kStatusReady;
}

std::string rowGroup(std::size_t i) {
    return "Row " + std::to_string(i);
}

// ---- files ----

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string stateHome() {
    // XDG base directories: a relative XDG_STATE_HOME is to be ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return state;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* pw = getpwuid(getuid());
        home = pw && pw->pw_dir ? pw->pw_dir : nullptr;
    }
    return home ? std::string(home) + "/.local/state" : std::string();
}

// The file's whole text; nothing when it cannot be read or is too large.
std::optional<std::string> readWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || text.size() > kMaxFileBytes) {
            ::close(fd);
            if (n < 0 || text.size() > kMaxFileBytes)
                return std::nullopt;
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

// The lock file's descriptor, locked; -1 when another copy holds it (or it
// cannot be had).
int takeLock(const std::string& lockPath) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string lockPathOf(const std::string& listPath) {
    return listPath.substr(0, listPath.size() - std::strlen(kListSuffix)) + kLockSuffix;
}

// Keeps a damaged file under a name of its own: NAME.damaged, .damaged.1 ...
void setAsideDamaged(const std::string& path) {
    for (int n = 0; n < 100; ++n) {
        const std::string aside = path + ".damaged" + (n ? "." + std::to_string(n) : "");
        if (::link(path.c_str(), aside.c_str()) == 0) {
            ::unlink(path.c_str());
            writeLog("List: the damaged %s was kept as %s", path.c_str(), aside.c_str());
            return;
        }
        if (errno != EEXIST) {
            writeLog("List: the damaged %s cannot be kept aside (%s)", path.c_str(),
                     std::strerror(errno));
            return;
        }
    }
}

std::int64_t nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Known not to be there (not merely unreadable).
bool absent(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

struct Candidate {
    std::string path;
    std::int64_t modifiedNs = 0;
};

// Lock files whose copy died before it ever wrote its list (killed at its
// start): nothing offers or removes them otherwise, and one would be left
// for every such start.
void clearOrphanLocks(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t nowNs = nanoseconds(now);
    std::vector<std::string> orphans;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= std::strlen(kLockSuffix) || !name.ends_with(kLockSuffix))
            continue;
        const std::string lock = folder + "/" + name;
        const std::string list =
            lock.substr(0, lock.size() - std::strlen(kLockSuffix)) + kListSuffix;
        struct stat st {};
        if (lstat(lock.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (nowNs - nanoseconds(st.st_mtim) >= kOrphanLockAgeNs && absent(list))
            orphans.push_back(lock);
    }
    closedir(dir);
    for (const std::string& lock : orphans) {
        const int fd = takeLock(lock);
        if (fd < 0)
            continue; // its copy runs, with nothing in its list yet
        ::unlink(lock.c_str());
        ::close(fd);
    }
}

std::vector<Candidate> listFiles(const std::string& folder) {
    std::vector<Candidate> found;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return found;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= std::strlen(kListSuffix) || !name.ends_with(kListSuffix))
            continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        found.push_back({path, nanoseconds(st.st_mtim)});
    }
    closedir(dir);
    // Newest first: the list a user just lost is the one to offer.
    std::sort(found.begin(), found.end(),
              [](const Candidate& a, const Candidate& b) { return a.modifiedNs > b.modifiedNs; });
    return found;
}

} // namespace

std::string escapeBytes(const std::string& bytes) {
    const bool utf8 = platform::isValidUtf8(bytes);
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '%' || (!utf8 && b >= 0x80)) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescapeBytes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string listStateText(const SavedList& list) {
    Writer w;
    w.number(kListGroup, "Version", kVersion);
    w.flag(kListGroup, "Finished", list.finished);
    w.number(kListGroup, "Declined", list.declined);
    w.number(kListGroup, "Rows", static_cast<long long>(list.rows.size()));
    writeSettings(w, list.settings);
    for (std::size_t i = 0; i < list.rows.size(); ++i)
        writeRow(w, rowGroup(i), list.rows[i]);
    return w.data();
}

std::optional<SavedList> parseListState(const std::string& text) {
    const KeyFile keys(g_key_file_new());
    if (!g_key_file_load_from_data(keys.get(), text.data(), text.size(), G_KEY_FILE_NONE, nullptr))
        return std::nullopt;
    Reader r(keys.get());
    int version = 0;
    long long rows = -1;
    r.number(kListGroup, "Version", version);
    r.number(kListGroup, "Rows", rows);
    if (version != kVersion || rows < 0 || rows > 1000000)
        return std::nullopt;
    SavedList list;
    r.flag(kListGroup, "Finished", list.finished);
    r.number(kListGroup, "Declined", list.declined);
    readSettings(r, list.settings);
    for (long long i = 0; i < rows; ++i) {
        const std::string group = rowGroup(static_cast<std::size_t>(i));
        // A row without its source is no row this program wrote.
        if (!r.has(group.c_str(), "Path"))
            return std::nullopt;
        SourceItem item;
        readRow(r, group, item);
        list.rows.push_back(std::move(item));
    }
    return list;
}

// ---- this copy's file ----

std::string ListStateFile::folder() {
    const std::string base = stateHome();
    if (base.empty())
        return {};
    const std::string lists = base + "/plexavo/lists";
    ensureFolder(lists);
    return folderExists(lists) ? lists : std::string();
}

ListStateFile::ListStateFile() {
    const std::string dir = folder();
    if (dir.empty()) {
        writeLog("List: no state folder; the list is not kept on disk");
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::string id =
        std::to_string(getpid()) + "-" + std::to_string(static_cast<long long>(nanoseconds(now)));
    m_path = dir + "/" + id + kListSuffix;
    m_lockFd = takeLock(lockPathOf(m_path));
    if (m_lockFd < 0)
        writeLog("List: cannot lock %s; the list is not kept on disk", m_path.c_str());
}

ListStateFile::~ListStateFile() {
    if (m_lockFd < 0)
        return;
    // No list was ever written (nothing was in it): its lock has nothing to
    // guard and would be left behind for good.
    if (absent(m_path))
        ::unlink(lockPathOf(m_path).c_str());
    ::close(m_lockFd);
}

int ListStateFile::save(const SavedList& list) {
    if (!usable())
        return ENOENT;
    m_last = list;
    m_last.finished = false;
    const int error = replaceFileAtomically(m_path, listStateText(m_last), 0600);
    if (error)
        writeLog("List: cannot write %s (%s)", m_path.c_str(), std::strerror(error));
    return error;
}

int ListStateFile::markFinished() {
    if (!usable())
        return ENOENT;
    m_last.finished = true;
    const int error = replaceFileAtomically(m_path, listStateText(m_last), 0600);
    if (error)
        writeLog("List: cannot mark %s finished (%s)", m_path.c_str(), std::strerror(error));
    return error;
}

// ---- a left list ----

LeftList::LeftList(std::string path, int lockFd, SavedList list)
    : m_path(std::move(path)), m_lockFd(lockFd), m_list(std::move(list)) {}

LeftList::~LeftList() {
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void LeftList::remove() {
    ::unlink(m_path.c_str());
    ::unlink(lockPathOf(m_path).c_str());
}

void LeftList::takeOver() {
    writeLog("List: %s taken over", m_path.c_str());
    remove();
}

void LeftList::decline() {
    if (m_list.declined > 0) {
        writeLog("List: %s declined a second time; let go", m_path.c_str());
        remove();
        return;
    }
    SavedList kept = m_list;
    kept.declined = 1;
    const int error = replaceFileAtomically(m_path, listStateText(kept), 0600);
    writeLog("List: %s declined; kept for the next start%s", m_path.c_str(),
             error ? " (but it could not be marked)" : "");
}

std::unique_ptr<LeftList> findLeftList(const std::string& ownPath) {
    const std::string dir = ListStateFile::folder();
    if (dir.empty())
        return nullptr;
    clearOrphanLocks(dir);
    for (const Candidate& candidate : listFiles(dir)) {
        if (candidate.path == ownPath)
            continue;
        const int lock = takeLock(lockPathOf(candidate.path));
        if (lock < 0)
            continue; // its copy still runs: its list is its own
        const auto text = readWhole(candidate.path);
        if (!text && !fileExists(candidate.path)) {
            ::close(lock); // another start took it over just now
            continue;
        }
        const auto list = text ? parseListState(*text) : std::nullopt;
        if (!list) {
            setAsideDamaged(candidate.path);
            ::unlink(lockPathOf(candidate.path).c_str());
            ::close(lock);
            continue;
        }
        if (list->finished) {
            // That copy ended normally: nothing of it is needed any more.
            ::unlink(candidate.path.c_str());
            ::unlink(lockPathOf(candidate.path).c_str());
            ::close(lock);
            continue;
        }
        writeLog("List: %s was left unfinished (%zu rows)", candidate.path.c_str(),
                 list->rows.size());
        return std::make_unique<LeftList>(candidate.path, lock, *list);
    }
    return nullptr;
}

} // namespace plexavo::media
