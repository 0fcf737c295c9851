// The program's side of the player module: finding and loading it once,
// and everything of the player that needs no GStreamer.
#include "engine/player/PlayerModule.h"

#include "engine/platform/DebugLog.h"
#include "engine/platform/Platform.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace plexavo::player {

namespace {

std::atomic<const ModuleApi*> g_module{nullptr};
std::atomic<int> g_defaultAudio{-1};

std::string modulePath() {
    if (const char* named = std::getenv("PLEXAVO_PLAYER_MODULE"); named && *named)
        return named;
    // Never from the current folder: a stray file there must not be run.
    const std::string folder = platform::knownProgramFolder();
    return folder.empty() ? std::string() : folder + kModuleFile;
}

} // namespace

const ModuleApi* playerModule(std::string* error) {
    static std::mutex mutex;
    static std::string failure;
    std::lock_guard lock(mutex);
    if (const ModuleApi* loaded = g_module.load())
        return loaded;
    const std::string path = modulePath();
    if (path.empty()) {
        failure = "the program's folder is not known, so the player module cannot be found";
    } else if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
        using Entry = const ModuleApi* (*)();
        auto entry = reinterpret_cast<Entry>(dlsym(handle, kModuleEntry));
        const ModuleApi* api = entry ? entry() : nullptr;
        if (api && api->abi == kModuleAbi) {
            g_module = api;
            return api;
        }
        failure = path + " is not this build's player module";
        // RTLD_NODELETE: a module of another build stays mapped, unused.
        dlclose(handle);
    } else {
        const char* why = dlerror();
        failure = why ? why : path + " cannot be loaded";
    }
    platform::writeLog("**Error: player module: %s", failure.c_str());
    if (error)
        *error = failure;
    return nullptr;
}

bool playerModuleLoaded() {
    return g_module.load() != nullptr;
}

// ---- GStreamerRuntime.h --------------------------------------------------------

bool initializeGStreamer(std::string* error) {
    const ModuleApi* api = playerModule(error);
    return api && api->initialize(error);
}

bool gstreamerStarted() {
    const ModuleApi* api = g_module.load();
    return api && api->started();
}

GStreamerVersion gstreamerVersion() {
    const ModuleApi* api = playerModule();
    return api ? api->version() : GStreamerVersion{};
}

bool versionIsEnough(const GStreamerVersion& version) {
    if (version.major != kMinimumGStreamer.major)
        return version.major > kMinimumGStreamer.major;
    return version.minor >= kMinimumGStreamer.minor;
}

std::vector<std::string> missingPreviewParts() {
    std::string error;
    const ModuleApi* api = playerModule(&error);
    if (!api || !api->initialize(&error))
        return {"gstreamer"};
    return api->missingPreviewParts();
}

bool previewCanPlay() {
    static const bool present =
        versionIsEnough(gstreamerVersion()) && missingPreviewParts().empty();
    return present;
}

// ---- Player.h ------------------------------------------------------------------

void Player::setDefaultAudioOutput(AudioOutput output) {
    g_defaultAudio = static_cast<int>(output);
}

Player::AudioOutput Player::defaultAudioOutput() {
    int value = g_defaultAudio.load();
    if (value < 0) {
        const char* env = std::getenv("PLEXAVO_AUDIO_SINK");
        value = static_cast<int>(env && std::strcmp(env, "fake") == 0 ? AudioOutput::Silent
                                                                      : AudioOutput::Automatic);
        int expected = -1;
        g_defaultAudio.compare_exchange_strong(expected, value);
        value = g_defaultAudio.load();
    }
    return static_cast<AudioOutput>(value);
}

std::unique_ptr<Player> Player::create(std::string* error) {
    const ModuleApi* api = playerModule(error);
    if (!api)
        return nullptr;
    return std::unique_ptr<Player>(api->createPlayer(defaultAudioOutput(), error));
}

} // namespace plexavo::player
