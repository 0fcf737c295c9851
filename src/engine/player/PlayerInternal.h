// What the three parts of the player share (the pipeline and its building,
// the bus, the frame sink): the GStreamer helpers, one attempt at building
// the pipeline and the callbacks GStreamer calls. Included by Player*.cpp only.
#pragma once

#include "engine/player/Player.h"

#include <gst/app/gstappsink.h>
#include <gst/base/gsttypefindhelper.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>

namespace plexavo::player {

// A file that has not prerolled by then will not: a damaged file, or a
// source that waits for data that never comes.
inline constexpr int kPrerollTimeoutMs = 10000;
inline constexpr GstClockTime kPrerollPollNs = 5 * GST_MSECOND;

inline std::string errorText(GError* error, const gchar* debug) {
    std::string text = error && error->message ? error->message : "unknown error";
    if (debug && *debug) {
        text += " (";
        text += debug;
        text += ")";
    }
    return text;
}

inline GstElement* make(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

// Releases elements that were made but never put into a bin (nulls skipped).
inline void discard(std::initializer_list<GstElement*> elements) {
    for (GstElement* element : elements)
        if (element)
            gst_object_unref(gst_object_ref_sink(element));
}

inline bool capsStartWith(GstPad* pad, const char* prefix) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    bool match = false;
    if (caps && gst_caps_get_size(caps) > 0) {
        const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
        match = name && g_str_has_prefix(name, prefix);
    }
    if (caps)
        gst_caps_unref(caps);
    return match;
}

// True unless the file's first bytes show a kind of file that the demuxer
// does not take. A file that cannot be read is left to the source to report.
inline bool fileFitsDemuxer(const std::string& path, GstElement* demuxer) {
    constexpr std::size_t kProbeBytes = 64 * 1024;
    std::vector<guint8> head(kProbeBytes);
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return true;
    const std::size_t got = std::fread(head.data(), 1, head.size(), file);
    std::fclose(file);
    if (got == 0)
        return false;
    GstTypeFindProbability probability = GST_TYPE_FIND_NONE;
    GstCaps* found = gst_type_find_helper_for_data(nullptr, head.data(), got, &probability);
    if (!found)
        return false;
    GstPad* pad = gst_element_get_static_pad(demuxer, "sink");
    GstCaps* accepted = pad ? gst_pad_query_caps(pad, nullptr) : nullptr;
    const bool fits = accepted && gst_caps_can_intersect(found, accepted);
    if (accepted)
        gst_caps_unref(accepted);
    if (pad)
        gst_object_unref(pad);
    gst_caps_unref(found);
    return fits;
}

// autoaudiosink settles for a fake sink of its own when no device opens.
inline bool autoSinkIsSilent(GstElement* sink) {
    if (!GST_IS_BIN(sink))
        return false;
    bool silent = false;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(sink));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* child = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(child);
        const gchar* name = factory ? GST_OBJECT_NAME(factory) : "";
        if (g_str_has_prefix(name, "fake"))
            silent = true;
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return silent;
}

// One attempt at building the pipeline: its own bin holding the source, the
// demuxer or decodebin and the output chains, so that a failed attempt leaves
// nothing behind that could fail the next one.
struct Player::Attempt {
    Player* owner = nullptr;
    std::string kind; // "decodebin" or the demuxer's name
    bool automatic = false;
    GstElement* bin = nullptr; // our own reference
    GstElement* source = nullptr;
    GstElement* splitter = nullptr; // decodebin or the named demuxer

    // Below: written on streaming threads while prerolling, under owner->m_mutex.
    int streams = 0;         // the streams the demuxer or decodebin offered
    int pendingDecoders = 0; // decodebins that have not announced all their pads
    bool splitterDone = false;
    GstElement* videoSink = nullptr;
    GstElement* audioSink = nullptr;
    GstElement* volume = nullptr;
    GstElement* panorama = nullptr;
    bool silentAudio = false;

    ~Attempt() {
        if (bin)
            gst_object_unref(bin);
    }
};

struct Player::Callbacks {
    // Runs on whichever thread posts: it only filters, so nothing piles up on
    // a bus that nobody reads while the preview is paused.
    static GstBusSyncReply busSync(GstBus*, GstMessage* message, gpointer self) {
        auto* player = static_cast<Player*>(self);
        const auto type = GST_MESSAGE_TYPE(message);
        if (type == GST_MESSAGE_ERROR || type == GST_MESSAGE_EOS ||
            (type == GST_MESSAGE_ASYNC_DONE && player->m_passAsyncDone) ||
            (type == GST_MESSAGE_ELEMENT && gst_is_missing_plugin_message(message)))
            return GST_BUS_PASS;
        // A dropped message is ours to release; it holds its source element.
        gst_message_unref(message);
        return GST_BUS_DROP;
    }

    static void padAdded(GstElement* element, GstPad* pad, gpointer data) {
        auto* attempt = static_cast<Attempt*>(data);
        if (!attempt->automatic && element == attempt->splitter)
            attempt->owner->onDemuxedPad(*attempt, pad);
        else
            attempt->owner->onDecodedPad(*attempt, pad);
    }

    static void noMorePads(GstElement* element, gpointer data) {
        auto* attempt = static_cast<Attempt*>(data);
        attempt->owner->noteNoMorePads(*attempt, element);
    }

    static GstFlowReturn newSample(GstAppSink* sink, gpointer self) {
        static_cast<Player*>(self)->takeSample(gst_app_sink_pull_sample(sink));
        return GST_FLOW_OK;
    }

    static GstFlowReturn newPreroll(GstAppSink* sink, gpointer self) {
        static_cast<Player*>(self)->takeSample(gst_app_sink_pull_preroll(sink));
        return GST_FLOW_OK;
    }
};

} // namespace plexavo::player
