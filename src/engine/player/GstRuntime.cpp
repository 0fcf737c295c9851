#include "engine/player/GstRuntime.h"

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <mutex>

namespace plexavo::player::gst {

namespace {

// Every element the player's pipelines are made of.
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

bool initialize(std::string* error) {
    static std::once_flag once;
    static bool ok = false;
    static std::string failure;
    std::call_once(once, [] {
        GError* err = nullptr;
        ok = gst_init_check(nullptr, nullptr, &err);
        if (!ok)
            failure = err && err->message ? err->message : "unknown error";
        else
            gst_pb_utils_init(); // the names of missing parts
        if (err)
            g_error_free(err);
    });
    if (!ok && error)
        *error = failure;
    return ok;
}

bool started() {
    return gst_is_initialized();
}

GStreamerVersion version() {
    guint major = 0, minor = 0, micro = 0, nano = 0;
    gst_version(&major, &minor, &micro, &nano);
    return {major, minor, micro};
}

std::vector<std::string> missingPreviewParts() {
    std::vector<std::string> missing;
    if (!initialize(nullptr))
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

} // namespace plexavo::player::gst
