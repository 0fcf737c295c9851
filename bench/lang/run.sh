#!/usr/bin/env bash
# The language-pack figures: the engine (listing, switching, reading packs),
# a switch in the window with 200 rows, and start-up in a stored language.
# Usage: bash bench/lang/run.sh [builddir] [rounds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$(dirname "$here")")"
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
rounds="${2:-50}"

cmake --build "$build" --target lang_pack_bench lang_switch_bench plexavo >/dev/null
echo "== language packs (engine)"
"$build/bench/lang/lang_pack_bench" "$build/bin" "$rounds"
echo "== language switch in the window (offscreen)"
runtime=$(mktemp -d)
config=$(mktemp -d)
trap 'rm -rf "$runtime" "$config"' EXIT
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" PLEXAVO_CONFIG_DIR="$config" \
  "$build/bin/lang_switch_bench" 200 20 2>/dev/null
echo "== start-up in a stored language (Xvfb)"
bash "$here/startup.sh" "$build" 15 2>/dev/null
