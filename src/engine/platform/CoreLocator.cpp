#include "engine/platform/CoreLocator.h"

#include "engine/platform/Platform.h"

#include <mutex>

namespace plexavo::platform {

namespace {
std::mutex g_mutex;
std::string g_folder;
} // namespace

std::string coreFolder() {
    std::lock_guard lock(g_mutex);
    // Never the current folder: a program whose own folder is unknown finds no
    // core rather than whatever "Plexcore" the user happens to stand beside.
    return g_folder.empty() ? knownProgramFolder() : g_folder;
}

void setCoreFolder(const std::string& dir) {
    std::lock_guard lock(g_mutex);
    g_folder = dir;
    if (!g_folder.empty() && g_folder.back() != '/')
        g_folder += '/';
}

std::string corePath() {
    return coreFolder() + contract::kProgramName;
}

} // namespace plexavo::platform
