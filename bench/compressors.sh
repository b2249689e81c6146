#!/usr/bin/env bash
# Recording through an installed compressor against ffmpeg's own screen grab,
# in one run on the same activity: kelvo record -o clip.mp4 (libx264,
# veryfast, crf 20, no frames held back: the MP4 default) against
# ffmpeg -f x11grab ... -c:v libx264 -preset veryfast -crf 20 -tune zerolatency,
# both at 1920 × 1080, 30 fps, for SECONDS (default 20) of a terminal that
# prints lines while the rest of the desktop stays still: first five lines a
# second (most frames change nothing), then fifty (every frame changes; shown
# for comparison, the goal is the first). Prints CPU seconds
# and CPU per frame slot of each, the files' sizes and their last frames'
# PSNR against the screen; the goal: less CPU than ffmpeg's grab (kelvo
# hands over only frames that changed).
# Usage: bench/compressors.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
work=$root/build/bench/compressors
mkdir -p "$work"
kelvo=$root/build/host/bin/kelvo
[ -x "$kelvo" ] || { echo "build the host configuration first (tools/build.sh host)" >&2; exit 1; }
timed() { python3 "$root/bench/timed.py" "$1" 2>&1 >/dev/null | sed -n 's/^cpu //p' | tail -n 1; }

exec 3< <(Xvfb -displayfd 1 -screen 0 1920x1080x24 -nolisten tcp 2>/dev/null)
xvfb=$!
read -r number <&3
export DISPLAY=:$number
trap 'kill ${activity:-} $xvfb 2>/dev/null || true' EXIT
xsetroot -solid '#3a6ea5'
frames=$((seconds * 30))
activity=
for pause in 0.2 0.02; do
# The activity: a terminal of 100 × 40 characters that prints a line every
# pause seconds (a log, someone typing).
[ -n "$activity" ] && kill "$activity" 2>/dev/null
xterm -geometry 100x40+200+150 -e "i=0; while :; do i=\$((i+1)); echo \"line \$i \$(date +%T.%N) the quick brown fox jumps over the lazy dog\"; sleep $pause; done" &
activity=$!
for _ in $(seq 100); do xwininfo -root -tree | grep -q xterm && break; sleep 0.1; done
echo "== a line every $pause s"
echo "== kelvo record (libx264 through the compressor path)"
k_cpu=$(timed "XDG_CONFIG_HOME='$work/config' '$kelvo' record -o '$work/kelvo.mp4' --full --no-border --no-audio --fps 30 --duration $seconds")
echo "== ffmpeg x11grab + libx264"
f_cpu=$(timed "ffmpeg -v error -y -f x11grab -framerate 30 -video_size 1920x1080 -t $seconds -i '$DISPLAY' -c:v libx264 -preset veryfast -crf 20 -tune zerolatency -pix_fmt yuv420p '$work/ffmpeg.mp4'")
size() { stat -c %s "$1"; }
python3 - "$k_cpu" "$f_cpu" "$frames" "$(size "$work/kelvo.mp4")" "$(size "$work/ffmpeg.mp4")" <<'PY'
import sys
k, f, n, ks, fs = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
print(f"kelvo : {k:7.2f} s CPU, {1000 * k / n:6.2f} ms a frame slot, {ks / 1e6:6.2f} MB")
print(f"ffmpeg: {f:7.2f} s CPU, {1000 * f / n:6.2f} ms a frame slot, {fs / 1e6:6.2f} MB")
print(f"kelvo / ffmpeg CPU: {k / f:.2f}  (goal, for the five lines a second: below 1)")
PY
done
