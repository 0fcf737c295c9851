# Shared by the window benchmarks' shell scripts: source it, don't run it.

# A private virtual X screen and runtime folder for timing real starts. Sets
# work (a temporary folder removed on exit) and display; exports
# XDG_RUNTIME_DIR. Argument: the first display number to try around.
start_virtual_display() {
  work=$(mktemp -d)
  display=:$(($1 + RANDOM % 50))
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  bench_xvfb=$!
  trap 'kill $bench_xvfb 2>/dev/null; rm -rf "$work"' EXIT
  sleep 1
  mkdir -m 700 "$work/runtime"
  export XDG_RUNTIME_DIR="$work/runtime"
}

# A settings file in folder $1 that is not a first start (the help window
# would open a second later), with any further key=value lines given after it.
write_settings() {
  local dir=$1
  shift
  mkdir -p "$dir"
  printf '[Settings]\nHiddenToolTips=true\n' > "$dir/plexavo.conf"
  [ $# -eq 0 ] || printf '%s\n' "$@" >> "$dir/plexavo.conf"
}

# The median of the numbers given as arguments.
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
