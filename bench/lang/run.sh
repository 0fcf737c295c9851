#!/usr/bin/env bash
# Prints the language-pack figures: listing, switching and reading packs.
# Usage: bash bench/lang/run.sh [builddir] [rounds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$(dirname "$here")")"
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
rounds="${2:-50}"

cmake --build "$build" --target lang_pack_bench >/dev/null
echo "## Language packs (engine)"
"$build/bench/lang/lang_pack_bench" "$build/bin" "$rounds"
