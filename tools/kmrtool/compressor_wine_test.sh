#!/usr/bin/env bash
# The own codec as an installed compressor under Wine: kmrv.dll registered in
# the prefix is listed by the compressor manager (without a dialog), and an
# AVI file coded through the compressor path with it decodes bit for bit with
# the host's kmrtool.
# Usage: compressor_wine_test.sh WORKDIR HOST_KMRTOOL KMRV_DLL KMRTOOL_EXE
set -euo pipefail
work=$1 host_tool=$2 dll=$3 tool_exe=$4
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ ! -x "$host_tool" ]; then
  echo "no host kmrtool at $host_tool (build the host configuration first)" >&2
  exit 77
fi
run=("$root/tools/wine-run.sh")
source "$root/tools/wine-env.sh"
mkdir -p "$KMR_WINE_DIR"
kmr_wine_prepare
# Installed as the system installs codec modules: the file in system32 and
# a "vidc.KMRV" driver entry.
cp "$dll" "$WINEPREFIX/drive_c/windows/system32/kmrv.dll"
"${run[@]}" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' /v vidc.KMRV /t REG_SZ \
  /d kmrv.dll /f >/dev/null
mkdir -p "$work"
cd "$work"
python3 "$root/tools/kmrtool/make_test_clip.py" clip.raw 11 30 5
listed=$("${run[@]}" "$tool_exe" compressors | tr -d '\r')
echo "$listed"
grep -qx "KMRV  Norvane Screen Video (Lossless)" <<<"$listed" || { echo "KMRV is not listed (or has a dialog)" >&2; exit 1; }
rm -f clip.avi
"${run[@]}" "$tool_exe" encode -s 96x60 -r 10 -i clip.raw -o clip.avi --compressor KMRV
ffprobe -v error -show_entries stream=codec_tag_string,r_frame_rate -of default=nw=1 clip.avi | grep -q KMRV
"$host_tool" decode clip.avi -o back.raw 2>/dev/null
# Every picture comes back bit for bit and in order. (Frame n is sample n + 1
# while frames follow each other, the first being raised to sample 1; after
# an unchanged frame the samples are on time again.)
python3 - <<'PY'
F = 96 * 60 * 4
def pictures(name, skip=0):
    data = open(name, "rb").read()[skip * F:]
    frames = [data[i:i + F] for i in range(0, len(data), F)]
    out = []
    for f in frames:
        if not out or out[-1] != f:
            out.append(f)
    return out
clip, back = pictures("clip.raw"), pictures("back.raw", skip=1)  # sample 0 is empty
assert back[0] == clip[0], "the first picture differs"
assert back == clip, "%d pictures back for %d" % (len(back), len(clip))
PY
"$host_tool" check clip.avi
echo "compressor ok"
