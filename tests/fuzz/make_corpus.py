#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (corpus/<target>/).

Small hand-made patches that reach every branch of the header checks and of
the record stream; libFuzzer grows its own corpus from them. Run it again
after changing the input layouts of the targets.
"""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def header(size, crc=0, records=40, desc=0, ident=b"KOVA-PATCH3.0"):
    return ident.ljust(16, b"\0") + struct.pack("<qIIQ", size, crc, records, desc)


def rel(d, data):
    return b"\x01" + struct.pack("<IH", d, len(data)) + data


def ab(p, data):
    return b"\x02" + struct.pack("<QH", p, len(data)) + data


END = b"\xff"


def desc_patch(size, crc, records, text):
    body = header(size, crc) + records + END
    d = text.encode("utf-16-le") + b"\0\0"
    return header(size, crc, 40, len(body)) + records + END + d


PATCHES = {
    "minimal": header(10, 0) + END,
    "two_rel": header(10, 0) + rel(5, b"\xaa\xbb") + rel(3, b"\xcc") + END,
    "abs_then_rel": header(16, 0) + ab(8, b"XYZ") + rel(2, b"Q") + END,
    "grow": header(4, 0) + ab(100, b"far") + END,
    "shrink": header(3, 0) + END,
    "shrink_then_write": header(3, 0) + ab(10, b"zz") + END,
    "zero_len": header(8, 0) + rel(3, b"") + END,
    "overlap": header(8, 0) + ab(1, b"aaaa") + ab(2, b"bb") + END,
    "unreachable": header(8, 0) + ab(0x8000000000000000, b"x") + END,
    "carry": header(8, 0) + ab(0xFFFFFFF0, b"") + rel(0x20, b"") + END,
    "bad_type": header(8, 0) + b"\x03" + END,
    "cut_rel": header(8, 0) + b"\x01\x05",
    "cut_abs": header(8, 0) + b"\x02\x05\x00",
    "cut_len": header(8, 0) + b"\x01\x05\x00\x00\x00\x07",
    "cut_data": header(8, 0) + b"\x01\x05\x00\x00\x00\x07\x00ab",
    "no_end": header(8, 0) + rel(1, b"a"),
    "negative_size": header(-1, 0) + END,
    "old_version": header(8, 0, ident=b"KOVA-PATCH2.5") + END,
    "unknown_version": header(8, 0, ident=b"KOVA-PATCH3.1") + END,
    "spaced_version": header(8, 0, ident=b"KOVA-PATCH 3. 0") + END,
    "one_number": header(8, 0, ident=b"KOVA-PATCH3") + END,
    "records_39": header(8, 0, records=39) + END,
    "records_past": header(8, 0, records=1000) + END,
    "described": desc_patch(8, 0, ab(2, b"\x11\x22"), "第一行\r\n第二行"),
    "crc_set": header(8, 0x12345678) + END,
    "big_record": header(300, 0) + ab(10, bytes(range(256)) * 4) + END,
}


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def main():
    for name, p in PATCHES.items():
        # fuzz_info: selector (small base), then the holder.
        write("fuzz_info", name, b"\x00" + p)
        write("fuzz_info", name + "_base7", b"\x07" + b"MZjunk!" + p)
        # fuzz_apply: flags (base, fix CRC), limit, target length, seed.
        for base, flags in ((0, 1), (5, 1)):
            ctl = bytes([(base << 2) | flags, 7, 20, 0, 0x5A])
            suffix = "" if base == 0 else "_base5"
            write("fuzz_apply", name + suffix, ctl + b"\x00" * base + p)
    # Bases the selector cannot express: beyond the file, and 2^63 and more.
    p = PATCHES["described"]
    for b in (len(p) + 100, 1 << 63, (1 << 64) - 1):
        write("fuzz_info", "base_%x" % b, b"\x80" + struct.pack("<Q", b) + p)
    # A description offset that wraps around 2^64 with the base.
    wrap = bytearray(b"\x05AAAAA" + PATCHES["described"])
    wrap[1 + 5 + 32 : 1 + 5 + 40] = struct.pack("<Q", (1 << 64) - 1)  # base + offset = 4
    write("fuzz_info", "desc_wraps", bytes(wrap))
    # fuzz_roundtrip: flags, small limit, original length, then the bytes.
    rom = bytes((i * 37 + (i >> 3)) & 0xFF for i in range(600))
    changed = bytearray(rom)
    for at in (3, 9, 10, 200, 207, 400):
        changed[at] ^= 0x5A
    pairs = {
        "same": (0x00, rom, rom),
        "sparse_edits": (0x00, rom, bytes(changed)),
        "grown": (0x10, rom[:100], rom),
        "shrunk": (0x20, rom, rom[:77]),
        "from_empty": (0x00, b"", rom[:50]),
        "to_empty": (0x00, rom[:50], b""),
        "no_crc_described": (0x09, rom, bytes(changed)),
        "small_limits": (0x34, rom, bytes(changed)),
    }
    for name, (flags, a, b) in pairs.items():
        write("fuzz_roundtrip", name, bytes([flags, 5]) + struct.pack("<H", len(a)) + a + b)
    edits = b"".join(struct.pack(">HBB", at, n, v) for at, n, v in
                     ((5, 3, 1), (12, 30, 2), (300, 1, 3), (620, 39, 4), (100, 0, 0)))
    write("fuzz_roundtrip", "edits", bytes([0x02, 5]) + struct.pack("<H", 600) + rom + edits)
    write("fuzz_roundtrip", "edits_small_limits",
          bytes([0x16, 0x42]) + struct.pack("<H", 600) + rom + edits)
    # A tiny storage limit: the growth cannot be had.
    write("fuzz_apply", "disk_full", bytes([1, 0, 8, 0, 1]) + PATCHES["grow"])
    # fuzz_ips, fuzz_ups, fuzz_bps: source length, source, patch (the
    # targets seal UPS and BPS footers themselves, so theirs are zeros).
    src = b"Hello, world!"
    foreign = {
        "fuzz_ips": {
            "record_and_run": b"PATCH\0\0\x02\0\x03abc\0\0\x07\0\0\0\x04zEOF",
            "cut_after_eof": b"PATCH\0\0\0\0\x01XEOF\0\0\x04",
            "record_at_eof": b"PATCHEOF\0\x02hiEOF",
        },
        "fuzz_ups": {
            "grows": b"UPS1\x8d\x90\x82\x01\x00\x8a\x41\x42\x43\x00",
            "shrinks": b"UPS1\x8d\x83\x81\x05\x00\x80" + bytes(10) + b"\x00",
        },
        "fuzz_bps": {
            "every_action": b"BPS1\x8d\x98\x83<t>\x98\x92\x80\x85, \x96\x84\x8b\xa6\x82\x9b",
            "multi_byte_numbers": b"BPS1\x8d\x00\x81\x80\x7c\x01\x92\x00\x81",
        },
    }
    for target, seeds in foreign.items():
        for name, patch in seeds.items():
            footer = b"" if target == "fuzz_ips" else bytes(12)
            write(target, name, struct.pack("<H", len(src)) + src + patch + footer)
    return 0


if __name__ == "__main__":
    sys.exit(main())
