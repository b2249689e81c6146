# Sourced by the demo and the benchmark clip maker: real X programs on the
# display in $DISPLAY, and scripted activity with xdotool (typing in a
# terminal, paging a long text, dragging a picture window over a patterned
# background, a clock, pointer moves).
#   desktop_start W H       starts the programs; their pids go to desktop_pids
#   desktop_activity SECONDS W H
#   desktop_stop

desktop_pids=()
desktop_picture=""

desktop_start() {
  local w=$1 h=$2
  xsetroot -mod 12 12 -fg '#2d4a66' -bg '#9fb6c9'
  if command -v xclock >/dev/null; then
    xclock -update 1 -geometry 160x160+$((w - 190))+20 >/dev/null 2>&1 &
    desktop_pids+=($!)
  fi
  xterm -geometry 96x28+20+20 -fa Monospace -fs 10 -T shell >/dev/null 2>&1 &
  desktop_pids+=($!)
  xterm -geometry 84x36+$((w / 3))+$((h / 3)) -fa Monospace -fs 10 -T pager \
    -e less /usr/share/common-licenses/GPL-3 >/dev/null 2>&1 &
  desktop_pids+=($!)
  desktop_picture=$(mktemp --suffix=.png)
  /usr/bin/convert -size 320x240 -seed 4 plasma:steelblue-orange "$desktop_picture"
  /usr/bin/display -geometry +$((w / 2))+60 -title picture "$desktop_picture" >/dev/null 2>&1 &
  desktop_pids+=($!)
  sleep 2
}

desktop_activity() {
  local seconds=$1 w=$2 h=$3
  local shell pager pic end step=0 x y i
  shell=$(xdotool search --name '^shell$' | head -n 1)
  pager=$(xdotool search --name '^pager$' | head -n 1)
  pic=$(xdotool search --name 'picture' | head -n 1)
  end=$((SECONDS + seconds))
  while [ $SECONDS -lt $end ]; do
    case $((step % 4)) in
      0) xdotool windowfocus --sync "$shell" type --delay 40 "ls -l /usr/lib | head -n 12; echo step $step" 2>/dev/null || true
         xdotool key Return 2>/dev/null || true ;;
      1) xdotool windowfocus --sync "$pager" key space 2>/dev/null || true ;;
      2) x=$((w / 2 - 200 + (step * 37) % 300)); y=$((60 + (step * 53) % 300))
         for i in $(seq 0 10); do
           xdotool mousemove $((x + i * 12)) $((y + i * 6)) windowmove "$pic" $((x + i * 12 - 20)) $((y + i * 6 - 20)) 2>/dev/null || true
           sleep 0.05
         done ;;
      3) for i in $(seq 0 8); do xdotool mousemove $((100 + i * 90)) $((h - 200 + (i % 3) * 40)); sleep 0.05; done ;;
    esac
    step=$((step + 1))
  done
}

desktop_stop() {
  kill "${desktop_pids[@]}" 2>/dev/null || true
  [ -n "$desktop_picture" ] && rm -f "$desktop_picture"
  desktop_pids=()
}
