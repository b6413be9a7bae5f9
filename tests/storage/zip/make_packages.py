#!/usr/bin/env python3
"""Builds the driver packages the ZIP tests read, with Python's zipfile.

Usage: make_packages.py OUT_DIR SANDBOX_UNIX_PATH

Where zipfile cannot write what a test needs (names that are not UTF-8 or hold a NUL, the
encryption flag, a wrong CRC or size), the written archive is patched in both its local and
its central header. Writes OUT_DIR/ZipExpected.h with the CRC-32, size and times the tests
compare against.
"""
import os
import struct
import sys
import zipfile
import zlib

OUT = sys.argv[1]
SANDBOX = sys.argv[2].rstrip("/")

UNIX, DOS = 3, 0
DOS_TIME = (2021, 3, 4, 5, 6, 8)
expected = []  # (package, stored name, crc, size)


def info(name, system=UNIX, attr=None, when=DOS_TIME, extra=b"", method=zipfile.ZIP_DEFLATED):
    item = zipfile.ZipInfo(name, date_time=when)
    item.create_system = system
    item.compress_type = method
    if attr is not None:
        item.external_attr = attr
    elif name.endswith("/"):
        item.external_attr = (0o40755 << 16) | 0x10
    else:
        item.external_attr = 0o100644 << 16
    item.extra = extra
    return item


def ut_block(flags, *times):
    data = bytes([flags]) + b"".join(struct.pack("<i", t) for t in times)
    return struct.pack("<HH", 0x5455, len(data)) + data


def write(package, items):
    path = os.path.join(OUT, package)
    with zipfile.ZipFile(path, "w") as archive:
        for item, data in items:
            archive.writestr(item, data)
            if not item.filename.endswith("/"):
                expected.append((package, item.filename, zlib.crc32(data), len(data)))
    return path


def patch(path, name, **fields):
    """Changes fields (flag, crc, usize) of the item stored under name (bytes) in both headers."""
    data = bytearray(open(path, "rb").read())
    local = {"flag": (6, "<H"), "crc": (14, "<I"), "usize": (22, "<I")}
    central = {"flag": (8, "<H"), "crc": (16, "<I"), "usize": (24, "<I")}
    done = 0
    for signature, offsets, length_at, name_at in ((b"PK\x03\x04", local, 26, 30), (b"PK\x01\x02", central, 28, 46)):
        at = data.find(signature)
        while at >= 0:
            length = struct.unpack_from("<H", data, at + length_at)[0]
            if bytes(data[at + name_at:at + name_at + length]) == name:
                for field, value in fields.items():
                    offset, form = offsets[field]
                    if field == "flag":
                        value |= struct.unpack_from(form, data, at + offset)[0]
                    struct.pack_into(form, data, at + offset, value)
                done += 1
            at = data.find(signature, at + 4)
    assert done == 2, (path, name, done)
    open(path, "wb").write(data)


def rename(path, placeholder, name):
    data = open(path, "rb").read()
    assert len(placeholder) == len(name) and data.count(placeholder) == 2
    open(path, "wb").write(data.replace(placeholder, name))


os.makedirs(OUT, exist_ok=True)

# Listing: attributes by host, extended and DOS-only times.
write("listing.tqx", [
    (info("dir/"), b""),
    (info("dir/plain.txt"), b"plain text\n"),
    (info("readonly.txt", attr=0o100444 << 16), b"read only\n"),
    (info("dos.txt", system=DOS, attr=0x27), b"dos attributes\n"),
    (info("ut.txt", extra=ut_block(7, 1600000000, 1600000100, 1600000200)), b"extended times\n" * 40),
    (info("dosonly.txt"), b"dos time only\n"),
])

# Hostile names. The first group is made safe, the second refused.
safe = ["../evil1.dat", "..\\evil2.dat", "a/../../evil3.dat", "C:/../d/f", "/abs/x", "\\\\srv\\share\\x",
        "C:" + SANDBOX + "/evil_c.dat", "Z:" + SANDBOX + "/evil_z.dat",
        "/".join(["n" * 49] * 5) + "/" + "m" * 9]  # 259 bytes
refused = ["a/..", "...\\x", ".. \\x", "x.", "CON", "a:b", "q" * 260, "r" * 300, "BADUTF8_.txt", "NUL_NAME.txt"]
path = write("hostile.tqx", [(info(name), ("item %d\n" % i).encode()) for i, name in enumerate(safe + refused)])
rename(path, b"BADUTF8_.txt", b"BAD\xff\xfeF8_.txt")
# Flagged UTF-8 but not UTF-8: no code page 437 fall-back for it.
patch(path, b"BAD\xff\xfeF8_.txt", flag=0x800)
rename(path, b"NUL_NAME.txt", b"NUL\x00NAME.txt")

# Names as a maker's archiver writes them without the UTF-8 flag: code page 437 bytes (e9 is
# 0x82, o-umlaut 0x94, sharp s 0xE1, a-ring 0x86), beside a flagged UTF-8 name and a plain one.
path = write("cp437.tqx", [
    (info("PLACE_1.txt"), b"code page 437 name\n"),
    (info("PLACE_2/M3.txt"), b"in a code page 437 folder\n"),
    (info("\u00e9t\u00e9.txt"), b"flagged UTF-8 name\n"),
    (info("plain.txt"), b"plain name\n"),
])
rename(path, b"PLACE_1.txt", b"Pr\x82f\x82r\x82.txt")
rename(path, b"PLACE_2/M3.txt", b"Gr\x94\xe1e\x86/Ma\xe1.txt")

# One hostile name among good ones: the good ones around it are all extracted.
write("mixed.tqx", [(info(name), ("mixed %d\n" % i).encode())
                    for i, name in enumerate(["first.txt", "CON", "second.txt", "x.", "sub/third.txt"])])

# Content: methods, damaged items, each followed by a good one.
text = b"".join(b"line %d of the content package\n" % i for i in range(2000))
path = write("content.tqx", [
    (info("bzip2.bin", method=zipfile.ZIP_BZIP2), text),
    (info("after_bzip2.txt"), b"after bzip2\n"),
    (info("lzma.bin", method=zipfile.ZIP_LZMA), text),
    (info("badcrc.txt"), text),
    (info("short.txt"), text),
    (info("long.txt"), text),
    (info("encrypted.txt", method=zipfile.ZIP_STORED), text),
    (info("after.txt"), b"after the damaged items\n"),
    (info("sub/deeper/nested.txt"), b"nested\n"),
])
patch(path, b"badcrc.txt", crc=zlib.crc32(text) ^ 1)
patch(path, b"short.txt", usize=len(text) - 1)
patch(path, b"long.txt", usize=len(text) + 1)
patch(path, b"encrypted.txt", flag=1)

# 300 MiB of zeros (a few hundred KiB packed), and three 400 KiB items for a 1 MiB limit.
write("bomb.tqx", [(info("zeros.bin"), bytes(300 * 1024 * 1024))])
write("limit.tqx", [(info("part%d.bin" % i, method=zipfile.ZIP_STORED), bytes([i + 1]) * (400 * 1024))
                    for i in range(3)])

# Two packages of one driver: the second replaces the first's plain files.
ut = ut_block(7, 1500000000, 1500000100, 1500000200)
write("pkg_a.tqx", [
    (info("readme.txt", extra=ut), b"first package\n"),
    (info("old.txt", system=DOS, attr=0x21), b"read-only file of the first package\n"),
    (info("sub/"), b""),
    (info("sub/inner.txt"), b"inner\n"),
])
write("pkg_b.tqx", [
    (info("readme.txt", extra=ut), b"second package\n"),
    (info("new.txt", system=DOS, attr=0x20), b"new in the second package\n"),
])

# The benchmark's package: 500 items, about 29 MB, text-like (it packs to about a third).
words = [b"tolva", b"quenta", b"rindle", b"package", b"driver", b"%%Page", b"setpagedevice", b"0.5", b"1200"]
state = 12345
items = []
for i in range(500):
    chunk = bytearray()
    while len(chunk) < 58000:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        chunk += words[state % len(words)] + (b"\n" if state & 16 else b" ")
        if state & 0x300 == 0x300:
            chunk += bytes([(state >> 8) & 0xFF, (state >> 16) & 0xFF])
    items.append((info("bench/dir%02d/item%03d.bin" % (i % 20, i)), bytes(chunk[:58000])))
with zipfile.ZipFile(os.path.join(OUT, "bench.tqx"), "w") as archive:
    for item, data in items:
        archive.writestr(item, data)

with open(os.path.join(OUT, "ZipExpected.h"), "w") as header:
    header.write("// Written by make_packages.py: what the test packages hold.\n#pragma once\n\n")
    header.write("struct ZipExpectedItem { const char* package; const char* name; unsigned crc; unsigned size; };\n")
    header.write("inline constexpr ZipExpectedItem kZipExpected[] = {\n")
    for package, name, crc, size in expected:
        escaped = name.replace("\\", "\\\\").replace('"', '\\"')
        header.write('    {"%s", "%s", 0x%08Xu, %du},\n' % (package, escaped, crc, size))
    header.write("};\n")
    header.write("inline constexpr int kZipDosTime[6] = {%d, %d, %d, %d, %d, %d};\n" % DOS_TIME)
