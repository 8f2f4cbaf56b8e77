#!/usr/bin/env python3
"""Writes the example pair before.png / after.png: a small rendered scene and
the same scene with a few changes, as a render regression would show them.
Plain zlib PNG encoding so that nothing beyond Python is needed."""
import math
import struct
import sys
import zlib
from pathlib import Path

WIDTH, HEIGHT = 320, 200


def write_png(path, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9))
           + chunk(b"IEND", b""))
    Path(path).write_bytes(png)


def scene(changed):
    rows = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            # Sky gradient, a sun and a hill line.
            r, g, b = 90 + y // 2, 140 + y // 3, 230 - y // 4
            if (x - 250) ** 2 + (y - 50) ** 2 < 25 ** 2:
                r, g, b = 255, 215, 60
            if y > 140 + 20 * math.sin(x / 40.0):
                r, g, b = 40, 120 + (x * 7 + y * 3) % 20, 50
            if changed:
                # The sun has moved a little and a bird has appeared.
                if (x - 244) ** 2 + (y - 54) ** 2 < 25 ** 2:
                    r, g, b = 255, 205, 70
                if 100 <= x < 112 and 60 <= y < 63:
                    r, g, b = 20, 20, 20
            row += (r, g, b)
        rows.append(row)
    return rows


if __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent
    write_png(out / "before.png", scene(False))
    write_png(out / "after.png", scene(True))
