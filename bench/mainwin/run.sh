#!/usr/bin/env bash
# The main window's figures: start to window shown, adding 200 rows, and a
# stop signal during a batch to the program's exit.
# Usage: bash bench/mainwin/run.sh <builddir>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: run.sh <builddir>}"
cmake --build "$build" --target plexavo bench_mainwin_rows plexavo_convert_at_start >/dev/null
echo "== start to main window shown (Xvfb)"
bash "$here/startup.sh" "$build" 5 2>/dev/null
echo "== 200 rows through the view's source-list operations (offscreen)"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$(mktemp -d)" "$build/bin/bench_mainwin_rows" 200 2>/dev/null
echo "== SIGTERM during a batch to the program's exit (offscreen, real core)"
bash "$here/stop_signal.sh" "$build" 5
