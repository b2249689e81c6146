#!/usr/bin/env bash
# The codec module's information file installs kmrv.dll for other programs
# and takes it out again through the system's own INF installer, under
# wine64: before, another program reading the recorder's AVI file through
# the system's AVIFile finds no codec for its video; after DefaultInstall it
# reads the recording's last frame as kmrtool decodes it; after
# DefaultUninstall the entries and the module are gone and the video is
# unreadable again.
# Usage: codec_inf_wine_test.sh WORKDIR HOST_KMRTOOL KMRV_DLL KMRV_INF READER_EXE
set -euo pipefail
work=$1 host_tool=$2 dll=$3 inf=$4 reader=$5
root=$(cd "$(dirname "$0")/../../../.." && pwd)
if [ ! -x "$host_tool" ]; then
  echo "no host kmrtool at $host_tool (build the host configuration first)" >&2
  exit 77
fi
run=("$root/tools/wine-run.sh")
source "$root/tools/wine-env.sh"
mkdir -p "$KMR_WINE_DIR"
kmr_wine_prepare
key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
system32=$WINEPREFIX/drive_c/windows/system32
# No module yet (another test registers one in the same prefix).
for v in vidc.KMRV vidc.kmrv; do "${run[@]}" reg delete "$key" /v "$v" /f >/dev/null 2>&1 || true; done
rm -f "$system32/kmrv.dll"

rm -rf "$work"
mkdir -p "$work/package"
cd "$work"
# The package: the information file beside the module.
cp "$dll" "$inf" package/
inf_path="Z:$(pwd)/package/kmrv.inf"
inf_path=${inf_path//\//\\}
install() {  # section
  "${run[@]}" rundll32 setupapi.dll,InstallHinfSection "$1" 128 "$inf_path"
}
python3 "$root/tools/kmrtool/make_test_clip.py" clip.raw 5 12
"$host_tool" encode -s 96x60 -r 10 -i clip.raw -o clip.avi 2>/dev/null
"$host_tool" decode clip.avi -o back.raw 2>/dev/null

set +e
"${run[@]}" "$reader" clip.avi before.raw
rc=$?
set -e
[ "$rc" -eq 3 ] || { echo "before the install the video read with exit $rc" >&2; exit 1; }

install DefaultInstall
"${run[@]}" reg query "$key" /v vidc.KMRV | tr -d '\r' | grep -qi "kmrv.dll"
"${run[@]}" reg query "$key" /v vidc.kmrv | tr -d '\r' | grep -qi "kmrv.dll"
cmp "$system32/kmrv.dll" "$dll"
"${run[@]}" "$reader" clip.avi last.raw
# The last frame, colour for colour (the fourth byte of a pixel is not part
# of the picture).
python3 - <<'PY'
F = 96 * 60 * 4
back = open("back.raw", "rb").read()
last = open("last.raw", "rb").read()
assert len(last) == F, "a frame of %d bytes" % len(last)
want = back[-F:]
strip = lambda b: bytes(b[i] for i in range(len(b)) if i % 4 != 3)
assert strip(last) == strip(want), "the last frame differs from kmrtool's"
PY

install DefaultUninstall
for v in vidc.KMRV vidc.kmrv; do
  if "${run[@]}" reg query "$key" /v "$v" >/dev/null 2>&1; then echo "$v is still there" >&2; exit 1; fi
done
[ ! -e "$system32/kmrv.dll" ] || { echo "kmrv.dll is still in the system folder" >&2; exit 1; }
set +e
"${run[@]}" "$reader" clip.avi after.raw
rc=$?
set -e
[ "$rc" -eq 3 ] || { echo "after the removal the video read with exit $rc" >&2; exit 1; }
echo "the codec module was installed, read through and removed"
