// The pipeline's states and its bus: errors, the end of playback.
#include "engine/player/PlayerInternal.h"

namespace plexavo::player {

namespace {
// How long a stop waits for the pause before it goes back to the start.
constexpr std::chrono::milliseconds kStopSettleTime{500};
} // namespace

// ---------------------------------------------------------------------------
// Transport

bool GstPlayer::setPipelineState(int state) {
    if (!m_pipeline || !m_attempt)
        return false;
    if (gst_element_set_state(m_pipeline, static_cast<GstState>(state)) != GST_STATE_CHANGE_FAILURE)
        return true;
    GstBus* bus = gst_element_get_bus(m_pipeline);
    if (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        noteError(message);
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    return false;
}

bool GstPlayer::play() {
    if (!setPipelineState(GST_STATE_PLAYING))
        return false;
    m_state = State::Playing;
    return true;
}

bool GstPlayer::pause() {
    if (!setPipelineState(GST_STATE_PAUSED))
        return false;
    m_state = State::Paused;
    return true;
}

bool GstPlayer::stop() {
    if (!setPipelineState(GST_STATE_PAUSED))
        return false;
    m_state = State::Stopped;
    // A seek into a pipeline still on its way to paused may be lost.
    waitUntilSettled(kStopSettleTime);
    if (!seek(ClockTime::zero()))
        m_errorDetails = "the rewind to the start failed";
    return true;
}

bool GstPlayer::waitUntilSettled(std::chrono::milliseconds timeout) {
    if (!m_pipeline || !m_attempt)
        return false;
    GstState current = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    const GstClockTime wait =
        static_cast<GstClockTime>(std::max<std::int64_t>(0, timeout.count())) * GST_MSECOND;
    const GstStateChangeReturn ret = gst_element_get_state(m_pipeline, &current, &pending, wait);
    return ret == GST_STATE_CHANGE_SUCCESS || ret == GST_STATE_CHANGE_NO_PREROLL;
}

Player::Ending GstPlayer::waitForEnd(std::chrono::milliseconds timeout) {
    if (!m_pipeline)
        return Ending::None;
    GstBus* bus = gst_element_get_bus(m_pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, static_cast<GstClockTime>(std::max<std::int64_t>(0, timeout.count())) * GST_MSECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    gst_object_unref(bus);
    if (!message)
        return Ending::None;
    Ending ending = Ending::EndOfStream;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        noteError(message);
        ending = Ending::Error;
    }
    gst_message_unref(message);
    return ending;
}

// ---------------------------------------------------------------------------
// Errors

void GstPlayer::noteError(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    m_errorDetails = errorText(error, debug);
    m_errorText = error && error->message ? error->message : "";
    if (error)
        g_error_free(error);
    g_free(debug);
}

void GstPlayer::noteMissingPart(GstMessage* message) {
    // The decoders post this before their error, which says only that "a
    // plug-in" is missing; the description names it.
    if (!gst_is_missing_plugin_message(message))
        return;
    gchar* description = gst_missing_plugin_message_get_description(message);
    if (description && *description &&
        std::find(m_missingParts.begin(), m_missingParts.end(), description) ==
            m_missingParts.end())
        m_missingParts.emplace_back(description);
    g_free(description);
}

std::string GstPlayer::errorMessage() const {
    if (m_missingParts.empty())
        return m_errorText;
    std::string text = m_errorText.empty() ? "" : m_errorText + " ";
    text += "Missing: ";
    for (std::size_t i = 0; i < m_missingParts.size(); ++i)
        text += (i ? ", " : "") + m_missingParts[i];
    // What every file needs is in the package's Depends; the rest of the
    // formats it lists play with the plugin set it recommends.
    text += m_missingParts.size() == 1 ? ". Installing gstreamer1.0-plugins-bad may add it."
                                       : ". Installing gstreamer1.0-plugins-bad may add them.";
    return text;
}

} // namespace plexavo::player
