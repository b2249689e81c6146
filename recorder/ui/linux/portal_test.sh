#!/bin/bash
# kelvo on a Wayland desktop, with real parts: D-Bus, xdg-desktop-portal,
# PipeWire and WirePlumber in a session of their own, run as an
# unprivileged user (tools/wayland/run-session.sh).
#  - The portal's back end for the first part is the tests' own
#    (screencast_backend.py, registered with the real xdg-desktop-portal)
#    and the desktop a PipeWire producer of known pictures (cast_producer),
#    which sends damage and pointer metadata as compositors do. The
#    recordings are read back with kmrtool and compared with the producer's
#    own picture.
#  - The second part asks a headless sway's own back end
#    (xdg-desktop-portal-wlr): the recording equals grim's screenshot, or,
#    where that back end cannot cast (it needs a DMA-BUF renderer, which a
#    machine without a GPU lacks), kelvo fails with one line and writes
#    nothing.
# Usage: portal_test.sh KELVO KMRTOOL PRODUCER ARTEFACTS
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)

if [ "${1:-}" != --inside ]; then
  kelvo=$(realpath "$1") kmrtool=$(realpath "$2") producer=$(realpath "$3") artefacts=$(realpath -m "$4")
  missing=()
  for t in pipewire wireplumber sway grim dbus-run-session busctl /usr/libexec/xdg-desktop-portal \
           /usr/libexec/xdg-desktop-portal-wlr; do
    command -v "$t" > /dev/null 2>&1 || missing+=("$t")
  done
  /usr/bin/python3 -c 'from gi.repository import Gio' 2> /dev/null || missing+=("python3-gi")
  if [ ${#missing[@]} -gt 0 ]; then
    echo "portal_test: the Wayland test stack is not installed (${missing[*]}): tools/install-deps.sh installs it"
    [ "${CI:-}" = true ] && exit 1
    exit 77
  fi
  [ "$(id -u)" = 0 ] || { echo "portal_test: needs root to run the session as its own user"; [ "${CI:-}" = true ] && exit 1; exit 77; }
  mkdir -p "$artefacts"
  rc=0
  for part in test wlr; do
    dir=/tmp/kmr-portal-$part-$$
    out=$(timeout 600 bash "$root/tools/wayland/run-session.sh" "$part" "$dir" \
            bash "$here/portal_test.sh" --inside "$part" "$kelvo" "$kmrtool" "$producer" 2>&1)
    code=$?
    echo "$out" | grep -v -E "dbus-daemon|fusermount|fuse init|RealtimeKit|No skeleton|^\s*$"
    if [ $code = 3 ] || ! echo "$out" | grep -q "wayland-session: ready"; then
      echo "portal_test: the $part session did not start (logs in $artefacts/portal-$part)"
      rc=1
    elif [ $code != 0 ]; then
      rc=1
    fi
    rm -rf "$artefacts/portal-$part"
    mkdir -p "$artefacts/portal-$part"
    cp "$dir"/*.log "$dir"/*.ppm "$artefacts/portal-$part/" 2> /dev/null
    rm -rf "$dir"
  done
  [ $rc = 0 ] && echo "portal_test: all passed"
  exit $rc
fi

# Inside the session, as the test user.
part=$2 kelvo=$3 kmrtool=$4 producer=$5
D=$KMR_WL_DIR
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
pass() { echo "ok: $*"; }

# The last frame of a recording as a binary PPM.
last_frame_ppm() {  # recording, ppm
  local w h
  w=$("$kmrtool" probe "$1" | sed -n 's/.*"width": \([0-9]*\).*/\1/p' | head -1)
  h=$("$kmrtool" probe "$1" | sed -n 's/.*"height": \([0-9]*\).*/\1/p' | head -1)
  "$kmrtool" decode "$1" -o "$D/frames.raw" > /dev/null 2>&1 || return 1
  /usr/bin/python3 - "$D/frames.raw" "$w" "$h" "$2" <<'PY'
import sys
raw, w, h, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
data = open(raw, "rb").read()
frame = data[len(data) - w * h * 4:]
rgb = bytearray()
for i in range(0, len(frame), 4):
    rgb += bytes((frame[i + 2], frame[i + 1], frame[i]))
open(out, "wb").write(b"P6\n%d %d\n255\n" % (w, h) + rgb)
PY
}

# Compares two PPMs; the second is cropped at X,Y to the first's size.
# Pixels in the box PX,PY,PW,PH (the pointer) are left out. Prints the
# first difference.
same_picture() {  # got want x y [px py pw ph]
  /usr/bin/python3 - "$@" <<'PY'
import sys
def read(p):
    d = open(p, "rb").read()
    parts = d.split(b"\n", 3)
    w, h = (int(v) for v in parts[1].split())
    return w, h, parts[3]
gw, gh, g = read(sys.argv[1])
ww, wh, want = read(sys.argv[2])
x0, y0 = int(sys.argv[3]), int(sys.argv[4])
box = [int(v) for v in sys.argv[5:9]] if len(sys.argv) > 5 else [0, 0, 0, 0]
for y in range(gh):
    for x in range(gw):
        sx, sy = x + x0, y + y0
        if box[0] <= sx < box[0] + box[2] and box[1] <= sy < box[1] + box[3]:
            continue
        a = g[(y * gw + x) * 3:(y * gw + x) * 3 + 3]
        b = want[(sy * ww + sx) * 3:(sy * ww + sx) * 3 + 3]
        if a != b:
            print("differs at %d,%d: %s against %s" % (x, y, a.hex(), b.hex()))
            sys.exit(1)
PY
}

pixel() {  # ppm x y → rrggbb
  /usr/bin/python3 - "$@" <<'PY'
import sys
d = open(sys.argv[1], "rb").read()
parts = d.split(b"\n", 3)
w = int(parts[1].split()[0])
x, y = int(sys.argv[2]), int(sys.argv[3])
print(parts[3][(y * w + x) * 3:(y * w + x) * 3 + 3].hex())
PY
}

probe_field() {  # recording field (of the video stream)
  "$kmrtool" probe "$1" | sed -n "s/.*\"$2\": \([0-9]*\).*/\1/p" | tail -1
}

# Starts kelvo in the background with its stderr in $D/NAME.log and waits
# for its recording line (false when it ended first).
start_kelvo() {  # name args...
  local name=$1; shift
  "$kelvo" record "$@" > "$D/$name.log" 2>&1 &
  kelvo_pid=$!
  for _ in $(seq 1 600); do
    grep -q "kelvo: recording" "$D/$name.log" && return 0
    kill -0 $kelvo_pid 2> /dev/null || return 1
    sleep 0.1
  done
  return 1
}

if [ "$part" = test ]; then
  coproc PRODUCER { "$producer" 320 240; }
  read -r -t 30 line <&"${PRODUCER[0]}" || { fail "the producer did not start"; exit 1; }
  node=${line#node }
  say() { echo "$*" >&"${PRODUCER[1]}"; }
  say "noise 7"
  KMR_CAST_NODE=$node KMR_CAST_SIZE=320,240 KMR_CAST_LOG=$D/backend.log KMR_CAST_ANSWER_FILE=$D/answer \
    /usr/bin/python3 "$root/platform/mirror/pipewire/testing/screencast_backend.py" &
  for _ in $(seq 1 300); do
    busctl --user status org.freedesktop.impl.portal.desktop.kmrtest > /dev/null 2>&1 && break
    sleep 0.1
  done
  save_picture() {  # ppm
    say "save $1"
    read -r -t 30 line <&"${PRODUCER[0]}"
  }

  # 1. A still desktop: one key frame. The session chooses the portal.
  if start_kelvo still -o "$D/still.kmr" --duration 2 --fps 10 --no-audio; then
    wait $kelvo_pid
    [ "$(probe_field "$D/still.kmr" packets)" = 1 ] && pass "a still desktop is one packet" ||
      fail "a still desktop gave $(probe_field "$D/still.kmr" packets) packets"
  else
    fail "kelvo did not start: $(cat "$D/still.log")"
  fi
  grep -q "through the screen-cast portal" "$D/still.log" || fail "the portal was not chosen: $(cat "$D/still.log")"
  grep -q "^Bind kelvo-1 F2 (Stop the recording)" "$D/backend.log" &&
    grep -q "^Bind kelvo-2 F3 (Pause and resume the recording)" "$D/backend.log" &&
    grep -q "kelvo: stop with Press F2 (the desktop's global shortcut)" "$D/still.log" &&
    pass "the hot keys are bound as the desktop's global shortcuts" ||
    fail "hot keys: $(grep -i "hot\|shortcut\|stop with" "$D/still.log") / $(grep Bind "$D/backend.log")"
  token=$(sed -n 's/^RestoreToken=//p' "$XDG_CONFIG_HOME/norvane/kelvo.conf" 2> /dev/null)
  [ -n "$token" ] && pass "the portal's restore token is kept in the settings" || fail "no restore token kept"

  # 2. Small changes while recording, and the pointer: every change is a
  # small packet; the last frame is the producer's picture with the pointer.
  if start_kelvo changes -o "$D/changes.kmr" --duration 4 --fps 10 --no-audio; then
    say "pointer 200 150"
    # The activity: changes spread over the recording (a few frame slots
    # apart), as a user's are; nothing waits on them.
    for i in 0 1 2 3 4 5 6 7; do
      say "fill $((10 + i * 30)) $((20 + i * 10)) 16 16 $(printf '%02x80%02x' $((i * 30)) $((255 - i * 30)))"
      sleep 0.3
    done
    wait $kelvo_pid
    save_picture "$D/producer-changes.ppm"
    "$kmrtool" check "$D/changes.kmr" > /dev/null 2>&1 && pass "the recording plays" || fail "kmrtool check refused it"
    last_frame_ppm "$D/changes.kmr" "$D/kelvo-changes.ppm"
    if diff=$(same_picture "$D/kelvo-changes.ppm" "$D/producer-changes.ppm" 0 0 199 149 6 6); then
      pass "the last frame equals the producer's picture"
    else
      fail "the last frame: $diff"
    fi
    # The pointer (a 6 × 6 square, hot spot 1,1, white within a black edge).
    [ "$(pixel "$D/kelvo-changes.ppm" 201 151)" = ffffff ] && [ "$(pixel "$D/kelvo-changes.ppm" 199 149)" = 000000 ] &&
      pass "the pointer from the stream's metadata is drawn in" || fail "no pointer at 200,150"
    key=$(probe_field "$D/still.kmr" bytes)
    all=$(probe_field "$D/changes.kmr" bytes)
    packets=$(probe_field "$D/changes.kmr" packets)
    if [ "$packets" -ge 5 ] && [ "$packets" -le 12 ]; then
      per=$(( (all - key) / (packets - 1) ))
      echo "   key frame $key bytes; $((packets - 1)) changes, $per bytes each on average"
      [ $per -lt $((key / 50)) ] && pass "only what changed is coded" || fail "changes cost $per bytes (key $key)"
    else
      fail "8 changes gave $packets packets"
    fi
  else
    fail "kelvo did not start: $(cat "$D/changes.log")"
  fi

  # 3. A second recording: the portal gets the kept grant back (no asking).
  before=$(grep -c "^SelectSources" "$D/backend.log")
  if start_kelvo region -o "$D/region.kmr" --region 40,30,100,80 --duration 1 --fps 10 --no-audio; then
    wait $kelvo_pid
    grep "^SelectSources" "$D/backend.log" | tail -1 | grep -q "restore_data=" &&
      pass "the second recording hands the desktop the kept grant" || fail "no grant handed back: $(tail -3 "$D/backend.log")"
    # 4. --region crops the shared picture.
    [ "$(probe_field "$D/region.kmr" width)" = 100 ] && [ "$(probe_field "$D/region.kmr" height)" = 80 ] ||
      fail "the region is $(probe_field "$D/region.kmr" width)x$(probe_field "$D/region.kmr" height)"
    save_picture "$D/producer-region.ppm"
    last_frame_ppm "$D/region.kmr" "$D/kelvo-region.ppm"
    if diff=$(same_picture "$D/kelvo-region.ppm" "$D/producer-region.ppm" 40 30 199 149 6 6); then
      pass "--region records that part of the shared picture"
    else
      fail "--region: $diff"
    fi
  else
    fail "kelvo did not start: $(cat "$D/region.log")"
  fi
  [ "$before" -ge 1 ] || fail "the back end saw no SelectSources"

  # --pick-window asks the desktop for a window.
  if start_kelvo window -o "$D/window.kmr" --pick-window --duration 1 --fps 10 --no-audio; then
    wait $kelvo_pid
    grep "^SelectSources" "$D/backend.log" | tail -1 | grep -q "types=2" && "$kmrtool" check "$D/window.kmr" > /dev/null 2>&1 &&
      pass "--pick-window shares a window the desktop chooses" || fail "--pick-window: $(tail -1 "$D/backend.log")"
  else
    fail "kelvo did not start: $(cat "$D/window.log")"
  fi

  # 5. A desktop that says nothing about damage: the rows are compared.
  say "nodamage"
  if start_kelvo nodamage -o "$D/nodamage.kmr" --duration 3 --fps 10 --no-audio; then
    for i in 0 1 2 3; do say "fill $((250 - i * 40)) $((200 - i * 40)) 9 7 ffff00"; sleep 0.3; done
    wait $kelvo_pid
    save_picture "$D/producer-nodamage.ppm"
    last_frame_ppm "$D/nodamage.kmr" "$D/kelvo-nodamage.ppm"
    if diff=$(same_picture "$D/kelvo-nodamage.ppm" "$D/producer-nodamage.ppm" 0 0 199 149 6 6); then
      pass "without damage metadata the changed rows are found"
    else
      fail "without damage metadata: $diff"
    fi
    packets=$(probe_field "$D/nodamage.kmr" packets)
    [ "$packets" -ge 3 ] && [ "$packets" -le 6 ] || fail "4 changes without damage gave $packets packets"
  else
    fail "kelvo did not start: $(cat "$D/nodamage.log")"
  fi

  # 6. The user cancels the desktop's dialog: one line, nothing written.
  echo 1 > "$D/answer"
  "$kelvo" record -o "$D/refused.kmr" --duration 1 --no-audio > "$D/refused.log" 2>&1
  code=$?
  rm -f "$D/answer"
  if [ $code = 1 ] && [ ! -e "$D/refused.kmr" ] && [ "$(wc -l < "$D/refused.log")" = 1 ] &&
     grep -qx "kelvo: the screen cast was refused (the desktop's dialog was cancelled)" "$D/refused.log"; then
    pass "a refused screen cast: one line, nothing written"
  else
    fail "refused: exit $code, $(cat "$D/refused.log")"
  fi

  # 7. --select needs X11.
  "$kelvo" record -o "$D/select.kmr" --select --no-audio > "$D/select.log" 2>&1
  code=$?
  [ $code = 2 ] && grep -q "needs X11" "$D/select.log" && [ ! -e "$D/select.kmr" ] &&
    pass "--select says it needs X11" || fail "--select: exit $code, $(cat "$D/select.log")"

  # 8. The hot keys through the desktop: pause, resume, stop.
  press() { busctl --user call org.freedesktop.impl.portal.desktop.kmrtest /org/freedesktop/portal/desktop \
              org.kmrtest.Keys Press s "$1"; }
  wait_log() {  # log text
    for _ in $(seq 1 300); do grep -q "$2" "$1" && return 0; sleep 0.1; done
    return 1
  }
  if start_kelvo keys -o "$D/keys.kmr" --fps 10 --no-audio; then
    press kelvo-2 && wait_log "$D/keys.log" "kelvo: paused" && press kelvo-2 &&
      wait_log "$D/keys.log" "kelvo: recording again" && press kelvo-1
    for _ in $(seq 1 300); do kill -0 $kelvo_pid 2> /dev/null || break; sleep 0.1; done
    if kill -0 $kelvo_pid 2> /dev/null; then kill $kelvo_pid; fi
    wait $kelvo_pid
    code=$?
    [ $code = 0 ] && grep -q "kelvo: paused" "$D/keys.log" && grep -q "kelvo: wrote" "$D/keys.log" &&
      "$kmrtool" check "$D/keys.kmr" > /dev/null 2>&1 &&
      pass "the desktop's shortcuts pause, resume and stop the recording" ||
      fail "hot keys: exit $code, $(cat "$D/keys.log")"
  else
    fail "kelvo did not start: $(cat "$D/keys.log")"
  fi

  # 9. The desktop ends the cast while recording: the file is finished.
  if start_kelvo ended -o "$D/ended.kmr" --fps 10 --no-audio; then
    say quit
    for _ in $(seq 1 300); do kill -0 $kelvo_pid 2> /dev/null || break; sleep 0.1; done
    if kill -0 $kelvo_pid 2> /dev/null; then
      kill $kelvo_pid; fail "kelvo went on after the cast ended"
    fi
    wait $kelvo_pid
    grep -q "the recording was stopped" "$D/ended.log" && "$kmrtool" check "$D/ended.kmr" > /dev/null 2>&1 &&
      pass "a cast the desktop ends stops the recording, finished" || fail "ended: $(cat "$D/ended.log")"
  else
    fail "kelvo did not start: $(cat "$D/ended.log")"
  fi
else
  # The compositor's own back end.
  swaymsg -t get_outputs > /dev/null
  "$kelvo" record -o "$D/sway.kmr" --duration 2 --fps 10 --no-audio > "$D/sway.log" 2>&1
  code=$?
  if [ $code = 0 ]; then
    grim -t ppm "$D/grim.ppm"
    last_frame_ppm "$D/sway.kmr" "$D/kelvo-sway.ppm"
    if diff=$(same_picture "$D/kelvo-sway.ppm" "$D/grim.ppm" 0 0); then
      pass "sway's own portal: the recording equals grim's screenshot"
    else
      fail "sway: $diff"
    fi
  elif [ "$(grep -c . "$D/sway.log")" = 1 ] && grep -q "^kelvo: the screen-cast portal" "$D/sway.log" &&
       [ ! -e "$D/sway.kmr" ]; then
    pass "sway's own portal cannot cast here ($(cat "$D/sway.log" | sed 's/^kelvo: //')): one line, nothing written"
    grep -h "unable to receive\|dmabuf" "$D"/*.log 2> /dev/null | head -1 | sed 's/^/   the back end: /'
  else
    fail "sway: exit $code, $(cat "$D/sway.log")"
  fi
fi
[ $fails = 0 ]
