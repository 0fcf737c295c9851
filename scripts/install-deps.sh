#!/usr/bin/env bash
# Installs everything Plexavo needs to build, test and run on Debian 12.
# Idempotent and non-interactive; works as root or through sudo.
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config git
  nlohmann-json3-dev  # the probe's JSON document (plexavo --probe --json)
  parallel            # the scripting guide's example of several machines, run by a test
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-l10n-tools qt6-tools-dev libgl-dev
  qt6-translations-l10n  # Qt's own buttons and file dialog in the interface's language
  qt6-wayland weston     # the native Wayland window, and the headless compositor its test runs in
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libswresample-dev libavfilter-dev libx264-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  gstreamer1.0-alsa gstreamer1.0-pulseaudio  # the preview's sound on a desktop
  ffmpeg python3 xvfb xauth x11-apps imagemagick xdg-utils twm
  librsvg2-bin desktop-file-utils appstream
  adwaita-icon-theme locales libqt6svg6 xdotool
  clang-format ccache  # ccache: the extra sanitizer and fuzz build trees rebuild from its cache
  gettext fonts-noto-cjk  # catalog checks; glyphs of the Chinese and Japanese packs
  dbus-daemon  # the desktop tests start a session bus of their own
  dpkg-dev file lintian  # make package (dpkg-shlibdeps, file) and its check
)

# The benchmark also measures the peers and needs GNU time for peak memory.
if [ "${1:-}" = "--bench" ]; then
  PKGS+=(handbrake-cli time)
fi

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

# The window's tests run a conversion under a German locale (decimal comma).
ensure_locale() {
  if locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    return 0
  fi
  $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
}

if [ ${#missing[@]} -eq 0 ]; then
  ensure_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
ensure_locale
