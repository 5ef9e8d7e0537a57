#!/usr/bin/env python3
"""Makes the files the Wine scenarios work on.

    fixtures.py --zelp ZELP --stub STUB --out DIR

DIR receives original.rom and expected.rom (a "ROM" and its modified copy,
longer by a few bytes so that applying also resizes), desc.txt and
summary.txt (the exact texts the dialog must show, UTF-8), and three programs
made from STUB: patch-good.exe (converted from a BPS by `zelp convert`, and
checked to be the program `zelp create --stub` makes), patch-damaged.exe
(the same with its end record turned into a record of unknown type, so every
data record before it is valid) and patch-none.exe (the stub alone); and
patch-moved.exe, converted from a BPS of moved blocks (see make_moved).

The expected summary is computed here from the two files, not asked of zelp.
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import zlib

DESCRIPTION = (
    "《示例游戏》中文化补丁 测试版\r\n"
    "Sample Game: Chinese translation patch, test build\r\n"
    "\r\n"
    "使用方法：按“打补丁”，选择原版 ROM 文件。\r\n"
    "Press the apply button and pick the original ROM file."
)


def make_roms(out):
    rnd = random.Random(20070929)
    original = bytearray(rnd.getrandbits(8) for _ in range(256 * 1024))
    modified = bytearray(original)
    # Changes near the start, in the middle, across a 64 KiB boundary and at
    # the very end, then a few added bytes.
    for at, text in ((16, b"ZELP"), (100000, b"\x00" * 300), (65530, b"across"),
                     (len(original) - 3, b"end")):
        modified[at:at + len(text)] = text
    modified += b"\xA5" * 1000
    with open(os.path.join(out, "original.rom"), "wb") as f:
        f.write(original)
    with open(os.path.join(out, "expected.rom"), "wb") as f:
        f.write(modified)
    return original, modified


def make_moved(a, out):
    """A BPS whose change moves blocks and grows the file, converted into
    patch-moved.exe; beside it the files it is made from and zelp's own
    apply of the BPS (moved-applied.rom), for the convert scenario."""
    rnd = random.Random(20261208)
    original = bytes(rnd.getrandbits(8) for _ in range(192 * 1024))
    k = 16 * 1024
    # Two blocks swapped, one repeated further on, a few bytes changed, and
    # the file longer by a copy of its start and new bytes.
    modified = bytearray(original[:k] + original[3 * k:4 * k] + original[2 * k:3 * k] +
                         original[k:2 * k] + original[4 * k:])
    modified[8 * k:9 * k] = original[5 * k:6 * k]
    modified[100:104] = b"MOVE"
    modified += original[:20000] + bytes(rnd.getrandbits(8) for _ in range(777))
    rom, new = os.path.join(out, "moved-original.rom"), os.path.join(out, "moved-modified.rom")
    bps = os.path.join(out, "moved.bps")
    with open(rom, "wb") as f:
        f.write(original)
    with open(new, "wb") as f:
        f.write(modified)
    subprocess.run([a.zelp, "create", rom, new, "-o", bps], check=True)
    subprocess.run([a.zelp, "convert", bps, rom, "--stub", a.stub,
                    "-o", os.path.join(out, "patch-moved.exe")], check=True)
    subprocess.run([a.zelp, "apply", bps, rom, "-o", os.path.join(out, "moved-applied.rom")],
                   check=True)


def write_text(path, text):
    with open(path, "wb") as f:
        f.write(text.encode("utf-8"))


def damage(good, damaged, stub_size):
    """Copies `good`, turning its end record into one of unknown type."""
    data = bytearray(open(good, "rb").read())
    records, = struct.unpack_from("<I", data, stub_size + 28)
    at = stub_size + records
    while data[at] != 0xFF:
        kind = data[at]
        if kind == 0x01:
            n, = struct.unpack_from("<H", data, at + 5)
            at += 7 + n
        elif kind == 0x02:
            n, = struct.unpack_from("<H", data, at + 9)
            at += 11 + n
        else:
            sys.exit("fixtures: unexpected record type %#x in %s" % (kind, good))
    data[at] = 0x03
    with open(damaged, "wb") as f:
        f.write(data)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--zelp", required=True)
    ap.add_argument("--stub", required=True)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)
    original, modified = make_roms(a.out)
    desc = os.path.join(a.out, "desc.txt")
    write_text(desc, DESCRIPTION)
    write_text(os.path.join(a.out, "summary.txt"),
               "补丁版本: KOVA-PATCH3.0\r\n目标文件的CRC32验证: %08X\r\n打补丁后的文件大小: %d"
               % (zlib.crc32(original), len(modified)))
    # The good program is converted from a BPS carrying the description as
    # its metadata (the way an author with a BPS makes one), and must be the
    # very program `zelp create --stub` makes of the same files.
    good = os.path.join(a.out, "patch-good.exe")
    created = os.path.join(a.out, "patch-created.exe")
    bps = os.path.join(a.out, "patch.bps")
    rom, new = os.path.join(a.out, "original.rom"), os.path.join(a.out, "expected.rom")
    subprocess.run([a.zelp, "create", rom, new, "--description", desc, "-o", bps], check=True)
    subprocess.run([a.zelp, "convert", bps, rom, "--stub", a.stub, "-o", good], check=True)
    subprocess.run([a.zelp, "create", rom, new, "--description", desc,
                    "--stub", a.stub, "-o", created], check=True)
    if open(good, "rb").read() != open(created, "rb").read():
        sys.exit("fixtures: the program converted from a BPS differs from the one created")
    os.remove(created)
    damage(good, os.path.join(a.out, "patch-damaged.exe"), os.path.getsize(a.stub))
    shutil.copyfile(a.stub, os.path.join(a.out, "patch-none.exe"))
    make_moved(a, a.out)


if __name__ == "__main__":
    main()
