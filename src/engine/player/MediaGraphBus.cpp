// The pipeline's states and its bus: errors, the end of playback.
#include "engine/player/MediaGraphInternal.h"

#include <atomic>

namespace plexavo::platform {

// ---------------------------------------------------------------------------
// Transport

HResult MediaGraph::setGstState(int state) {
    if (!m_pipeline)
        return hr::kPointer;
    if (m_attempts.empty())
        return hr::kWrongState;
    const GstStateChangeReturn ret =
        gst_element_set_state(m_pipeline, static_cast<GstState>(state));
    if (ret == GST_STATE_CHANGE_FAILURE) {
        GstBus* bus = gst_element_get_bus(m_pipeline);
        if (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
            noteError(message);
            gst_message_unref(message);
        }
        gst_object_unref(bus);
        return hr::kFail;
    }
    return ret == GST_STATE_CHANGE_ASYNC ? hr::kFalse : hr::kOk;
}

HResult MediaGraph::run() {
    const HResult result = setGstState(GST_STATE_PLAYING);
    if (result >= 0)
        m_state = State::Running;
    return result;
}

HResult MediaGraph::pause() {
    const HResult result = setGstState(GST_STATE_PAUSED);
    if (result >= 0)
        m_state = State::Paused;
    return result;
}

HResult MediaGraph::stop() {
    const HResult result = setGstState(GST_STATE_PAUSED);
    if (result >= 0)
        m_state = State::Stopped;
    return result;
}

HResult MediaGraph::stopWhenReady() {
    const HResult result = setGstState(GST_STATE_PAUSED);
    if (result >= 0)
        m_state = State::Stopped;
    return result;
}

HResult MediaGraph::getState(int timeoutMs, State& state) {
    state = m_state;
    if (!m_pipeline)
        return hr::kPointer;
    if (m_attempts.empty())
        return hr::kOk;
    GstState current = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    const GstStateChangeReturn ret =
        gst_element_get_state(m_pipeline, &current, &pending,
                              static_cast<GstClockTime>(std::max(0, timeoutMs)) * GST_MSECOND);
    if (ret == GST_STATE_CHANGE_FAILURE)
        return hr::kFail;
    return ret == GST_STATE_CHANGE_ASYNC ? hr::kStateIntermediate : hr::kOk;
}

HResult MediaGraph::waitForCompletion(int timeoutMs, long& eventCode) {
    eventCode = 0;
    if (!m_pipeline)
        return hr::kPointer;
    GstBus* bus = gst_element_get_bus(m_pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, static_cast<GstClockTime>(std::max(0, timeoutMs)) * GST_MSECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    gst_object_unref(bus);
    if (!message)
        return hr::kAbort;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        noteError(message);
        eventCode = kEventErrorAbort;
    } else {
        eventCode = kEventComplete;
    }
    gst_message_unref(message);
    return hr::kOk;
}

HResult MediaGraph::noteError(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    m_lastError = errorText(error, debug);
    m_errorMessage = error && error->message ? error->message : "";
    const HResult result = resultOfError(error);
    if (error)
        g_error_free(error);
    g_free(debug);
    return result;
}

std::string MediaGraph::lastErrorText() const {
    return m_lastError;
}

void MediaGraph::noteMissingPart(GstMessage* message) {
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

std::vector<std::string> MediaGraph::missingParts() const {
    return m_missingParts;
}

std::string MediaGraph::lastErrorMessage() const {
    if (m_missingParts.empty())
        return m_errorMessage;
    std::string text = m_errorMessage.empty() ? "" : m_errorMessage + " ";
    text += "Missing: ";
    for (std::size_t i = 0; i < m_missingParts.size(); ++i)
        text += (i ? ", " : "") + m_missingParts[i];
    // What every file needs is in the package's Depends; the rest of the
    // formats it lists play with the plugin set it recommends.
    text += m_missingParts.size() == 1 ? ". Installing gstreamer1.0-plugins-bad may add it."
                                       : ". Installing gstreamer1.0-plugins-bad may add them.";
    return text;
}

} // namespace plexavo::platform
