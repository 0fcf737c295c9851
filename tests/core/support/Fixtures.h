// Small input files made with the ffmpeg tool on first use and kept in one
// cache folder, so every test process of a run (and later runs) shares them.
#pragma once

#include "support/Shared.h"

#include <string>

namespace coretest {

// The path of a ready input file; throws std::runtime_error when it cannot be made.
// Known names:
//   mp4          320x240 25 fps H.264 + AAC 44.1 kHz stereo, 5 s, with a title
//   mkv          H.264 + MP3, stream languages jpn/eng, 3 s
//   avi          MPEG-4 (xvid-style) + MP3, 3 s
//   mov          H.264 + AAC (language eng), 3 s
//   webm         VP9 + Opus, 3 s (needs both encoders)
//   ts           MPEG-2 video + MP2 in MPEG-TS, 3 s
//   flv          H.264 + AAC 44.1 kHz stereo in FLV, 4 s
//   mp3 wav m4a  audio only, 3-4 s
//   video-only   H.264 without audio, 3 s
//   odd          321x241 FFV1, 2 s
//   interlaced   720x576 MPEG-2, 25 frames a second of two 50 Hz fields each, 2 s
//   wide tall    flat grey 640x360 / 240x320 (square pixels), 2 s
//   sar          flat grey 720x480 with SAR 32:27 (16:9 on screen), 2 s
//   hd           1280x720 H.264 + AAC, 2 s
//   six          160x120 H.264 + AAC 44.1 kHz stereo, 6 s
//   minute       320x240 25 fps H.264 (a key frame every 2 s) + AAC 440 Hz 44.1 kHz stereo, 60 s
//   minute-film  the same picture, AAC eng 440 Hz 44.1 kHz and fre 660 Hz 48 kHz, SubRip eng
//                (a cue every 2 s), chapters One 0-20 s, Two 20-45 s, Three 45-60 s, title,
//                artist, a PNG cover; Matroska, 60 s
//   raw-h264     H.264 elementary stream (no duration in the container), 3 s
//   pipe-mkv     Matroska written to a pipe (no duration, no cues), 3 s
//   surround     H.264 + AC-3 5.1 48 kHz, 3 s
//   audio-96k    96 kHz stereo WAV, 2 s
//   audio-22k    22.05 kHz mono MP3, 2 s
//   rate-change  MPEG audio, 2 s of 32 kHz mono, then 2 s of 48 kHz stereo
//   ramp         160x120 25 fps, luma rising every frame, one key frame; PCM whose
//                loudness rises with time, 5 s: shows which source instant a frame came from
//   ramp-audio   the same rising audio alone, WAV
//   noisy        320x240 testsrc2 + grain, with audio, 4 s: real content for rate control
//   burst        320x240 calm for 2 s, then heavy grain for 2 s, video only
//   vfr          irregular frame times with a gap, Matroska, 4 s
//   many-streams one video and four audio streams, long tags and comment, 2 s
//   film         320x240 H.264, AAC eng (default) and fre, SubRip eng (three cues, not on),
//                chapters Intro 0-2 s and Main 2-5 s, title, artist, date, genre; Matroska, 5 s
//   three-tracks 160x120 H.264, AAC eng, fre (the default) and ger, 3 s
//   styled-subtitles  ASS jpn (two events overlap at 1.5-2 s) and WebVTT spa (default,
//                forced) with H.264 + AAC, Matroska, 4 s
//   picture-subtitles  DVD subtitles fre with H.264 + AAC, Matroska, 4 s
//   attached-cover  H.264 + AAC with a 1000x800 PNG attachment "cover.png", Matroska, 3 s
//   song         MP3 with a 300x300 JPEG front cover and a song's tags, 3 s
//   many-subtitles  H.264 + AAC, 60 SubRip tracks, three chapters, Matroska, 3 s
//   stream-long  streamed Matroska 320x240 H.264 + AAC, 12 s (fed through FIFOs)
//   truncated    an MP4 with its index at the end, cut in half
//   garbled      an MP4 whose first bytes were overwritten with noise
//   text         a plain text file (.txt)
//   document     the start of a PDF document
std::string fixture(const std::string& name);

} // namespace coretest
