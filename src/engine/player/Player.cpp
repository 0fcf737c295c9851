// The player's pipeline and how it is built: one attempt at a time, each in
// a bin of its own, prerolled until the first frame is ready.
#include "engine/player/GstRuntime.h"
#include "engine/player/PlayerInternal.h"

namespace plexavo::player {

std::unique_ptr<GstPlayer> GstPlayer::create(AudioOutput output, std::string* error) {
    if (!gst::initialize(error))
        return nullptr;
    std::unique_ptr<GstPlayer> made(new GstPlayer(output));
    made->m_pipeline = gst_pipeline_new("preview");
    if (!made->m_pipeline) {
        if (error)
            *error = "GStreamer could not make a pipeline";
        return nullptr;
    }
    gst_object_ref_sink(made->m_pipeline);
    GstBus* bus = gst_element_get_bus(made->m_pipeline);
    gst_bus_set_sync_handler(bus, &Callbacks::busSync, made.get(), nullptr);
    gst_object_unref(bus);
    return made;
}

GstPlayer::~GstPlayer() {
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
    m_attempt.reset();
    gst_object_unref(m_pipeline);
    m_pipeline = nullptr;
}

// ---------------------------------------------------------------------------
// Building

std::string GstPlayer::openedWith() const {
    std::lock_guard lock(m_mutex);
    return m_attempt ? m_attempt->kind : std::string();
}

void GstPlayer::clear() {
    if (!m_attempt)
        return;
    gst_element_set_state(m_attempt->bin, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(m_pipeline), m_attempt->bin);
    {
        std::lock_guard lock(m_frameMutex);
        m_haveFrame = false;
    }
    std::unique_ptr<Attempt> gone;
    {
        std::lock_guard lock(m_mutex);
        gone = std::move(m_attempt);
    }
    m_state = State::Stopped;
}

// Puts the source and the splitter into a new bin in the empty pipeline.
// Takes the two elements in either case.
GstPlayer::Attempt* GstPlayer::startAttempt(std::string kind, GstElement* source,
                                            GstElement* splitter) {
    GstElement* bin = gst_bin_new(nullptr);
    if (!bin) {
        discard({source, splitter});
        return nullptr;
    }
    auto attempt = std::make_unique<Attempt>();
    attempt->owner = this;
    attempt->automatic = kind == "decodebin";
    attempt->pendingDecoders = attempt->automatic ? 1 : 0;
    attempt->kind = std::move(kind);
    attempt->bin = GST_ELEMENT(gst_object_ref_sink(bin));
    attempt->source = source;
    attempt->splitter = splitter;
    gst_bin_add_many(GST_BIN(bin), source, splitter, nullptr);
    if (!gst_element_link(source, splitter)) {
        m_errorDetails = "the element " + attempt->kind + " does not read files";
        return nullptr;
    }
    g_signal_connect(splitter, "pad-added", G_CALLBACK(&Callbacks::padAdded), attempt.get());
    g_signal_connect(splitter, "no-more-pads", G_CALLBACK(&Callbacks::noMorePads), attempt.get());
    {
        std::lock_guard lock(m_mutex);
        m_attempt = std::move(attempt);
    }
    gst_bin_add(GST_BIN(m_pipeline), m_attempt->bin);
    return m_attempt.get();
}

bool GstPlayer::buildAutomatic(const std::string& path) {
    if (!m_pipeline)
        return false;
    clear();
    GstElement* source = make("filesrc");
    GstElement* decoder = make("decodebin");
    if (!source || !decoder) {
        discard({source, decoder});
        m_errorDetails = "the elements filesrc and decodebin are not installed";
        return false;
    }
    g_object_set(source, "location", path.c_str(), nullptr);
    Attempt* attempt = startAttempt("decodebin", source, decoder);
    if (attempt && preroll(*attempt))
        return true;
    clear(); // a half-built pipeline would fail every later attempt
    return false;
}

bool GstPlayer::buildWithDemuxer(const std::string& path, const std::string& demuxer) {
    if (!m_pipeline)
        return false;
    clear();
    GstElement* splitter = make(demuxer.c_str());
    GstElement* source = make("filesrc");
    if (!splitter || !source) {
        discard({splitter, source});
        m_errorDetails = "the elements " + demuxer + " and filesrc are not both installed";
        return false;
    }
    g_object_set(source, "location", path.c_str(), nullptr);
    // Some demuxers given a file of another kind read to its end without a
    // word: the file's first bytes are checked before it plays.
    if (!fileFitsDemuxer(path, splitter)) {
        discard({splitter, source});
        m_errorDetails = "the file is not of the kind " + demuxer + " reads";
        return false;
    }
    Attempt* attempt = startAttempt(demuxer, source, splitter);
    bool playing = attempt && preroll(*attempt);
    if (playing) {
        std::lock_guard lock(m_mutex);
        playing = attempt->streams > 0;
    }
    if (!playing)
        clear();
    return playing;
}

void GstPlayer::noteNoMorePads(Attempt& attempt, GstElement* element) {
    std::lock_guard lock(m_mutex);
    if (!attempt.automatic && element == attempt.splitter)
        attempt.splitterDone = true;
    else if (attempt.pendingDecoders > 0)
        --attempt.pendingDecoders;
}

// Pauses the pipeline and waits until every stream the attempt found has
// its first data at a sink (the first frame ready), or it has failed.
bool GstPlayer::preroll(Attempt& attempt) {
    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_flushing(bus, TRUE); // stale messages of earlier attempts
    gst_bus_set_flushing(bus, FALSE);
    m_errorDetails.clear();
    m_passAsyncDone = true;

    bool failed = gst_element_set_state(m_pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE;
    Preroll progress = Preroll::Waiting;
    bool asyncDone = false;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kPrerollTimeoutMs);
    while (progress == Preroll::Waiting) {
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, failed ? 0 : kPrerollPollNs,
            static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS |
                                        GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ELEMENT));
        if (message) {
            const auto type = GST_MESSAGE_TYPE(message);
            if (type == GST_MESSAGE_ERROR) {
                noteError(message);
                failed = true;
            } else if (type == GST_MESSAGE_ELEMENT) {
                noteMissingPart(message);
            } else if (type == GST_MESSAGE_ASYNC_DONE &&
                       GST_MESSAGE_SRC(message) == GST_OBJECT(m_pipeline)) {
                asyncDone = true;
            }
            gst_message_unref(message);
        }
        progress = failed ? Preroll::Failed : prerollProgress(attempt, asyncDone);
        if (progress == Preroll::Waiting && std::chrono::steady_clock::now() >= deadline) {
            m_errorDetails = "the file did not start within the time allowed";
            progress = Preroll::Failed;
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
    if (progress != Preroll::Ready)
        return false;
    m_state = State::Stopped;
    applyAudioSettings();
    return true;
}

// Ready when every sink has its first data; failed when every stream has
// been announced and none of them is sound or picture.
GstPlayer::Preroll GstPlayer::prerollProgress(Attempt& attempt, bool asyncDone) {
    std::lock_guard lock(m_mutex);
    const bool allPads =
        (attempt.automatic || attempt.splitterDone) && attempt.pendingDecoders == 0;
    const bool anyChain = attempt.videoSink || attempt.audioSink;
    if (allPads && !anyChain) {
        m_errorDetails = "no audio or video stream could be decoded";
        return Preroll::Failed;
    }
    if (!(allPads || asyncDone) || !anyChain)
        return Preroll::Waiting;
    for (GstElement* sink : {attempt.videoSink, attempt.audioSink}) {
        GstState current = GST_STATE_VOID_PENDING;
        GstState pending = GST_STATE_VOID_PENDING;
        if (sink &&
            (gst_element_get_state(sink, &current, &pending, 0) != GST_STATE_CHANGE_SUCCESS ||
             current < GST_STATE_PAUSED))
            return Preroll::Waiting;
    }
    return Preroll::Ready;
}

void GstPlayer::onDemuxedPad(Attempt& attempt, void* padPtr) {
    auto* pad = static_cast<GstPad*>(padPtr);
    // Each stream gets its own queue so one sink waiting for its first data
    // never holds up the demuxer's other streams.
    GstElement* queue = make("queue");
    GstElement* decoder = make("decodebin");
    std::lock_guard lock(m_mutex);
    ++attempt.streams;
    if (!queue || !decoder) {
        discard({queue, decoder});
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

void GstPlayer::onDecodedPad(Attempt& attempt, void* padPtr) {
    auto* pad = static_cast<GstPad*>(padPtr);
    std::lock_guard lock(m_mutex);
    if (attempt.automatic)
        ++attempt.streams;
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
    if (std::find(chain.begin(), chain.end(), nullptr) != chain.end()) {
        discard(chain);
        return false;
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

void GstPlayer::linkVideo(Attempt& attempt, void* padPtr) {
    auto* pad = static_cast<GstPad*>(padPtr);
    // Scale before converting: the colour conversion then runs on the small
    // picture, not on every pixel of a 1080p frame.
    GstElement* queue = make("queue");
    GstElement* scale = make("videoscale");
    GstElement* convert = make("videoconvert");
    GstElement* sink = make("appsink");
    if (!queue || !scale || !convert || !sink) {
        discard({queue, scale, convert, sink});
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

void GstPlayer::linkAudio(Attempt& attempt, void* padPtr) {
    auto* pad = static_cast<GstPad*>(padPtr);
    GstElement* sink = nullptr;
    // Probing every sound output takes a while; a machine that had none for
    // the last preview is not asked again during this run.
    static std::atomic<bool> noSoundDevice{false};
    bool silent = m_audioOutput == AudioOutput::Silent || noSoundDevice;
    if (!silent) {
        sink = make("autoaudiosink");
        // A desktop without a sound device must still play the picture.
        if (sink && gst_element_set_state(sink, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
            gst_element_set_state(sink, GST_STATE_NULL);
            discard({sink});
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

void GstPlayer::linkDiscard(Attempt& attempt, void* padPtr) {
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

// ---------------------------------------------------------------------------
// Positions

bool GstPlayer::seek(ClockTime position) {
    if (!m_attempt)
        return false;
    // Accurate: a key-unit seek can land seconds early on sparse key frames,
    // and the part the user marks is taken from where the picture shows.
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    return gst_element_seek_simple(m_pipeline, GST_FORMAT_TIME, flags,
                                   std::max<gint64>(0, position.count()));
}

std::optional<ClockTime> GstPlayer::position() const {
    gint64 value = 0;
    if (!m_attempt || !gst_element_query_position(m_pipeline, GST_FORMAT_TIME, &value) || value < 0)
        return std::nullopt;
    return ClockTime(value);
}

std::optional<ClockTime> GstPlayer::duration() const {
    gint64 value = 0;
    if (!m_attempt || !gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &value) || value < 0)
        return std::nullopt;
    return ClockTime(value);
}

// ---------------------------------------------------------------------------
// Sound

void GstPlayer::applyAudioSettings() {
    std::lock_guard lock(m_mutex);
    if (!m_attempt)
        return;
    if (m_attempt->volume)
        g_object_set(m_attempt->volume, "volume", m_volume, nullptr);
    if (m_attempt->panorama)
        g_object_set(m_attempt->panorama, "panorama", static_cast<gfloat>(m_balance), nullptr);
}

bool GstPlayer::setVolume(double gain) {
    if (!(gain >= 0.0 && gain <= 1.0))
        return false;
    m_volume = gain;
    applyAudioSettings();
    return true;
}

bool GstPlayer::setBalance(double panorama) {
    if (!(panorama >= -1.0 && panorama <= 1.0))
        return false;
    m_balance = panorama;
    applyAudioSettings();
    return true;
}

bool GstPlayer::audioLevels(double& gain, double& panorama) const {
    std::lock_guard lock(m_mutex);
    if (!m_attempt || !m_attempt->volume || !m_attempt->panorama)
        return false;
    gdouble volume = 0;
    gfloat pan = 0;
    g_object_get(m_attempt->volume, "volume", &volume, nullptr);
    g_object_get(m_attempt->panorama, "panorama", &pan, nullptr);
    gain = volume;
    panorama = pan;
    return true;
}

} // namespace plexavo::player
