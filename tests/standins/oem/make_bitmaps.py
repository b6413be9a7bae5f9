#!/usr/bin/env python3
"""Writes the bitmap resources of the OEM test module (run once; the outputs are committed).

Usage: make_bitmaps.py OUTDIR
"""
import os
import struct
import sys


# 24-bit bottom-up BMP; fn(x, y) gives (b, g, r) of the pixel (x, y) counted from the top
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
        "body.bmp": bmp(8, 6, lambda x, y: (0, 0, 200)),            # red printer body
        "bodymask.bmp": bmp(8, 6, lambda x, y: (0, 0, 0) if x < 6 else (255, 255, 255)),
        "tray.bmp": bmp(8, 6, lambda x, y: (200, 0, 0)),            # blue tray, its own mask
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
