#include "engine/player/MediaFramework.h"

#include "engine/player/MediaGraph.h"

#include <gst/gst.h>

namespace plexavo::preview {

namespace {

// Every element the preview's graphs are made of.
constexpr const char* kElements[] = {
    "filesrc",      "decodebin",  "queue",        "typefind",      "appsink",
    "videoconvert", "videoscale", "audioconvert", "audioresample", "audiopanorama",
    "volume",       "fakesink",   "qtdemux",
};

// The streams the device formats (and most sources) carry: the preview is
// of little use when it cannot decode these.
constexpr const char* kDecodedTypes[] = {
    "video/x-h264, stream-format=(string)avc, alignment=(string)au",
    "video/mpeg, mpegversion=(int)4, systemstream=(boolean)false",
    "audio/mpeg, mpegversion=(int)4, stream-format=(string)raw",
    "audio/mpeg, mpegversion=(int)1, layer=(int)3",
};

bool decoderExists(const char* typeText) {
    GstCaps* caps = gst_caps_from_string(typeText);
    if (!caps)
        return false;
    GList* decoders =
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
    GList* fitting = gst_element_factory_list_filter(decoders, caps, GST_PAD_SINK, FALSE);
    const bool found = fitting != nullptr;
    gst_plugin_feature_list_free(fitting);
    gst_plugin_feature_list_free(decoders);
    gst_caps_unref(caps);
    return found;
}

} // namespace

MediaFrameworkVersion mediaFrameworkVersion() {
    // gst_version needs no started framework: start-up reads it first and
    // starts the framework afterwards.
    MediaFrameworkVersion version;
    guint major = 0, minor = 0, micro = 0, nano = 0;
    gst_version(&major, &minor, &micro, &nano);
    version.major = major;
    version.minor = minor;
    version.micro = micro;
    return version;
}

bool versionIsEnough(const MediaFrameworkVersion& version) {
    if (version.major != kMinimumMediaFramework.major)
        return version.major > kMinimumMediaFramework.major;
    return version.minor >= kMinimumMediaFramework.minor;
}

std::vector<std::string> missingPreviewParts() {
    std::vector<std::string> missing;
    if (!platform::initializeMediaFramework())
        return {"gstreamer"};
    for (const char* name : kElements) {
        GstElementFactory* factory = gst_element_factory_find(name);
        if (!factory)
            missing.emplace_back(name);
        else
            gst_object_unref(factory);
    }
    for (const char* type : kDecodedTypes) {
        if (!decoderExists(type)) {
            std::string text = type;
            missing.push_back(text.substr(0, text.find(',')));
        }
    }
    return missing;
}

bool mediaFrameworkPresent() {
    static const bool present =
        versionIsEnough(mediaFrameworkVersion()) && missingPreviewParts().empty();
    return present;
}

} // namespace plexavo::preview
