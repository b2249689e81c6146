#!/usr/bin/env bash
# The main job on a fresh machine: installs what it needs, builds, starts a
# virtual X display when there is none, runs real X programs with scripted
# activity, records about ten seconds of it with kelvo into a self-playing
# recording, checks it and exports a few frames and a contact sheet as PNG.
# With a real display it then plays the recording.
# Usage: bash tools/demo.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-10}
bash tools/install-deps.sh --demo
bash tools/build.sh host
source tools/desktop-activity.sh
out=$root/build/demo
rm -rf "$out"
mkdir -p "$out"

own_display=0
xvfb_pid=
if [ -z "${DISPLAY:-}" ]; then
  exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset 2>/dev/null)
  xvfb_pid=$!
  read -r number <&3
  export DISPLAY=:$number
  own_display=1
  echo "started a virtual X display $DISPLAY"
fi
cleanup() {
  desktop_stop
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

read -r w h < <(xdpyinfo | sed -n 's/.*dimensions: *\([0-9]*\)x\([0-9]*\) pixels.*/\1 \2/p')
desktop_start "$w" "$h"
recording=$out/recording
# The demo's own settings, so that a user's choices (region, numbering)
# neither change the demo nor are changed by it.
XDG_CONFIG_HOME="$out/config" build/host/bin/kelvo record -o "$recording" --full --no-audio --fps 15 \
  --duration "$seconds" </dev/null &
kelvo=$!
desktop_activity $((seconds + 1)) "$w" "$h"
wait "$kelvo"

kmrtool=build/host/tools/kmrtool/kmrtool
"$kmrtool" check "$recording"
"$kmrtool" probe "$recording" >"$out/probe.json"
"$kmrtool" decode "$recording" -o "$out/frames.raw" 2>"$out/decode.txt"
read -r size bits fps < <(sed -n 's/^\([0-9]*x[0-9]*\), \([0-9]*\) bits, \([0-9]*\) fps$/\1 \2 \3/p' "$out/decode.txt")
frame_bytes=$(( ${size%x*} * ${size#*x} * 4 ))
frames=$(( $(stat -c %s "$out/frames.raw") / frame_bytes ))
pngs=()
for pick in 0 1 2 3 4 5; do
  n=$(( (frames - 1) * pick / 5 ))
  png=$(printf '%s/frame-%04d.png' "$out" "$n")
  dd if="$out/frames.raw" bs="$frame_bytes" skip="$n" count=1 2>/dev/null |
    /usr/bin/convert -size "$size" -depth 8 bgra:- -alpha off "$png"
  pngs+=("$png")
done
/usr/bin/montage "${pngs[@]}" -tile 3x2 -geometry 480x+4+4 "$out/contact-sheet.png"
rm -f "$out/frames.raw"
echo
echo "recording:     $recording ($(stat -c %s "$recording") bytes, $frames frames at $fps fps, $size)"
echo "frames:        ${pngs[*]}"
echo "contact sheet: $out/contact-sheet.png"
if [ "$own_display" -eq 0 ]; then
  echo "playing the recording (close the window or press Q to end)"
  "$recording" || true
else
  echo "play it on a desktop with: $recording"
fi
