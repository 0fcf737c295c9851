// Frame-rate arithmetic shared by the option parser and the planner.
#pragma once

#include "FFmpeg.h"

namespace plexavo::core {

// Rates near 23.976, 29.97 and 59.94 become the exact NTSC fractions the encoders and
// muxers expect; odd fractions are reduced to a denominator of at most 1001.
AVRational snapRate(AVRational r);

// The rate the handhelds get when none is asked for: up to 30 frames a second as it is,
// 50 and 60 halved (to 25 and 29.97), anything faster 30. An unknown or absurd source
// rate counts as 25.
AVRational deviceRate(AVRational source);

// The source rate as the planner uses it: snapped, or 25 when unknown or absurd.
AVRational usableRate(AVRational source);

} // namespace plexavo::core
