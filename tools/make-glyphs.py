#!/usr/bin/env python3
"""Draws the project's own 16x16 button glyphs (normal and disabled side by side, 32x16 PNG) and
prints each as the hex text a form definition carries in Glyph.Data."""
import struct
import sys
import zlib

W, H = 16, 16


def png(pixels, width, height):
    raw = b"".join(b"\x00" + bytes(sum((list(p) for p in row), [])) for row in pixels)
    def chunk(kind, data):
        c = kind + data
        return struct.pack(">I", len(data)) + c + struct.pack(">I", zlib.crc32(c) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def canvas():
    return [[(0, 0, 0, 0) for _ in range(W)] for _ in range(H)]


def put(c, x, y, col):
    if 0 <= x < W and 0 <= y < H:
        c[y][x] = col


def line(c, x0, y0, x1, y1, col, thick=1):
    n = max(abs(x1 - x0), abs(y1 - y0)) or 1
    for i in range(n + 1):
        x = round(x0 + (x1 - x0) * i / n)
        y = round(y0 + (y1 - y0) * i / n)
        for dx in range(thick):
            for dy in range(thick):
                put(c, x + dx, y + dy, col)


def search():
    c = canvas()
    ink = (40, 40, 120, 255)
    glass = (200, 225, 255, 255)
    for y in range(H):
        for x in range(W):
            d = ((x - 6) ** 2 + (y - 6) ** 2) ** 0.5
            if d <= 3.6:
                put(c, x, y, glass)
            elif d <= 5.0:
                put(c, x, y, ink)
    line(c, 9, 9, 14, 14, ink, 2)
    return c


def calendar():
    c = canvas()
    frame = (60, 60, 60, 255)
    head = (200, 40, 40, 255)
    for x in range(1, 15):
        for y in range(2, 15):
            put(c, x, y, (255, 255, 255, 255))
    for x in range(1, 15):
        for y in range(2, 5):
            put(c, x, y, head)
    line(c, 1, 2, 14, 2, frame)
    line(c, 1, 14, 14, 14, frame)
    line(c, 1, 2, 1, 14, frame)
    line(c, 14, 2, 14, 14, frame)
    for y in (7, 10, 13):
        for x in (3, 6, 9, 12):
            put(c, x, y - 1, frame)
    line(c, 4, 1, 4, 3, frame)
    line(c, 11, 1, 11, 3, frame)
    return c


def cross():
    c = canvas()
    red = (210, 20, 20, 255)
    line(c, 3, 3, 12, 12, red, 2)
    line(c, 12, 3, 3, 12, red, 2)
    return c


def check():
    c = canvas()
    green = (20, 140, 40, 255)
    line(c, 2, 8, 6, 12, green, 2)
    line(c, 6, 12, 13, 3, green, 2)
    return c


def disabled(c):
    out = canvas()
    for y in range(H):
        for x in range(W):
            r, g, b, a = c[y][x]
            if a:
                v = (r * 30 + g * 59 + b * 11) // 100
                v = 128 + v // 3
                out[y][x] = (v, v, v, a)
    return out


def pair(c):
    d = disabled(c)
    return [c[y] + d[y] for y in range(H)]


GLYPHS = {"search": search, "calendar": calendar, "cancel": cross, "confirm": check}

if __name__ == "__main__":
    names = sys.argv[1:] or list(GLYPHS)
    for name in names:
        data = png(pair(GLYPHS[name]()), 2 * W, H).hex().upper()
        print(name)
        for i in range(0, len(data), 64):
            print("  " + data[i:i + 64])
