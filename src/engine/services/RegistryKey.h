// What is left of the registry's vocabulary: the result codes and the root
// that OpenWithBrowser's ReadClassesDefault still answers in. The settings
// live in engine/settings/ (a keyfile); this header goes when the browser
// start moves to the desktop's own handler.
#pragma once

#include <cstdint>
#include <string>

namespace plexavo {

using LONG = std::int32_t;

enum class HKEY : int { None = 0, ClassesRoot, CurrentUser, LocalMachine };
inline constexpr HKEY HKEY_CLASSES_ROOT = HKEY::ClassesRoot;
inline constexpr HKEY HKEY_LOCAL_MACHINE = HKEY::LocalMachine;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;

} // namespace plexavo
