// The probe's findings as one JSON document, for scripts (plexavo --probe
// --json). The field names are documented in docs/scripting.md and kept
// stable: a field may be added, none renamed or removed.
#pragma once

#include "engine/media/ProbeReport.h"

#include <string>
#include <string_view>
#include <vector>

namespace plexavo::media {

struct ProbedFile {
    std::string path; // as named on the command line: bytes, not necessarily UTF-8
    bool convertible = false;
    ProbeReport report;
    // The whole seconds the source list reads (SourceItem::durationSeconds):
    // the duration when the report cannot read it to the hundredth.
    int wholeSeconds = 0;
};

// The whole document, ending with a line feed. Never throws on a name:
// bytes that are not UTF-8 become U+FFFD in "path", and such a path also
// comes exactly as "path_bytes_base64".
std::string probeJsonDocument(const std::vector<ProbedFile>& files);

// Standard base64 (RFC 4648, with padding).
std::string base64(std::string_view bytes);

} // namespace plexavo::media
