#!/usr/bin/env python3
"""Draws the Windows player's resource images: the tool bar's seven 16 x 15
button images (fit, full screen, play, quick play, pause, stop, loop; the
light grey background is the transparent colour), the program icon (128)
and the drag cursor icon (129). Run it again after changing a picture; its
output is kept in player/win/res."""
import struct
import sys

GREY = (192, 192, 192)
INK = (20, 20, 20)


def canvas(w, h, fill):
    return [[fill] * w for _ in range(h)]


def rect(c, x, y, w, h, col, filled=True):
    for yy in range(y, y + h):
        for xx in range(x, x + w):
            if filled or yy in (y, y + h - 1) or xx in (x, x + w - 1):
                c[yy][xx] = col


def triangle(c, x, y, h, col):
    for i in range(h):
        half = i if i <= h // 2 else h - 1 - i
        for xx in range(x, x + half + 1):
            c[y + i][xx] = col


def button(kind):
    c = canvas(16, 15, GREY)
    if kind == "fit":
        rect(c, 0, 1, 16, 12, INK, False)
        rect(c, 4, 4, 8, 6, INK)
    elif kind == "full":
        rect(c, 0, 1, 16, 12, INK, False)
        rect(c, 2, 3, 12, 8, INK, False)
    elif kind == "play":
        triangle(c, 4, 1, 13, INK)
    elif kind == "quick":
        triangle(c, 1, 2, 11, INK)
        triangle(c, 8, 2, 11, INK)
    elif kind == "pause":
        rect(c, 3, 2, 3, 11, INK)
        rect(c, 10, 2, 3, 11, INK)
    elif kind == "stop":
        rect(c, 3, 3, 10, 10, INK)
    elif kind == "loop":
        rect(c, 1, 4, 14, 9, INK, False)
        triangle(c, 9, 0, 7, INK)
    return c


def bmp24(rows):
    h, w = len(rows), len(rows[0])
    stride = (w * 3 + 3) & ~3
    data = b""
    for row in reversed(rows):
        line = b"".join(bytes((b, g, r)) for (r, g, b) in row)
        data += line + b"\0" * (stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data


def ico(rows):
    """A 32 x 32 icon, 32 bits with an AND mask; GREY is transparent."""
    h, w = len(rows), len(rows[0])
    xor = b""
    for row in reversed(rows):
        xor += b"".join(bytes((b, g, r, 0 if (r, g, b) == GREY else 255)) for (r, g, b) in row)
    mask = b""
    for row in reversed(rows):
        bits = 0
        line = b""
        for x, px in enumerate(row):
            bits = (bits << 1) | (1 if px == GREY else 0)
            if x % 8 == 7:
                line += bytes((bits,))
                bits = 0
        mask += line + b"\0" * ((4 - len(line) % 4) % 4)
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = info + xor + mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 32, len(image), 22) + image


def main(out):
    kinds = ["fit", "full", "play", "quick", "pause", "stop", "loop"]
    strip = [sum((button(k)[y] for k in kinds), []) for y in range(15)]
    open(f"{out}/toolbar.bmp", "wb").write(bmp24(strip))
    # The program: a film frame with a play triangle.
    icon = canvas(32, 32, GREY)
    rect(icon, 2, 5, 28, 22, (40, 70, 140))
    rect(icon, 4, 7, 24, 18, (230, 235, 245))
    triangle(icon, 12, 9, 15, (200, 40, 40))
    open(f"{out}/morvin.ico", "wb").write(ico(icon))
    # The drag cursor: a four-way arrow.
    drag = canvas(32, 32, GREY)
    rect(drag, 15, 4, 2, 24, INK)
    rect(drag, 4, 15, 24, 2, INK)
    for i in range(5):
        rect(drag, 16 - i, 4 + i, 2 * i, 1, INK)
        rect(drag, 16 - i, 27 - i, 2 * i, 1, INK)
        rect(drag, 4 + i, 16 - i, 1, 2 * i, INK)
        rect(drag, 27 - i, 16 - i, 1, 2 * i, INK)
    open(f"{out}/drag.ico", "wb").write(ico(drag))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "player/win/res")
