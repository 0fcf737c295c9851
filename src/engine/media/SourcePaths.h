// What counts as a source file when paths arrive in bulk: the Add dialog's
// filter list, and the expansion of a dropped (or named) folder into the
// media files directly inside it.
#pragma once

#include <string>
#include <vector>

namespace plexavo::media {

struct FileFilter {
    std::string description;
    std::vector<std::string> patterns; // "*.mp4", "*.*", as listed
};

// Reads a filter list of the form "desc|patterns|desc|patterns||", the
// patterns of one entry separated by ";" and blanks.
std::vector<FileFilter> parseFilterList(const std::string& text);

// True when fileName (no folder) matches one of the patterns, ignoring case:
// camera files are often called CLIP0001.MP4.
bool matchesAnyPattern(const std::string& fileName, const std::vector<std::string>& patterns);

// Each path that names a folder is replaced, in place, by the files directly
// inside it that match the patterns, sorted by name; hidden files are left
// out (a stick written by another system carries "._clip.mp4" shadows).
// Everything else passes through unchanged and in order, so a missing file
// still reaches the detection pass and is reported there.
std::vector<std::string> expandSourcePaths(const std::vector<std::string>& paths,
                                           const std::vector<std::string>& patterns);

// A path as the program keeps it: absolute, relative to the current folder.
std::string absoluteSourcePath(const std::string& path);

// The local files named by a dropped text/uri-list, as bytes: "file:"
// addresses of this machine, percent-decoded with no text conversion, so a
// name that is not UTF-8 arrives exactly as it is on disk. Comment lines,
// other schemes and other hosts are left out.
std::vector<std::string> localPathsFromUriList(const std::string& text);

// True for a path that names no file and holds U+FFFD: a text conversion
// replaced bytes of the name it could not read (a file dialog hands names as
// text), so the name, not the media, is what failed.
bool nameLostInConversion(const std::string& path);

} // namespace plexavo::media
