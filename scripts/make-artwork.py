#!/usr/bin/env python3
"""Draws the program's icon and its two banners and writes them as Windows
BMP and ICO files (res/zelp.ico, res/banner_site.bmp, res/banner_forum.bmp).

Pure Python, no imaging library: every picture is a function from a point to
a colour, sampled 4x4 per pixel, then mapped to a fixed palette. The output is
deterministic, so the committed files can be regenerated and compared.
Usage: scripts/make-artwork.py [output-directory]   (default: res/)
"""
import math
import os
import struct
import sys

SS = 4  # samples per pixel along each axis

# A 5x7 pixel font, only the letters the pictures need.
FONT = {
    'Z': ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'C': ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    'H': ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    'F': ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'U': ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    'M': ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    ' ': ["00000"] * 7,
}


def text_width(text, scale, gap=1):
    return (len(text) * (5 + gap) - gap) * scale


def text_hit(text, x0, y0, scale, x, y, gap=1):
    """Whether (x, y) falls on a lit cell of `text` drawn at (x0, y0)."""
    if y < y0 or y >= y0 + 7 * scale or x < x0:
        return False
    cx = int((x - x0) // scale)
    cy = int((y - y0) // scale)
    ch, col = divmod(cx, 5 + gap)
    if ch >= len(text) or col >= 5:
        return False
    return FONT[text[ch]][cy][col] == '1'


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def rounded_box(x, y, cx, cy, hw, hh, r):
    """Inside a rectangle centred at (cx, cy) with corner radius r."""
    dx = max(abs(x - cx) - (hw - r), 0.0)
    dy = max(abs(y - cy) - (hh - r), 0.0)
    return dx * dx + dy * dy <= r * r and abs(x - cx) <= hw and abs(y - cy) <= hh


def bandage(x, y, cx, cy, length, angle_deg):
    """A sticking plaster: colour at (x, y), or None outside it."""
    a = math.radians(angle_deg)
    # into the plaster's own axes
    u = (x - cx) * math.cos(a) + (y - cy) * math.sin(a)
    v = -(x - cx) * math.sin(a) + (y - cy) * math.cos(a)
    hw, hh = length / 2, length * 0.17
    if not rounded_box(u, v, 0, 0, hw, hh, hh):
        return None
    edge = (150, 96, 48)
    strip = (232, 176, 112)
    pad = (250, 232, 200)
    if not rounded_box(u, v, 0, 0, hw - length * 0.025, hh - length * 0.025, hh * 0.85):
        return edge
    if abs(u) < length * 0.17:
        # the pad, with a few breathing holes
        for hu in (-0.09, 0.0, 0.09):
            for hv in (-0.06, 0.06):
                if (u - hu * length) ** 2 + (v - hv * length) ** 2 < (length * 0.022) ** 2:
                    return (214, 170, 120)
        return pad
    return strip


def site_banner(x, y):
    """170 x 64: the web site's banner."""
    w, h = 170, 64
    col = mix((20, 60, 130), (20, 140, 160), x / w)
    col = mix(col, (10, 30, 70), max(0.0, (y - h * 0.6) / h))
    b = bandage(x, y, 32, 32, 50, -35)
    if b:
        return b
    tw = text_width("ZELP", 4)
    if text_hit("ZELP", 64 + (100 - tw) / 2, 9, 4, x, y):
        return (255, 255, 255)
    if text_hit("PATCHES", 64 + (100 - text_width("PATCHES", 2)) / 2, 46, 2, x, y):
        return (250, 210, 120)
    return col


def forum_banner(x, y):
    """137 x 76: the forum's banner, a speech bubble."""
    w, h = 137, 76
    col = mix((240, 140, 40), (200, 70, 40), (x + y) / (w + h))
    inside = rounded_box(x, y, 68.5, 30, 60, 24, 12)
    # the bubble's tail, a triangle below its left half
    tail = 54 <= y <= 70 and 26 <= x <= 26 + (70 - y) * 1.1
    if inside or tail:
        if text_hit("ZELP", 68.5 - text_width("ZELP", 3) / 2, 10, 3, x, y):
            return (30, 90, 150)
        if text_hit("FORUM", 68.5 - text_width("FORUM", 3) / 2, 35, 3, x, y):
            return (200, 70, 40)
        return (255, 255, 255)
    if rounded_box(x, y, 68.5, 30, 62, 26, 14) or (
            52 <= y <= 72 and 24 <= x <= 28 + (72 - y) * 1.1):
        return (120, 40, 20)
    for i, dx in enumerate((-12, 0, 12)):
        if (x - (100 + dx)) ** 2 + (y - 66) ** 2 < 9:
            return (255, 240, 220)
    return col


def icon_picture(size):
    def pic(x, y):
        b = bandage(x, y, size / 2, size / 2, size * 0.98, -45)
        return b
    return pic


def render(fn, w, h):
    """Pixels as (r, g, b, coverage) rows, top row first."""
    rows = []
    for py in range(h):
        row = []
        for px in range(w):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(SS):
                for sx in range(SS):
                    c = fn(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits:
                row.append(tuple(round(a / hits) for a in acc) + (hits / (SS * SS),))
            else:
                row.append((0, 0, 0, 0.0))
        rows.append(row)
    return rows


# Palettes: 256 colours chosen per picture by median cut; the classic
# 16-colour VGA set for the small icons.
PAL16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def median_cut(rows, count=256):
    """A palette of at most `count` colours for the pixels of `rows`."""
    hist = {}
    for row in rows:
        for px in row:
            hist[px[:3]] = hist.get(px[:3], 0) + 1
    boxes = [list(hist.items())]

    def spread(box):
        return max(max(c[0][i] for c in box) - min(c[0][i] for c in box) for i in range(3))

    while len(boxes) < count:
        box = max(boxes, key=lambda b: (spread(b) if len(b) > 1 else -1))
        if len(box) < 2:
            break
        ch = max(range(3), key=lambda i: max(c[0][i] for c in box) - min(c[0][i] for c in box))
        box.sort(key=lambda c: c[0][ch])
        total = sum(n for _, n in box)
        acc, cut = 0, 1
        for i, (_, n) in enumerate(box):
            acc += n
            if acc * 2 >= total:
                cut = max(1, min(i + 1, len(box) - 1))
                break
        boxes.remove(box)
        boxes += [box[:cut], box[cut:]]
    pal = []
    for box in boxes:
        total = sum(n for _, n in box)
        pal.append(tuple(round(sum(c[i] * n for c, n in box) / total) for i in range(3)))
    pal.sort()
    return pal + [(0, 0, 0)] * (count - len(pal))


def nearest(pal, c):
    best, bi = None, 0
    for i, p in enumerate(pal):
        d = (p[0] - c[0]) ** 2 * 3 + (p[1] - c[1]) ** 2 * 4 + (p[2] - c[2]) ** 2 * 2
        if best is None or d < best:
            best, bi = d, i
    return bi


def quantize(rows, pal):
    cache = {}
    out = []
    for row in rows:
        line = []
        for r, g, b, _ in row:
            key = (r, g, b)
            if key not in cache:
                cache[key] = nearest(pal, key)
            line.append(cache[key])
        out.append(line)
    return out


def palette_bytes(pal):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in pal)


def pixel_bytes(indices, bits):
    """Bottom-up rows at 8 or 4 bits per pixel, each padded to 4 bytes."""
    data = bytearray()
    for line in reversed(indices):
        if bits == 8:
            raw = bytes(line)
        else:
            raw = bytes((line[i] << 4) | (line[i + 1] if i + 1 < len(line) else 0)
                        for i in range(0, len(line), 2))
        data += raw + b"\0" * (-len(raw) % 4)
    return bytes(data)


def mask_bytes(rows):
    """The AND mask: 1 where the pixel is transparent."""
    data = bytearray()
    for row in reversed(rows):
        bits = 0
        raw = bytearray()
        for i, px in enumerate(row):
            bits = (bits << 1) | (1 if px[3] < 0.5 else 0)
            if i % 8 == 7:
                raw.append(bits)
                bits = 0
        if len(row) % 8:
            raw.append(bits << (8 - len(row) % 8))
        data += raw + b"\0" * (-len(raw) % 4)
    return bytes(data)


def info_header(w, h, bits, colours, image_size):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, image_size, 2835, 2835, colours, 0)


def write_bmp(path, fn, w, h):
    rows = render(fn, w, h)
    pal256 = median_cut(rows)
    pix = pixel_bytes(quantize(rows, pal256), 8)
    pal = palette_bytes(pal256)
    offset = 14 + 40 + len(pal)
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset + len(pix), 0, 0, offset))
        f.write(info_header(w, h, 8, 256, len(pix)))
        f.write(pal)
        f.write(pix)


def flatten_on(rows, background):
    """Blends edge pixels with a background colour (icons keep a hard mask)."""
    return [[(px if px[3] >= 1.0 else
              tuple(round(c) for c in mix(background, px[:3], px[3])) + (px[3],))
             for px in row] for row in rows]


def write_ico(path):
    images = []
    for size in (16, 32):
        rows = flatten_on(render(icon_picture(size), size, size), (255, 255, 255))
        for bits, pal in ((4, PAL16), (8, median_cut(rows))):
            idx = quantize(rows, pal)
            # transparent pixels carry colour 0 in the XOR image
            idx = [[0 if rows[y][x][3] < 0.5 else idx[y][x] for x in range(size)]
                   for y in range(size)]
            xor = pixel_bytes(idx, bits)
            andm = mask_bytes(rows)
            body = info_header(size, size * 2, bits, len(pal), len(xor) + len(andm))
            body += palette_bytes(pal) + xor + andm
            images.append((size, bits, len(pal), body))
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, bits, colours, body in images:
        entries += struct.pack("<BBBBHHII", size, size, colours if colours < 256 else 0, 0,
                               1, bits, len(body), offset)
        offset += len(body)
    with open(path, "wb") as f:
        f.write(head + entries + b"".join(i[3] for i in images))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "res")
    write_bmp(os.path.join(out, "banner_site.bmp"), site_banner, 170, 64)
    write_bmp(os.path.join(out, "banner_forum.bmp"), forum_banner, 137, 76)
    write_ico(os.path.join(out, "zelp.ico"))


if __name__ == "__main__":
    main()
