#!/bin/bash
# Runs a command in a Wayland test session of its own (session-inner.sh) as
# the unprivileged user kmrwl (sway refuses to run as root), created here
# when missing. Usage: run-session.sh wlr|test DIR COMMAND...
# DIR (made here) holds the session's configuration, runtime folder and
# logs; the command runs with KMR_WL_DIR=DIR. Exit 3: the session could
# not start.
set -u
backend=$1 dir=$2; shift 2
here=$(cd "$(dirname "$0")" && pwd)
user=kmrwl
if [ "$(id -u)" = 0 ]; then
  id "$user" > /dev/null 2>&1 || useradd -m -s /bin/bash "$user" || exit 3
  as_user=(runuser -u "$user" --)
  home=$(getent passwd "$user" | cut -d: -f6)
else
  as_user=()
  home=$HOME
fi
rm -rf "$dir"
mkdir -p "$dir/config/sway" "$dir/config/xdg-desktop-portal-wlr" "$dir/run" "$dir/portals"
chmod 700 "$dir/run"
cat > "$dir/config/sway/config" <<'CONF'
output HEADLESS-1 resolution 640x480 bg #203040 solid_color
default_border none
CONF
cat > "$dir/config/xdg-desktop-portal-wlr/config" <<'CONF'
[screencast]
chooser_type=none
output_name=HEADLESS-1
CONF
cat > "$dir/portals/kmrtest.portal" <<'CONF'
[portal]
DBusName=org.freedesktop.impl.portal.desktop.kmrtest
Interfaces=org.freedesktop.impl.portal.ScreenCast;org.freedesktop.impl.portal.GlobalShortcuts;
UseIn=kmrtest
CONF
cp "$here/session-inner.sh" "$dir/session-inner.sh"
chmod 755 "$dir" "$dir/session-inner.sh"
[ "$(id -u)" = 0 ] && chown -R "$user" "$dir"
cd "$dir"
exec "${as_user[@]}" env -i HOME="$home" PATH=/usr/bin:/bin USER="$user" XDG_RUNTIME_DIR="$dir/run" \
  KMR_WL_DIR="$dir" KMR_WL_BACKEND="$backend" ${KMR_WL_PASS:+KMR_WL_PASS="$KMR_WL_PASS"} \
  dbus-run-session -- "$dir/session-inner.sh" "$@"
