#!/usr/bin/env bash
# Stop signal to exit: starts the window's program on a 60 s clip, presses
# Convert (plexavo_convert_at_start), sends SIGTERM once the core's file has
# grown past 256 KiB, and times the signal to the program's exit. N runs
# (default 5), each time and the median in milliseconds. The program stops
# the core as Cancel All does and waits for it to close its file, so the
# figure is mostly the core's. Target: at most 2000 ms.
# Usage: bash bench/mainwin/stop_signal.sh <builddir> [runs]
set -euo pipefail
build="${1:?usage: stop_signal.sh <builddir> [runs]}"
runs="${2:-5}"
program="$build/bin/plexavo_convert_at_start"
[ -x "$program" ] || { echo "stop_signal: $program not found; build it first" >&2; exit 1; }

source "$(dirname "$0")/../lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen
ffmpeg -v error -nostdin -f lavfi -i testsrc=size=640x480:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=44100 -t 60 -c:v mpeg4 -c:a aac -shortest \
  -y "$work/clip.mp4"

times=()
for i in $(seq "$runs"); do
  rm -rf "$work/out" && mkdir "$work/out"
  write_settings "$work/config" "OutputPath=$work/out/"
  PLEXAVO_CONFIG_DIR="$work/config" "$program" "$work/clip.mp4" >/dev/null 2>&1 &
  pid=$!
  until [ "$(du -b "$work/out" 2>/dev/null | awk '{print $1}')" -gt 262144 ]; do
    kill -0 "$pid" 2>/dev/null || { echo "stop_signal: run $i ended early" >&2; exit 1; }
    sleep 0.05
  done
  start=$(date +%s%N)
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  [ "$status" = 143 ] || { echo "stop_signal: run $i exited with $status" >&2; exit 1; }
  times+=("$ms")
  echo "run $i: ${ms} ms"
done
echo "SIGTERM to exit during a batch, median of $runs: $(median "${times[@]}") ms (target <= 2000 ms)"
