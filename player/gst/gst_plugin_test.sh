#!/usr/bin/env bash
# The GStreamer plugin opens every kind of recording the recorder writes in
# GStreamer's own programs: decodebin (as the desktop's players use it) gives
# the same last picture as kmrtool decode, gst-discoverer-1.0 reports the
# recording's length and its picture and sound streams, the standard AVI,
# Matroska and MP4 demuxers hand the lossless codec's streams to the decoder,
# and a damaged recording is refused with a reason.
# Usage: gst_plugin_test.sh WORKDIR KMRTOOL MP3 PLUGIN_DIR
set -euo pipefail
work=$1 tool=$2 mp3=$3 plugins=$4
for c in gst-launch-1.0 gst-discoverer-1.0 ffmpeg; do
  command -v "$c" >/dev/null || { echo "$c is not installed" >&2; exit 77; }
done
rm -rf "$work"
mkdir -p "$work"
cd "$work"
# Only this build's plugin, in a registry of the test's own.
export GST_PLUGIN_PATH=$plugins GST_REGISTRY=$work/registry.bin
gst-inspect-1.0 kmrvdec >/dev/null || { echo "the plugin does not load" >&2; exit 1; }

w=96 h=64 fps=12
ffmpeg -v error -f lavfi -i "testsrc2=size=${w}x${h}:rate=$fps:duration=2" -f rawvideo -pix_fmt bgra clip.raw
ffmpeg -v error -f rawvideo -pix_fmt bgra -s "${w}x$h" -i clip.raw -f rawvideo -pix_fmt bgr24 clip24.raw
ffmpeg -v error -f rawvideo -pix_fmt bgra -s "${w}x$h" -i clip.raw -f rawvideo -pix_fmt rgb565le clip16.raw
ffmpeg -v error -f rawvideo -pix_fmt bgra -s "${w}x$h" -i clip.raw -f rawvideo -pix_fmt gray clip8.raw

fail() { echo "$*" >&2; exit 1; }
# The last picture decodebin gives, in the decoder's own format. The sound,
# where there is one, goes to a sink of its own: gst-launch-1.0 can stall on a
# stream it leaves unlinked.
gst_last() {  # file format bytes-per-pixel out [sound]
  local sound=()
  [ "${5:-}" = sound ] && sound=(d. ! queue ! audio/x-raw ! fakesink)
  rm -f gst.raw
  timeout 120 gst-launch-1.0 -q filesrc location="$1" ! decodebin name=d \
    d. ! queue ! "video/x-raw,format=$2" ! filesink location=gst.raw "${sound[@]}" ||
    fail "$1: gst-launch-1.0 failed"
  tail -c $((w * h * $3)) gst.raw >"$4"
}
ref_last() {  # file bytes-per-pixel out
  "$tool" decode "$1" -o ref.raw 2>/dev/null
  tail -c $((w * h * $2)) ref.raw >"$3"
}
# kmrtool's length of the recording against gst-discoverer-1.0's.
check_discoverer() {  # file audio(yes|no)
  local ms out got
  ms=$("$tool" probe "$1" | sed -n 's/.*"duration_ms": \([0-9]*\).*/\1/p' | head -n 1)
  out=$(gst-discoverer-1.0 "$1") || fail "$1: gst-discoverer-1.0 failed"
  got=$(sed -n 's/.*Duration: \([0-9]*\):\([0-9]*\):\([0-9.]*\).*/\1 \2 \3/p' <<<"$out" |
    awk '{printf "%d", ($1 * 3600 + $2 * 60 + $3) * 1000 + 0.5}')
  [ "$got" = "$ms" ] || fail "$1: gst-discoverer-1.0 says $got ms, the recording lasts $ms ms"
  grep -q "video #.*video/x-kmr-screen" <<<"$out" || fail "$1: no video stream: $out"
  grep -q "Width: $w" <<<"$out" && grep -q "Height: $h" <<<"$out" || fail "$1: wrong picture size: $out"
  if [ "$2" = yes ]; then
    grep -q "audio #.*MP3" <<<"$out" || fail "$1: no sound stream: $out"
  fi
}

# Every container, the lossless codec with sound.
for ext in kmr avi wmv mkv mp4; do
  echo "== lossless .$ext"
  "$tool" encode -s "${w}x$h" -r "$fps" -i clip.raw -o "rec.$ext" --mp3 "$mp3" 2>/dev/null
  gst_last "rec.$ext" BGRx 4 got.raw sound
  ref_last "rec.$ext" 4 want.raw
  cmp -s got.raw want.raw || fail "rec.$ext: the last picture differs from kmrtool decode's"
  # Every frame slot that has a packet is a picture (no frame is lost).
  check_discoverer "rec.$ext" yes
done

# A self-playing file: the recording appended to the player's program.
echo "== self-playing"
python3 - <<'PY'
import struct
rec = open('rec.kmr', 'rb').read()
stub = b'MZ' + bytes(4094)  # stands in for the player's program
duration, _, magic = struct.unpack('<III', rec[-12:])
open('self.exe', 'wb').write(stub + rec[:-12] + struct.pack('<III', duration, len(stub), magic))
PY
gst_last self.exe BGRx 4 got.raw sound
ref_last rec.kmr 4 want.raw
cmp -s got.raw want.raw || fail "self.exe: the last picture differs from kmrtool decode's"
check_discoverer self.exe yes

# The lossy codec.
for ext in kmr avi; do
  echo "== lossy .$ext"
  "$tool" encode -s "${w}x$h" -r "$fps" --codec lossy -i clip.raw -o "lossy.$ext" 2>/dev/null
  gst_last "lossy.$ext" BGRx 4 got.raw
  ref_last "lossy.$ext" 4 want.raw
  cmp -s got.raw want.raw || fail "lossy.$ext: the last picture differs from kmrtool decode's"
  check_discoverer "lossy.$ext" no
done

# Other depths keep their own pixel format (the caps filter takes no other).
echo "== 24 and 16 bits"
"$tool" encode -s "${w}x$h" -b 24 -r "$fps" -i clip24.raw -o d24.kmr 2>/dev/null
gst_last d24.kmr BGR 3 got.raw
ref_last d24.kmr 3 want.raw
cmp -s got.raw want.raw || fail "24 bits: the last picture differs"
"$tool" encode -s "${w}x$h" -b 16 -r "$fps" -i clip16.raw -o d16.avi 2>/dev/null
gst_last d16.avi RGB16 2 got.raw
ref_last d16.avi 2 want.raw
cmp -s got.raw want.raw || fail "16 bits: the last picture differs"
echo "== 8 bits through the palette"
"$tool" encode -s "${w}x$h" -b 8 -r "$fps" -i clip8.raw -o d8.kmr 2>/dev/null
gst_last d8.kmr BGRx 4 got.raw
ref_last d8.kmr 1 want8.raw
python3 - <<'PY'
grey = open('want8.raw', 'rb').read()
got = open('got.raw', 'rb').read()
want = bytes(b for v in grey for b in (v, v, v))
got3 = bytes(b for i in range(0, len(got), 4) for b in got[i:i + 3])
assert got3 == want, '8 bits: the picture is not the palette\'s colours'
PY

# The standard demuxers keep only the codec's code: the decoder takes the
# picture from the first key frame (or from qtdemux's caps).
for item in rec.avi:avidemux:BGRx:4 rec.mkv:matroskademux:BGRx:4 rec.mp4:qtdemux:BGRx:4 d16.avi:avidemux:RGB16:2; do
  IFS=: read -r file demux format bpp <<<"$item"
  echo "== $file through $demux"
  sound=()
  [[ $file = rec.* ]] && sound=(m.audio_0 ! queue ! fakesink)
  rm -f std.raw
  timeout 120 gst-launch-1.0 -q filesrc location="$file" ! "$demux" name=m m.video_0 ! queue ! kmrvdec \
    ! "video/x-raw,format=$format" ! filesink location=std.raw "${sound[@]}" ||
    fail "$file through $demux: gst-launch-1.0 failed"
  tail -c $((w * h * bpp)) std.raw >got.raw
  ref_last "$file" "$bpp" want.raw
  cmp -s got.raw want.raw || fail "$file through $demux: another last picture"
done

# Damage: a recording whose packets are overwritten, and one cut short.
echo "== damaged"
cp rec.kmr damaged.kmr
python3 -c "
import os
f = open('damaged.kmr', 'r+b'); size = os.path.getsize('damaged.kmr')
f.seek(size // 2); f.write(b'\xff' * 4096)"
if out=$(timeout 120 gst-launch-1.0 filesrc location=damaged.kmr ! decodebin name=d d. ! queue ! video/x-raw \
  ! fakesink d. ! queue ! audio/x-raw ! fakesink 2>&1); then
  fail "a damaged recording played: $out"
fi
grep -qE "damaged|Cannot decode" <<<"$out" || fail "no reason for the damaged recording: $out"
head -c 20000 rec.avi >cut.avi
out=$(timeout 120 gst-launch-1.0 filesrc location=cut.avi ! decodebin name=d d. ! queue ! video/x-raw ! fakesink \
  d. ! queue ! audio/x-raw ! fakesink 2>&1) || true
grep -q "CRITICAL\|Segmentation" <<<"$out" && fail "a cut recording: $out"
echo "all recordings play through the plugin"
