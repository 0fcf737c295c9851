// Checks shared by several test files.
#pragma once

#include "support/Media.h"
#include "support/Shared.h"

#include <gtest/gtest.h>

#include "PlexcoreContract.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>

namespace coretest {

// What a failed run said, for the failure message.
inline std::string describe(const RunResult& r) {
    std::string text = "exit " + std::to_string(r.exitCode);
    if (r.termSignal)
        text += ", signal " + std::to_string(r.termSignal);
    if (r.timedOut)
        text += ", timed out";
    const std::string tail =
        r.out.size() > 1500 ? "..." + r.out.substr(r.out.size() - 1500) : r.out;
    return text + ", output:\n" + tail;
}

// Players need the index (moov) before the media data (mdat) to start without seeking.
inline void expectIndexBeforeMedia(const std::string& path) {
    const auto boxes = topLevelBoxes(path);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(moov, boxes.end()) << path << " has no moov box";
    ASSERT_NE(mdat, boxes.end()) << path << " has no mdat box";
    EXPECT_LT(moov - boxes.begin(), mdat - boxes.begin()) << "moov after mdat in " << path;
}

inline std::vector<std::string> linesStartingWith(const std::string& text,
                                                  const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& line : splitLines(text))
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    return found;
}

// The names in a folder that have the core's partial-file form (<stem>.partial-XXXXXX).
inline std::vector<std::string> partialFilesIn(const std::string& folder) {
    static const std::regex partial(R"(.*\.partial-[A-Za-z0-9]{6})");
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (std::regex_match(e.path().filename().string(), partial))
            found.push_back(e.path().filename().string());
    return found;
}

// What the core says it wrote: the text after the one "Output: " line, "" without one.
inline std::string writtenOutput(const std::string& coreText) {
    const auto lines = linesStartingWith(coreText, plexavo::contract::kOutputPrefix);
    return lines.size() == 1 ? lines[0].substr(std::strlen(plexavo::contract::kOutputPrefix))
                             : std::string();
}

// Index of the value closest to `v`.
inline int nearestIndex(const std::vector<double>& values, double v) {
    int best = -1;
    for (size_t i = 0; i < values.size(); ++i)
        if (best < 0 || std::fabs(values[i] - v) < std::fabs(values[best] - v))
            best = static_cast<int>(i);
    return best;
}

inline double streamDuration(const ProbeInfo& p, int index) {
    return p.streamNum(index, "duration").value_or(p.formatNum("duration").value_or(-1));
}

} // namespace coretest
