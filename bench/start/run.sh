#!/usr/bin/env bash
# Start, memory and the first preview against an empty Qt 6 window the
# build makes (bench/start/start.py says what each figure is).
# Usage: bash bench/start/run.sh <builddir> [options of start.py, e.g. --rounds 21 --only start]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$(dirname "$here")")"
build="${1:?usage: run.sh <builddir> [start.py options]}"
shift
case "$build" in /*) ;; *) build="$root/$build" ;; esac
cmake --build "$build" --target plexavo bench_empty_window preview_bench Plexcore >/dev/null
exec python3 "$here/start.py" --bin "$build/bin" --work "$build/bench/start" "$@"
