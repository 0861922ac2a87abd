#!/usr/bin/env python3
"""Draws the Brimlow AI Quillo application icon and writes it as a Windows .ico file.

The mark is a bold white "Q" (a ring with a diagonal tail) on a rounded square in the product's blue,
drawn with supersampled coverage so that it stays crisp at 16 px and smooth at 256 px. Every image is
32-bit RGBA and stored PNG-compressed, as Windows Vista and later read them.
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 128, 256)
TOP = (31, 122, 178)
BOTTOM = (16, 78, 122)


def rounded_square(x, y, inset, radius):
    # Signed distance to a rounded square spanning [inset, 1 - inset].
    half = 0.5 - inset
    qx = abs(x - 0.5) - (half - radius)
    qy = abs(y - 0.5) - (half - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def segment(x, y, ax, ay, bx, by):
    px, py, dx, dy = x - ax, y - ay, bx - ax, by - ay
    t = max(0.0, min(1.0, (px * dx + py * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - dx * t, py - dy * t)


def mark(x, y, size):
    # Small sizes get a slightly bolder stroke so the ring does not close up or fade.
    bold = 0.018 if size <= 24 else 0.0
    ring = abs(math.hypot(x - 0.47, y - 0.46) - 0.205) - (0.062 + bold)
    tail = segment(x, y, 0.57, 0.58, 0.76, 0.77) - (0.062 + bold)
    return min(ring, tail)


def render(size):
    inset = 0.0 if size <= 24 else 0.03
    samples = 4 if size <= 64 else 3
    step = 1.0 / (size * samples)
    rows = []
    for py in range(size):
        row = bytearray([0])  # PNG filter type: none
        for px in range(size):
            bg = fg = 0
            for sy in range(samples):
                y = (py * samples + sy + 0.5) * step
                for sx in range(samples):
                    x = (px * samples + sx + 0.5) * step
                    if rounded_square(x, y, inset, 0.2) <= 0.0:
                        bg += 1
                        if mark(x, y, size) <= 0.0:
                            fg += 1
            total = samples * samples
            if bg == 0:
                row += b"\0\0\0\0"
                continue
            t = py / max(size - 1, 1)
            base = [round(TOP[i] + (BOTTOM[i] - TOP[i]) * t) for i in range(3)]
            white = fg / bg
            rgb = [round(c + (255 - c) * white) for c in base]
            row += bytes(rgb) + bytes([round(255 * bg / total)])
        rows.append(bytes(row))
    return png(size, b"".join(rows))


def png(size, raw):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, image in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return out + data


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    images = [(size, render(size)) for size in SIZES]
    os.makedirs(os.path.dirname(os.path.abspath(sys.argv[1])), exist_ok=True)
    with open(sys.argv[1], "wb") as out:
        out.write(ico(images))


if __name__ == "__main__":
    main()
