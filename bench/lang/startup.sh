#!/usr/bin/env bash
# Start to window shown with a stored language against the English start: runs
# the program on a fresh virtual X display, interleaving English, German and
# Simplified Chinese starts, and prints each median and its ratio to English.
# Target: a stored language no slower than 1.2 x the English start.
# Usage: bash bench/lang/startup.sh <builddir> [runs]
set -euo pipefail
build="${1:?usage: startup.sh <builddir> [runs]}"
runs="${2:-15}"
program="$build/bin/plexavo"
[ -x "$program" ] || { echo "startup: $program not found; build first" >&2; exit 1; }

source "$(dirname "$0")/../lib.sh"
start_virtual_display 200

languages="English German Chinese"
write_settings "$work/English"
write_settings "$work/German" 'Language=1031'
write_settings "$work/Chinese" 'Language=2052'

# One start before measuring, so every language meets the same warm caches.
DISPLAY=$display PLEXAVO_CONFIG_DIR="$work/English" PLEXAVO_REPORT_SHOWN=1 "$program" >/dev/null

# Wall time to the first expose (mapped), and the processor time of the whole start
# (GNU time), which a machine busy with other work disturbs far less.
timer=()
[ -x /usr/bin/time ] && timer=(/usr/bin/time -f "%U %S" -o "$work/cpu")
declare -A times cpu
for i in $(seq "$runs"); do
  for name in $languages; do
    start=$(date +%s%N)
    shown=$(DISPLAY=$display PLEXAVO_CONFIG_DIR="$work/$name" PLEXAVO_REPORT_SHOWN=1 \
      "${timer[@]}" "$program" | awk '/^shown /{print $2}')
    [ -n "$shown" ] || { echo "startup: a $name start did not report" >&2; exit 1; }
    times[$name]+="$(( (shown - start) / 1000000 )) "
    if [ ${#timer[@]} -gt 0 ]; then
      cpu[$name]+="$(awk '{printf "%d", ($1 + $2) * 1000}' "$work/cpu") "
    fi
  done
done

# The median, and the fastest start (least disturbed by a busy machine).
# (median takes the numbers as words: the lists are unquoted on purpose.)
fastest() { printf '%s\n' $1 | sort -n | head -1; }
english=$(median ${times[English]})
englishFastest=$(fastest "${times[English]}")
for name in $languages; do
  m=$(median ${times[$name]})
  f=$(fastest "${times[$name]}")
  ratio=$(awk -v a="$m" -v b="$english" 'BEGIN {printf "%.2f", a / b}')
  fratio=$(awk -v a="$f" -v b="$englishFastest" 'BEGIN {printf "%.2f", a / b}')
  echo "start to window shown, $name: median ${m} ms (${ratio} x English), fastest ${f} ms (${fratio} x), $runs runs"
done
if [ ${#timer[@]} -gt 0 ]; then
  englishCpu=$(median ${cpu[English]})
  for name in $languages; do
    c=$(median ${cpu[$name]})
    ratio=$(awk -v a="$c" -v b="$englishCpu" 'BEGIN {printf "%.2f", a / b}')
    echo "processor time of a start, $name: median ${c} ms (${ratio} x English)"
  done
fi
echo "(target: a stored language at most 1.20 x the English start)"
