#!/usr/bin/env python3
"""Writes the PNG and BMP fixtures of the picture tests (run once; the outputs are committed).

Each picture is small and its pixels follow a formula the tests repeat, so a test can check
every decoded byte. Usage: make_fixtures.py OUTDIR
"""
import os
import struct
import sys
import zlib


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(width, height, bit_depth, color_type, raw_rows, interlace=0, extra=b""):
    ihdr = struct.pack(">IIBBBBB", width, height, bit_depth, color_type, 0, 0, interlace)
    data = b"".join(b"\x00" + row for row in raw_rows)  # filter type 0 on every row
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra +
            chunk(b"IDAT", zlib.compress(data, 9)) + chunk(b"IEND", b""))


# RGBA 8-bit, 3 x 2: pixel (x, y) = (10x+1, 20y+2, 30+x+y, 40x+50y+5)
def rgba_pixel(x, y):
    return (10 * x + 1, 20 * y + 2, 30 + x + y, 40 * x + 50 * y + 5)


def make_rgba():
    rows = [bytes(v for x in range(3) for v in rgba_pixel(x, y)) for y in range(2)]
    return png(3, 2, 8, 6, rows)


# 4-bit palette, 5 x 3: index (x + 2y) mod 6; palette entry i = (40i, 255 - 40i, 7i)
PALETTE = [(40 * i, 255 - 40 * i, 7 * i) for i in range(6)]


def make_pal4():
    rows = []
    for y in range(3):
        idx = [(x + 2 * y) % 6 for x in range(5)] + [0]  # padded to whole bytes
        rows.append(bytes((idx[i] << 4) | idx[i + 1] for i in range(0, 6, 2)))
    plte = b"".join(bytes(c) for c in PALETTE)
    return png(5, 3, 4, 3, rows, extra=chunk(b"PLTE", plte))


# RGB 16-bit, 2 x 2: sample = (high byte h, low byte 0x5A), h = 60x + 100y + 10c for channel c
def make_rgb16():
    rows = []
    for y in range(2):
        row = b""
        for x in range(2):
            for c in range(3):
                row += bytes((60 * x + 100 * y + 10 * c, 0x5A))
        rows.append(row)
    return png(2, 2, 16, 2, rows)


# Grey + alpha 8-bit, 2 x 2: grey 100 + 50x, alpha 200 - 100y
def make_greya():
    rows = [bytes(v for x in range(2) for v in (100 + 50 * x, 200 - 100 * y)) for y in range(2)]
    return png(2, 2, 8, 4, rows)


# Grey 2-bit, 4 x 1: levels 0..3 (expands to 0, 85, 170, 255)
def make_grey2():
    return png(4, 1, 2, 0, [bytes([0b00011011])])


# RGB 8-bit, Adam7 interlaced, 9 x 9: pixel (x, y) = (25x, 25y, (x * y) mod 256)
def interlaced_pixel(x, y):
    return (25 * x, 25 * y, (x * y) % 256)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def make_interlaced(width=9, height=9):
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 1)
    data = b""
    for x0, y0, dx, dy in ADAM7:
        xs = list(range(x0, width, dx))
        ys = list(range(y0, height, dy))
        if not xs or not ys:
            continue
        for y in ys:
            data += b"\x00" + bytes(v for x in xs for v in interlaced_pixel(x, y))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
            chunk(b"IDAT", zlib.compress(data, 9)) + chunk(b"IEND", b""))


# 1-bit grey, 5000 x 1: wider than any picture the pages accept
def make_too_wide():
    return png(5000, 1, 1, 0, [bytes(625)])


# 24-bit bottom-up BMP; pixel (x, y) from the top = (b, g, r) given by fn
def bmp(width, height, fn):
    stride = (width * 3 + 3) & ~3
    pixels = b""
    for y in reversed(range(height)):
        row = b"".join(bytes(fn(x, y)) for x in range(width))
        pixels += row + bytes(stride - len(row))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(pixels), 0, 0, 14 + len(header)) + header + pixels


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    files = {
        "rgba.png": make_rgba(),
        "pal4.png": make_pal4(),
        "rgb16.png": make_rgb16(),
        "greya.png": make_greya(),
        "grey2.png": make_grey2(),
        "interlaced.png": make_interlaced(),
        "toowide.png": make_too_wide(),
        "truncated.png": make_rgba()[:60],
        "notpng.bin": b"GIF89a not a png at all",
        "fallback.bmp": bmp(2, 2, lambda x, y: (11 + x, 22 + y, 33)),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
