#!/usr/bin/env bash
# Runs a program on a private virtual X screen and saves the screen as a PNG
# after a while, so a window can be looked at as a user would see it.
# Usage: scripts/screenshot.sh OUT.png SECONDS [--size WxH] -- PROGRAM [ARGS...]
# Example (the conversion window, with the stand-in source list):
#   scripts/screenshot.sh /tmp/convert.png 4 -- build/bin/plexavo_try_windows \
#       --convert --quit clip.mp4
# Needs Xvfb and ImageMagick's import; with twm present the windows get their
# frames and captions (scripts/install-deps.sh installs all three).
set -euo pipefail

out="${1:?usage: screenshot.sh OUT.png SECONDS [--size WxH] -- PROGRAM [ARGS...]}"
delay="${2:?usage: screenshot.sh OUT.png SECONDS [--size WxH] -- PROGRAM [ARGS...]}"
shift 2
size="1024x768"
if [ "${1:-}" = "--size" ]; then
  size="$2"
  shift 2
fi
[ "${1:-}" = "--" ] && shift
[ $# -gt 0 ] || { echo "screenshot.sh: no program given" >&2; exit 2; }

for tool in Xvfb import; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

# A display number nobody uses.
display=""
for n in $(seq 90 199); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
    display=":$n"
    break
  fi
done
[ -n "$display" ] || { echo "screenshot.sh: no free display" >&2; exit 1; }

Xvfb "$display" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
app_pid=""
wm_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -f "/tmp/screenshot-twmrc.$$"
  wait 2>/dev/null || true
}
trap cleanup EXIT

for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done

# A window manager draws captions, frames and close boxes, and places dialogs.
wm_pid=""
if command -v twm >/dev/null; then
  # The virtual screen has only its built-in "fixed" font.
  printf 'RandomPlacement\nDecorateTransients\nNoGrabServer\nTitleFont "fixed"\nMenuFont "fixed"\nIconFont "fixed"\nResizeFont "fixed"\nIconManagerFont "fixed"\n' \
    >"/tmp/screenshot-twmrc.$$"
  DISPLAY="$display" LC_ALL=C twm -f "/tmp/screenshot-twmrc.$$" >/dev/null 2>&1 &
  wm_pid=$!
  sleep 0.5
fi

DISPLAY="$display" QT_QPA_PLATFORM=xcb "$@" >/dev/null 2>&1 &
app_pid=$!
sleep "$delay"
if ! kill -0 "$app_pid" 2>/dev/null; then
  echo "screenshot.sh: the program ended before the screenshot" >&2
  app_pid=""
  exit 1
fi
import -display "$display" -window root "$out"
echo "$out"
