#!/usr/bin/env bash
# Start to main window shown: runs the program N times (default 5) on a fresh
# virtual X display, each time from exec to the window's first expose (mapped), and
# prints every time and the median in milliseconds. Target: at most 400 ms.
# Usage: bash bench/mainwin/startup.sh <builddir> [runs]
set -euo pipefail
build="${1:?usage: startup.sh <builddir> [runs]}"
runs="${2:-5}"
program="$build/bin/plexavo"
[ -x "$program" ] || { echo "startup: $program not found; build first" >&2; exit 1; }

source "$(dirname "$0")/../lib.sh"
start_virtual_display 150
write_settings "$work/config"

times=()
for i in $(seq "$runs"); do
  # Drop the page cache when allowed, so each start reads its libraries anew.
  sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null || true
  start=$(date +%s%N)
  shown=$(DISPLAY=$display PLEXAVO_CONFIG_DIR="$work/config" PLEXAVO_REPORT_SHOWN=1 "$program" | awk '/^shown /{print $2}')
  if [ -z "$shown" ]; then echo "startup: run $i did not report" >&2; exit 1; fi
  ms=$(( (shown - start) / 1000000 ))
  times+=("$ms")
  echo "run $i: ${ms} ms"
done
median=$(median "${times[@]}")
echo "start to window shown, median of $runs: ${median} ms (target <= 400 ms)"
