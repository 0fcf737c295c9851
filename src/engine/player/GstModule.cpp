// The player module's one exported symbol: the table the program loads it by.
#include "engine/player/GstRuntime.h"
#include "engine/player/PlayerInternal.h"
#include "engine/player/PlayerModule.h"

namespace {

using namespace plexavo::player;

Player* createPlayer(Player::AudioOutput output, std::string* error) {
    return GstPlayer::create(output, error).release();
}

constexpr ModuleApi kApi{
    kModuleAbi,    &gst::initialize,          &gst::started,
    &gst::version, &gst::missingPreviewParts, &createPlayer,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const ModuleApi* plexavoPlayerModule() {
    return &kApi;
}
