#!/usr/bin/env bash
# Runs kelvo.exe's write-failure tests with drives that fill up: a small
# tmpfs (the player's size and half a megabyte) mounted as Wine's drive T:
# for a self-playing recording, and one of 4 MB as U: for an AVI recording.
# Mounting needs root; elsewhere the test is skipped (exit 77).
#   full_drive_test.sh TEST_PROGRAM PLAYER
set -u
test_program=$1
player=$2
root=$(cd "$(dirname "$0")/../../.." && pwd)
source "$root/tools/wine-env.sh"
mnt=$(mktemp -d)
avi_mnt=$(mktemp -d)
size=$(( ($(stat -c %s "$player") + 512 * 1024) / 4096 * 4096 ))
if ! mount -t tmpfs -o "size=$size" tmpfs "$mnt" 2>/dev/null; then
  echo "a tmpfs cannot be mounted here (it needs root): skipped"
  rmdir "$mnt" "$avi_mnt"
  exit 77
fi
mount -t tmpfs -o size=4m tmpfs "$avi_mnt"
kmr_wine_prepare
drive="$WINEPREFIX/dosdevices/t:"
avi_drive="$WINEPREFIX/dosdevices/u:"
cleanup() {
  rm -f "$drive" "$avi_drive"
  umount "$mnt"
  umount "$avi_mnt"
  rmdir "$mnt" "$avi_mnt"
}
trap cleanup EXIT
ln -sfn "$mnt" "$drive"
ln -sfn "$avi_mnt" "$avi_drive"
KELVO_FULL_DRIVE='T:\' KELVO_FULL_AVI_DRIVE='U:\' bash "$root/tools/wine-run.sh" "$test_program" --gtest_filter='KelvoWindows.AFullDrive*'
