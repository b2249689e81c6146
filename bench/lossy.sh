#!/usr/bin/env bash
# The lossy screen codec against whole-frame encoders, in one run, each
# single-threaded: ours (kmrtool encode --codec lossy, changed tiles only),
# ffmpeg's mpeg4 at -q:v 4 and libx264 veryfast at crf 23. Two clips: the
# desktop clip of make-clip.sh and a photo window moving over a desktop.
# Prints bytes, mean and lowest per-frame PSNR (ffmpeg's psnr filter, both
# sides as 4:2:0 video) and encode CPU seconds, then the goals: at a lowest
# PSNR no worse than mpeg4's, fewer bytes than mpeg4 and at most half of
# x264's encode CPU.
# Usage: bench/lossy.sh [DESKTOP_CLIP.raw]  (made by make-clip.sh when absent)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/bench
mkdir -p "$work"
kmrtool=$root/build/host/tools/kmrtool/kmrtool
[ -x "$kmrtool" ] || { echo "build the host configuration first (tools/build.sh host)" >&2; exit 1; }
timed() { python3 "$root/bench/timed.py" "$1" 2>&1 >/dev/null | sed -n 's/^cpu //p' | tail -n 1; }

desktop=${1:-$work/clip.raw}
[ -f "$desktop" ] || bash "$root/bench/make-clip.sh" "$desktop"

# A photo (a fractal plasma, as busy as a real one) in a window frame that
# moves across a plain desktop: 1024 × 768, 10 fps, 10 s.
photo=$work/photo.raw
if [ ! -f "$photo" ]; then
  convert -seed 7 -size 480x360 plasma:fractal -blur 0x1 "$work/photo.png"
  ffmpeg -v error -y -f lavfi -i "color=c=0x3a6ea5:s=1024x768:r=10:d=10" -i "$work/photo.png" \
    -filter_complex "[1:v]pad=488:390:4:26:color=0xd4d0c8[win];[0:v][win]overlay=x='40+t*45':y='40+t*28':eval=frame" \
    -frames:v 100 -f rawvideo -pix_fmt bgr0 "$photo"
  echo "1024 768 10 100" >"$photo.txt"
fi

# PSNR of a decoded clip against the source: "mean lowest" over the frames.
psnr() {  # source w h fps decoded-input-options...
  local src=$1 w=$2 h=$3 fps=$4
  shift 4
  local stats
  stats=$(mktemp)
  ffmpeg -v error -f rawvideo -pix_fmt bgr0 -s "${w}x${h}" -r "$fps" -i "$src" "$@" \
    -lavfi "[0:v]format=yuv420p[a];[1:v]format=yuv420p[b];[a][b]psnr=stats_file=$stats" -f null - </dev/null
  python3 - "$stats" <<'EOF'
import sys
v = [float(p.split(':')[1]) for line in open(sys.argv[1]) for p in line.split() if p.startswith('psnr_avg:')]
v = [min(x, 99.0) for x in v]
print(f"{sum(v) / len(v):.2f} {min(v):.2f}")
EOF
  rm -f "$stats"
}

run_clip() {  # name clip
  local name=$1 clip=$2 w h fps frames raw_in
  read -r w h fps frames <"$clip.txt"
  raw_in="-f rawvideo -pix_fmt bgr0 -s ${w}x${h} -r $fps -i $clip"
  echo "== $name: ${w}x${h}, $fps fps, $frames frames"
  printf '%-26s %12s %10s %10s %10s\n' codec bytes psnr_mean psnr_min enc_cpu_s
  local out=$work/lossy.$name.kmr dec=$work/lossy.$name.raw enc q
  enc=$(timed "$kmrtool encode -s ${w}x${h} -r $fps --codec lossy -i $clip -o $out")
  "$kmrtool" decode "$out" -o "$dec" >/dev/null 2>&1
  q=$(psnr "$clip" "$w" "$h" "$fps" -f rawvideo -pix_fmt bgr0 -s "${w}x${h}" -r "$fps" -i "$dec")
  rm -f "$dec"
  printf '%-26s %12s %10s %10s %10s\n' "kmrv lossy (ours)" "$(stat -c %s "$out")" $q "$enc"
  ours_bytes=$(stat -c %s "$out") ours_min=${q#* } ours_cpu=$enc
  local peer file opts
  for peer in "mpeg4-q4|avi|-c:v mpeg4 -q:v 4" "x264-veryfast-crf23|mkv|-c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p"; do
    IFS='|' read -r pname ext opts <<<"$peer"
    file=$work/lossy.$name.$pname.$ext
    if ! enc=$(timed "ffmpeg -v error -y $raw_in $opts -threads 1 $file") || [ ! -s "$file" ]; then
      printf '%-26s %s\n' "$pname" "encoder not available"
      continue
    fi
    # shellcheck disable=SC2086
    q=$(psnr "$clip" "$w" "$h" "$fps" -threads 1 -i "$file")
    printf '%-26s %12s %10s %10s %10s\n' "$pname" "$(stat -c %s "$file")" $q "$enc"
    case $pname in
      mpeg4*) mpeg4_bytes=$(stat -c %s "$file") mpeg4_min=${q#* } ;;
      x264*) x264_cpu=$enc ;;
    esac
  done
  # The whole-frame mpeg4 of the same lowest PSNR as ours: the finest
  # quantiser whose lowest PSNR is no better than ours.
  local mq=0 mq_bytes=0 mq_min=0 m
  for q in 5 6 7 8 9 10 12 14 16 20 24 31; do
    file=$work/lossy.$name.mpeg4-q$q.avi
    ffmpeg -v error -y $raw_in -c:v mpeg4 -q:v "$q" -threads 1 "$file" || break
    m=$(psnr "$clip" "$w" "$h" "$fps" -threads 1 -i "$file")
    if python3 -c "import sys; sys.exit(0 if ${m#* } <= $ours_min else 1)"; then
      mq=$q mq_bytes=$(stat -c %s "$file") mq_min=${m#* }
      printf '%-26s %12s %10s %10s %10s\n' "mpeg4-q$q (same quality)" "$mq_bytes" $m "-"
      break
    fi
  done
  python3 - "$ours_bytes" "$ours_min" "$ours_cpu" "${mpeg4_bytes:-0}" "${mpeg4_min:-0}" "${x264_cpu:-0}" \
    "$mq" "$mq_bytes" "$mq_min" <<'EOF'
import sys
ob, om, oc, mb, mm, xc, mq, mqb, mqm = map(float, sys.argv[1:])
ok = lambda c: "met" if c else "NOT met"
if mb and xc:
    print(f"mpeg4 -q:v 4: lowest PSNR {mm:.2f} dB against our {om:.2f} dB, {ob / mb:.2f} of its bytes")
    if mq:
        print(f"goal: at equal or better lowest PSNR ({om:.2f} vs {mqm:.2f} dB, mpeg4 -q:v {mq:.0f}) fewer bytes "
              f"than mpeg4 ({ob / mqb:.2f} of its bytes): {ok(ob < mqb)}")
    else:
        print("goal: no mpeg4 quantiser reached our lowest PSNR from below")
    print(f"goal: encode CPU at most half of x264 veryfast's ({oc / xc:.2f}): {ok(oc <= xc / 2)}")
else:
    print("goal: peers missing")
EOF
}

run_clip desktop "$desktop"
run_clip photo "$photo"
