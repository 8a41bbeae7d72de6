#!/usr/bin/env python3
"""Writes small landscape pictures as PNG files, for the screenshot states
that preview pictures: real pixels, made without any imaging package.

    scripts/make-pictures.py FOLDER
"""
import math
import os
import struct
import sys
import zlib


def png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(bytes(rows), 6)))
        out.write(chunk(b"IEND", b""))


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(int(a[i] + (b[i] - a[i]) * t) for i in range(3))


def sunset(w, h):
    def pixel(x, y):
        horizon = h * 0.62 + 18 * math.sin(x / w * 7.0)
        if y < horizon:
            sky = mix((62, 48, 120), (250, 150, 80), y / horizon)
            d = math.hypot(x - w * 0.68, y - h * 0.5)
            if d < h * 0.11:
                return (255, 226, 140)
            return mix(sky, (255, 200, 120), max(0.0, 1 - d / (h * 0.4)) * 0.6)
        return mix((70, 40, 60), (25, 18, 30), (y - horizon) / (h - horizon))
    return pixel


def lake(w, h):
    def pixel(x, y):
        ridge = h * 0.45 - abs(((x * 1.7) % (w * 0.5)) - w * 0.25) * 0.55
        shore = h * 0.64
        if y < ridge:
            return mix((120, 170, 230), (200, 225, 245), y / max(ridge, 1))
        if y < shore:
            snow = y < ridge + 14
            return (235, 240, 245) if snow else mix((90, 110, 125), (60, 85, 70), (y - ridge) / (shore - ridge))
        wave = 8 * math.sin(x / 11.0 + y / 5.0)
        return mix((70, 130, 180), (20, 60, 100), (y - shore + wave) / (h - shore))
    return pixel


def meadow(w, h):
    def pixel(x, y):
        hill = h * 0.5 + 40 * math.sin(x / w * 3.1 + 1.2)
        if y < hill:
            cloud = math.sin(x / 37.0) * math.sin(y / 23.0) > 0.72
            return (248, 250, 252) if cloud else mix((110, 175, 235), (185, 220, 245), y / hill)
        flower = (x * 7 + y * 13) % 97 == 0
        return (240, 200, 60) if flower else mix((120, 180, 70), (50, 110, 40), (y - hill) / (h - hill))
    return pixel


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    png(os.path.join(folder, "sunset.png"), 480, 320, sunset(480, 320))
    png(os.path.join(folder, "lake.png"), 420, 300, lake(420, 300))
    png(os.path.join(folder, "meadow.png"), 300, 400, meadow(300, 400))


if __name__ == "__main__":
    main()
