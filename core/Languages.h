// Language codes for the tracks of the output.
#pragma once

#include <string>
#include <string_view>

namespace plex {

// The ISO 639-2 code the muxers write for a language code: "en" and "eng" give "eng", "fr",
// "fra" and "fre" give "fre" (the bibliographic form, the only one the mov muxer knows).
// Case does not matter. "" for anything that is not an ISO 639 code ("und" stays "und").
std::string deviceLanguage(std::string_view code);

} // namespace plex
