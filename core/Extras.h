// What a source holds beside its picture and first sound track that the devices also show:
// more sound tracks, text subtitles (also in files beside it), chapters, tags and cover art.
// Plain decisions on plain values, so each one is tested without a file; the transcoder
// applies them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plexavo::core {

// ---- Sound tracks --------------------------------------------------------------------------

// The order the sound tracks are written in: the chosen one (the source's default) first, so
// the devices start with it, then the others in the source's order.
std::vector<int> soundTrackOrder(const std::vector<int>& audioStreams, int chosen);

// ---- Subtitle files beside the source ------------------------------------------------------

struct SideFileName {
    std::string language; // ISO 639-2, "" when the name gives none
    bool forced = false;
    bool isDefault = false;
};

// Whether fileName (without a folder) is a subtitle file for the source file sourceName: the
// source's name without its extension, then tags separated by dots (one language code such as
// en or eng; forced; default; sdh, cc), then .srt, .ass, .ssa or .vtt in any case. A tag that
// is none of these makes it another film's file ("film.part2.srt" is not one of "film.mkv").
std::optional<SideFileName> readSideFileName(std::string_view sourceName,
                                             std::string_view fileName);

// Larger files are no subtitles, whatever their name.
inline constexpr int64_t kMaxSideFileBytes = 16 * 1024 * 1024;
inline constexpr size_t kMaxSideFiles = 16;

// Whether the bytes are well-formed UTF-8 (what FFmpeg's text decoders take).
bool isUtf8(std::string_view bytes);

// The subtitle files beside the source, by path, sorted by name: regular files only (a named
// pipe is never opened), at most kMaxSideFiles. Empty when the folder cannot be read.
std::vector<std::string> findSideFiles(const std::string& sourcePath);

// ---- Subtitle timing ----------------------------------------------------------------------

// One decoded subtitle, in microseconds of the output's clock (the start point is 0).
struct SubtitleEvent {
    int64_t startUs = 0;
    int64_t endUs = 0;
    std::string style; // the ASS style name the text is shown in
    std::string text;  // ASS dialogue text (override codes, \N for a line break)
};

// A timed-text track shows one sample at a time, so events that overlap become cues of their
// own: each span of time shows every event active in it, the earliest above.
struct SubtitleCue {
    int64_t startUs = 0;
    int64_t endUs = 0;
    std::string style;
    std::string text;
    bool operator==(const SubtitleCue&) const = default;
};

class SubtitleTimeline {
  public:
    // Events are cut at 0 and at endUs (0: open-ended).
    explicit SubtitleTimeline(int64_t endUs = 0) : m_endUs(endUs) {}

    // Events arrive in the order of their starts; one that starts earlier than an event
    // already taken is shown from where the timeline stands.
    void add(SubtitleEvent event);
    // No more events: what is still shown ends, at limitUs at the latest (0: no limit).
    void finish(int64_t limitUs = 0);
    // The cues that can no longer change, in order; they are handed out once.
    std::vector<SubtitleCue> take();

  private:
    void advanceTo(int64_t t);
    void emit(int64_t startUs, int64_t endUs);

    int64_t m_endUs;
    int64_t m_now = 0; // everything before this is in a cue
    std::vector<SubtitleEvent> m_active;
    std::vector<SubtitleCue> m_ready;
};

// The cues that lie before limitUs, the last one cut there.
std::vector<SubtitleCue> cuesBefore(std::vector<SubtitleCue> cues, int64_t limitUs);

// The style names an ASS header defines, in its order.
std::vector<std::string> assStyleNames(std::string_view header);
// The style an event is shown in: its own where the header defines it, else "Default" or the
// header's first (FFmpeg's timed-text encoder writes invisible text for a style it lacks).
std::string knownStyle(const std::vector<std::string>& styles, const std::string& wanted);

// The style and text of a decoded ASS event ("ReadOrder,Layer,Style,Name,MarginL,MarginR,
// MarginV,Effect,Text", as FFmpeg's text decoders give it); nothing for another shape.
std::optional<std::pair<std::string, std::string>> splitAssEvent(std::string_view event);
// The event the timed-text encoder takes for a cue.
std::string assEvent(const SubtitleCue& cue);
// Plain text as ASS dialogue text: line breaks as \N, braces that would open override codes
// taken out.
std::string assText(std::string_view plain);

// ---- Chapters -----------------------------------------------------------------------------

struct ChapterMark {
    int64_t startUs = 0; // on the output's clock: the start point is 0
    int64_t endUs = 0;   // not after startUs when the source does not say
    std::string title;
    bool operator==(const ChapterMark&) const = default;
};

// The chapters of an output that ends at endUs: those that lie within it, cut to it, in order,
// without overlaps; a chapter the cut leaves shorter than a second is left out, an untitled one
// is named by its number.
std::vector<ChapterMark> chaptersWithin(std::vector<ChapterMark> marks, int64_t endUs);

// ---- Tags ---------------------------------------------------------------------------------

using Tags = std::vector<std::pair<std::string, std::string>>;

// The tags the devices' libraries read (title, artist, album, album artist, date, genre,
// comment, description, track and disc numbers) under the names the MP4 muxer writes, taken
// from the source's tags (lookup: the value of a key, "" when absent; keys are matched without
// regard to case). The title falls back to fallbackTitle when the source has none.
Tags deviceTags(const std::function<std::string(const char* key)>& lookup,
                const std::optional<std::string>& fallbackTitle);

// ---- Cover art ----------------------------------------------------------------------------

// The devices show covers up to this size; a larger one is scaled down to fit.
inline constexpr int kCoverMaxSide = 600;

struct CoverCandidate {
    int stream = -1;
    std::string comment;  // ID3 picture type ("Cover (front)")
    std::string fileName; // Matroska attachment name
};
// The picture that is the front cover: one called so, else the first. -1 for none.
int pickCover(const std::vector<CoverCandidate>& pictures);

struct CoverPlan {
    bool copy = true; // the source's bytes as they are
    int width = 0;    // otherwise scaled to this and written as JPEG
    int height = 0;
};
// jpegOrPng: a picture the devices read as it is. Nothing for a picture of no known size.
std::optional<CoverPlan> planCover(bool jpegOrPng, int width, int height);

} // namespace plexavo::core
