#!/usr/bin/env bash
# Records a real desktop clip for the codec benchmarks: a virtual X display
# with real X programs and scripted activity (tools/desktop-activity.sh), read
# back from the X server as raw top-down 32-bit frames.
# Usage: bench/make-clip.sh OUT.raw [SECONDS] [WxH] [FPS]
# Writes OUT.raw and OUT.raw.txt ("W H FPS FRAMES").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: make-clip.sh OUT.raw [SECONDS] [WxH] [FPS]}
seconds=${2:-15}
size=${3:-1280x1024}
fps=${4:-10}
w=${size%x*}
h=${size#*x}
xgrab=$root/build/host/tools/xgrab
[ -x "$xgrab" ] || { echo "build the host configuration first (tools/build.sh host)" >&2; exit 1; }
source "$root/tools/desktop-activity.sh"

exec 3< <(Xvfb -displayfd 1 -screen 0 "${w}x${h}x24" -nolisten tcp -noreset 2>/dev/null)
xvfb_pid=$!
read -r number <&3
export DISPLAY=:$number
cleanup() { desktop_stop; kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT

desktop_start "$w" "$h"
"$xgrab" -r "$fps" -n $((seconds * fps)) -o "$out" &
grab=$!
desktop_activity "$seconds" "$w" "$h"
wait "$grab"
echo "$w $h $fps $((seconds * fps))" >"$out.txt"
echo "clip: $out (${w}x${h}, $fps fps, $((seconds * fps)) frames)"
