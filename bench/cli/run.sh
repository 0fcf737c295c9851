#!/usr/bin/env bash
# The command line's --jobs: eight files converted one at a time and two at a
# time, as a ratio of wall times, with the processor time each file took
# (printed, no thresholds).
# Usage: bash bench/cli/run.sh [builddir] [rounds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$(dirname "$here")")"
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
rounds="${2:-3}"
cmake --build "$build" --target plexavo Plexcore >/dev/null
exec python3 "$here/jobs.py" --bin "$build/bin" --work "$build/bench/cli" --rounds "$rounds"
