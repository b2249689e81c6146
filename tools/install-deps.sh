#!/usr/bin/env bash
# Installs every package the builds, tests and the demo need (Debian 12). Safe to
# run again: packages already present are not touched.
#   --demo   also the desktop programs of the demo (xterm, xclock, ImageMagick)
#   --bench  those and the benchmark's peers (ffmpeg)
set -euo pipefail
extra=${1:-}
packages=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libpixman-1-dev libsdl2-dev
  libx11-dev libxext-dev libxfixes-dev libxdamage-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32
  libz-mingw-w64-dev binutils-mingw-w64
  wine64
  clang libclang-rt-14-dev
  xvfb x11-utils xdotool python3
  libmp3lame-dev libmpg123-dev libpulse-dev pulseaudio pulseaudio-utils ffmpeg libxvidcore-dev
  libsdl2-ttf-dev fonts-dejavu-core
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base
  gstreamer1.0-plugins-base-apps gstreamer1.0-plugins-good gstreamer1.0-libav
  libglib2.0-dev libpipewire-0.3-dev libspa-0.2-dev
  pipewire pipewire-bin wireplumber xdg-desktop-portal xdg-desktop-portal-wlr sway grim dbus systemd
  python3-gi libgtk-3-dev libayatana-appindicator3-dev imagemagick
)
case $extra in
  --bench) packages+=(ffmpeg xterm x11-apps x11-xserver-utils imagemagick gstreamer1.0-pipewire gstreamer1.0-plugins-ugly time) ;;
  --demo) packages+=(xterm x11-apps x11-xserver-utils imagemagick) ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
