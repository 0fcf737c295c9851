#!/usr/bin/env bash
# Figures of the detection and conversion windows (printed, no thresholds).
# Usage: bash bench/windows_batch.sh [builddir]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
cmake --build "$build" --target bench_windows_batch Plexcore >/dev/null
exec "$build/bin/bench_windows_batch" "$build/bench/windows"
