#!/usr/bin/env bash
# The preview's four figures on clips made by ffmpeg (kept in <builddir>/bench/preview):
# open to first frame (720p H.264), seeking while dragging, 20 s of 1080p30 H.264, and
# what closing leaves behind. Runs the window under Xvfb when there is no display.
# Usage: bash bench/preview/run.sh <builddir>
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:?usage: bash bench/preview/run.sh <builddir>}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac

cmake --build "$build" --target preview_bench >/dev/null
bench="$build/bin/preview_bench"
work="$build/bench/preview"
mkdir -p "$work"

clip() { # name size seconds
  local out="$work/$1"
  [ -s "$out" ] && return 0
  echo "making $1" >&2
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$2:rate=30:duration=$3" \
    -f lavfi -i "sine=frequency=440:duration=$3" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 30 -c:a aac -movflags +faststart "$out"
}
clip h264-720p.mp4 1280x720 30
clip h264-1080p30.mp4 1920x1080 25

run() {
  if [ -n "${DISPLAY:-}" ]; then "$bench" "$@"; else xvfb-run -a -s "-screen 0 1280x1024x24" "$bench" "$@"; fi
}

# Without a sound device the preview plays to a silent clocked sink either way;
# PLEXAVO_AUDIO_SINK=fake skips probing the devices.
export PLEXAVO_AUDIO_SINK="${PLEXAVO_AUDIO_SINK:-fake}"
run open "$work/h264-720p.mp4" 2>/dev/null
run drag "$work/h264-720p.mp4" 2>/dev/null
run play "$work/h264-1080p30.mp4" 20 30 2>/dev/null
run release "$work/h264-720p.mp4" 2>/dev/null
