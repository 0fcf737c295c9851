// A probed-looking source item for the window benchmarks, so they fill the
// list without running the core.
#pragma once

#include "engine/media/SourceItem.h"

#include <cstdint>
#include <string>

namespace plexavo::bench {

inline media::SourceItem* makeListItem(int i) {
    auto* item = new media::SourceItem;
    item->path = "/media/clip " + std::to_string(i) + ".mp4";
    item->title = "clip " + std::to_string(i);
    item->extension = "mp4";
    item->durationSeconds = 60 + i;
    item->endSeconds = static_cast<std::uint32_t>(60 + i);
    item->durationText = "00:01:00.00 (60 s)";
    item->bitrateText = "512 kb/s";
    item->videoDescription = " h264 (High), yuv420p, 1280x720, 25 fps";
    item->audioDescription = " aac, 44100 Hz, stereo, fltp, 128 kb/s";
    item->outputFolder = "/out/";
    item->outputName = item->title + "-cvt";
    item->outputExtension = "mp4";
    return item;
}

} // namespace plexavo::bench
