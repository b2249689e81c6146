#!/usr/bin/env python3
"""Writes a 96 x 60 clip of raw 32-bit frames for the kmrtool tests: noise
with a block drawn at a new place in each frame; with REPEAT_EVERY n, every
n-th frame repeats the one before.
Usage: make_test_clip.py OUT SEED FRAMES [REPEAT_EVERY]"""
import random
import sys

out_path, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
repeat_every = int(sys.argv[4]) if len(sys.argv) > 4 else 0
r = random.Random(seed)
w, h = 96, 60
f = bytearray(r.getrandbits(8) for _ in range(w * h * 4))
out = bytearray()
for i in range(count):
    if not repeat_every or i % repeat_every != repeat_every - 1:
        x, y = r.randrange(70), r.randrange(50)
        for yy in range(y, y + 8):
            for xx in range(x, x + 20):
                f[(yy * w + xx) * 4:(yy * w + xx) * 4 + 4] = bytes(((i * 37) & 255, i, 255 - i, 0))
    out += f
open(out_path, "wb").write(out)
