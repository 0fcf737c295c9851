#!/usr/bin/env bash
# Fails when a C++ file under src/, core/ or tests/ is not formatted as
# .clang-format says. Lists the files to fix; `clang-format -i FILE` fixes one.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null 2>&1; then
  echo "check-format: clang-format is not installed" >&2
  exit 1
fi

mapfile -d '' files < <(git ls-files -z -- 'src/*.h' 'src/*.cpp' 'core/*.h' 'core/*.cpp' \
  'tests/*.h' 'tests/*.cpp')
bad=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
    bad+=("$f")
  fi
done

if [ ${#bad[@]} -gt 0 ]; then
  echo "check-format: ${#bad[@]} of ${#files[@]} files differ from .clang-format:"
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "check-format: ${#files[@]} files follow .clang-format"
