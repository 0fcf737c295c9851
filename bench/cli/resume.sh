#!/usr/bin/env bash
# A 60 s file stopped at about half and continued with --resume, against one
# straight conversion: times, sizes, durations and SSIM at the join.
# Usage: bash bench/cli/resume.sh [builddir]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$(dirname "$here")")"
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
cmake --build "$build" --target plexavo Plexcore >/dev/null
exec python3 "$here/resume.py" --bin "$build/bin" --work "$build/bench/resume"
