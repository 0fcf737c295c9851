// The preview's player: one GStreamer pipeline that plays one file, with its
// transport, positions and lengths in nanoseconds, the sound's gain and pan
// position, and the newest video frame for the window. No Qt here: frames
// leave through a callback and a locked copy.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// The player as the windows see it. Its GStreamer side lives in a module of
// its own (PlayerModule.h), loaded when the preview first needs it, so the
// calls go through this interface.
class Player : public PipelineBuilder {
  public:
    // Stopped rests paused at the start, so that a frame stays on show and
    // seeking still works.
    enum class State { Stopped, Paused, Playing };
    enum class AudioOutput { Automatic, Silent };
    // What the bus said about the playback: nothing yet, its end, an error.
    enum class Ending { None, EndOfStream, Error };

    // A player with an empty pipeline, or nullptr (and GStreamer's message)
    // when GStreamer does not start. Loads the player's module and starts
    // GStreamer the first time.
    static std::unique_ptr<Player> create(std::string* error = nullptr);
    ~Player() override = default;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Where sound goes. Automatic takes the desktop's sound output and falls
    // back to a silent clocked sink when there is none. Applies to players
    // made afterwards; PLEXAVO_AUDIO_SINK=fake sets Silent at start.
    static void setDefaultAudioOutput(AudioOutput output);
    static AudioOutput defaultAudioOutput();

    // Before opening: frames are scaled to fit this box (aspect kept, black
    // borders); 0 x 0 keeps the stream's size.
    virtual void setVideoSize(int width, int height) = 0;
    // Called on a streaming thread after each new frame; must return at once.
    virtual void setFrameListener(std::function<void()> listener) = 0;
    // Copies the newest frame into `frame` (reusing its buffer). False when
    // no frame arrived since the player was opened.
    virtual bool latestFrame(VideoFrame& frame) const = 0;

    // Builds the pipeline for `path` (UTF-8) with the fallbacks of
    // openWithFallbacks; the first frame is ready when it returns true.
    bool open(const std::string& path);
    // "decodebin" or the demuxer the pipeline plays through; empty when nothing is open.
    virtual std::string openedWith() const = 0;

    // Transport; false when nothing is open or GStreamer refused.
    virtual bool play() = 0;
    virtual bool pause() = 0;
    // Pauses and goes back to the start. False when it could not pause; a
    // rewind that fails leaves it paused where it was.
    virtual bool stop() = 0;
    virtual State state() const = 0;
    // Waits up to `timeout` for a change of state (a seek's too) to finish;
    // false when it failed or is still under way.
    virtual bool waitUntilSettled(std::chrono::milliseconds timeout) = 0;
    // Waits up to `timeout` (0: a look) for the end of playback or an error.
    virtual Ending waitForEnd(std::chrono::milliseconds timeout) = 0;

    // An accurate flushing seek: the frame shown is the one at `position`.
    virtual bool seek(ClockTime position) = 0;
    virtual std::optional<ClockTime> position() const = 0;
    virtual std::optional<ClockTime> duration() const = 0;

    // The linear gain of the `volume` element, 0 (silence) .. 1 (full), and
    // the pan position of `audiopanorama`, -1 (left only) .. 1 (right only).
    // Values outside are refused; both hold for later openings too.
    virtual bool setVolume(double gain) = 0;
    virtual bool setBalance(double panorama) = 0;
    virtual double volume() const = 0;
    virtual double balance() const = 0;
    // The gain and pan position the sound elements hold now; false without sound.
    virtual bool audioLevels(double& gain, double& panorama) const = 0;

    virtual bool hasVideo() const = 0;
    virtual bool hasAudio() const = 0;
    // True when sound goes to the silent fallback sink.
    virtual bool audioIsSilent() const = 0;
    // Frames the video sink showed and dropped (late) since opening.
    virtual std::uint64_t framesRendered() const = 0;
    virtual std::uint64_t framesDropped() const = 0;

    // The last failure with GStreamer's debug details, for the log.
    virtual std::string errorDetails() const = 0;
    // GStreamer's own message (no details) for the latest error it posted,
    // fit to show the user, followed by the parts GStreamer said it lacked
    // for this file ("Missing: MPEG-1 System Stream demuxer ..."); empty
    // when it posted neither. Failures found by the player itself leave it
    // as it was.
    virtual std::string errorMessage() const = 0;
    // What GStreamer said it lacked to play this file (decoders, demuxers),
    // each once, in its words.
    virtual std::vector<std::string> missingParts() const = 0;

  protected:
    Player() = default;
};

} // namespace plexavo::player
