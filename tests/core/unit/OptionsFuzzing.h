// What must hold for any command line at all, shared by the fixed-seed fuzz test and the
// libFuzzer target.
#pragma once

#include "Options.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace optionsfuzz {

// "" when parsing args behaved; otherwise what went wrong.
inline std::string violation(const std::vector<std::string>& args) {
    plexavo::core::Options o;
    try {
        o = plexavo::core::parseOptions(args);
    } catch (const plexavo::core::UsageError& e) {
        return std::string(e.what()).empty() ? "a refusal without a reason" : "";
    } catch (const std::exception& e) {
        return std::string("threw something other than a usage error: ") + e.what();
    } catch (...) {
        return "threw a non-exception";
    }
    if (o.askedForCapability)
        return o.capability == "wmv" || o.capability == "ogm" ? "" : "unknown capability";
    if (!o.input || o.input->empty())
        return "accepted without an input";
    if (o.output && o.output->empty())
        return "accepted an empty output";
    if (o.resume && !o.output)
        return "a continuation without the file it continues";
    if (o.canResume && (o.canResume->empty() || o.output || o.resume))
        return "a question whether to continue with an output or a continuation besides";
    if (o.width.has_value() != o.height.has_value())
        return "a width without a height";
    if (o.width && (*o.width < 16 || *o.width > 4096 || *o.height < 16 || *o.height > 4096))
        return "a frame size out of range";
    if (o.frameRate) {
        if (o.frameRate->num <= 0 || o.frameRate->den <= 0)
            return "a frame rate that is not a positive fraction";
        const double r = static_cast<double>(o.frameRate->num) / o.frameRate->den;
        if (!(r >= 0.99 && r <= 120.01))
            return "a frame rate out of range";
    }
    for (const auto* rate :
         {&o.videoBitrate, &o.varBitrate, &o.maxRate, &o.minRate, &o.audioBitrate})
        if (*rate && (**rate < 1000 || **rate > 200000000))
            return "a bit rate out of range";
    if (o.minRate && o.maxRate && *o.minRate > *o.maxRate)
        return "a floor above the ceiling";
    if (o.channels && (*o.channels < 1 || *o.channels > 8))
        return "a channel count out of range";
    if (o.sampleRate && (*o.sampleRate < 8000 || *o.sampleRate > 96000))
        return "a sample rate out of range";
    if (o.startUs && *o.startUs < 0)
        return "a negative start";
    if (o.durationUs && *o.durationUs <= 0)
        return "a length that is not positive";
    return "";
}

// Splits fuzzer bytes into arguments at NUL bytes.
inline std::vector<std::string> argsFromBytes(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    return args;
}

} // namespace optionsfuzz
