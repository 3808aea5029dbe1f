#!/usr/bin/env python3
"""Writes a Windows .ico whose entries are PNG images (Vista and later read them).

Usage: make-ico.py OUT.ico IMAGE.png...   (each image square, at most 256 px)
Standard library only.
"""
import struct
import sys


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise ValueError("not a PNG")
    return struct.unpack(">II", data[16:24])


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    images = []
    for path in argv[2:]:
        with open(path, "rb") as f:
            data = f.read()
        w, h = png_size(data)
        if w != h or w > 256:
            sys.exit(f"{path}: {w}x{h} is not a square of at most 256 px")
        images.append((w, data))
    images.sort(key=lambda i: i[0])
    out = struct.pack("<HHH", 0, 1, len(images))      # ICONDIR: icon, count
    offset = 6 + 16 * len(images)
    for size, data in images:                            # ICONDIRENTRY
        dim = size % 256                                 # 256 is written as 0
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv)
