#!/usr/bin/env python3
"""Writes the solid-colour pictures of the tabs resource module (tabs/<id>.png) and tabs/colours.h.

Ids 101 and 102 are the installable-options page's list marks, 103-118 the document page's previews, 3640 and 3641 the about page's backgrounds; each has
its own colour so a screenshot shows which one was drawn."""
import colorsys, os, struct, zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'tabs')


def png(path, w, h, rgb):
    raw = b''.join(b'\x00' + bytes(rgb) * w for _ in range(h))
    def chunk(t, d):
        return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main():
    ids = list(range(101, 119)) + [3640, 3641]
    rows = []
    for n, i in enumerate(ids):
        big = i >= 3640
        r, g, b = colorsys.hsv_to_rgb(n / len(ids), 0.35 if big else 0.8, 0.95 if big else 0.8)
        rgb = (int(r * 255), int(g * 255), int(b * 255))
        png(os.path.join(HERE, f'{i}.png'), *((420, 380) if big else (24, 16) if i < 103 else (64, 48)), rgb)
        rows.append((i, rgb))
    with open(os.path.join(HERE, 'colours.h'), 'w') as f:
        f.write('// Colours of the solid pictures of the tabs resource module (generated with the pictures).\n'
                '#pragma once\n\nstruct TabPictureColour { int id; unsigned char r, g, b; };\n'
                'inline constexpr TabPictureColour kTabPictureColours[] = {\n')
        for i, (r, g, b) in rows:
            f.write(f'    {{{i}, {r}, {g}, {b}}},\n')
        f.write('};\n')


if __name__ == '__main__':
    main()
