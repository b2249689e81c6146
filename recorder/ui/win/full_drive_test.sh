#!/usr/bin/env bash
# Runs kelvo.exe's write-failure test with a drive that fills up: a small
# tmpfs (the player's size and half a megabyte) mounted as Wine's drive T:.
# Mounting needs root; elsewhere the test is skipped (exit 77).
#   full_drive_test.sh TEST_PROGRAM PLAYER
set -u
test_program=$1
player=$2
root=$(cd "$(dirname "$0")/../../.." && pwd)
source "$root/tools/wine-env.sh"
mnt=$(mktemp -d)
size=$(( ($(stat -c %s "$player") + 512 * 1024) / 4096 * 4096 ))
if ! mount -t tmpfs -o "size=$size" tmpfs "$mnt" 2>/dev/null; then
  echo "a tmpfs cannot be mounted here (it needs root): skipped"
  rmdir "$mnt"
  exit 77
fi
kmr_wine_prepare
drive="$WINEPREFIX/dosdevices/t:"
cleanup() {
  rm -f "$drive"
  umount "$mnt"
  rmdir "$mnt"
}
trap cleanup EXIT
ln -sfn "$mnt" "$drive"
KELVO_FULL_DRIVE='T:\' bash "$root/tools/wine-run.sh" "$test_program" --gtest_filter='KelvoWindows.AFullDrive*'
