#!/usr/bin/env bash
# Lossless codecs on a real desktop clip, in one run: our codec (kmrtool) and
# ffmpeg's lossless encoders, each single-threaded. Prints bytes, size ratio
# against ours, encode and decode CPU seconds, and whether the round trip is
# bit-exact. Usage: bench/lossless.sh [CLIP.raw]  (made by make-clip.sh when absent)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/bench
mkdir -p "$work"
clip=${1:-$work/clip.raw}
[ -f "$clip" ] || bash "$root/bench/make-clip.sh" "$clip"
read -r w h fps frames <"$clip.txt"
kmrtool=$root/build/host/tools/kmrtool/kmrtool
timed() { python3 "$root/bench/timed.py" "$1" 2>&1 >/dev/null | sed -n 's/^cpu //p' | tail -n 1; }
raw_in="-f rawvideo -pix_fmt bgr0 -s ${w}x${h} -r $fps -i $clip"
ref=$(ffmpeg -v error $raw_in -f rawvideo -pix_fmt rgb24 - | md5sum | cut -d' ' -f1)

printf '%-22s %12s %8s %10s %10s %s\n' codec bytes ratio enc_cpu_s dec_cpu_s bit-exact
ours_bytes=0
row() {  # name file enc dec exact
  local bytes ratio
  bytes=$(stat -c %s "$2")
  [ "$ours_bytes" -eq 0 ] && ours_bytes=$bytes
  ratio=$(python3 -c "print(f'{$bytes / $ours_bytes:.2f}')")
  printf '%-22s %12s %8s %10s %10s %s\n' "$1" "$bytes" "$ratio" "$3" "$4" "$5"
}

out=$work/ours.kmr
enc=$(timed "$kmrtool encode -s ${w}x${h} -b 32 -r $fps -i $clip -o $out")
dec=$(timed "$kmrtool decode $out -o - > /dev/null")
if "$kmrtool" decode "$out" -o - 2>/dev/null | cmp -s - "$clip"; then exact=yes; else exact=NO; fi
row "kmrv (ours)" "$out" "$enc" "$dec" "$exact"

peer() {  # name extension encoder-options
  local name=$1 ext=$2 opts=$3 file=$work/peer.$1.$2 enc dec exact sum
  if ! enc=$(timed "ffmpeg -v error -y $raw_in $opts -threads 1 $file"); then
    printf '%-22s %s\n' "$name" "encoder not available"
    return
  fi
  [ -s "$file" ] || { printf '%-22s %s\n' "$name" "encoder not available"; return; }
  if ffmpeg -v error -threads 1 -i "$file" -f null - >/dev/null 2>&1; then
    dec=$(timed "ffmpeg -v error -threads 1 -i $file -f null -")
    sum=$(ffmpeg -v error -threads 1 -i "$file" -f rawvideo -pix_fmt rgb24 - 2>/dev/null | md5sum | cut -d' ' -f1 || true)
    if [ "$sum" = "$ref" ]; then exact=yes; else exact=no; fi
  else
    dec=n/a
    exact="n/a (ffmpeg cannot decode it)"
  fi
  row "$name" "$file" "$enc" "$dec" "$exact"
}
peer zmbv avi "-c:v zmbv"
peer ffv1 mkv "-c:v ffv1"
peer x264rgb-medium mkv "-c:v libx264rgb -qp 0 -preset medium -pix_fmt bgr24"
peer x264rgb-ultrafast mkv "-c:v libx264rgb -qp 0 -preset ultrafast -pix_fmt bgr24"
peer flashsv flv "-c:v flashsv -pix_fmt bgr24"
peer apng apng "-c:v apng -pix_fmt rgb24 -f apng"
peer webp-lossless webp "-c:v libwebp_anim -lossless 1 -pix_fmt bgra"
echo "clip: ${w}x${h}, $fps fps, $frames frames ($(python3 -c "print($frames / $fps)") s)"
