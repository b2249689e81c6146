#!/usr/bin/env python3
"""Draws the recorder's two icons with the player's drawing helpers: the
program icon (128, a camera) and the recording icon (129, the same camera
with a red light). Run it again after changing a picture; its output is kept
in recorder/ui/win/res."""
import importlib.util
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
found = importlib.util.spec_from_file_location("player_resources", os.path.join(here, "make-player-resources.py"))
draw = importlib.util.module_from_spec(found)
found.loader.exec_module(draw)


def camera(light):
    c = draw.canvas(32, 32, draw.GREY)
    draw.rect(c, 2, 9, 20, 16, (40, 70, 140))
    draw.rect(c, 4, 11, 16, 12, (230, 235, 245))
    draw.rect(c, 8, 14, 8, 6, (40, 70, 140))
    for i in range(8):  # the lens widens to the right
        draw.rect(c, 22 + i, 13 - i // 2, 1, 8 + i, (40, 70, 140))
    draw.rect(c, 24, 3, 6, 6, light)
    return c


def main(out):
    os.makedirs(out, exist_ok=True)
    open(f"{out}/kelvo.ico", "wb").write(draw.ico(camera((120, 120, 120))))
    open(f"{out}/recording.ico", "wb").write(draw.ico(camera((220, 30, 30))))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "recorder", "ui", "win", "res"))
