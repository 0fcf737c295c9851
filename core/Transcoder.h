// One conversion: demux, decode, filter, encode, mux, with progress and a graceful stop.
#pragma once

#include "Options.h"

namespace plexavo::core {

// Returns the exit status: done, or stopped by a signal (output finished and kept). Throws
// on failure (UsageError, Failure, anything else) after removing the unfinished output.
int runConversion(const Options& opt);

// Whether this build can write the given legacy target ("wmv" or "ogm").
bool canWrite(const std::string& target);

} // namespace plexavo::core
