#!/usr/bin/env bash
# kmrtool encode then decode gives back the raw clip bit for bit, at every
# depth, through files and through pipes; the lossy codec codes 32-bit frames
# only, and its recording checks and decodes to whole frames (where the
# xvidcore library is installed; elsewhere it says it is missing).
# Usage: roundtrip_test.sh WORKDIR KMRTOOL [RUNNER]
set -euo pipefail
work=$1
shift
tool=("$@")
mkdir -p "$work"
cd "$work"
python3 - <<'PY'
import random
random = random.Random(7)
for bits in (8, 16, 24, 32):
    bpp = bits // 8
    w, h = 96, 60
    frame = bytearray(random.getrandbits(8) for _ in range(w * h * bpp))
    out = bytearray()
    for i in range(40):
        if i % 7 != 3:  # some frames repeat the previous one exactly
            x, y = random.randrange(w - 20), random.randrange(h - 10)
            bw, bh = random.randrange(1, 20), random.randrange(1, 10)
            for yy in range(y, y + bh):
                for xx in range(x, x + bw):
                    o = (yy * w + xx) * bpp
                    frame[o:o + bpp] = bytes((i * 37 + k) & 255 for k in range(bpp))
        out += frame
    open(f"clip{bits}.raw", "wb").write(out)
PY
for bits in 8 16 24 32; do
  "${tool[@]}" encode -s 96x60 -b $bits -r 12 -i clip$bits.raw -o clip$bits.kmr
  "${tool[@]}" decode clip$bits.kmr -o back$bits.raw 2>/dev/null
  cmp clip$bits.raw back$bits.raw
  "${tool[@]}" check clip$bits.kmr
done
# Standard input and output.
"${tool[@]}" encode -s 96x60 -r 12 -i - -o piped.kmr <clip32.raw
"${tool[@]}" decode piped.kmr -o - 2>/dev/null | cmp - clip32.raw
# The lossy codec.
if "${tool[@]}" encode -s 96x60 -b 24 -r 12 --codec lossy -i clip24.raw -o lossy24.kmr 2>err.txt; then
  echo "a 24-bit lossy encode was accepted" >&2
  exit 1
fi
grep -q "32-bit frames only" err.txt
if "${tool[@]}" encode -s 96x60 -r 12 --codec lossy -i clip32.raw -o lossy.kmr 2>err.txt; then
  "${tool[@]}" check lossy.kmr
  "${tool[@]}" decode lossy.kmr -o lossy.raw 2>/dev/null
  [ "$(stat -c %s lossy.raw)" -eq "$(stat -c %s clip32.raw)" ]
else
  grep -q "xvidcore" err.txt
fi
echo "round trip ok"
