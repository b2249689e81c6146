#!/usr/bin/env bash
# Seeking, against ffmpeg in the same run: a long 1920 x 1080 recording of
# desktop-like activity (a plain desktop, a playing video window that moves,
# a clock, made with kmrtool encode from frames ffmpeg generates), 50 random
# seeks in the player (seek to the target's picture decoded and repainted),
# and the same targets in the recording transcoded by ffmpeg to x264 with the
# same key-frame spacing (time to the first decoded target frame with
# ffmpeg -ss T -i FILE -frames:v 1, a process each, single-threaded).
# Usage: bench/seek.sh [MINUTES]   (10 by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/bench
mkdir -p "$work"
minutes=${1:-10}
kmrtool=$root/build/host/tools/kmrtool/kmrtool
seek_bench=$root/build/host/tools/seek_bench
[ -x "$seek_bench" ] || { echo "build the host configuration first (tools/build.sh host)" >&2; exit 1; }
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
rec=$work/seek-$minutes.kmr
frames=$((minutes * 60 * 10))
if [ ! -f "$rec" ]; then
  echo "making a $minutes-minute 1920x1080 recording ($frames frames)..."
  ffmpeg -v error -f lavfi -i "color=c=0x3a6ea5:s=1920x1080:r=10" -f lavfi -i "testsrc2=s=480x320:r=10" \
    -filter_complex "[0:v][1:v]overlay=x='200+mod(t*13,1200)':y='150+mod(t*7,600)',drawtext=fontfile=$font:text='%{pts\\:hms}':x=1700:y=1040:fontsize=24:fontcolor=white" \
    -frames:v "$frames" -f rawvideo -pix_fmt bgra - |
    "$kmrtool" encode -s 1920x1080 -r 10 -i - -o "$rec"
fi
keys=$("$kmrtool" probe "$rec" | python3 -c "import json,sys; print(json.load(sys.stdin)['streams'][0]['key_frames'])")
gop=$((frames / (keys > 0 ? keys : 1)))
x264=$work/seek-$minutes.mkv
if [ ! -f "$x264" ]; then
  echo "transcoding to x264 with a key frame every $gop frames..."
  "$kmrtool" decode "$rec" -o - 2>/dev/null |
    ffmpeg -v error -y -f rawvideo -pix_fmt bgra -s 1920x1080 -r 10 -i - -c:v libx264 -preset veryfast -crf 23 \
      -g "$gop" -keyint_min "$gop" -sc_threshold 0 -threads 2 "$x264"
fi
ours=$("$seek_bench" "$rec" 50 7)
echo "$ours" | awk '{print $1}' >"$work/seek-targets.txt"
theirs=""
while read -r target; do
  t=$(python3 - "$x264" "$target" <<'PY'
import subprocess, sys, time
t0 = time.monotonic()
subprocess.run(["ffmpeg", "-v", "error", "-threads", "1", "-ss", f"{int(sys.argv[2]) / 1000:.3f}", "-i", sys.argv[1],
                "-frames:v", "1", "-f", "null", "-"], check=True)
print(f"{(time.monotonic() - t0) * 1000:.2f}")
PY
)
  theirs+="$target $t"$'\n'
done <"$work/seek-targets.txt"
python3 - "$ours" "$theirs" "$rec" "$x264" "$keys" "$gop" <<'PY'
import os, statistics, sys
def times(text):
    return [float(l.split()[1]) for l in text.strip().splitlines()]
ours, theirs = times(sys.argv[1]), times(sys.argv[2])
print(f"recording: {os.path.getsize(sys.argv[3])} bytes, {sys.argv[5]} key frames (one every {sys.argv[6]} frames); "
      f"x264: {os.path.getsize(sys.argv[4])} bytes")
print(f"{'':24} {'median ms':>10} {'worst ms':>10}")
print(f"{'morvin seek':24} {statistics.median(ours):10.1f} {max(ours):10.1f}")
print(f"{'ffmpeg -ss (x264)':24} {statistics.median(theirs):10.1f} {max(theirs):10.1f}")
ok = lambda c: "met" if c else "NOT met"
m, w = statistics.median(ours), max(ours)
print(f"goal: median below 150 ms: {ok(m < 150)}; worst below 500 ms: {ok(w < 500)}; "
      f"below ffmpeg's median: {ok(m < statistics.median(theirs))}")
PY
