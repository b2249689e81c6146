#!/usr/bin/env bash
# Records a real desktop clip for the codec benchmarks: a virtual X display
# with real X programs and scripted activity (typing in a terminal, paging a
# long text, a picture window dragged over a patterned background, a clock,
# pointer moves), read back from the X server as raw top-down 32-bit frames.
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

display=:$((70 + RANDOM % 200))
Xvfb "$display" -screen 0 "${w}x${h}x24" -nolisten tcp -noreset >/dev/null 2>&1 &
pids=($!)
cleanup() { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; }
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

xsetroot -mod 12 12 -fg '#2d4a66' -bg '#9fb6c9'
xclock -update 1 -geometry 160x160+$((w - 190))+20 >/dev/null 2>&1 & pids+=($!)
xterm -geometry 96x28+20+20 -fa Monospace -fs 10 -T shell >/dev/null 2>&1 & pids+=($!)
xterm -geometry 84x36+$((w / 3))+$((h / 3)) -fa Monospace -fs 10 -T pager \
  -e less /usr/share/common-licenses/GPL-3 >/dev/null 2>&1 & pids+=($!)
picture=$(mktemp --suffix=.png)
/usr/bin/convert -size 320x240 -seed 4 plasma:steelblue-orange "$picture"
display -geometry +$((w / 2))+60 -title picture "$picture" >/dev/null 2>&1 & pids+=($!)
sleep 2

win() { xdotool search --name "$1" | head -n 1; }
shell=$(win '^shell$'); pager=$(win '^pager$'); pic=$(win 'picture')

"$xgrab" -r "$fps" -n $((seconds * fps)) -o "$out" & grab=$!

end=$((SECONDS + seconds))
step=0
while [ $SECONDS -lt $end ]; do
  case $((step % 4)) in
    0) xdotool windowfocus --sync "$shell" type --delay 40 "ls -l /usr/lib | head -n 12; echo step $step" 2>/dev/null
       xdotool key Return ;;
    1) xdotool windowfocus --sync "$pager" key space 2>/dev/null ;;
    2) # drag the picture window with the pointer
       x=$((w / 2 - 200 + (step * 37) % 300)); y=$((60 + (step * 53) % 300))
       for i in $(seq 0 10); do
         xdotool mousemove $((x + i * 12)) $((y + i * 6)) windowmove "$pic" $((x + i * 12 - 20)) $((y + i * 6 - 20))
         sleep 0.05
       done ;;
    3) for i in $(seq 0 8); do xdotool mousemove $((100 + i * 90)) $((h - 200 + (i % 3) * 40)); sleep 0.05; done ;;
  esac
  step=$((step + 1))
done
wait "$grab"
rm -f "$picture"
echo "$w $h $fps $((seconds * fps))" >"$out.txt"
echo "clip: $out (${w}x${h}, $fps fps, $((seconds * fps)) frames)"
