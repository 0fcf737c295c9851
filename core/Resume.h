// Continuing a stopped output: the note a stop leaves about the file it kept, and the
// question whether that file can be continued with a given source and settings.
#pragma once

#include "Options.h"
#include "OutputFile.h"

#include <optional>
#include <string>

namespace plexavo::core {

// What a stop records about the output it kept, so that the conversion can go on from there.
struct StoppedNote {
    std::string outputPath; // absolute, its folder free of links
    FileIdentity output;
    std::string sourcePath; // absolute
    FileIdentity source;
    std::string settings; // canonicalSettings() of the run
    double keptSeconds = 0.0;
    double totalSeconds = 0.0; // of the whole output; 0 when the source did not say
};

std::string stoppedNoteText(const StoppedNote& note);
std::optional<StoppedNote> parseStoppedNote(const std::string& text);
// The note's file name: the output's device and inode.
std::string stoppedNoteName(const FileIdentity& output);

// The path with its folder made absolute and free of links, the name kept as it is; "" when
// the folder cannot be resolved.
std::string absolutePath(const std::string& path);
// The identity of the file a path leads to, links followed (a source may well be a link).
std::optional<FileIdentity> identityFollowing(const std::string& path);

// stateFolder("stopped"); "" when it cannot be had (then nothing can be continued).
std::string stoppedNotesFolder();
// Never throws: without its note a kept file is simply not offered to be continued.
void writeStoppedNote(const StoppedNote& note);
void forgetStoppedNote(const FileIdentity& output);

// How a noted output stands now.
enum class NotedFile {
    Same,     // the very file, unchanged
    Changed,  // the same file, written to since
    Replaced, // the name holds another file, or none while its folder is there: stale
    Unknown,  // its folder cannot be reached (a disk not mounted): the note is left alone
};
NotedFile notedFileState(const StoppedNote& note);

// Goes through the notes, removing the stale ones; after a finished conversion into
// finishedPath (absolute) a note for that name is stale too, since the file it names is gone.
void dropStaleStoppedNotes(const std::string& finishedPath = {});

struct Resumability {
    bool ok = false;
    std::string reason; // short, for "Not resumable: " and "Error: "
    StoppedNote note;
};
// Whether keptPath is an output this user's core stopped, still the very file it kept, made
// from opt's input as it still is, with the same settings. Touches nothing but stale notes.
Resumability checkResumable(const Options& opt, const std::string& keptPath);

// -can-resume: prints the one answer line; exit 0 for yes, 1 for no.
int runResumeQuestion(const Options& opt);

} // namespace plexavo::core
