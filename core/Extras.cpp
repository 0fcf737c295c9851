#include "Extras.h"

#include "Languages.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace plexavo::core {
namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trim(std::string_view s) {
    const auto begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos)
        return {};
    return std::string(s.substr(begin, s.find_last_not_of(" \t\r\n") - begin + 1));
}

std::string_view stemOf(std::string_view name) {
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

constexpr int64_t kSecondUs = 1000000;

} // namespace

// ---- Sound tracks --------------------------------------------------------------------------

std::vector<int> soundTrackOrder(const std::vector<int>& audioStreams, int chosen) {
    std::vector<int> order;
    if (std::find(audioStreams.begin(), audioStreams.end(), chosen) != audioStreams.end())
        order.push_back(chosen);
    for (int s : audioStreams)
        if (s != chosen)
            order.push_back(s);
    return order;
}

// ---- Subtitle files beside the source ------------------------------------------------------

std::optional<SideFileName> readSideFileName(std::string_view sourceName,
                                             std::string_view fileName) {
    const std::string_view stem = stemOf(sourceName);
    if (stem.empty() || fileName.size() <= stem.size() + 1 ||
        fileName.substr(0, stem.size()) != stem || fileName[stem.size()] != '.')
        return std::nullopt;
    // Between the source's name and the extension: the tags, each after a dot.
    std::string_view rest = fileName.substr(stem.size() + 1);
    const auto lastDot = rest.rfind('.');
    const std::string ext =
        lower(lastDot == std::string_view::npos ? rest : rest.substr(lastDot + 1));
    if (ext != "srt" && ext != "ass" && ext != "ssa" && ext != "vtt")
        return std::nullopt;
    rest = lastDot == std::string_view::npos ? std::string_view{} : rest.substr(0, lastDot);
    if (fileName == sourceName)
        return std::nullopt; // the source itself, when it is a subtitle file
    SideFileName name;
    while (!rest.empty()) {
        const auto dot = rest.find('.');
        const std::string tag = lower(rest.substr(0, dot));
        rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
        if (tag.empty()) {
            continue; // "film..srt"
        } else if (tag == "forced") {
            name.forced = true;
        } else if (tag == "default") {
            name.isDefault = true;
        } else if (tag == "sdh" || tag == "cc") {
            // Subtitles for the hard of hearing: shown like any others.
        } else if (const std::string lang = deviceLanguage(tag);
                   !lang.empty() && name.language.empty()) {
            name.language = lang;
        } else {
            return std::nullopt;
        }
    }
    return name;
}

bool isUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const size_t n = c < 0x80             ? 1
                         : (c & 0xE0) == 0xC0 ? 2
                         : (c & 0xF0) == 0xE0 ? 3
                         : (c & 0xF8) == 0xF0 ? 4
                                              : 0;
        if (n == 0 || i + n > bytes.size())
            return false;
        uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            const auto cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (cc & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += n;
    }
    return true;
}

std::vector<std::string> findSideFiles(const std::string& sourcePath) {
    const auto slash = sourcePath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : sourcePath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    std::vector<std::string> found;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return found;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir.get()))
        if (readSideFileName(name, e->d_name))
            names.emplace_back(e->d_name);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        const std::string path = (slash == std::string::npos ? "" : folder) + n;
        struct stat st {};
        // stat never opens, so a pipe with the right name cannot block the run.
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
            st.st_size > kMaxSideFileBytes)
            continue;
        found.push_back(path);
        if (found.size() == kMaxSideFiles)
            break;
    }
    return found;
}

// ---- Subtitle timing ----------------------------------------------------------------------

void SubtitleTimeline::emit(int64_t startUs, int64_t endUs) {
    std::string text;
    for (const SubtitleEvent& e : m_active)
        text += (text.empty() ? "" : "\\N") + e.text;
    // The same text going on in the next span is one cue, not two.
    if (!m_ready.empty() && m_ready.back().endUs == startUs && m_ready.back().text == text &&
        m_ready.back().style == m_active.front().style) {
        m_ready.back().endUs = endUs;
        return;
    }
    m_ready.push_back({startUs, endUs, m_active.front().style, text});
}

void SubtitleTimeline::advanceTo(int64_t t) {
    while (m_now < t) {
        if (m_active.empty()) {
            m_now = t;
            return;
        }
        int64_t next = t;
        for (const SubtitleEvent& e : m_active)
            next = std::min(next, e.endUs);
        emit(m_now, next);
        m_now = next;
        m_active.erase(std::remove_if(m_active.begin(), m_active.end(),
                                      [this](const SubtitleEvent& e) { return e.endUs <= m_now; }),
                       m_active.end());
    }
}

void SubtitleTimeline::add(SubtitleEvent event) {
    if (m_endUs > 0)
        event.endUs = std::min(event.endUs, m_endUs);
    event.startUs = std::max<int64_t>(event.startUs, 0);
    advanceTo(event.startUs);
    event.startUs = std::max(event.startUs, m_now);
    if (event.endUs > event.startUs && !event.text.empty())
        m_active.push_back(std::move(event));
}

void SubtitleTimeline::finish(int64_t limitUs) {
    int64_t last = m_now;
    for (const SubtitleEvent& e : m_active)
        last = std::max(last, e.endUs);
    if (limitUs > 0)
        last = std::min(last, limitUs);
    advanceTo(last);
    m_active.clear();
}

std::vector<SubtitleCue> SubtitleTimeline::take() {
    // The last cue may still grow while the events that make it go on.
    std::vector<SubtitleCue> out;
    if (m_ready.empty())
        return out;
    const bool lastOpen = !m_active.empty() && m_ready.back().endUs == m_now;
    const size_t n = m_ready.size() - (lastOpen ? 1 : 0);
    out.assign(std::make_move_iterator(m_ready.begin()),
               std::make_move_iterator(m_ready.begin() + static_cast<std::ptrdiff_t>(n)));
    m_ready.erase(m_ready.begin(), m_ready.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

std::vector<SubtitleCue> cuesBefore(std::vector<SubtitleCue> cues, int64_t limitUs) {
    std::vector<SubtitleCue> kept;
    for (SubtitleCue& c : cues) {
        if (c.startUs >= limitUs)
            break;
        c.endUs = std::min(c.endUs, limitUs);
        kept.push_back(std::move(c));
    }
    return kept;
}

std::vector<std::string> assStyleNames(std::string_view header) {
    std::vector<std::string> names;
    for (size_t begin = 0; begin < header.size();) {
        const auto end = std::min(header.find('\n', begin), header.size());
        const std::string line = trim(header.substr(begin, end - begin));
        if (line.rfind("Style:", 0) == 0) {
            const std::string name = trim(std::string_view(line).substr(6, line.find(',') - 6));
            if (!name.empty())
                names.push_back(name);
        }
        begin = end + 1;
    }
    return names;
}

std::string knownStyle(const std::vector<std::string>& styles, const std::string& wanted) {
    const auto has = [&styles](const std::string& name) {
        return std::find(styles.begin(), styles.end(), name) != styles.end();
    };
    if (has(wanted))
        return wanted;
    if (has("Default") || styles.empty())
        return "Default";
    return styles.front();
}

std::optional<std::pair<std::string, std::string>> splitAssEvent(std::string_view event) {
    // ReadOrder, Layer, Style, Name, MarginL, MarginR, MarginV, Effect: eight fields, then the
    // text, which may hold commas of its own.
    size_t pos = 0;
    std::string_view style;
    for (int field = 0; field < 8; ++field) {
        const auto comma = event.find(',', pos);
        if (comma == std::string_view::npos)
            return std::nullopt;
        if (field == 2)
            style = event.substr(pos, comma - pos);
        pos = comma + 1;
    }
    return std::make_pair(trim(style), std::string(event.substr(pos)));
}

std::string assEvent(const SubtitleCue& cue) {
    return "0,0," + (cue.style.empty() ? std::string("Default") : cue.style) + ",,0,0,0,," +
           cue.text;
}

std::string assText(std::string_view plain) {
    std::string out;
    for (size_t i = 0; i < plain.size(); ++i) {
        const char c = plain[i];
        if (c == '\r')
            continue;
        if (c == '\n')
            out += "\\N";
        else if (c != '{' && c != '}')
            out += c;
    }
    while (out.size() >= 2 && out.compare(out.size() - 2, 2, "\\N") == 0)
        out.resize(out.size() - 2);
    return out;
}

// ---- Chapters -----------------------------------------------------------------------------

std::vector<ChapterMark> chaptersWithin(std::vector<ChapterMark> marks, int64_t endUs) {
    std::stable_sort(marks.begin(), marks.end(), [](const ChapterMark& a, const ChapterMark& b) {
        return a.startUs < b.startUs;
    });
    std::vector<ChapterMark> kept;
    for (size_t i = 0; i < marks.size(); ++i) {
        ChapterMark m = marks[i];
        const bool last = i + 1 == marks.size();
        // A chapter runs to the next one at most; one without an end runs up to it.
        if (m.endUs <= m.startUs)
            m.endUs = last ? endUs : marks[i + 1].startUs;
        if (!last)
            m.endUs = std::min(m.endUs, marks[i + 1].startUs);
        const bool cut = m.startUs < 0 || m.endUs > endUs;
        m.startUs = std::max<int64_t>(m.startUs, 0);
        m.endUs = std::min(m.endUs, endUs);
        if (m.endUs <= m.startUs || (cut && m.endUs - m.startUs < kSecondUs))
            continue;
        m.title = trim(m.title);
        kept.push_back(std::move(m));
    }
    for (size_t i = 0; i < kept.size(); ++i)
        if (kept[i].title.empty())
            kept[i].title = "Chapter " + std::to_string(i + 1);
    return kept;
}

// ---- Tags ---------------------------------------------------------------------------------

Tags deviceTags(const std::function<std::string(const char* key)>& lookup,
                const std::optional<std::string>& fallbackTitle) {
    struct Source {
        const char* tag;               // as the MP4 muxer names it
        std::vector<const char*> keys; // where demuxers put it, the usual name first
    };
    static const Source kSources[] = {
        {"title", {"title"}},
        {"artist", {"artist", "performer"}},
        {"album", {"album"}},
        {"album_artist", {"album_artist", "album artist", "albumartist"}},
        {"date", {"date", "date_released", "year"}},
        {"genre", {"genre"}},
        {"comment", {"comment"}},
        {"description", {"description", "synopsis"}},
        {"track", {"track"}},
        {"disc", {"disc"}},
    };
    Tags tags;
    for (const Source& s : kSources) {
        std::string value;
        for (const char* key : s.keys) {
            value = trim(lookup(key));
            if (!value.empty())
                break;
        }
        const std::string tag = s.tag;
        if (tag == "title" && value.empty() && fallbackTitle)
            value = *fallbackTitle;
        // The muxer reads numbers as "3" or "3/12"; anything else would be written as 0.
        if ((tag == "track" || tag == "disc") &&
            (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0]))))
            continue;
        if (!value.empty())
            tags.emplace_back(tag, value);
    }
    return tags;
}

// ---- Cover art ----------------------------------------------------------------------------

int pickCover(const std::vector<CoverCandidate>& pictures) {
    for (const CoverCandidate& p : pictures)
        if (lower(p.comment) == "cover (front)" || lower(stemOf(p.fileName)) == "cover" ||
            lower(stemOf(p.fileName)) == "folder")
            return p.stream;
    return pictures.empty() ? -1 : pictures.front().stream;
}

std::optional<CoverPlan> planCover(bool jpegOrPng, int width, int height) {
    if (width <= 0 || height <= 0)
        return std::nullopt;
    if (jpegOrPng && width <= kCoverMaxSide && height <= kCoverMaxSide)
        return CoverPlan{true, width, height};
    const double scale = std::min(1.0, std::min(static_cast<double>(kCoverMaxSide) / width,
                                                static_cast<double>(kCoverMaxSide) / height));
    // Even sides: the JPEG written has half-size colour planes.
    const auto side = [scale](int v) {
        return std::clamp(static_cast<int>(v * scale / 2 + 0.5) * 2, 2, kCoverMaxSide);
    };
    return CoverPlan{false, side(width), side(height)};
}

} // namespace plexavo::core
