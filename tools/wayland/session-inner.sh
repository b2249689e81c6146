#!/bin/bash
# Runs inside a private D-Bus session as the unprivileged user: PipeWire and
# WirePlumber, with KMR_WL_BACKEND=wlr a headless sway (pixman renderer, no
# input devices) whose screen-cast portal back end is
# xdg-desktop-portal-wlr, then the command. xdg-desktop-portal and its back
# end start on the first call (bus activation). Prints
# "wayland-session: ready" before the command runs.
set -u
: "${KMR_WL_DIR:?}"
backend=${KMR_WL_BACKEND:-wlr}
export XDG_SESSION_TYPE=wayland
export XDG_CONFIG_HOME="$KMR_WL_DIR/config"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; }
trap cleanup EXIT
wait_for() {  # seconds, then a command that succeeds once ready
  local n=$(( $1 * 10 )); shift
  for _ in $(seq 1 "$n"); do "$@" > /dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
pipewire > "$KMR_WL_DIR/pipewire.log" 2>&1 & pids+=($!)
if ! wait_for 30 test -S "$XDG_RUNTIME_DIR/pipewire-0"; then
  echo "wayland-session: PipeWire did not start (see $KMR_WL_DIR/pipewire.log)"; exit 3
fi
wireplumber > "$KMR_WL_DIR/wireplumber.log" 2>&1 & pids+=($!)
if [ "$backend" = wlr ]; then
  export XDG_CURRENT_DESKTOP=sway
  WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$KMR_WL_DIR/config/sway/config" > "$KMR_WL_DIR/sway.log" 2>&1 & pids+=($!)
  ipc_ready() { ls "$XDG_RUNTIME_DIR" | grep -q '^sway-ipc' && ls "$XDG_RUNTIME_DIR" | grep -qE '^wayland-[0-9]+$'; }
  if ! wait_for 30 ipc_ready; then
    echo "wayland-session: sway did not start (see $KMR_WL_DIR/sway.log)"; exit 3
  fi
  export WAYLAND_DISPLAY=$(ls "$XDG_RUNTIME_DIR" | grep -E '^wayland-[0-9]+$' | head -1)
  export SWAYSOCK=$XDG_RUNTIME_DIR/$(ls "$XDG_RUNTIME_DIR" | grep '^sway-ipc' | head -1)
  wait_for 30 swaymsg -t get_outputs || { echo "wayland-session: sway does not answer"; exit 3; }
else
  # The tests' own back end (started by the command) serves this desktop.
  export XDG_CURRENT_DESKTOP=kmrtest
  export XDG_DESKTOP_PORTAL_DIR="$KMR_WL_DIR/portals"
fi
dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE SWAYSOCK \
  XDG_CONFIG_HOME XDG_DESKTOP_PORTAL_DIR 2> /dev/null
echo "wayland-session: ready"
"$@"
