#!/usr/bin/env bash
# Figure of the end-of-batch notification: batch end to the Notify call on a
# private session bus (printed, no thresholds).
# Usage: bash bench/desktop_notify.sh [builddir] [runs]   (default: build, 30)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
cmake --build "$build" --target bench_desktop_notify scripted_child >/dev/null
exec "$build/bin/bench_desktop_notify" "${2:-30}"
