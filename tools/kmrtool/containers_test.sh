#!/usr/bin/env bash
# kmrtool encode writes AVI (and, where the platform has the writers, Windows
# Media, Matroska and MP4) with the own lossless codec and MP3 sound; an
# independent reader (ffprobe, ffmpeg) lists and decodes them, and the host's
# kmrtool decodes the picture bit for bit. Where the Windows Media writer is
# missing (Wine), writing .wmv fails with the recorder's text and no crash.
# Usage: containers_test.sh WORKDIR HOST_KMRTOOL MP3 "EXTENSIONS" "FAILING" KMRTOOL [RUNNER...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1 host_tool=$2 mp3=$3 writes=$4 failing=$5
shift 5
tool=("$@")
if [ ! -x "$host_tool" ]; then
  echo "no host kmrtool at $host_tool (build the host configuration first)" >&2
  exit 77
fi
command -v ffprobe >/dev/null || { echo "ffprobe is not installed" >&2; exit 77; }
mkdir -p "$work"
cd "$work"
cp "$mp3" sound.mp3
python3 "$here/make_test_clip.py" clip.raw 3 36
frame=$((96 * 60 * 4))
clip_bytes=$(stat -c %s clip.raw)
ffmpeg -v error -y -i sound.mp3 -f s16le -ac 1 -ar 22050 sound.ref
for ext in $writes; do
  echo "== $ext"
  rm -f "clip.$ext"
  "${tool[@]}" encode -s 96x60 -r 12 -i clip.raw -o "clip.$ext" --mp3 sound.mp3
  probe=$(ffprobe -v error -show_entries stream=codec_type,codec_name,codec_tag_string,r_frame_rate \
    -of default=nw=1 "clip.$ext")
  grep -q "codec_tag_string=KMRV" <<<"$probe" || { echo "$ext: no KMRV stream: $probe" >&2; exit 1; }
  grep -q "r_frame_rate=12/1" <<<"$probe" || { echo "$ext: not at 12 frames a second: $probe" >&2; exit 1; }
  grep -q "codec_name=mp3" <<<"$probe" || { echo "$ext: no MP3 stream: $probe" >&2; exit 1; }
  # The sound decodes to what the MP3 file itself gives.
  ffmpeg -v fatal -y -i "clip.$ext" -f s16le -ac 1 -ar 22050 "sound.$ext"
  cmp "sound.$ext" sound.ref
  # The picture, bit for bit. In AVI, Matroska and MP4 sample 0 is empty
  # (the slot before the first frame shows the first) and the clip follows.
  "$host_tool" decode "clip.$ext" -o "back.$ext" 2>/dev/null
  skip=$frame
  [ "$ext" = wmv ] && skip=0
  cmp -i "$skip:0" -n "$clip_bytes" "back.$ext" clip.raw
  [ "$(stat -c %s "back.$ext")" -ge $((skip + clip_bytes)) ]
  "$host_tool" check "clip.$ext"
done
for ext in $failing; do
  echo "== $ext (no writer here)"
  rm -f "clip.$ext"
  if "${tool[@]}" encode -s 96x60 -r 12 -i clip.raw -o "clip.$ext" --mp3 sound.mp3 2>err.txt; then
    echo "$ext: written where it should have failed" >&2
    exit 1
  fi
  grep -q "Can not start recording!" err.txt
  grep -q "Failed to write data to the file:" err.txt
  tr -d '\r' <err.txt | grep -qx "clip.$ext"
done
# A missing folder: the same text, for every writer.
for ext in $writes; do
  if "${tool[@]}" encode -s 96x60 -r 12 -i clip.raw -o "no/such/dir/clip.$ext" 2>err.txt; then
    echo "$ext: written into a missing folder" >&2
    exit 1
  fi
  grep -q "Failed to write data to the file:" err.txt
  [ ! -e "no/such/dir/clip.$ext" ]
done
echo "containers ok"
