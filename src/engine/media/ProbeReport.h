// What the core's probe text says of a file, field by field: the exact
// duration, the total bit rate and every stream it lists, for scripts that
// want more than the source list's four texts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plexavo::media {

struct ProbeStream {
    int index = -1;       // N of "Stream #0.N"
    std::string kind;     // "video" or "audio"
    std::string codec;    // "h264", "aac" ...
    std::string profile;  // "High", "LC" ...; empty when not printed
    std::string language; // letters and digits; empty when not printed
    std::optional<int> bitRateKbps;
    // Video
    std::string pixelFormat;
    std::optional<int> width;
    std::optional<int> height;
    std::optional<double> frameRate;
    // Audio
    std::optional<int> sampleRate;
    std::string channelLayout; // "stereo", "5.1(side)", "3 channels" ... as printed
    std::optional<int> channels;
    std::string sampleFormat;
};

// A subtitle track the probe lists after the sound tracks: one of the file's own
// ("Stream #0.N") or a subtitle file beside it ("Stream #K.0 ..., from NAME").
struct ProbeSubtitle {
    int index = -1;       // N of "Stream #0.N"; 0 for a file beside the source
    std::string file;     // that file's name; empty for the source's own tracks
    std::string codec;    // "subrip", "ass", "dvd_subtitle" ...
    std::string language; // letters and digits; empty when not printed
    bool text = false;    // text, which a conversion keeps; else pictures, left out
    bool isDefault = false;
    bool forced = false;
};

struct ProbeReport {
    bool answered = false; // the core printed anything at all
    std::optional<double> durationSeconds;
    std::optional<int> bitRateKbps;
    std::vector<ProbeStream> streams;
    std::vector<ProbeSubtitle> subtitles;
    int chapters = 0;
    std::string error; // the core's last "Error: " line, without the prefix
    // Why the core could not be started (an errno value); 0 when it was.
    int startError = 0;
};

// One subtitle track in a few words, as the information box and the command
// line show it: "eng subrip (text)", "fre dvd_subtitle (picture, forced)",
// "subrip (text) from film.en.srt".
std::string subtitleSummary(const ProbeSubtitle& subtitle);

// Where the duration line begins: the last line whose text, after blanks,
// starts with "Duration: ". The Input line before it prints the file name
// as it is, and a name may hold a line feed and such a text; nothing the
// core prints after the real duration line can. npos when there is none.
std::size_t durationLineAt(std::string_view text);

ProbeReport parseProbeReport(std::string_view text);

// The number of channels a layout name stands for ("stereo" 2, "5.1(side)" 6,
// "3 channels" 3); nothing for a name it does not know.
std::optional<int> channelsOfLayout(std::string_view layout);

// Why a file whose probe failed cannot be converted, in a sentence: the
// core's own reason when it gave one.
std::string probeFailureReason(const ProbeReport& report);

// Why the core at program could not be started, in a sentence: missing only
// when no file is there; a core that is there but cannot run (no execute
// permission, not an executable for this machine, a missing loader) is named
// with the system's reason, error (an errno value).
std::string coreStartFailure(const std::string& program, int error);

} // namespace plexavo::media
