#!/usr/bin/env bash
# The main window's figures: start to window shown, and adding 200 rows.
# Usage: bash bench/mainwin/run.sh <builddir>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: run.sh <builddir>}"
cmake --build "$build" --target plexavo bench_mainwin_rows >/dev/null
echo "== start to main window shown (Xvfb)"
bash "$here/startup.sh" "$build" 5 2>/dev/null
echo "== 200 rows through the view's source-list operations (offscreen)"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$(mktemp -d)" "$build/bin/bench_mainwin_rows" 200 2>/dev/null
