#!/bin/bash
# What kelvo's Wayland capture costs: kelvo recording the screen-cast
# portal's stream against GStreamer recording the same PipeWire stream
# (pipewiresrc ! videoconvert ! x264enc speed-preset=ultrafast), in the same
# session, one after the other, with the same desktop activity: none (idle)
# and office work (a line of typing, ten glyphs a second, and a window-sized
# change every two seconds) on a 1920 × 1080 desktop. CPU seconds (user +
# system) of each recorder, over ROUNDS alternating rounds.
# Usage: bench/portal.sh [ROUNDS] (builds the host configuration first;
# needs root for the session's own user, and gstreamer1.0-pipewire and
# gstreamer1.0-plugins-ugly: tools/install-deps.sh --bench).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
if [ "${1:-}" != --inside ]; then
  bash "$root/tools/build.sh" host
  b=$root/build/host
  exec bash "$root/tools/wayland/run-session.sh" test /tmp/kmr-portal-bench \
    bash "$root/bench/portal.sh" --inside "$rounds" "$b/bin/kelvo" "$b/platform/cast_producer"
fi
rounds=$2 kelvo=$3 producer=$4
D=$KMR_WL_DIR
seconds=10
coproc PRODUCER { "$producer" 1920 1080; }
read -r line <&"${PRODUCER[0]}"
node=${line#node }
say() { echo "$*" >&"${PRODUCER[1]}"; }
say "fill 0 0 1920 1080 f0f0f0"
say "fill 0 0 1920 32 303850"
KMR_CAST_NODE=$node KMR_CAST_SIZE=1920,1080 KMR_CAST_LOG=$D/backend.log \
  /usr/bin/python3 "$root/platform/mirror/pipewire/testing/screencast_backend.py" &
for _ in $(seq 1 300); do
  busctl --user status org.freedesktop.impl.portal.desktop.kmrtest > /dev/null 2>&1 && break
  sleep 0.1
done

office() {  # the activity while a recorder runs, for $seconds
  local end=$((SECONDS + seconds)) x=100 y=200 n=0
  while [ $SECONDS -lt $end ]; do
    say "fill $x $y 8 16 202020"
    x=$((x + 9)); [ $x -gt 1500 ] && { x=100; y=$((y + 20)); }
    n=$((n + 1))
    if [ $((n % 20)) = 0 ]; then say "fill 400 300 600 400 $(printf '%02x%02xc0' $((n % 256)) $((n * 7 % 256)))"; fi
    sleep 0.1
  done
}

cpu() {  # the CPU seconds /usr/bin/time wrote
  awk '/^cpu / {print $2 + $3}' "$1"
}

run_kelvo() {  # activity → CPU seconds
  /usr/bin/time -f "cpu %U %S" -o "$D/time" "$kelvo" record -o "$D/k.kmr" --duration $seconds --fps 30 \
    --no-audio --no-hot-keys > "$D/kelvo.log" 2>&1 &
  local pid=$!
  for _ in $(seq 1 300); do grep -q "kelvo: recording" "$D/kelvo.log" && break; sleep 0.1; done
  [ "$1" = office ] && office
  wait $pid
  cpu "$D/time"
}

run_gst() {
  /usr/bin/time -f "cpu %U %S" -o "$D/time" timeout -s INT $((seconds + 1)) gst-launch-1.0 -e \
    pipewiresrc path="$node" ! videoconvert ! x264enc speed-preset=ultrafast ! matroskamux ! \
    filesink location="$D/g.mkv" > "$D/gst.log" 2>&1 &
  local pid=$!
  sleep 1
  [ "$1" = office ] && office || sleep $seconds
  wait $pid || true
  cpu "$D/time"
}

echo "desktop 1920x1080, $seconds s a run, $rounds rounds (kelvo: own lossless codec, 30 fps; GStreamer: x264 ultrafast)"
for activity in idle office; do
  k_all=() g_all=()
  for r in $(seq 1 "$rounds"); do
    k_all+=("$(run_kelvo $activity)")
    g_all+=("$(run_gst $activity)")
  done
  k=$(printf '%s\n' "${k_all[@]}" | awk '{s += $1} END {printf "%.2f", s / NR}')
  g=$(printf '%s\n' "${g_all[@]}" | awk '{s += $1} END {printf "%.2f", s / NR}')
  ratio=$(awk -v k="$k" -v g="$g" 'BEGIN {printf "%.2f", (g > 0 ? k / g : 0)}')
  echo "$activity: kelvo ${k_all[*]} s (mean $k), GStreamer ${g_all[*]} s (mean $g): ratio $ratio"
  echo "   last kelvo run: $(grep "kelvo: wrote" "$D/kelvo.log" | sed 's/^kelvo: //')"
done
say quit
