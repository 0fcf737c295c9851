#!/usr/bin/env bash
# Installs the build into temporary prefixes and checks the tree: the layout,
# the desktop entry and AppStream data (validated), the icons, the language
# packs, and that the installed program finds its encoder core beside itself.
# Usage: install_test.sh BUILD_DIR
set -uo pipefail

build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what="$1"; shift; "$@" || fail "$what"; }

app=com.vantrel.Plexavo

# Fake language packs, in letter cases the program accepts, beside things it does not.
packs="$work/packs"
mkdir -p "$packs/LanResDirDll.so"
printf 'x' > "$packs/LanResFrenchDll.so"
printf 'x' > "$packs/lanresGermanDLL.SO"
printf 'x' > "$packs/NotAPackDll.so"

# 1. A staged install (as packagers do) keeps the final paths inside the files.
stage="$work/stage"
if ! DESTDIR="$stage" PLEXAVO_PACKS_DIR="$packs" cmake --install "$build" --prefix /opt/plexavo-test >"$work/stage.log" 2>&1; then
  cat "$work/stage.log"
  fail "staged install"
fi
root="$stage/opt/plexavo-test"
lib="$root/lib/plexavo"
for f in plexavo Plexcore; do
  check "$f is installed and runnable" test -x "$lib/$f"
done
for f in Plexavo.html index.html download.html plexavo.css plexavo.svg LanResFrenchDll.so lanresGermanDLL.SO \
  libplexavo-player.so; do
  check "$f beside the program" test -f "$lib/$f"
done
check "a folder named like a pack is not installed" test ! -e "$lib/LanResDirDll.so"
check "other libraries are not installed" test ! -e "$lib/NotAPackDll.so"
check "bin/plexavo is a relative link" test "$(readlink "$root/bin/plexavo")" = "../lib/plexavo/plexavo"
check "bin/plexavo reaches the program" test -x "$root/bin/plexavo"

desktop="$root/share/applications/$app.desktop"
metainfo="$root/share/metainfo/$app.metainfo.xml"
check "desktop entry validates" desktop-file-validate "$desktop"
check "AppStream data validates" appstreamcli validate --no-net "$metainfo"
check "desktop entry starts the installed program" grep -qx "Exec=/opt/plexavo-test/bin/plexavo %F" "$desktop"
check "desktop entry opens video" grep -q "^MimeType=.*video/mp4;" "$desktop"
check "desktop entry opens audio" grep -q "^MimeType=.*audio/mpeg;" "$desktop"
check "AppStream data names the entry" grep -q "<launchable type=\"desktop-id\">$app.desktop</launchable>" "$metainfo"
check "scalable icon" test -f "$root/share/icons/hicolor/scalable/apps/$app.svg"
check "manual page" bash -c "gzip -dc '$root/share/man/man1/plexavo.1.gz' | grep -q '^\.TH PLEXAVO 1'"
check "licence text with a plain install" test -f "$root/share/doc/plexavo/LICENSE"
check "no Debian copyright file with a plain install" test ! -e "$root/share/doc/plexavo/copyright"
for f in README.md scripting.md core.md; do
  check "$f in share/doc/plexavo" test -s "$root/share/doc/plexavo/$f"
done
for size in 16 22 24 32 48 64 128 256; do
  png="$root/share/icons/hicolor/${size}x${size}/apps/$app.png"
  check "${size}px icon is a ${size}x${size} PNG" python3 - "$png" "$size" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read(24)
size = int(sys.argv[2])
ok = data[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", data[16:24]) == (size, size)
sys.exit(0 if ok else 1)
EOF
done

# 2. A real install runs: the program, through its link, finds the core beside itself.
prefix="$work/prefix with space"
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "install into a prefix with a blank"
fi
export QT_QPA_PLATFORM=offscreen
export PLEXAVO_CONFIG_DIR="$work/config"
help="$("$prefix/bin/plexavo" --help 2>&1)" || fail "plexavo --help"
probe=()
case "$help" in *--probe*) probe=(--probe) ;; esac
clip="$work/clip one.mp4"
if ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc=duration=2:size=160x120:rate=10 \
     -f lavfi -i sine=duration=2 -shortest -c:v mpeg4 -c:a aac "$clip"; then
  check "the installed program probes a clip" "$prefix/bin/plexavo" "${probe[@]}" "$clip"
  # 3 would be "GStreamer cannot start": the player module not found beside it.
  status=0
  "$prefix/bin/plexavo" --check-preview >/dev/null 2>&1 || status=$?
  check "the installed program loads its player module" test "$status" -ne 3
  mv "$prefix/lib/plexavo/Plexcore" "$prefix/lib/plexavo/Plexcore.away"
  if "$prefix/bin/plexavo" "${probe[@]}" "$clip" >/dev/null 2>&1; then
    fail "without its core the installed program still probed: it used another core"
  fi
  mv "$prefix/lib/plexavo/Plexcore.away" "$prefix/lib/plexavo/Plexcore"
else
  fail "could not make a test clip with ffmpeg"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install tree: all checks passed"
