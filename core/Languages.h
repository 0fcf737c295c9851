// Language codes for the tracks of the output.
#pragma once

#include <string>
#include <string_view>

namespace plexavo::core {

// The ISO 639-2 code the muxers write for a language code: "en" and "eng" give "eng", "fr",
// "fra" and "fre" give "fre" (the bibliographic form, the only one the mov muxer knows).
// Case does not matter. "" for anything that is not an ISO 639 code ("und" stays "und").
std::string deviceLanguage(std::string_view code);

// The name the mov muxer knows a language by (deviceLanguage's form in, the same out where the
// names agree): QuickTime files state the language as a Macintosh language code, and FFmpeg's
// table of those names some languages by their other ISO 639-2 form ("fra", "ces") or a name
// of its own ("sve", "iri"). A language outside that table cannot be stated in a .mov file.
std::string quickTimeLanguage(const std::string& language);

} // namespace plexavo::core
