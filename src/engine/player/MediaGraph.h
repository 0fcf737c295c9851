// The preview's player: a thin owner of one GStreamer pipeline, offering the
// few operations the preview and its graph helpers need in the units they
// count in (100-ns media time, hundredths of a decibel, 32-bit result codes).
// No Qt here: frames leave through a callback and a locked copy.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

namespace plexavo::platform {

// 32-bit result codes: 0 and positive succeed, negative fail.
using HResult = std::int32_t;

namespace hr {
constexpr HResult code(std::uint32_t value) {
    return static_cast<HResult>(value);
}
inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;
inline constexpr HResult kAbort = code(0x80004004);       // a wait ran out without an event
inline constexpr HResult kFail = code(0x80004005);        // unspecified failure
inline constexpr HResult kPointer = code(0x80004003);     // no object given
inline constexpr HResult kNoInterface = code(0x80004002); // the operation is not offered
inline constexpr HResult kUnexpected = code(0x8000FFFF);  // nothing could be built
inline constexpr HResult kInvalidArg = code(0x80070057);
inline constexpr HResult kFileNotFound = code(0x80070002);
inline constexpr HResult kInvalidFileFormat = code(0x8004022F); // no demuxer understood it
inline constexpr HResult kUnsupportedStream = code(0x80040265); // no decoder for a stream
inline constexpr HResult kWrongState = code(0x80040227);        // nothing rendered yet
inline constexpr HResult kTimeout = code(0x8004025E);           // did not preroll in time
inline constexpr HResult kStateIntermediate = code(0x00040237); // still changing state (success)
} // namespace hr

inline constexpr std::int64_t kUnitsPerSecond = 10'000'000; // media time: 100-ns units

// Event codes of waitForCompletion.
inline constexpr long kEventComplete = 1;   // the streams have ended
inline constexpr long kEventErrorAbort = 3; // playback stopped on an error

// Starts GStreamer once per process; false (and why) when it cannot start.
bool initializeMediaFramework(std::string* error = nullptr);

// How a seek treats a position.
enum class Positioning { None = 0, Absolute = 1, Relative = 2 };

enum class TimeFormat { MediaTime, Frame, Byte };

// What the graph helpers build into: an automatic render, and named sources
// made, loaded, rendered and removed step by step.
class IGraphBuilder {
  public:
    virtual ~IGraphBuilder() = default;
    // Builds everything that plays the file's streams; blocks until the
    // first frame is ready or the attempt has failed.
    virtual HResult renderFile(const std::string& path) = 0;
    // A source of the given kind (a demuxer factory name) under `name`;
    // kUnexpected when that kind is not installed.
    virtual HResult addSourceFilter(const std::string& name, const std::string& kind) = 0;
    virtual HResult loadSource(const std::string& name, const std::string& path) = 0;
    // Renders every output stream of the named source; `outputs` receives how
    // many streams it offered (0 means it found none).
    virtual HResult renderSourceOutputs(const std::string& name, int& outputs) = 0;
    virtual HResult removeFilter(const std::string& name) = 0;
    virtual HResult enumFilters(std::vector<std::string>& names) = 0;
};

// Positions and durations in a selectable time format.
class IMediaSeeking {
  public:
    virtual ~IMediaSeeking() = default;
    virtual HResult isFormatSupported(TimeFormat format) = 0; // kOk or kFalse
    virtual HResult getTimeFormat(TimeFormat& format) = 0;
    virtual HResult setTimeFormat(TimeFormat format) = 0;
    virtual HResult setPositions(std::int64_t* current, Positioning currentFlags,
                                 std::int64_t* stop, Positioning stopFlags) = 0;
    virtual HResult getCurrentPosition(std::int64_t& position) = 0;
    virtual HResult getDuration(std::int64_t& duration) = 0;
};

// One video frame as 32-bit pixels (B, G, R, unused), rows `stride` apart.
struct VideoFrame {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::int64_t position = -1; // media time of the frame, -1 unknown
    std::uint64_t serial = 0;   // counts every frame the sink received
    std::vector<std::uint8_t> pixels;
};

class MediaGraph final : public IGraphBuilder, public IMediaSeeking {
  public:
    enum class State { Stopped, Paused, Running };
    enum class AudioOutput { Automatic, Fake };

    // kOk and a graph, or the failure (the media framework would not start).
    static HResult create(std::unique_ptr<MediaGraph>& graph);
    ~MediaGraph() override;
    MediaGraph(const MediaGraph&) = delete;
    MediaGraph& operator=(const MediaGraph&) = delete;

    // Where sound goes. Automatic takes the desktop's sound output and falls
    // back to a silent clocked sink when there is none. Applies to graphs
    // rendered afterwards; PLEXAVO_AUDIO_SINK=fake sets Fake at start.
    static void setDefaultAudioOutput(AudioOutput output);
    static AudioOutput defaultAudioOutput();

    // Before rendering: frames are scaled to fit this box (aspect kept, black
    // borders); 0 x 0 keeps the stream's size.
    void setVideoSize(int width, int height);
    // Called on a streaming thread after each new frame; must return at once.
    void setFrameListener(std::function<void()> listener);
    // Copies the newest frame into `frame` (reusing its buffer). False when
    // no frame arrived since the graph was rendered.
    bool latestFrame(VideoFrame& frame) const;

    // IGraphBuilder
    HResult renderFile(const std::string& path) override;
    HResult addSourceFilter(const std::string& name, const std::string& kind) override;
    HResult loadSource(const std::string& name, const std::string& path) override;
    HResult renderSourceOutputs(const std::string& name, int& outputs) override;
    HResult removeFilter(const std::string& name) override;
    HResult enumFilters(std::vector<std::string>& names) override;

    // IMediaSeeking
    HResult isFormatSupported(TimeFormat format) override;
    HResult getTimeFormat(TimeFormat& format) override;
    HResult setTimeFormat(TimeFormat format) override;
    HResult setPositions(std::int64_t* current, Positioning currentFlags, std::int64_t* stop,
                         Positioning stopFlags) override;
    HResult getCurrentPosition(std::int64_t& position) override;
    HResult getDuration(std::int64_t& duration) override;

    // Transport. Stopped keeps the pipeline prerolled (paused) so that a
    // frame stays on show and seeking still works.
    HResult run();
    HResult pause();
    HResult stop();
    // The state after waiting up to timeoutMs for a change to finish;
    // kStateIntermediate when it is still changing.
    HResult getState(int timeoutMs, State& state);
    // Rests paused on the current position (its frame shown) as stopped.
    HResult stopWhenReady();
    // Waits up to timeoutMs for the end of playback or an error; kOk with
    // the event code, or kAbort with code 0 when nothing happened.
    HResult waitForCompletion(int timeoutMs, long& eventCode);

    // Hundredths of a decibel: volume -10000 (silence) .. 0 (full);
    // balance -10000 (left only) .. 10000 (right only).
    HResult setVolume(long volume);
    HResult setBalance(long balance);
    long volume() const { return m_volume; }
    // The gain and pan position the audio units hold now; false without sound.
    bool audioLevels(double& gain, double& panorama) const;
    long balance() const { return m_balance; }

    bool hasVideo() const;
    bool hasAudio() const;
    // True when sound goes to the silent fallback sink.
    bool audioIsSilent() const;
    // Frames the video sink showed and dropped (late) since rendering.
    std::uint64_t framesRendered() const;
    std::uint64_t framesDropped() const;
    // The media framework's text for the last failure, for the log.
    std::string lastErrorText() const;
    // GStreamer's own message (no details) for the latest error it posted,
    // fit to show the user, followed by the parts GStreamer said it lacked
    // for this graph's file ("Missing: MPEG-1 System Stream demuxer ...");
    // empty when it posted neither. Failures found by the graph itself leave
    // it as it was.
    std::string lastErrorMessage() const;
    // What GStreamer said it lacked to play this graph's file (decoders,
    // demuxers), each once, in its words.
    std::vector<std::string> missingParts() const;

    // Linear gain and pan position for the two audio units (exposed for tests).
    static double volumeToGain(long volume);
    static double balanceToPanorama(long balance);

  private:
    struct Attempt;
    struct Callbacks; // the C callbacks GStreamer calls, with access to the graph
    MediaGraph();

    HResult preroll(Attempt& attempt, int& outputs);
    Attempt* findAttempt(const std::string& name);
    void dropAttempt(Attempt& attempt);
    void onDecodedPad(Attempt& attempt, void* pad);
    void onDemuxedPad(Attempt& attempt, void* pad);
    void linkVideo(Attempt& attempt, void* pad);
    void linkAudio(Attempt& attempt, void* pad);
    void linkDiscard(Attempt& attempt, void* pad);
    void noteNoMorePads(Attempt& attempt, GstElement* element);
    void takeSample(void* sample);
    HResult noteError(GstMessage* message); // keeps its texts, returns its result code
    void noteMissingPart(GstMessage* message);
    void applyAudioSettings();
    HResult seekTo(std::int64_t current, Positioning currentFlags, std::int64_t stop,
                   Positioning stopFlags);
    HResult setGstState(int state);

    GstElement* m_pipeline = nullptr;
    std::vector<std::unique_ptr<Attempt>> m_attempts;
    State m_state = State::Stopped;
    TimeFormat m_timeFormat = TimeFormat::MediaTime;
    int m_videoWidth = 0;
    int m_videoHeight = 0;
    long m_volume = 0;
    long m_balance = 0;
    AudioOutput m_audioOutput;
    std::atomic<bool> m_passAsyncDone{false};

    mutable std::mutex m_mutex; // the attempts' chains, built on streaming threads
    mutable std::mutex m_frameMutex;
    VideoFrame m_frame;
    bool m_haveFrame = false;
    std::function<void()> m_frameListener;
    std::atomic<std::uint64_t> m_frameSerial{0};
    std::string m_lastError;
    std::string m_errorMessage;
    std::vector<std::string> m_missingParts;
};

} // namespace plexavo::platform
