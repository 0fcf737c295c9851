#!/usr/bin/env bash
# Builds the Debian package from the build tree (as `make package` does, into
# a temporary folder), runs lintian on it, unpacks it with dpkg-deb into a
# temporary root and checks what it holds: the control fields, the layout of
# `make install PREFIX=/usr`, the desktop entry and AppStream data
# (validated), and that the unpacked program probes a clip with the core
# beside it.
# Usage: package_test.sh BUILD_DIR
set -uo pipefail

build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what="$1"; shift; "$@" || fail "$what"; }
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "package: all checks passed"
  exit 0
}

app=com.vantrel.Plexavo
for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli ffmpeg; do
  command -v "$tool" >/dev/null || { fail "$tool is not installed (scripts/install-deps.sh)"; finish; }
done

version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
arch="$(dpkg --print-architecture)"
deb="$work/out/plexavo_${version}_${arch}.deb"

# 1. The package.
if ! (cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack"
  finish
fi
debs=("$work"/out/*.deb)
check "one package, named plexavo_${version}_${arch}.deb" test "${debs[*]}" = "$deb"
[ -f "$deb" ] || finish

# 2. lintian: no error, no warning; every override in the repository still used.
lintian --display-info "$deb" >"$work/lintian.log" 2>&1
grep -v '^running with root privileges' "$work/lintian.log"
check "lintian reports no error" bash -c "! grep -q '^E: ' '$work/lintian.log'"
check "lintian reports no warning" bash -c "! grep -q '^W: ' '$work/lintian.log'"
check "every lintian override is used" bash -c "! grep -Eq 'unused-override|mismatched-override' '$work/lintian.log'"

# 3. The control fields.
field() { dpkg-deb -f "$deb" "$1"; }
check "Package" test "$(field Package)" = plexavo
check "Version" test "$(field Version)" = "$version"
check "Architecture" test "$(field Architecture)" = "$arch"
depends="$(field Depends)"
echo "Depends: $depends"
echo "Installed-Size: $(field Installed-Size) KiB"
# From the binaries (dpkg-shlibdeps): the window's and the core's libraries.
for lib in libqt6widgets6 libqt6dbus6 libgstreamer1.0-0 libavcodec libavformat libc6; do
  check "Depends has $lib (from the binaries)" grep -q "\b$lib" <<<"$depends"
done
# What no binary links but the program needs at run time.
for pkg in gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  gstreamer1.0-plugins-ugly gstreamer1.0-libav libqt6svg6; do
  check "Depends has $pkg" grep -Eq "(^|, )$pkg(,|$| )" <<<"$depends"
done
# What only some files or languages need, which the program names when it is
# missing, is recommended: not forced on every install.
recommends="$(field Recommends)"
echo "Recommends: $recommends"
for pkg in gstreamer1.0-plugins-bad fonts-noto-cjk; do
  check "Recommends has $pkg" grep -Eq "(^|, )$pkg(,|$| )" <<<"$recommends"
  check "Depends has no $pkg" bash -c "! grep -Eq '(^|, )$pkg(,|\$| )' <<<'$depends'"
done
# Nothing that only builds or tests.
for pkg in -dev ffmpeg lintian xvfb cmake googletest clang-format dbus-daemon; do
  check "Depends has no $pkg" bash -c "! grep -q -- '$pkg' <<<'$depends'"
done

# 4. The files: owned by root, all under /usr, in the layout of make install.
dpkg-deb -c "$deb" >"$work/contents"
check "every file belongs to root:root" bash -c "! awk '\$2 != \"root/root\"' '$work/contents' | grep -q ."
check "nothing outside /usr" bash -c "! awk '{print \$6}' '$work/contents' | grep -v '^\./usr/\|^\./$' | grep -q ."
root="$work/root"
dpkg-deb -x "$deb" "$root"
lib="$root/usr/lib/plexavo"
for f in plexavo Plexcore; do
  check "$f is in /usr/lib/plexavo and runnable" test -x "$lib/$f"
  check "$f is stripped" bash -c "file -L '$lib/$f' | grep -q ', stripped'"
done
check "the player module is in /usr/lib/plexavo, stripped" \
  bash -c "file -L '$lib/libplexavo-player.so' | grep -q ', stripped'"
for f in Plexavo.html index.html download.html plexavo.css plexavo.svg \
  LanResChsDll.so LanResDeuDll.so LanResFraDll.so LanResEspDll.so LanResJpnDll.so; do
  check "$f beside the program" test -f "$lib/$f"
done
check "/usr/bin/plexavo links to the program" test "$(readlink "$root/usr/bin/plexavo")" = "../lib/plexavo/plexavo"
desktop="$root/usr/share/applications/$app.desktop"
metainfo="$root/usr/share/metainfo/$app.metainfo.xml"
check "desktop entry validates" desktop-file-validate "$desktop"
check "AppStream data validates" appstreamcli validate --no-net "$metainfo"
check "desktop entry starts /usr/bin/plexavo" grep -qx "Exec=/usr/bin/plexavo %F" "$desktop"
check "scalable icon" test -f "$root/usr/share/icons/hicolor/scalable/apps/$app.svg"
for size in 16 32 48 256; do
  check "${size}px icon" test -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/$app.png"
done
doc="$root/usr/share/doc/plexavo"
check "copyright file" grep -q '^License: GPL-3+' "$doc/copyright"
check "copyright points to the common licence" grep -q '/usr/share/common-licenses/GPL-3' "$doc/copyright"
check "no full licence text beside it" test ! -e "$doc/LICENSE"
check "changelog names this version" bash -c "gzip -dc '$doc/changelog.gz' | head -1 | grep -q '^plexavo ($version) '"
check "manual page" bash -c "gzip -dc '$root/usr/share/man/man1/plexavo.1.gz' | grep -q '^\.TH PLEXAVO 1'"
check "lintian overrides" test -f "$root/usr/share/lintian/overrides/plexavo"
for f in README.md scripting.md core.md; do
  check "$f in /usr/share/doc/plexavo" test -s "$doc/$f"
done

# Every file of the package that a shipped text names is in the package: the
# --help text, the manual page, the documents and pages, the desktop files.
texts="$work/texts"
mkdir -p "$texts"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/plexavo" --help >"$texts/help" 2>&1 || fail "plexavo --help"
gzip -dc "$root/usr/share/man/man1/plexavo.1.gz" | sed 's/\\-/-/g' >"$texts/manual"
gzip -dc "$doc/changelog.gz" >"$texts/changelog"
cp "$doc"/*.md "$lib"/*.html "$desktop" "$metainfo" "$texts/"
named() { grep -qF "$2" "$texts/$1" || fail "$1 names $2"; }
named help /usr/share/doc/plexavo/scripting.md
named manual /usr/share/doc/plexavo/scripting.md
named manual /usr/share/doc/plexavo/core.md
named README.md /usr/share/doc/plexavo/scripting.md
named README.md /usr/share/doc/plexavo/core.md
named scripting.md /usr/share/doc/plexavo/core.md
# A sentence may end right after a path; /usr/local is make install's, never
# the package's.
grep -ohE '/usr/[A-Za-z0-9_.+/-]+' "$texts"/* | sed 's/[.,]*$//' | sort -u |
  grep -i plexavo | grep -v '^/usr/local/' >"$work/named" || true
echo "paths the texts name: $(wc -l <"$work/named")"
while read -r path; do
  check "$path, named in $(grep -lF "$path" "$texts"/* | xargs -n1 basename | tr '\n' ' ')is in the package" \
    test -e "$root$path"
done <"$work/named"

# 5. The unpacked program probes a clip with the core beside it, and only that one.
export QT_QPA_PLATFORM=offscreen
export PLEXAVO_CONFIG_DIR="$work/config"
clip="$work/clip.mp4"
if ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc=duration=2:size=160x120:rate=10 \
     -f lavfi -i sine=duration=2 -shortest -c:v mpeg4 -c:a aac "$clip"; then
  if out="$("$root/usr/bin/plexavo" --probe "$clip" 2>&1)"; then
    check "the probe reads the clip's duration" grep -q "Duration: 00:00:02" <<<"$out"
  else
    echo "$out"
    fail "the unpacked program probes a clip"
  fi
  # 3 would be "GStreamer cannot start": the player module not found beside it.
  status=0
  "$root/usr/bin/plexavo" --check-preview >/dev/null 2>&1 || status=$?
  check "the unpacked program loads its player module" test "$status" -ne 3
  mv "$lib/Plexcore" "$lib/Plexcore.away"
  if "$root/usr/bin/plexavo" --probe "$clip" >/dev/null 2>&1; then
    fail "without its core the unpacked program still probed: it used another core"
  fi
  mv "$lib/Plexcore.away" "$lib/Plexcore"
else
  fail "could not make a test clip with ffmpeg"
fi

finish
