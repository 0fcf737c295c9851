// Where a conversion writes: a locked partial file in the output's folder that takes its
// final name only once it is finished, and the names it may take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace plexavo::core {

// ---------------------------------------------------------------------------
// Names, decided without touching a file.

// An output file name taken apart: "clip-cvt[2].mp4" is base "clip-cvt", counter 2, ext
// ".mp4". A leading dot starts no extension (".mp4" is all base); a counter is [k] with
// k from 1, no leading zero, right before the extension.
struct NameParts {
    std::string base;
    unsigned counter = 0; // 0: the name carries no [k]
    std::string ext;      // with its dot, "" for none
};
NameParts splitName(const std::string& name);

// The longest start of text of at most maxBytes that does not end inside a UTF-8
// character. Bytes that are not UTF-8 (an old Latin-1 name) are cut like any other byte.
std::string cutUtf8(const std::string& text, std::size_t maxBytes);

// base[counter]ext, or base ext for counter 0, with the base shortened so the whole name
// has at most nameMax bytes. "" when no base of even one character fits.
std::string numberedName(const NameParts& parts, unsigned counter, std::size_t nameMax);

// The partial file's name for an output name: its stem, ".partial-" and the tag, the stem
// shortened so the name has at most nameMax bytes.
std::string partialName(const std::string& outputName, const std::string& tag, std::size_t nameMax);
inline constexpr std::size_t kPartialTagLength = 6;
// Exactly the names partialName makes: anything, ".partial-", six ASCII letters or digits.
bool isPartialName(const std::string& name);

// How many numbered names -claim tries after the asked one before it gives up.
inline constexpr unsigned kClaimTries = 1000;

// ---------------------------------------------------------------------------
// Files.

enum class NameRule {
    Exact,   // neither -y nor -claim: the asked name, which must still be free at the end
    Replace, // -y: the asked name, replacing whatever file has it
    Claim,   // -claim: the asked name or the next free numbered one; nothing is replaced
    // -resume: the asked name while it still holds the very file that was continued (the
    // kept identity), else as Claim
    ReplaceKept,
};

// A regular file as it was seen: the same device and inode with the same size and
// modification time is taken for the same, unchanged file.
struct FileIdentity {
    std::uint64_t dev = 0, ino = 0;
    std::int64_t size = 0;
    std::int64_t mtimeSec = 0, mtimeNsec = 0;
    bool sameFile(const FileIdentity& o) const { return dev == o.dev && ino == o.ino; }
    bool operator==(const FileIdentity&) const = default;
};
// The identity of the regular file at path (a link is not followed); nothing for anything
// else or a missing file.
std::optional<FileIdentity> identityOf(const std::string& path);
std::optional<FileIdentity> identityOfDescriptor(int fd);

// An open descriptor, closed once.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& o) noexcept : m_fd(o.release()) {}
    Descriptor& operator=(Descriptor&& o) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

  private:
    int m_fd = -1;
};

// $XDG_STATE_HOME/plexavo/<leaf> (~/.local/state/...), made on first use, the last two levels
// private to the user and never links. "" when it cannot be had.
std::string stateFolder(const char* leaf);

// Where this user's cores note the partial files they make (stateFolder "partials"). A
// partial file without a note is never taken for a leftover.
std::string partialNotesFolder();

// Writes a note whole or not at all (a temporary name, then a rename), so a reader never
// sees half of it. Returns its path, "" when it could not be written.
std::string writeNoteFile(const std::string& folder, const std::string& name,
                          const std::string& text);
// A note of this user's, a regular file of at most 8 KiB (a link is not followed).
bool readNoteFile(int folder, const char* name, std::string& text);
// Whether a name in a notes folder is a note (not a temporary one being written).
bool isNoteName(const char* name);

// A fresh, uniquely named partial file next to the output, locked (flock) for as long as
// this object owns it, so no other core's clean-up takes it for a leftover. A note in
// partialNotesFolder() names it by device and inode: only a file so noted is ever cleaned up,
// whatever else carries a partial-looking name.
class PartialFile {
  public:
    // Throws Failure when the folder cannot take the file, or when the rule keeps the
    // asked name and the name is longer than the folder allows. kept: for ReplaceKept, the
    // file the finished one may replace.
    PartialFile(const std::string& outputPath, NameRule rule,
                std::optional<FileIdentity> kept = std::nullopt);
    // Removes the partial file unless it was given its final name.
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // The partial file's path, in the form the output path was given.
    const std::string& path() const { return m_path; }
    // The note that marks it as this core's own; "" when none could be written.
    const std::string& notePath() const { return m_notePath; }
    // The open file, for repairs after the muxer has closed its own descriptor.
    int descriptor() const { return m_file.get(); }
    // Gives the finished file its name by the rule; returns the path written, in the form the
    // output path was given. Throws Failure (the partial file is then removed at the end).
    std::string claim();

  private:
    enum class Move { Done, Taken };
    Move moveWithoutReplacing(const std::string& target);
    bool replaceKept();
    std::string claimFree();
    void writeNote();
    void dropNote();

    NameRule m_rule;
    std::optional<FileIdentity> m_kept;
    Descriptor m_folder;
    Descriptor m_file;
    std::string m_prefix; // the output path's folder part with its '/', "" for none
    std::string m_outputName;
    std::string m_name; // the partial file's name in the folder
    std::string m_path;
    std::string m_notePath;
    std::size_t m_nameMax = 0;
    bool m_claimed = false;
};

// Removes the partial files in the output's folder that a core of this user made (its note
// names the very file), that no running process holds (left by a core that was killed), and
// that are not the input being converted. A file with a partial-looking name and no note is
// someone else's and stays. Drops notes whose file is gone; never throws.
void removeStalePartials(const std::string& outputPath, const std::string& inputPath);

} // namespace plexavo::core
