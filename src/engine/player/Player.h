// The preview's player: one GStreamer pipeline that plays one file, with its
// transport, positions and lengths in nanoseconds, the sound's gain and pan
// position, and the newest video frame for the window. No Qt here: frames
// leave through a callback and a locked copy.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

namespace plexavo::player {

// GStreamer's clock time.
using ClockTime = std::chrono::nanoseconds;

// The two ways a pipeline is built for a file, as the order of the attempts
// (openWithFallbacks) sees them. Each takes out what was built before, and
// blocks until the first frame is ready or the attempt has failed; a failed
// attempt leaves nothing behind.
class PipelineBuilder {
  public:
    virtual ~PipelineBuilder() = default;
    // filesrc ! decodebin: every stream GStreamer finds a decoder for.
    virtual bool buildAutomatic(const std::string& path) = 0;
    // filesrc ! `demuxer`, a decodebin on each of its streams. Fails when the
    // demuxer is not installed, the file is not of its kind or no stream plays.
    virtual bool buildWithDemuxer(const std::string& path, const std::string& demuxer) = 0;
    // Takes out whatever an attempt that broke off left in the pipeline.
    virtual void clear() = 0;
};

// One video frame as 32-bit pixels (B, G, R, unused), rows `stride` apart.
struct VideoFrame {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::optional<ClockTime> position; // its stream time
    std::vector<std::uint8_t> pixels;
};

class Player final : public PipelineBuilder {
  public:
    // Stopped rests paused at the start, so that a frame stays on show and
    // seeking still works.
    enum class State { Stopped, Paused, Playing };
    enum class AudioOutput { Automatic, Silent };
    // What the bus said about the playback: nothing yet, its end, an error.
    enum class Ending { None, EndOfStream, Error };

    // A player with an empty pipeline, or nullptr (and GStreamer's message)
    // when GStreamer does not start.
    static std::unique_ptr<Player> create(std::string* error = nullptr);
    ~Player() override;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Where sound goes. Automatic takes the desktop's sound output and falls
    // back to a silent clocked sink when there is none. Applies to players
    // opened afterwards; PLEXAVO_AUDIO_SINK=fake sets Silent at start.
    static void setDefaultAudioOutput(AudioOutput output);
    static AudioOutput defaultAudioOutput();

    // Before opening: frames are scaled to fit this box (aspect kept, black
    // borders); 0 x 0 keeps the stream's size.
    void setVideoSize(int width, int height);
    // Called on a streaming thread after each new frame; must return at once.
    void setFrameListener(std::function<void()> listener);
    // Copies the newest frame into `frame` (reusing its buffer). False when
    // no frame arrived since the player was opened.
    bool latestFrame(VideoFrame& frame) const;

    // Builds the pipeline for `path` (UTF-8) with the fallbacks of
    // openWithFallbacks; the first frame is ready when it returns true.
    bool open(const std::string& path);
    bool buildAutomatic(const std::string& path) override;
    bool buildWithDemuxer(const std::string& path, const std::string& demuxer) override;
    void clear() override;
    // "decodebin" or the demuxer the pipeline plays through; empty when nothing is open.
    std::string openedWith() const;

    // Transport; false when nothing is open or GStreamer refused.
    bool play();
    bool pause();
    // Pauses and goes back to the start. False when it could not pause; a
    // rewind that fails leaves it paused where it was.
    bool stop();
    State state() const { return m_state; }
    // Waits up to `timeout` for a change of state (a seek's too) to finish;
    // false when it failed or is still under way.
    bool waitUntilSettled(std::chrono::milliseconds timeout);
    // Waits up to `timeout` (0: a look) for the end of playback or an error.
    Ending waitForEnd(std::chrono::milliseconds timeout);

    // An accurate flushing seek: the frame shown is the one at `position`.
    bool seek(ClockTime position);
    std::optional<ClockTime> position() const;
    std::optional<ClockTime> duration() const;

    // The linear gain of the `volume` element, 0 (silence) .. 1 (full), and
    // the pan position of `audiopanorama`, -1 (left only) .. 1 (right only).
    // Values outside are refused; both hold for later openings too.
    bool setVolume(double gain);
    bool setBalance(double panorama);
    double volume() const { return m_volume; }
    double balance() const { return m_balance; }
    // The gain and pan position the sound elements hold now; false without sound.
    bool audioLevels(double& gain, double& panorama) const;

    bool hasVideo() const;
    bool hasAudio() const;
    // True when sound goes to the silent fallback sink.
    bool audioIsSilent() const;
    // Frames the video sink showed and dropped (late) since opening.
    std::uint64_t framesRendered() const;
    std::uint64_t framesDropped() const;

    // The last failure with GStreamer's debug details, for the log.
    std::string errorDetails() const { return m_errorDetails; }
    // GStreamer's own message (no details) for the latest error it posted,
    // fit to show the user, followed by the parts GStreamer said it lacked
    // for this file ("Missing: MPEG-1 System Stream demuxer ..."); empty
    // when it posted neither. Failures found by the player itself leave it
    // as it was.
    std::string errorMessage() const;
    // What GStreamer said it lacked to play this file (decoders, demuxers),
    // each once, in its words.
    std::vector<std::string> missingParts() const { return m_missingParts; }

  private:
    struct Attempt;
    struct Callbacks; // the C callbacks GStreamer calls, with access to the player
    Player();

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

} // namespace plexavo::player
