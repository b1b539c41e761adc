#!/usr/bin/env python3
"""Draws the program icon: a page with a green check mark, as a 16-colour
.ico holding a 32x32 and a 16x16 image. Run: python3 res/make_icon.py"""
import os
import struct

# The standard 16-colour palette (B, G, R, 0).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DKGREEN, GREY, LTGREY, GREEN, WHITE, BLUE = 0, 2, 8, 7, 10, 15, 12
CLEAR = None


def page(size):
    px = [[CLEAR] * size for _ in range(size)]
    s = size / 32.0
    left, right, top, bottom = round(5 * s), round(26 * s), round(1 * s), round(30 * s)
    fold = round(7 * s)
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x > right - fold + (y - top):  # the folded corner is cut away
                continue
            edge = x in (left, right) or y in (top, bottom) or x == right - fold + (y - top)
            px[y][x] = BLACK if edge else WHITE
    for i in range(fold + 1):  # the fold itself
        for x in range(right - fold, right - fold + i + 1):
            y = top + i
            if px[y][x] is None or x == right - fold + i or x == right - fold:
                px[y][x] = BLACK if x in (right - fold, right - fold + i) else LTGREY
    for row in (9, 13, 17):  # text lines
        y = round(row * s)
        for x in range(left + round(3 * s), right - round(4 * s)):
            px[y][x] = GREY if size >= 32 else LTGREY
    # Check mark, two strokes.
    pts = [(9, 20), (13, 25), (23, 13)]
    width = 2.2 * s if size >= 32 else 1.4
    for (x0, y0), (x1, y1) in zip(pts, pts[1:]):
        steps = 200
        for k in range(steps + 1):
            cx = (x0 + (x1 - x0) * k / steps) * s
            cy = (y0 + (y1 - y0) * k / steps) * s
            for y in range(size):
                for x in range(size):
                    if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= width ** 2:
                        px[y][x] = DKGREEN if (x + 0.5 - cx) + (y + 0.5 - cy) > width else GREEN
    return px


def image(px):
    size = len(px)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor = b''
    row_bytes = ((size * 4 + 31) // 32) * 4
    for y in reversed(range(size)):
        row = bytearray(row_bytes)
        for x in range(size):
            c = px[y][x] or 0
            row[x // 2] |= c << (4 if x % 2 == 0 else 0)
        xor += bytes(row)
    mask_bytes = ((size + 31) // 32) * 4
    mask = b''
    for y in reversed(range(size)):
        row = bytearray(mask_bytes)
        for x in range(size):
            if px[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(row)
    return header + pal + xor + mask


def main():
    images = [image(page(32)), image(page(16))]
    sizes = [32, 16]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'Quellin.ico')
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
