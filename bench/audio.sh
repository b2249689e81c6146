#!/usr/bin/env bash
# Sound, in one run:
#  1. MP3 encoding of SECONDS (default 600) of 44100 Hz stereo at quality 5:
#     the recorder's encoder (kmrtool encode-audio over lame_enc.so) against
#     ffmpeg's libmp3lame, both single-threaded; CPU seconds and the ratio.
#  2. Drift: an hour of simulated recording with a device clock 0.5 % fast
#     and 0.5 % slow; the sound's offset from the picture at the end, as the
#     recorder places it against the sample count alone.
#  3. Capture: kelvo records CAPTURE_SECONDS (default 600) of a PulseAudio
#     monitor while both cores are kept busy; the blocks recorded are
#     counted against the time that passed (no block may go missing).
# Usage: bench/audio.sh [SECONDS] [CAPTURE_SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/bench/audio
mkdir -p "$work"
seconds=${1:-600}
capture_seconds=${2:-600}
kmrtool=$root/build/host/tools/kmrtool/kmrtool
kelvo=$root/build/host/bin/kelvo
timed() { python3 "$root/bench/timed.py" "$1" 2>&1 >/dev/null | sed -n 's/^cpu //p' | tail -n 1; }

# A signal with some life in it: two tones and noise.
pcm=$work/input.raw
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=$seconds" -f lavfi -i "sine=frequency=1250:duration=$seconds" \
  -f lavfi -i "anoisesrc=duration=$seconds:amplitude=0.05" -filter_complex amix=inputs=3 -ac 2 -ar 44100 \
  -f s16le "$pcm"
# The same coding on both sides: what the recorder asks of LAME (true
# stereo, no bit reservoir, algorithm quality 5), at a constant 128 kbit/s
# (the AVI stream's mode) and at a variable rate (the container's; ours
# bounds it to 112..128 kbit/s, ffmpeg cannot). Best of three runs each.
best() { local b=; for _ in 1 2 3; do t=$(timed "$1"); b=$(python3 -c "print(min($t, ${b:-1e9}))"); done; echo "$b"; }
lib="--library $root/build/host/bin/lame_enc.so"
peer_in="ffmpeg -v error -y -threads 1 -f s16le -ar 44100 -ac 2 -i $pcm -c:a libmp3lame -compression_level 5 -reservoir 0 -joint_stereo 0"
ours=$(best "$kmrtool encode-audio -r 44100 -q 5 --constant $lib -i $pcm -o $work/ours-cbr.mp3")
peer=$(best "$peer_in -b:a 128k $work/peer-cbr.mp3")
printf 'mp3 encoding of %s s, constant 128 kbit/s: ours %s cpu s, ffmpeg libmp3lame %s cpu s, ratio %s (goal at most 1.2)\n' \
  "$seconds" "$ours" "$peer" "$(python3 -c "print(f'{$ours / $peer:.2f}')")"
ours=$(best "$kmrtool encode-audio -r 44100 -q 5 $lib -i $pcm -o $work/ours-vbr.mp3")
peer=$(best "$peer_in -q:a 0 $work/peer-vbr.mp3")
printf 'mp3 encoding of %s s, variable rate: ours %s cpu s, ffmpeg libmp3lame %s cpu s, ratio %s\n' \
  "$seconds" "$ours" "$peer" "$(python3 -c "print(f'{$ours / $peer:.2f}')")"

"$root/build/host/recorder/audio/sound_drift_bench" 1

# Capture on a loaded machine, against a private PulseAudio server.
export XDG_RUNTIME_DIR=$work/pulse HOME=$work/pulse
mkdir -p "$XDG_RUNTIME_DIR"
pulseaudio --daemonize=no -n --exit-idle-time=-1 --use-pid-file=no \
  --load="module-null-sink sink_name=kmrnull" --load=module-native-protocol-unix >/dev/null 2>&1 &
pulse=$!
xvfb=
load=()
cleanup() {
  for p in "${load[@]}"; do kill "$p" 2>/dev/null || true; done
  kill "$pulse" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.2; done
if [ -z "${DISPLAY:-}" ]; then
  exec 3< <(Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp 2>/dev/null)
  xvfb=$!
  read -r n <&3
  export DISPLAY=:$n
fi
for _ in 1 2; do (while :; do :; done) & load+=($!); done
start=$(date +%s.%N)
XDG_CONFIG_HOME=$work/config "$kelvo" record -o "$work/capture" --full --audio monitor \
  --duration "$capture_seconds" </dev/null 2>"$work/kelvo.txt"
end=$(date +%s.%N)
line=$(grep 'kelvo: sound:' "$work/kelvo.txt")
blocks=$(sed -E 's/.*sound: ([0-9]+) blocks.*/\1/' <<<"$line")
python3 - "$blocks" "$start" "$end" "$capture_seconds" <<'PY'
import sys
blocks, start, end, asked = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
block_s = 11520 / 88200  # one encoder block at 22050 Hz stereo
print(f"capture of {asked:.0f} s on two busy cores: {blocks} blocks = {blocks * block_s:.1f} s of sound "
      f"(kelvo ran {end - start:.1f} s; the sound server's start and the last block in flight account for the rest)")
PY
grep 'kelvo: sound' "$work/kelvo.txt"
