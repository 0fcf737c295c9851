// Inside the player's module. What the three parts of the player share (the pipeline and its
// building, the bus, the frame sink): the GStreamer helpers, one attempt at building the pipeline
// and the callbacks GStreamer calls. Included by Player*.cpp only.
#pragma once

#include "engine/player/Player.h"

#include <gst/app/gstappsink.h>
#include <gst/base/gsttypefindhelper.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>

namespace plexavo::player {

// A file that has not prerolled by then will not: a damaged file, or a
// source that waits for data that never comes.
inline constexpr int kPrerollTimeoutMs = 10000;
inline constexpr GstClockTime kPrerollPollNs = 5 * GST_MSECOND;

// The player over one GStreamer pipeline: what the module's factory makes.
class GstPlayer final : public Player {
  public:
    // A player with an empty pipeline, or nullptr (and GStreamer's message)
    // when GStreamer does not start.
    static std::unique_ptr<GstPlayer> create(AudioOutput output, std::string* error);
    ~GstPlayer() override;

    void setVideoSize(int width, int height) override;
    void setFrameListener(std::function<void()> listener) override;
    bool latestFrame(VideoFrame& frame) const override;

    bool buildAutomatic(const std::string& path) override;
    bool buildWithDemuxer(const std::string& path, const std::string& demuxer) override;
    void clear() override;
    std::string openedWith() const override;

    bool play() override;
    bool pause() override;
    bool stop() override;
    State state() const override { return m_state; }
    bool waitUntilSettled(std::chrono::milliseconds timeout) override;
    Ending waitForEnd(std::chrono::milliseconds timeout) override;

    bool seek(ClockTime position) override;
    std::optional<ClockTime> position() const override;
    std::optional<ClockTime> duration() const override;

    bool setVolume(double gain) override;
    bool setBalance(double panorama) override;
    double volume() const override { return m_volume; }
    double balance() const override { return m_balance; }
    bool audioLevels(double& gain, double& panorama) const override;

    bool hasVideo() const override;
    bool hasAudio() const override;
    bool audioIsSilent() const override;
    std::uint64_t framesRendered() const override;
    std::uint64_t framesDropped() const override;

    std::string errorDetails() const override { return m_errorDetails; }
    std::string errorMessage() const override;
    std::vector<std::string> missingParts() const override { return m_missingParts; }

  private:
    struct Attempt;
    struct Callbacks; // the C callbacks GStreamer calls, with access to the player
    explicit GstPlayer(AudioOutput output) : m_audioOutput(output) {}

    enum class Preroll { Waiting, Ready, Failed };

    Attempt* startAttempt(std::string kind, GstElement* source, GstElement* splitter);
    bool preroll(Attempt& attempt);
    Preroll prerollProgress(Attempt& attempt, bool asyncDone);
    void onDecodedPad(Attempt& attempt, void* pad);
    void onDemuxedPad(Attempt& attempt, void* pad);
    void linkVideo(Attempt& attempt, void* pad);
    void linkAudio(Attempt& attempt, void* pad);
    void linkDiscard(Attempt& attempt, void* pad);
    void noteNoMorePads(Attempt& attempt, GstElement* element);
    void takeSample(void* sample);
    void noteError(GstMessage* message);
    void noteMissingPart(GstMessage* message);
    void applyAudioSettings();
    bool setPipelineState(int state);

    GstElement* m_pipeline = nullptr;
    std::unique_ptr<Attempt> m_attempt;
    State m_state = State::Stopped;
    int m_videoWidth = 0;
    int m_videoHeight = 0;
    double m_volume = 1.0;
    double m_balance = 0.0;
    AudioOutput m_audioOutput;
    std::atomic<bool> m_passAsyncDone{false};

    mutable std::mutex m_mutex; // the attempt's chains, built on streaming threads
    mutable std::mutex m_frameMutex;
    VideoFrame m_frame;
    bool m_haveFrame = false;
    std::function<void()> m_frameListener;
    std::string m_errorDetails;
    std::string m_errorText;
    std::vector<std::string> m_missingParts;
};

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
struct GstPlayer::Attempt {
    GstPlayer* owner = nullptr;
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

struct GstPlayer::Callbacks {
    // Runs on whichever thread posts: it only filters, so nothing piles up on
    // a bus that nobody reads while the preview is paused.
    static GstBusSyncReply busSync(GstBus*, GstMessage* message, gpointer self) {
        auto* player = static_cast<GstPlayer*>(self);
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
        static_cast<GstPlayer*>(self)->takeSample(gst_app_sink_pull_sample(sink));
        return GST_FLOW_OK;
    }

    static GstFlowReturn newPreroll(GstAppSink* sink, gpointer self) {
        static_cast<GstPlayer*>(self)->takeSample(gst_app_sink_pull_preroll(sink));
        return GST_FLOW_OK;
    }
};

} // namespace plexavo::player
