// The frame sink: the newest picture for the window, and the sinks' figures.
#include "engine/player/PlayerInternal.h"

namespace plexavo::player {

void GstPlayer::setVideoSize(int width, int height) {
    m_videoWidth = std::max(0, width);
    m_videoHeight = std::max(0, height);
}

void GstPlayer::setFrameListener(std::function<void()> listener) {
    std::lock_guard lock(m_frameMutex);
    m_frameListener = std::move(listener);
}

bool GstPlayer::latestFrame(VideoFrame& frame) const {
    std::lock_guard lock(m_frameMutex);
    if (!m_haveFrame)
        return false;
    frame.width = m_frame.width;
    frame.height = m_frame.height;
    frame.stride = m_frame.stride;
    frame.position = m_frame.position;
    frame.pixels.assign(m_frame.pixels.begin(), m_frame.pixels.end());
    return true;
}

void GstPlayer::takeSample(void* samplePtr) {
    auto* sample = static_cast<GstSample*>(samplePtr);
    if (!sample)
        return;
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    GstMapInfo map;
    if (!buffer || !caps || !gst_video_info_from_caps(&info, caps) ||
        !gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        gst_sample_unref(sample);
        return;
    }
    std::optional<ClockTime> position;
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
        const GstSegment* segment = gst_sample_get_segment(sample);
        const guint64 streamTime =
            segment ? gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer))
                    : GST_BUFFER_PTS(buffer);
        if (streamTime != GST_CLOCK_TIME_NONE)
            position = ClockTime(streamTime);
    }
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    const int srcStride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    const std::size_t offset = GST_VIDEO_INFO_PLANE_OFFSET(&info, 0);
    const int rowBytes = width * 4;
    std::function<void()> listener;
    {
        std::lock_guard lock(m_frameMutex);
        m_frame.width = width;
        m_frame.height = height;
        m_frame.stride = rowBytes;
        m_frame.position = position;
        m_frame.pixels.resize(static_cast<std::size_t>(rowBytes) * height);
        if (offset + static_cast<std::size_t>(srcStride) * (height - 1) + rowBytes <= map.size) {
            for (int y = 0; y < height; ++y)
                std::memcpy(m_frame.pixels.data() + static_cast<std::size_t>(y) * rowBytes,
                            map.data + offset + static_cast<std::size_t>(y) * srcStride, rowBytes);
            m_haveFrame = true;
        }
        listener = m_frameListener;
    }
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
    if (listener)
        listener();
}

// ---------------------------------------------------------------------------
// Facts

bool GstPlayer::hasVideo() const {
    std::lock_guard lock(m_mutex);
    return m_attempt && m_attempt->videoSink;
}

bool GstPlayer::hasAudio() const {
    std::lock_guard lock(m_mutex);
    return m_attempt && m_attempt->audioSink;
}

bool GstPlayer::audioIsSilent() const {
    std::lock_guard lock(m_mutex);
    return m_attempt && m_attempt->audioSink && m_attempt->silentAudio;
}

namespace {
guint64 sinkStat(GstElement* sink, const char* field) {
    if (!sink || !g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "stats"))
        return 0;
    GstStructure* stats = nullptr;
    g_object_get(sink, "stats", &stats, nullptr);
    guint64 value = 0;
    if (stats) {
        gst_structure_get_uint64(stats, field, &value);
        gst_structure_free(stats);
    }
    return value;
}
} // namespace

std::uint64_t GstPlayer::framesRendered() const {
    std::lock_guard lock(m_mutex);
    return m_attempt ? sinkStat(m_attempt->videoSink, "rendered") : 0;
}

std::uint64_t GstPlayer::framesDropped() const {
    std::lock_guard lock(m_mutex);
    return m_attempt ? sinkStat(m_attempt->videoSink, "dropped") : 0;
}

} // namespace plexavo::player
