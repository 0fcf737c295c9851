// Where the encoder core lives and how it is addressed.
#pragma once

#include <string>

namespace plexavo::core {

inline constexpr char kProgramName[] = "Plexcore";
// Always the core's first argument, passed verbatim.
inline constexpr char kAccessCode[] = " wpx93knTR&! ";

// The core's folder: the running program's own unless set (tests point it elsewhere).
std::string folder();
void setFolder(const std::string& folder);
std::string programPath();

} // namespace plexavo::core
