#!/usr/bin/env bash
# Benchmarks the encoder core side by side with the ffmpeg tool and HandBrakeCLI.
# Usage: bash bench/run.sh <builddir> [options of bench/core/bench.py, e.g. --repeats 5 --strict]
# Inputs are made once and kept in <builddir>/bench; results land in <builddir>/bench/results.md.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${1:?usage: bash bench/run.sh <builddir> [bench options]}"
shift
# make passes the build folder relative to the repository.
case "$build" in
/*) ;;
*) build="$root/$build" ;;
esac

core="$build/bin/Plexcore"
if [ ! -x "$core" ]; then
  echo "bench: $core not found; build first (make build)" >&2
  exit 1
fi

# The peers and GNU time are needed only here, so they are installed only here.
missing=0
for tool in ffmpeg ffprobe HandBrakeCLI; do
  command -v "$tool" >/dev/null 2>&1 || missing=1
done
[ -x /usr/bin/time ] || missing=1
if [ "$missing" = 1 ]; then
  echo "bench: installing the benchmark's packages"
  bash "$root/scripts/install-deps.sh" --bench
fi

# The main window's figures first (start-up against an empty Qt window,
# memory, the first preview, adding rows, a thousand files added at once);
# they take a few minutes.
bash "$here/start/run.sh" "$build" || echo "bench: the start and memory benchmark failed"
bash "$here/detect/run.sh" "$build" || echo "bench: the thousand-file benchmark failed"
bash "$here/mainwin/run.sh" "$build" || echo "bench: the main-window benchmark failed"
bash "$here/preview/run.sh" "$build" || echo "bench: the preview benchmark failed"
bash "$here/windows_batch.sh" "$build" || echo "bench: the worker-window benchmark failed"
bash "$here/desktop_notify.sh" "$build" || echo "bench: the desktop-notification benchmark failed"
bash "$here/lang/run.sh" "$build" || echo "bench: the language-pack benchmark failed"
bash "$here/cli/run.sh" "$build" || echo "bench: the command-line benchmark failed"

exec python3 "$here/core/bench.py" --core "$core" --work "$build/bench" "$@"
