// The source list kept on disk while the window runs, so that a crash, a
// logout or a power cut does not lose it. Each running copy of the program
// has a file of its own under $XDG_STATE_HOME/plexavo/lists/ (default
// ~/.local/state), a keyfile written atomically on every change and locked
// (through a lock file beside it) for as long as the copy runs. A normal exit
// marks the file finished; a file that is not finished and whose lock is
// free was left by a copy that died, and the next start offers to restore it.
//
//   ListStateFile own;                       // this copy's file
//   own.save(list);                          // on every change
//   if (auto left = findLeftList(own.path()))
//       ... ask; left->takeOver() or left->decline()
//   own.markFinished();                      // at a normal exit
#pragma once

#include "engine/media/SourceItem.h"
#include "engine/settings/ConversionSettings.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plexavo::media {

// What a state file holds: the settings the batch uses and every row.
struct SavedList {
    settings::ConversionSettings settings;
    // Each row's item: the source, its probe's texts, the part, the output
    // name, the status and, for a stopped output, how much it holds.
    std::vector<SourceItem> rows;
    bool finished = false;
    // How often a start offered the list and the user said No.
    int declined = 0;
};

std::string listStateText(const SavedList& list);
// Nothing when the text is not a state file of this program (damaged).
std::optional<SavedList> parseListState(const std::string& text);

// Any bytes as keyfile-safe text: control characters, '%' and the bytes of
// a name that is not UTF-8 as %XX; and back.
std::string escapeBytes(const std::string& bytes);
std::string unescapeBytes(const std::string& text);

class ListStateFile {
  public:
    // $XDG_STATE_HOME/plexavo/lists, made on demand; "" when it cannot be had.
    static std::string folder();

    // A file of this copy's own, locked while the object lives.
    ListStateFile();
    ~ListStateFile();
    ListStateFile(const ListStateFile&) = delete;
    ListStateFile& operator=(const ListStateFile&) = delete;

    // False when no state folder or lock could be had (nothing is kept then).
    bool usable() const { return m_lockFd >= 0; }
    const std::string& path() const { return m_path; }

    // Writes the list atomically (it is marked unfinished): 0 or an errno.
    int save(const SavedList& list);
    // The copy ends normally: the last list written is marked finished.
    int markFinished();

  private:
    std::string m_path;
    int m_lockFd = -1;
    SavedList m_last;
};

// An unfinished list of a copy that no longer runs, held (its lock taken) so
// that no other starting copy offers it at the same time.
class LeftList {
  public:
    LeftList(std::string path, int lockFd, SavedList list);
    ~LeftList();
    LeftList(const LeftList&) = delete;
    LeftList& operator=(const LeftList&) = delete;

    const std::string& path() const { return m_path; }
    const SavedList& list() const { return m_list; }

    // Yes: the list lives on in the new copy's file; this one goes.
    void takeOver();
    // No: kept for one more start, which asks again; a second No lets it go.
    void decline();

  private:
    void remove();
    std::string m_path;
    int m_lockFd;
    SavedList m_list;
};

// The newest unfinished list of a copy that no longer runs (not ownPath),
// or nothing. On the way, finished lists of copies that have ended are
// removed, and a damaged file is kept aside as NAME.damaged and logged.
std::unique_ptr<LeftList> findLeftList(const std::string& ownPath);

} // namespace plexavo::media
