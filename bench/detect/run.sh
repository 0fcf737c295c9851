#!/usr/bin/env bash
# A thousand small files added at once: time to every row Ready with one
# probe at a time and with one per processor, and the window's answer time
# meanwhile (bench/detect/thousand.cpp). The files are made once, in
# <builddir>/bench/thousand: twenty short clips of different kinds made by
# ffmpeg, each copied to fifty names.
# Usage: bash bench/detect/run.sh <builddir> [rounds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$(dirname "$here")")"
build="${1:?usage: run.sh <builddir> [rounds]}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
rounds="${2:-1}"
cmake --build "$build" --target bench_detect_thousand Plexcore >/dev/null

work="$build/bench/thousand"
mkdir -p "$work/kinds"
clip() { # name seconds video-args... -- audio-args...
  local name=$1 out="$work/kinds/$1" seconds=$2
  shift 2
  [ -s "$out" ] && return 0
  local video=() audio=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do video+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  audio=("$@")
  local inputs=()
  [ ${#video[@]} -gt 0 ] && inputs+=(-f lavfi -i "testsrc=size=160x120:rate=25:duration=$seconds")
  [ ${#audio[@]} -gt 0 ] && inputs+=(-f lavfi -i "sine=frequency=440:duration=$seconds")
  local part="$work/kinds/part-$name"
  ffmpeg -v error -nostdin -y "${inputs[@]}" "${video[@]}" "${audio[@]}" -shortest "$part"
  mv "$part" "$out"
}
kinds=()
for s in 1 2 3 4; do
  clip "h264-$s.mp4" "$s" -c:v libx264 -pix_fmt yuv420p -- -c:a aac
  clip "mpeg4-$s.avi" "$s" -c:v mpeg4 -- -c:a libmp3lame
  clip "h264-$s.mkv" "$s" -c:v libx264 -pix_fmt yuv420p -- -c:a libvorbis
  clip "mjpeg-$s.mov" "$s" -c:v mjpeg -- -c:a pcm_s16le
  clip "tone-$s.mp3" "$s" -- -c:a libmp3lame
  kinds+=("h264-$s.mp4" "mpeg4-$s.avi" "h264-$s.mkv" "mjpeg-$s.mov" "tone-$s.mp3")
done
list="$work/files.txt"
: >"$list"
for i in $(seq 0 999); do
  kind=${kinds[$((i % ${#kinds[@]}))]}
  name=$(printf 'file %04d.%s' "$i" "${kind##*.}")
  [ -e "$work/$name" ] || cp "$work/kinds/$kind" "$work/$name"
  printf '%s\n' "$work/$name" >>"$list"
done

runtime=$(mktemp -d)
config=$(mktemp -d)
trap 'rm -rf "$runtime" "$config"' EXIT
XDG_RUNTIME_DIR="$runtime" PLEXAVO_CONFIG_DIR="$config" \
  "$build/bin/bench_detect_thousand" "$list" "$rounds" 2>/dev/null
