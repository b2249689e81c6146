#!/usr/bin/env bash
# kmrtool convert turns every kind of recording the recorder writes into
# files that an independent reader (ffprobe, ffmpeg) lists and decodes: the
# lossless copies give back the recording's frames bit for bit, the default
# ones come close (PSNR), the sound keeps its length and its place, and only
# the frames that changed are coded. A damaged recording and an output that
# names the recording are refused with a reason, leaving nothing behind.
# Usage: convert_test.sh WORKDIR KMRTOOL MP3 PLAYER
set -euo pipefail
work=$1 tool=$2 mp3=$3 player=$4
command -v ffprobe >/dev/null || { echo "ffprobe is not installed" >&2; exit 77; }
rm -rf "$work"
mkdir -p "$work"
cd "$work"
w=96 h=64 fps=12
# A picture that moves (a test pattern), then 5 s in which nothing changes.
ffmpeg -v error -f lavfi -i "testsrc2=size=${w}x${h}:rate=$fps:duration=3" -f rawvideo -pix_fmt bgra moving.raw
frame=$((w * h * 4))
tail -c "$frame" moving.raw >last.raw
cp moving.raw clip.raw
for _ in $(seq 60); do cat last.raw >>clip.raw; done
sound_s=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$mp3")
mp3_frames() {  # file
  ffprobe -v error -count_packets -select_streams a -show_entries stream=nb_read_packets -of csv=p=0 "$1"
}
sound_frames=$(mp3_frames "$mp3")

close() {  # a b tolerance
  python3 -c "import sys; sys.exit(0 if abs($1 - $2) <= $3 else 1)"
}
stream() {  # file type field
  ffprobe -v error -select_streams "$2" -show_entries "stream=$3" -of csv=p=0 "$1" | head -n 1
}
# The converted picture at the recording's frame rate, and a recording's
# decoded frames, as raw 24-bit frames (the fourth byte of a recording's
# pixel is not part of the picture).
frames() {  # file out
  ffmpeg -v error -y -i "$1" -vf "fps=$fps:eof_action=pass" -f rawvideo -pix_fmt rgb24 "$2"
}
rgb() {  # raw-32-bit-frames out
  ffmpeg -v error -y -f rawvideo -pix_fmt bgra -s "${w}x${h}" -r "$fps" -i "$1" -f rawvideo -pix_fmt rgb24 "$2"
}
psnr_y() {  # converted reference.raw
  ffmpeg -i "$1" -f rawvideo -pix_fmt bgra -s "${w}x${h}" -r "$fps" -i "$2" \
    -lavfi "[0:v]format=yuv444p[a];[1:v]format=yuv444p[b];[a][b]psnr" -f null - 2>&1 |
    sed -n 's/.*PSNR y:\([0-9.inf]*\).*/\1/p' | tail -n 1
}

for ext in kmr avi wmv mkv mp4; do
  echo "== from $ext"
  "$tool" encode -s "${w}x$h" -r "$fps" -i clip.raw -o "rec.$ext" --mp3 "$mp3" 2>/dev/null
  "$tool" decode "rec.$ext" -o "ref.$ext" 2>/dev/null
  rgb "ref.$ext" "ref.$ext.rgb"
  before=$(md5sum <"rec.$ext")

  # Lossless: x264 in RGB at qp 0 (MP4) and FFV1 (Matroska), frame for frame.
  for out in lossless.mp4 lossless.mkv; do
    "$tool" convert "rec.$ext" -o "$ext.$out" --lossless 2>/dev/null
    frames "$ext.$out" "$ext.$out.raw"
    cmp "$ext.$out.raw" "ref.$ext.rgb" || { echo "$ext -> $out: not the recording's frames" >&2; exit 1; }
  done
  [ "$(stream "$ext.lossless.mp4" v codec_name)" = h264 ]
  [ "$(stream "$ext.lossless.mkv" v codec_name)" = ffv1 ]

  # The default MP4: H.264 with the MP3 sound as it was, close to the picture.
  "$tool" convert "rec.$ext" -o "$ext.mp4" 2>/dev/null
  [ "$(stream "$ext.mp4" v codec_name)" = h264 ]
  [ "$(stream "$ext.mp4" a codec_name)" = mp3 ]
  p=$(psnr_y "$ext.mp4" "ref.$ext")
  close "$p" 60 20 || { echo "$ext -> mp4: PSNR $p dB" >&2; exit 1; }
  # The sound lasts as long as the MP3 and starts where it did.
  close "$(stream "$ext.mp4" a duration)" "$sound_s" 0.1 ||
    { echo "$ext -> mp4: sound of $(stream "$ext.mp4" a duration) s for $sound_s s" >&2; exit 1; }
  close "$(stream "$ext.mp4" a start_time)" 0 0.03
  # Every MP3 frame, the last one too, copied.
  [ "$(mp3_frames "$ext.mp4")" = "$sound_frames" ] ||
    { echo "$ext -> mp4: $(mp3_frames "$ext.mp4") MP3 frames for $sound_frames" >&2; exit 1; }
  # The file lasts as long as the recording.
  close "$(stream "$ext.mp4" v duration)" "$(( $(stat -c %s "ref.$ext") / frame ))/$fps" 0.1
  # Five still seconds are one held picture, not 60 coded ones.
  packets=$(ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 "$ext.mp4" | wc -l)
  [ "$packets" -le 40 ] || { echo "$ext -> mp4: $packets pictures for 36 changes" >&2; exit 1; }

  [ "$(md5sum <"rec.$ext")" = "$before" ] || { echo "$ext: the recording changed" >&2; exit 1; }
  # WebM (VP9 and Opus) from two kinds: the picture and the sound reach the
  # encoders the same way from every kind.
  case $ext in kmr | mp4) ;; *) continue ;; esac
  "$tool" convert "rec.$ext" -o "$ext.webm" 2>/dev/null
  [ "$(stream "$ext.webm" v codec_name)" = vp9 ]
  [ "$(stream "$ext.webm" a codec_name)" = opus ]
  p=$(psnr_y "$ext.webm" "ref.$ext")
  close "$p" 55 20 || { echo "$ext -> webm: PSNR $p dB" >&2; exit 1; }
  ffmpeg -v error -i "$ext.webm" -f null - 2>err.txt
  [ ! -s err.txt ] || { echo "$ext -> webm: $(cat err.txt)" >&2; exit 1; }
  close "$(ffprobe -v error -select_streams a -show_entries format=duration -of csv=p=0 "$ext.webm")" \
    "$(( $(stat -c %s "ref.$ext") / frame ))/$fps" 0.2

  [ "$(md5sum <"rec.$ext")" = "$before" ] || { echo "$ext: the recording changed" >&2; exit 1; }
done

echo "== a self-playing recording"
# The player with the recording appended; the trailer's container start
# moves past the player.
python3 - "$player" rec.kmr self.exe <<'PY'
import struct, sys
player = open(sys.argv[1], "rb").read()
rec = bytearray(open(sys.argv[2], "rb").read())
duration, start, magic = struct.unpack("<III", rec[-12:])
rec[-12:] = struct.pack("<III", duration, start + len(player), magic)
open(sys.argv[3], "wb").write(player + bytes(rec))
PY
"$tool" probe self.exe | grep -q '"container_start": [1-9]'
"$tool" decode self.exe -o self.raw 2>/dev/null
"$tool" convert self.exe -o self.mkv --lossless 2>/dev/null
read -r sw sh < <(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 self.mkv | tr ',' ' ')
ffmpeg -v error -y -i self.mkv -f rawvideo -pix_fmt rgb24 self.mkv.raw
ffmpeg -v error -y -f rawvideo -pix_fmt bgra -s "${sw}x$sh" -i self.raw -f rawvideo -pix_fmt rgb24 self.rgb
# The last picture is the recording's last.
last=$((sw * sh * 3))
cmp <(tail -c "$last" self.mkv.raw) <(tail -c "$last" self.rgb)

echo "== refusals"
head -c 3000 rec.kmr >damaged.kmr
if "$tool" convert damaged.kmr -o damaged.mp4 2>err.txt; then
  echo "a damaged recording was converted" >&2
  exit 1
fi
[ "$(wc -l <err.txt)" -eq 1 ] || { echo "not one line: $(cat err.txt)" >&2; exit 1; }
[ ! -e damaged.mp4 ]
echo "not a recording" >text.kmr
if "$tool" convert text.kmr -o text.mp4 2>err.txt; then exit 1; fi
grep -q "text.kmr" err.txt
[ ! -e text.mp4 ]
cp rec.kmr same.mp4
if "$tool" convert same.mp4 -o ./same.mp4 2>err.txt; then exit 1; fi
grep -q "recording itself" err.txt
cmp same.mp4 rec.kmr
if "$tool" convert rec.kmr -o x.webm --lossless 2>err.txt; then exit 1; fi
grep -q "WebM" err.txt
echo "convert: all kinds converted"
