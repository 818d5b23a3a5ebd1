#!/usr/bin/env python3
"""Counts the in-between pixels of the logo band in a window screenshot.

Usage: logo_edges.py SCREENSHOT SCALE
The band is the top 70 logical pixels. A pixel is "in between" when it is
near none of the logo's flat colours (white ground, navy, green): these are
the smoothed pixels along the drawing's edges. A logo drawn sharply at
scale S has S times the 1x count (its edges are S times as long, one pixel
wide); an upscaled 1x picture has about S * S times.
"""
import subprocess
import sys

FLAT = [(0xff, 0xff, 0xff), (0x1b, 0x2f, 0x4b), (0x69, 0xc5, 0x6e)]
TOLERANCE = 24


def main():
    path, scale = sys.argv[1], int(sys.argv[2])
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"],
                          capture_output=True, check=True).stdout
    magic, size, _, pixels = data.split(b"\n", 3)
    if magic != b"P6":
        sys.exit("not a PPM from convert")
    width, height = map(int, size.split())
    band = min(height, 70 * scale)
    count = 0
    for offset in range(0, 3 * width * band, 3):
        r, g, b = pixels[offset], pixels[offset + 1], pixels[offset + 2]
        if all(max(abs(r - f[0]), abs(g - f[1]), abs(b - f[2])) > TOLERANCE for f in FLAT):
            count += 1
    print(count)


if __name__ == "__main__":
    main()
