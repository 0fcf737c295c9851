// Where the encoder core lives. What it is called and how it is addressed
// belong to the contract both sides share.
#pragma once

#include "PlexcoreContract.h"

#include <string>

namespace plexavo::platform {

// The core's folder: the running program's own unless set (tests point it elsewhere).
std::string coreFolder();
void setCoreFolder(const std::string& folder);
std::string corePath();

} // namespace plexavo::platform
