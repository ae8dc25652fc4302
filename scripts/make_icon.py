#!/usr/bin/env python3
"""Draws the installer's icon (16, 32 and 48 px, 32-bit BGRA) into an .ico file."""
import struct, sys

def image(n):
    px = bytearray()
    c = (n - 1) / 2.0
    for y in range(n - 1, -1, -1):          # DIB rows run bottom-up
        for x in range(n):
            dx, dy = x - c, y - c
            r2 = dx * dx + dy * dy
            R = n / 2.0 - 0.5
            if r2 > R * R:
                px += bytes((0, 0, 0, 0))
            elif abs(dx) < n * 0.12 and dy > -n * 0.28 and dy < n * 0.12:
                px += bytes((255, 255, 255, 255))   # arrow shaft
            elif dy >= n * 0.05 and dy < n * 0.3 and abs(dx) < (n * 0.3 - dy):
                px += bytes((255, 255, 255, 255))   # arrow head
            else:
                px += bytes((0xE0, 0x8A, 0x1E, 255))  # blue disc (BGRA)
    mask = bytes(((n + 31) // 32) * 4 * n)
    hdr = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, 32, 0, len(px) + len(mask), 0, 0, 0, 0)
    return hdr + bytes(px) + mask

sizes = [16, 32, 48]
imgs = [image(n) for n in sizes]
out = struct.pack("<HHH", 0, 1, len(sizes))
off = 6 + 16 * len(sizes)
for n, data in zip(sizes, imgs):
    out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), off)
    off += len(data)
out += b"".join(imgs)
open(sys.argv[1], "wb").write(out)
