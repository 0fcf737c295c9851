// One conversion: demux, decode, filter, encode, mux, with progress and a graceful stop.
#pragma once

#include "Options.h"

namespace plex {

// Returns the exit status: 0 done, 1 failed (one "Error: " line printed, output removed),
// 2 bad arguments, 255 stopped by a signal (output finished and kept).
int runConversion(const Options& opt);

// Whether this build can write the given legacy target ("wmv" or "ogm").
bool canWrite(const std::string& target);

} // namespace plex
