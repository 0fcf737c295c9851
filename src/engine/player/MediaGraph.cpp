#include "engine/player/MediaGraphInternal.h"

#include <atomic>

namespace plexavo::platform {

namespace {
std::atomic<int> g_defaultAudio{-1};
} // namespace

bool initializeMediaFramework(std::string* error) {
    static std::once_flag once;
    static bool ok = false;
    static std::string failure;
    std::call_once(once, [] {
        GError* err = nullptr;
        ok = gst_init_check(nullptr, nullptr, &err);
        if (!ok)
            failure = errorText(err, nullptr);
        else
            gst_pb_utils_init(); // the names of missing parts

        if (err)
            g_error_free(err);
    });
    if (!ok && error)
        *error = failure;
    return ok;
}

// ---------------------------------------------------------------------------

void MediaGraph::setDefaultAudioOutput(AudioOutput output) {
    g_defaultAudio = static_cast<int>(output);
}

MediaGraph::AudioOutput MediaGraph::defaultAudioOutput() {
    int value = g_defaultAudio.load();
    if (value < 0) {
        const char* env = std::getenv("PLEXAVO_AUDIO_SINK");
        value = static_cast<int>(env && std::strcmp(env, "fake") == 0 ? AudioOutput::Fake
                                                                      : AudioOutput::Automatic);
        int expected = -1;
        g_defaultAudio.compare_exchange_strong(expected, value);
        value = g_defaultAudio.load();
    }
    return static_cast<AudioOutput>(value);
}

MediaGraph::MediaGraph() : m_audioOutput(defaultAudioOutput()) {}

HResult MediaGraph::create(std::unique_ptr<MediaGraph>& graph) {
    graph.reset();
    std::string failure;
    if (!initializeMediaFramework(&failure))
        return hr::kFail;
    std::unique_ptr<MediaGraph> made(new MediaGraph());
    made->m_pipeline = gst_pipeline_new("preview");
    if (!made->m_pipeline)
        return hr::kUnexpected;
    gst_object_ref_sink(made->m_pipeline);
    GstBus* bus = gst_element_get_bus(made->m_pipeline);
    gst_bus_set_sync_handler(bus, &Callbacks::busSync, made.get(), nullptr);
    gst_object_unref(bus);
    graph = std::move(made);
    return hr::kOk;
}

MediaGraph::~MediaGraph() {
    {
        std::lock_guard lock(m_frameMutex);
        m_frameListener = nullptr;
    }
    if (!m_pipeline)
        return;
    // NULL joins every streaming thread and closes the file before we return.
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_bus_set_flushing(bus, TRUE);
    gst_object_unref(bus);
    m_attempts.clear();
    gst_object_unref(m_pipeline);
    m_pipeline = nullptr;
}

// ---------------------------------------------------------------------------
// Building

MediaGraph::Attempt* MediaGraph::findAttempt(const std::string& name) {
    for (auto& attempt : m_attempts)
        if (attempt->name == name)
            return attempt.get();
    return nullptr;
}

void MediaGraph::dropAttempt(Attempt& attempt) {
    gst_element_set_state(attempt.bin, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(m_pipeline), attempt.bin);
    {
        std::lock_guard lock(m_frameMutex);
        m_haveFrame = false;
    }
    std::lock_guard lock(m_mutex);
    m_attempts.erase(std::remove_if(m_attempts.begin(), m_attempts.end(),
                                    [&](const auto& a) { return a.get() == &attempt; }),
                     m_attempts.end());
}

HResult MediaGraph::renderFile(const std::string& path) {
    if (!m_pipeline)
        return hr::kPointer;
    auto attempt = std::make_unique<Attempt>();
    attempt->owner = this;
    attempt->automatic = true;
    const auto slash = path.find_last_of('/');
    attempt->name = slash == std::string::npos ? path : path.substr(slash + 1);
    attempt->bin = gst_bin_new(nullptr);
    attempt->source = make("filesrc");
    attempt->splitter = make("decodebin");
    if (!attempt->bin || !attempt->source || !attempt->splitter) {
        for (GstElement* e : {attempt->bin, attempt->source, attempt->splitter})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        attempt->bin = nullptr;
        m_lastError = "the elements filesrc and decodebin are not installed";
        return hr::kUnexpected;
    }
    gst_object_ref_sink(attempt->bin);
    g_object_set(attempt->source, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(attempt->bin), attempt->source, attempt->splitter, nullptr);
    gst_element_link(attempt->source, attempt->splitter);
    attempt->pendingDecoders = 1;
    g_signal_connect(attempt->splitter, "pad-added", G_CALLBACK(&Callbacks::padAdded),
                     attempt.get());
    g_signal_connect(attempt->splitter, "no-more-pads", G_CALLBACK(&Callbacks::noMorePads),
                     attempt.get());

    Attempt& ref = *attempt;
    {
        std::lock_guard lock(m_mutex);
        m_attempts.push_back(std::move(attempt));
    }
    gst_bin_add(GST_BIN(m_pipeline), ref.bin);
    int outputs = 0;
    const HResult result = preroll(ref, outputs);
    if (result < 0)
        dropAttempt(ref); // a half-built render would fail every later attempt
    return result;
}

HResult MediaGraph::addSourceFilter(const std::string& name, const std::string& kind) {
    if (!m_pipeline)
        return hr::kPointer;
    GstElement* demuxer = make(kind.c_str());
    if (!demuxer) {
        m_lastError = "the element " + kind + " is not installed";
        return hr::kUnexpected;
    }
    GstElement* source = make("filesrc");
    GstElement* bin = gst_bin_new(nullptr);
    if (!source || !bin) {
        for (GstElement* e : {demuxer, source, bin})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return hr::kUnexpected;
    }
    auto attempt = std::make_unique<Attempt>();
    attempt->owner = this;
    attempt->name = name;
    attempt->bin = GST_ELEMENT(gst_object_ref_sink(bin));
    attempt->source = source;
    attempt->splitter = demuxer;
    gst_bin_add_many(GST_BIN(bin), source, demuxer, nullptr);
    if (!gst_element_link(source, demuxer)) {
        m_lastError = "the element " + kind + " does not read files";
        return hr::kUnexpected;
    }
    g_signal_connect(demuxer, "pad-added", G_CALLBACK(&Callbacks::padAdded), attempt.get());
    g_signal_connect(demuxer, "no-more-pads", G_CALLBACK(&Callbacks::noMorePads), attempt.get());
    Attempt& ref = *attempt;
    {
        std::lock_guard lock(m_mutex);
        m_attempts.push_back(std::move(attempt));
    }
    gst_bin_add(GST_BIN(m_pipeline), ref.bin);
    return hr::kOk;
}

HResult MediaGraph::loadSource(const std::string& name, const std::string& path) {
    Attempt* attempt = findAttempt(name);
    if (!attempt)
        return hr::kInvalidArg;
    g_object_set(attempt->source, "location", path.c_str(), nullptr);
    // Like a source that checks the file as it loads it: some demuxers given
    // a file of another kind read to its end without a word.
    if (!fileFitsDemuxer(path, attempt->splitter)) {
        attempt->wrongType = true;
        m_lastError = "the file is not of the kind this source reads";
        return hr::kInvalidFileFormat;
    }
    return hr::kOk;
}

HResult MediaGraph::renderSourceOutputs(const std::string& name, int& outputs) {
    outputs = 0;
    Attempt* attempt = findAttempt(name);
    if (!attempt)
        return hr::kInvalidArg;
    if (attempt->wrongType)
        return hr::kInvalidFileFormat;
    return preroll(*attempt, outputs);
}

HResult MediaGraph::removeFilter(const std::string& name) {
    Attempt* attempt = findAttempt(name);
    if (!attempt)
        return hr::kInvalidArg;
    dropAttempt(*attempt);
    return hr::kOk;
}

HResult MediaGraph::enumFilters(std::vector<std::string>& names) {
    names.clear();
    if (!m_pipeline)
        return hr::kPointer;
    std::lock_guard lock(m_mutex);
    for (const auto& attempt : m_attempts)
        names.push_back(attempt->name);
    return hr::kOk;
}

void MediaGraph::noteNoMorePads(Attempt& attempt, GstElement* element) {
    std::lock_guard lock(m_mutex);
    if (!attempt.automatic && element == attempt.splitter)
        attempt.splitterDone = true;
    else if (attempt.pendingDecoders > 0)
        --attempt.pendingDecoders;
}

// Pauses the pipeline and waits until every stream the attempt found has
// its first data at a sink (the first frame ready), or it has failed.
HResult MediaGraph::preroll(Attempt& attempt, int& outputs) {
    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_flushing(bus, TRUE); // stale messages of earlier attempts
    gst_bus_set_flushing(bus, FALSE);
    m_lastError.clear();
    m_passAsyncDone = true;

    HResult result = hr::kOk;
    bool asyncDone = false;
    if (gst_element_set_state(m_pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        result = hr::kFail;

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kPrerollTimeoutMs);
    while (true) {
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, result < 0 ? 0 : kPrerollPollNs,
            static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS |
                                        GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ELEMENT));
        if (message) {
            const auto type = GST_MESSAGE_TYPE(message);
            if (type == GST_MESSAGE_ERROR) {
                result = noteError(message);
            } else if (type == GST_MESSAGE_ELEMENT) {
                noteMissingPart(message);
            } else if (type == GST_MESSAGE_ASYNC_DONE &&
                       GST_MESSAGE_SRC(message) == GST_OBJECT(m_pipeline)) {
                asyncDone = true;
            }
            gst_message_unref(message);
        }
        if (result < 0)
            break;

        bool ready = false;
        {
            std::lock_guard lock(m_mutex);
            const bool allPads =
                (attempt.automatic || attempt.splitterDone) && attempt.pendingDecoders == 0;
            const bool anyChain = attempt.videoSink || attempt.audioSink;
            if ((allPads || asyncDone) && anyChain) {
                ready = true;
                for (GstElement* sink : {attempt.videoSink, attempt.audioSink}) {
                    GstState current = GST_STATE_VOID_PENDING;
                    GstState pending = GST_STATE_VOID_PENDING;
                    if (sink && (gst_element_get_state(sink, &current, &pending, 0) !=
                                     GST_STATE_CHANGE_SUCCESS ||
                                 current < GST_STATE_PAUSED))
                        ready = false;
                }
            } else if (allPads && !anyChain) {
                // Every stream announced and none of them is sound or picture.
                result = attempt.outputs == 0 ? hr::kInvalidFileFormat : hr::kUnsupportedStream;
                if (m_lastError.empty())
                    m_lastError = "no audio or video stream could be decoded";
            }
        }
        if (ready || result < 0)
            break;
        if (std::chrono::steady_clock::now() >= deadline) {
            result = hr::kTimeout;
            m_lastError = "the file did not start within the time allowed";
            break;
        }
    }
    m_passAsyncDone = false;
    // A failure ends the wait at its error; what was missing may be queued
    // behind it.
    while (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ELEMENT)) {
        noteMissingPart(message);
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    {
        std::lock_guard lock(m_mutex);
        outputs = attempt.outputs;
    }
    if (result >= 0) {
        m_state = State::Stopped;
        applyAudioSettings();
    }
    return result;
}

void MediaGraph::onDemuxedPad(Attempt& attempt, void* padPtr) {
    auto* pad = static_cast<GstPad*>(padPtr);
    // Each stream gets its own queue so one sink waiting for its first data
    // never holds up the demuxer's other streams.
    GstElement* queue = make("queue");
    GstElement* decoder = make("decodebin");
    std::lock_guard lock(m_mutex);
    ++attempt.outputs;
    if (!queue || !decoder) {
        for (GstElement* e : {queue, decoder})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return;
    }
    ++attempt.pendingDecoders;
    g_signal_connect(decoder, "pad-added", G_CALLBACK(&Callbacks::padAdded), &attempt);
    g_signal_connect(decoder, "no-more-pads", G_CALLBACK(&Callbacks::noMorePads), &attempt);
    gst_bin_add_many(GST_BIN(attempt.bin), queue, decoder, nullptr);
    gst_element_link(queue, decoder);
    gst_element_sync_state_with_parent(decoder);
    gst_element_sync_state_with_parent(queue);
    GstPad* sinkPad = gst_element_get_static_pad(queue, "sink");
    gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
}

void MediaGraph::onDecodedPad(Attempt& attempt, void* padPtr) {
    auto* pad = static_cast<GstPad*>(padPtr);
    std::lock_guard lock(m_mutex);
    if (attempt.automatic)
        ++attempt.outputs;
    if (!attempt.videoSink && capsStartWith(pad, "video/x-raw"))
        linkVideo(attempt, pad);
    else if (!attempt.audioSink && capsStartWith(pad, "audio/x-raw"))
        linkAudio(attempt, pad);
    else
        linkDiscard(attempt, pad);
}

namespace {

// Adds the chain to the bin, starts it and links the pad to its head.
bool addChain(GstElement* bin, GstPad* pad, std::initializer_list<GstElement*> chain) {
    for (GstElement* e : chain) {
        if (!e) {
            for (GstElement* other : chain)
                if (other)
                    gst_object_unref(gst_object_ref_sink(other));
            return false;
        }
    }
    GstElement* previous = nullptr;
    for (GstElement* e : chain) {
        gst_bin_add(GST_BIN(bin), e);
        if (previous && !gst_element_link(previous, e))
            return false;
        previous = e;
    }
    // Start from the sink so no element pushes into one that is not ready.
    std::vector<GstElement*> reversed(chain.begin(), chain.end());
    std::reverse(reversed.begin(), reversed.end());
    for (GstElement* e : reversed)
        gst_element_sync_state_with_parent(e);
    GstPad* head = gst_element_get_static_pad(*chain.begin(), "sink");
    const bool linked = gst_pad_link(pad, head) == GST_PAD_LINK_OK;
    gst_object_unref(head);
    return linked;
}

} // namespace

void MediaGraph::linkVideo(Attempt& attempt, void* padPtr) {
    auto* pad = static_cast<GstPad*>(padPtr);
    // Scale before converting: the colour conversion then runs on the small
    // picture, not on every pixel of a 1080p frame.
    GstElement* queue = make("queue");
    GstElement* scale = make("videoscale");
    GstElement* convert = make("videoconvert");
    GstElement* sink = make("appsink");
    if (!queue || !scale || !convert || !sink) {
        for (GstElement* e : {queue, scale, convert, sink})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        linkDiscard(attempt, pad);
        return;
    }
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr);
    if (m_videoWidth > 0 && m_videoHeight > 0)
        gst_caps_set_simple(caps, "width", G_TYPE_INT, m_videoWidth, "height", G_TYPE_INT,
                            m_videoHeight, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    // Late frames are dropped (and reported upstream, so the decoder skips
    // ahead) instead of letting the picture fall behind the sound.
    g_object_set(sink, "caps", caps, "sync", TRUE, "qos", TRUE, "max-lateness",
                 static_cast<gint64>(20 * GST_MSECOND), "max-buffers", 2u, "drop", TRUE,
                 "enable-last-sample", FALSE, "emit-signals", FALSE, nullptr);
    gst_caps_unref(caps);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_preroll = &Callbacks::newPreroll;
    callbacks.new_sample = &Callbacks::newSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    if (addChain(attempt.bin, pad, {queue, scale, convert, sink}))
        attempt.videoSink = sink;
}

void MediaGraph::linkAudio(Attempt& attempt, void* padPtr) {
    auto* pad = static_cast<GstPad*>(padPtr);
    GstElement* sink = nullptr;
    // Probing every sound output takes a while; a machine that had none for
    // the last preview is not asked again during this run.
    static std::atomic<bool> noSoundDevice{false};
    bool silent = m_audioOutput == AudioOutput::Fake || noSoundDevice;
    if (!silent) {
        sink = make("autoaudiosink");
        // A desktop without a sound device must still play the picture.
        if (sink && gst_element_set_state(sink, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
            gst_element_set_state(sink, GST_STATE_NULL);
            gst_object_unref(gst_object_ref_sink(sink));
            sink = nullptr;
        }
        silent = !sink || autoSinkIsSilent(sink);
        noSoundDevice = silent;
    }
    if (!sink) {
        sink = make("fakesink");
        if (sink)
            g_object_set(sink, "sync", TRUE, nullptr);
    }
    GstElement* queue = make("queue");
    GstElement* convert = make("audioconvert");
    GstElement* resample = make("audioresample");
    GstElement* panorama = make("audiopanorama");
    GstElement* volume = make("volume");
    GstElement* convertOut = make("audioconvert");
    if (panorama)
        gst_util_set_object_arg(G_OBJECT(panorama), "method", "simple");
    if (addChain(attempt.bin, pad,
                 {queue, convert, resample, panorama, volume, convertOut, sink})) {
        attempt.audioSink = sink;
        attempt.volume = volume;
        attempt.panorama = panorama;
        attempt.silentAudio = silent;
    }
}

void MediaGraph::linkDiscard(Attempt& attempt, void* padPtr) {
    // A stream we do not show (subtitles, a second track) must not hold up
    // the preroll: its sink neither waits for data nor syncs.
    GstElement* sink = make("fakesink");
    if (!sink)
        return;
    g_object_set(sink, "async", FALSE, "sync", FALSE, nullptr);
    // Nor may it speak for the playback: an unsynchronised sink reports the
    // last time it swallowed, seconds ahead, and a pipeline takes the
    // furthest position and waits for every sink's end. Not counted as a
    // sink, it leaves both to the picture and the sound we play.
    GST_OBJECT_FLAG_UNSET(sink, GST_ELEMENT_FLAG_SINK);
    addChain(attempt.bin, static_cast<GstPad*>(padPtr), {sink});
}

// On a streaming thread: copy the frame and hand a notice on, nothing more.

// ---------------------------------------------------------------------------
// Seeking

HResult MediaGraph::isFormatSupported(TimeFormat format) {
    return format == TimeFormat::Frame ? hr::kFalse : hr::kOk;
}

HResult MediaGraph::getTimeFormat(TimeFormat& format) {
    format = m_timeFormat;
    return hr::kOk;
}

HResult MediaGraph::setTimeFormat(TimeFormat format) {
    if (isFormatSupported(format) != hr::kOk)
        return hr::kInvalidArg;
    m_timeFormat = format;
    return hr::kOk;
}

HResult MediaGraph::setPositions(std::int64_t* current, Positioning currentFlags,
                                 std::int64_t* stop, Positioning stopFlags) {
    if (m_attempts.empty())
        return hr::kWrongState;
    if ((currentFlags != Positioning::None && !current) ||
        (stopFlags != Positioning::None && !stop))
        return hr::kPointer;
    std::int64_t target = current ? *current : 0;
    if (currentFlags == Positioning::Relative) {
        std::int64_t now = 0;
        if (getCurrentPosition(now) < 0)
            return hr::kFail;
        target += now;
    }
    std::int64_t end = stop ? *stop : 0;
    if (stopFlags == Positioning::Relative) {
        std::int64_t length = 0;
        if (getDuration(length) < 0)
            return hr::kFail;
        end += length;
    }
    return seekTo(target, currentFlags, end, stopFlags);
}

HResult MediaGraph::seekTo(std::int64_t current, Positioning currentFlags, std::int64_t stop,
                           Positioning stopFlags) {
    if (currentFlags == Positioning::None && stopFlags == Positioning::None)
        return hr::kOk;
    const GstSeekType curType =
        currentFlags == Positioning::None ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET;
    const GstSeekType stopType =
        stopFlags == Positioning::None ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET;
    // Accurate: a key-unit seek can land seconds early on sparse key frames,
    // and the part the user marks is taken from where the picture shows.
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    const gboolean done = gst_element_seek(
        m_pipeline, 1.0, gstFormat(m_timeFormat), flags, curType,
        toGst(m_timeFormat, std::max<std::int64_t>(0, current)), stopType,
        stopType == GST_SEEK_TYPE_NONE ? -1 : toGst(m_timeFormat, std::max<std::int64_t>(0, stop)));
    return done ? hr::kOk : hr::kFail;
}

HResult MediaGraph::getCurrentPosition(std::int64_t& position) {
    if (m_attempts.empty())
        return hr::kWrongState;
    gint64 value = 0;
    if (!gst_element_query_position(m_pipeline, gstFormat(m_timeFormat), &value) || value < 0)
        return hr::kFail;
    position = fromGst(m_timeFormat, value);
    return hr::kOk;
}

HResult MediaGraph::getDuration(std::int64_t& duration) {
    if (m_attempts.empty())
        return hr::kWrongState;
    gint64 value = 0;
    if (!gst_element_query_duration(m_pipeline, gstFormat(m_timeFormat), &value) || value < 0)
        return hr::kFail;
    duration = fromGst(m_timeFormat, value);
    return hr::kOk;
}

// ---------------------------------------------------------------------------
// Sound

double MediaGraph::volumeToGain(long volume) {
    if (volume <= -10000)
        return 0.0;
    if (volume >= 0)
        return 1.0;
    return std::pow(10.0, static_cast<double>(volume) / 2000.0);
}

double MediaGraph::balanceToPanorama(long balance) {
    // The other side is attenuated by |balance| hundredths of a decibel;
    // the "simple" panorama scales that side by (1 - |pan|).
    if (balance >= 10000)
        return 1.0;
    if (balance <= -10000)
        return -1.0;
    const double kept = std::pow(10.0, -std::abs(static_cast<double>(balance)) / 2000.0);
    return balance >= 0 ? 1.0 - kept : kept - 1.0;
}

void MediaGraph::applyAudioSettings() {
    std::lock_guard lock(m_mutex);
    for (const auto& attempt : m_attempts) {
        if (attempt->volume)
            g_object_set(attempt->volume, "volume", volumeToGain(m_volume), nullptr);
        if (attempt->panorama)
            g_object_set(attempt->panorama, "panorama",
                         static_cast<gfloat>(balanceToPanorama(m_balance)), nullptr);
    }
}

HResult MediaGraph::setVolume(long volume) {
    if (volume < -10000 || volume > 0)
        return hr::kInvalidArg;
    m_volume = volume;
    applyAudioSettings();
    return hasAudio() ? hr::kOk : hr::kNoInterface;
}

HResult MediaGraph::setBalance(long balance) {
    if (balance < -10000 || balance > 10000)
        return hr::kInvalidArg;
    m_balance = balance;
    applyAudioSettings();
    return hasAudio() ? hr::kOk : hr::kNoInterface;
}

bool MediaGraph::audioLevels(double& gain, double& panorama) const {
    std::lock_guard lock(m_mutex);
    for (const auto& attempt : m_attempts) {
        if (!attempt->volume || !attempt->panorama)
            continue;
        gdouble volume = 0;
        gfloat pan = 0;
        g_object_get(attempt->volume, "volume", &volume, nullptr);
        g_object_get(attempt->panorama, "panorama", &pan, nullptr);
        gain = volume;
        panorama = pan;
        return true;
    }
    return false;
}

} // namespace plexavo::platform
