#!/usr/bin/env bash
# Runs a program under a virtual X display and saves a picture of the screen.
#   scripts/screenshot.sh OUT.png [--wait SECONDS] [--keys "KEY ..."] -- PROGRAM [ARGS...]
# With no program, starts build/bin/plexavo on two generated clips (one with
# a name full of quotes and accents), so the main window shows a filled list.
# --keys sends key presses (xdotool names) before the picture is taken, to
# the window whose title matches --focus (default: the main window).
# --language ID starts the program in that language (1031 German, 2052 Chinese ...).
# Another program's windows, e.g. the two progress windows on a stand-in list:
#   scripts/screenshot.sh /tmp/convert.png --wait 4 -- build/bin/plexavo_try_windows --convert --quit clip.mp4
# (plexavo_try_windows takes --language ID itself, and with --grab DIR saves
# each window into DIR as it shows, no screen needed.)
# With twm installed the windows get their frames and captions.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-build/screenshot.png}
shift || true
wait_s=4
keys=""
focus='^Plexavo$'
language=""
while [ $# -gt 0 ]; do
  case "$1" in
    --wait) wait_s=$2; shift 2 ;;
    --keys) keys=$2; shift 2 ;;
    --focus) focus=$2; shift 2 ;;
    --language) language=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ $# -eq 0 ]; then
  ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 \
    -t 4 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest -y "$work/holiday clip.mp4"
  ffmpeg -v error -f lavfi -i testsrc=size=640x360:rate=30 -f lavfi -i sine=frequency=300:sample_rate=48000 \
    -t 6 -c:v mpeg4 -c:a aac -shortest -y "$work/-été \"interview\".mov"
  # The help window opens by itself only on a first start; this is not one.
  mkdir -p "$work/config"
  printf '[Settings]\nHiddenToolTips=true\n' > "$work/config/plexavo.conf"
  # --language 1031 starts in that language pack (a stored "Language" value).
  [ -n "$language" ] && printf 'Language=%d\n' "$language" >> "$work/config/plexavo.conf"
  export PLEXAVO_CONFIG_DIR="$work/config"
  set -- build/bin/plexavo -- "$work/holiday clip.mp4" "$work/-été \"interview\".mov"
fi

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
if command -v twm >/dev/null; then
  DISPLAY=$display twm -f /dev/null >/dev/null 2>&1 &
  sleep 0.5
fi
DISPLAY=$display "$@" &
app=$!
sleep "$wait_s"
if [ -n "$keys" ] && command -v xdotool >/dev/null; then
  # No window manager gives the window the focus: take it by hand.
  win=$(DISPLAY=$display xdotool search --onlyvisible --name "$focus" | head -1 || true)
  [ -n "$win" ] && DISPLAY=$display xdotool windowfocus --sync "$win" || true
  for k in $keys; do DISPLAY=$display xdotool key "$k"; sleep 0.3; done
  sleep 1
fi
DISPLAY=$display import -window root "$out"
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
echo "saved $out"
