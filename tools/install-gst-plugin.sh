#!/usr/bin/env bash
# Installs the GStreamer plugin (libgstkmr.so) into the user's own GStreamer
# plugin folder, so that the desktop's GStreamer players (gst-play-1.0,
# Videos/Totem, Parole, ...) open every recording: the self-playing and
# stand-alone files, and AVI, Windows Media, Matroska and MP4 files with the
# screen video codecs.
#   bash tools/install-gst-plugin.sh            build (if needed) and install
#   bash tools/install-gst-plugin.sh --remove   take it out again
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${XDG_DATA_HOME:-$HOME/.local/share}/gstreamer-1.0/plugins
if [ "${1:-}" = --remove ]; then
  rm -f "$folder/libgstkmr.so"
  echo "removed $folder/libgstkmr.so"
  exit 0
fi
plugin=build/host/gst-plugins/libgstkmr.so
[ -f "$plugin" ] || bash tools/build.sh host
mkdir -p "$folder"
install -m 0644 "$plugin" "$folder/libgstkmr.so"
echo "installed $folder/libgstkmr.so"
if command -v gst-inspect-1.0 >/dev/null; then
  gst-inspect-1.0 kmr >/dev/null 2>&1 || { echo "GStreamer does not load the plugin" >&2; exit 1; }
  echo "GStreamer finds it: gst-play-1.0 RECORDING plays a recording"
fi
