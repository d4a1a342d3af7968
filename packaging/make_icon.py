#!/usr/bin/env python3
"""Draws m3umerge's icon, three playlist lines merging into a note on a blue
tile, and writes it as a Windows .ico with 16, 32, 48 and 256 pixel images
(the largest stored as PNG, as Windows expects).

usage: make_icon.py OUTPUT.ico
"""
import struct
import sys
import zlib


def pixel(x, y, size):
    """The colour (r, g, b, a) at the centre of pixel x, y of a size-pixel icon."""
    u, v = (x + 0.5) / size, (y + 0.5) / size  # 0..1, v downwards
    inset, radius = 0.04, 0.18
    # Rounded tile.
    cx = min(max(u, inset + radius), 1 - inset - radius)
    cy = min(max(v, inset + radius), 1 - inset - radius)
    if (u - cx) ** 2 + (v - cy) ** 2 > radius ** 2:
        return (0, 0, 0, 0)
    white = (255, 255, 255, 255)
    # Three playlist lines on the left.
    for top in (0.24, 0.42, 0.60):
        if 0.16 <= u <= 0.50 and top <= v <= top + 0.09:
            return white
    # A note on the right: a head and a stem with a flag.
    if (u - 0.64) ** 2 / 0.013 + (v - 0.72) ** 2 / 0.008 <= 1:
        return white
    if 0.70 <= u <= 0.76 and 0.22 <= v <= 0.72:
        return white
    if 0.70 <= u <= 0.86 and 0.22 <= v <= 0.30:
        return white
    shade = int(40 * v)
    return (47 - shade // 2, 111 - shade, 179 - shade, 255)


def image(size):
    rows = []
    for y in reversed(range(size)):  # bottom-up, as bitmaps are stored
        rows.append(b"".join(struct.pack("BBBB", b, g, r, a)
                             for r, g, b, a in (pixel(x, y, size) for x in range(size))))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + b"".join(rows) + bytes(mask_row * size)  # alpha decides; mask all zero


def png(size):
    """A size-pixel RGBA PNG of the icon."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\0" + b"".join(struct.pack("BBBB", *pixel(x, y, size)) for x in range(size))
                    for y in range(size))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main():
    sizes = (16, 32, 48, 256)
    images = [png(s) if s == 256 else image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        side = size % 256  # 0 stands for 256
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
