#!/bin/bash
# The recorder's window on a real X server (Xvfb) with a real session bus:
# a notification-area watcher of the test's own (testing/sni.py) takes the
# icon's registration; the pages are filled with xdotool, the recording is
# started with the start/stop hot key and stopped from the icon's menu
# through its StatusNotifierItem and dbusmenu interfaces; the recording
# must check with kmrtool and the settings file hold the pages' values. A
# second start brings the first window back instead of opening another.
# Screenshots of the pages go to ARTEFACTS/gui.
# Usage: gui_test.sh KELVO KMRTOOL ARTEFACTS
set -u
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" != --inside ]; then
  kelvo=$(realpath "$1") kmrtool=$(realpath "$2") artefacts=$(realpath -m "$3")
  for t in Xvfb xdotool dbus-run-session import; do
    command -v $t > /dev/null || { echo "gui_test: $t is missing (tools/install-deps.sh)"; [ "${CI:-}" = true ] && exit 1; exit 77; }
  done
  /usr/bin/python3 -c 'from gi.repository import Gio' 2> /dev/null ||
    { echo "gui_test: python3-gi is missing"; [ "${CI:-}" = true ] && exit 1; exit 77; }
  work=$(mktemp -d /tmp/kmr-gui-XXXXXX)
  mkdir -p "$artefacts/gui"
  exec 3< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2> /dev/null)
  xvfb=$!
  read -r number <&3
  DISPLAY=:$number NO_AT_BRIDGE=1 GTK_USE_PORTAL=0 HOME=$work XDG_CONFIG_HOME=$work/config XDG_DOCUMENTS_DIR=$work/Documents \
    timeout 300 dbus-run-session -- bash "$0" --inside "$kelvo" "$kmrtool" "$artefacts/gui" "$work" 2>&1 |
    grep -v "dbus-daemon"
  rc=${PIPESTATUS[0]}
  kill $xvfb 2> /dev/null
  rm -rf "$work"
  exit $rc
fi

kelvo=$2 kmrtool=$3 shots=$4 work=$5
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
pass() { echo "ok: $*"; }
wait_for() {  # seconds, command...
  local n=$(($1 * 10)); shift
  for _ in $(seq 1 $n); do "$@" > /dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
sni() { /usr/bin/python3 "$here/testing/sni.py" "$1" "$work/items" "${@:2}"; }
visible() { xdotool search --onlyvisible --name '^Kelvo$'; }

/usr/bin/python3 "$here/testing/sni.py" watch "$work/items" &
watcher=$!
wait_for 30 busctl --user status org.kde.StatusNotifierWatcher || { echo "FAIL: no watcher"; exit 1; }

"$kelvo" > "$work/kelvo.log" 2>&1 &
gui=$!
wait_for 60 visible || { fail "the window did not show: $(cat "$work/kelvo.log")"; kill $gui; exit 1; }
pass "the window shows"
wait_for 30 test -s "$work/items" && pass "the icon registered with the notification area" || fail "no icon registered"
[ "$(sni prop IconName)" = video-display ] || fail "idle icon: $(sni prop IconName)"
labels=$(sni labels | tr '\n' '|')
[ "$labels" = "Settings|Start <F2>|-Pause <F3>|View Videos|Help|About|Exit|" ] &&
  pass "the icon's menu: $labels" || fail "menu: $labels"

win=$(visible | head -1)
xdotool windowactivate --sync "$win" 2> /dev/null || xdotool windowfocus --sync "$win"
# Keeps a screenshot once the screen shows something other than the last
# one kept (the page switched) and has settled (two grabs alike).
shot() {  # name
  local i
  for i in $(seq 1 100); do
    import -window root "ppm:$work/a.ppm" 2> /dev/null
    import -window root "ppm:$work/b.ppm" 2> /dev/null
    if cmp -s "$work/a.ppm" "$work/b.ppm" && ! cmp -s "$work/a.ppm" "$work/kept.ppm"; then
      cp "$work/a.ppm" "$work/kept.ppm"
      convert "$work/a.ppm" "$shots/$1.png" 2> /dev/null
      return 0
    fi
    sleep 0.1
  done
  fail "the screen did not change for the $1 screenshot"
}
shot video-page
# The Audio page: no sound (no sound server here).
xdotool key --window "$win" alt+a; shot audio-page
xdotool key --window "$win" alt+n
# The Info page: the title.
xdotool key --window "$win" alt+i alt+t ctrl+a; xdotool type --window "$win" "Window test"
shot info-page
xdotool key --window "$win" alt+o; shot options-page
xdotool key --window "$win" alt+v; shot video-page-again
# Start with the hot key (F2, held by the window on the X display).
xdotool key F2
video=$work/Documents/Screen\ Videos/New.avi
wait_for 60 grep -q "kelvo: recording" "$work/kelvo.log" && wait_for 30 test -e "$video" &&
  pass "the start hot key started a recording" || fail "no recording: $(cat "$work/kelvo.log")"
wait_for 30 sh -c "[ \"\$(/usr/bin/python3 '$here/testing/sni.py' prop '$work/items' IconName)\" = media-record ]" &&
  pass "the icon turns red while recording" || fail "recording icon: $(sni prop IconName)"
wait_for 10 sh -c '! xdotool search --onlyvisible --name "^Kelvo$"' && pass "the window hides while recording" ||
  fail "the window stayed"
[ "$(sni labels | sed -n 2p)" = "Stop <F2>" ] || fail "while recording the menu says $(sni labels | sed -n 2p)"
sni click "Stop" || fail "no Stop item"
wait_for 60 visible && pass "stopped from the icon's menu: the window is back" || fail "the window did not come back"
wait_for 30 grep -q "kelvo: wrote" "$work/kelvo.log" || fail "the recorder did not finish: $(cat "$work/kelvo.log")"
"$kmrtool" check "$video" > /dev/null 2>&1 && pass "the recording plays (kmrtool check)" || fail "kmrtool check refused $video"
conf=$work/config/norvane/kelvo.conf
grep -qx "Title=Window test" "$conf" && grep -qx "Record Audio=0" "$conf" &&
  pass "the settings file holds the pages' values" || fail "settings: $(cat "$conf")"

# A second start brings the first window to the front and ends.
# ("View" hides the window, as minimising to the icon does.)
win=$(visible | head -1)
xdotool windowactivate --sync "$win" 2> /dev/null || xdotool windowfocus --sync "$win"
xdotool key --window "$win" alt+w
wait_for 10 sh -c '! xdotool search --onlyvisible --name "^Kelvo$"' || fail "View did not hide the window"
timeout 30 "$kelvo" gui > "$work/second.log" 2>&1
code=$?
[ $code = 0 ] && wait_for 30 visible && [ "$(xdotool search --name '^Kelvo$' | wc -l)" -ge 1 ] &&
  pass "a second start shows the first window and ends" || fail "second start: exit $code, $(cat "$work/second.log")"

sni click "Exit"
wait_for 30 sh -c "! kill -0 $gui" && pass "Exit ends the program" || { fail "Exit did not end it"; kill $gui; }
kill $watcher 2> /dev/null
[ $fails = 0 ] && echo "gui_test: all passed"
[ $fails = 0 ]
