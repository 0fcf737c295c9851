// The command line as the program writes it, parsed and checked before any file is touched.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plexavo::core {

enum class VideoCodecChoice { Default, Xvid, H264 };
enum class TvNorm { Guess, Ntsc, Pal, Film };
enum class DiscKind { None, Dvd, Vcd, Svcd, Dv };

struct Rational {
    int num = 0;
    int den = 1;
};

struct Options {
    bool askedForCapability = false;
    std::string capability; // "wmv" or "ogm"

    std::optional<std::string> input;
    std::optional<std::string> output;
    std::optional<std::string> title;
    VideoCodecChoice vcodec = VideoCodecChoice::Default;
    std::optional<std::string> pixFmt;
    std::optional<int> width, height;
    std::optional<Rational> frameRate;
    // Rates in bits per second, converted from the kb/s the program writes.
    std::optional<int64_t> videoBitrate, varBitrate, maxRate, minRate, audioBitrate;
    std::optional<int> channels;
    std::optional<int> sampleRate;
    std::optional<int64_t> startUs;    // -ss
    std::optional<int64_t> durationUs; // -t, absent or 0 = to the end
    bool overwrite = false;            // -y: the finished file replaces an existing output
    bool claim = false; // -claim: the first free name of output, output[1], ... (wins over -y)
    DiscKind disc = DiscKind::None;
    TvNorm norm = TvNorm::Guess;
    // -can-resume FILE: only asks whether FILE, a stopped output, can be continued.
    std::optional<std::string> canResume;
    // -resume FILE: continues the stopped output FILE, which is then also `output`.
    bool resume = false;
};

// The options that decide what the streams of an output become, in one text (each option by
// its parsed value, defaults written out), so two command lines that make the same streams
// give the same text whatever their spelling. Not the input, -y, -claim nor the output.
std::string canonicalSettings(const Options& o);

// A command line the core cannot follow; what() is the one-line reason.
class UsageError : public std::exception {
  public:
    explicit UsageError(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }

  private:
    std::string m_message;
};

// Throws UsageError with a one-line message for anything unknown or malformed.
Options parseOptions(const std::vector<std::string>& args);

} // namespace plexavo::core
