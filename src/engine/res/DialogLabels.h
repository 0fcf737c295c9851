// Keys of the dialog labels that have no control id of their own (group box
// titles, field captions). Windows gives them all IDC_STATIC; a table keyed by
// (dialog, control) needs one key each, so they are numbered -1, -2, ... in
// template order per dialog. Negative keys never collide with real control ids,
// and language packs use the same numbers.
#pragma once

namespace plexavo::res::label {

// About box, dialog 100
namespace about {
inline constexpr int kNotice = -1;
} // namespace about

// Main form, dialog 101
namespace main {
inline constexpr int kConversionGroup = -1;
inline constexpr int kType = -2;
inline constexpr int kVideoGroup = -3;
inline constexpr int kSize = -4;
inline constexpr int kWidth = -5;  // "X="
inline constexpr int kHeight = -6; // "Y="
inline constexpr int kFrameRate = -7;
inline constexpr int kVideoBitRate = -8;
inline constexpr int kMaxRate = -9;
inline constexpr int kMaxRateUnit = -10; // "kbps" after Max
inline constexpr int kMinRate = -11;
inline constexpr int kMinRateUnit = -12; // "kbps" after Min
inline constexpr int kAudioGroup = -13;
inline constexpr int kChannels = -14;
inline constexpr int kAudioBitRate = -15;
inline constexpr int kSampleRate = -16;
inline constexpr int kVolume = -17; // hidden together with its list 1111
inline constexpr int kPathGroup = -18;
inline constexpr int kOutputPath = -19;
} // namespace main

// Conversion progress window, dialog 106
namespace progress {
inline constexpr int kOverall = -1;
inline constexpr int kCurrent = -2;
inline constexpr int kFileSize = -3;
} // namespace progress

// Preview, dialog 107
namespace preview {
inline constexpr int kInformationGroup = -1;
inline constexpr int kStartTime = -2;
inline constexpr int kEndTime = -3;
inline constexpr int kDuration = -4;
inline constexpr int kElapsedTime = -5;
inline constexpr int kVolumeGroup = -6;
inline constexpr int kVolumeMin = -7;
inline constexpr int kVolumeMax = -8;
inline constexpr int kBalanceGroup = -9;
inline constexpr int kBalanceLeft = -10;
inline constexpr int kBalanceRight = -11;
inline constexpr int kHint = -12;
} // namespace preview

// Help-tips window, dialog 138
namespace tips {
inline constexpr int kSteps = -1;
} // namespace tips

} // namespace plexavo::res::label
