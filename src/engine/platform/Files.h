// The few file-system questions the engine asks.
#pragma once

#include <cstddef>
#include <string>

namespace plexavo::platform {

// Makes every missing level of path exist as a folder: 0, or the system's
// reason (an errno value) for the level that could not be made; ENOTDIR when
// a file stands where a folder belongs.
int makeFolders(const std::string& path);
// The same where a failure needs no words (the caller checks folderExists
// afterwards when it must know).
inline void ensureFolder(const std::string& path) {
    makeFolders(path);
}
// True when something (a file or a folder) is at path.
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);
// Where converted files go unless the user chose a folder: ~/ConvertedMedia/.
std::string defaultOutputPath();

// The longest file name, in bytes, that the file system holding folder takes
// (asked of the nearest folder that exists; 255 when it cannot be asked).
std::size_t fileNameLimit(const std::string& folder);
// The longest start of text that is at most maxBytes long and ends at a
// character boundary: a UTF-8 sequence is kept whole or dropped whole, and a
// byte that is not valid UTF-8 counts as a character of its own.
std::string cutAtCharacter(const std::string& text, std::size_t maxBytes);

// Writes all of data to fd, going on after interruptions; false with errno
// set when it cannot (ENOSPC when the disk takes nothing more).
bool writeAll(int fd, const std::string& data);

// Puts content in place as target (with the permission bits mode): 0, or the
// errno that stopped it. The new file is complete on disk (written to a temp
// file beside it and synced) before it takes the old one's name, so a crash
// at any point leaves one whole file or the other, never half of one.
int replaceFileAtomically(const std::string& target, const std::string& content, unsigned mode);

} // namespace plexavo::platform
