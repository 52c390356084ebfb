#!/usr/bin/env python3
"""Packs PNG images into one Windows .ico file (each image kept as PNG, which Windows Vista and
later read at every size): make_icon.py OUT.ico IN.png...  Standard library only, so the build
needs no image tool."""
import struct
import sys


def png_size(data: bytes, name: str):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        sys.exit(f"make_icon.py: {name}: not a PNG file")
    return struct.unpack(">II", data[16:24])


def main(argv):
    if len(argv) < 3:
        sys.exit("usage: make_icon.py OUT.ico IN.png...")
    images = []
    for name in argv[2:]:
        with open(name, "rb") as f:
            data = f.read()
        width, height = png_size(data, name)
        if width > 256 or height > 256:
            sys.exit(f"make_icon.py: {name}: {width}x{height} is larger than an icon may be")
        images.append((width, height, data))
    images.sort(key=lambda i: i[0])
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for width, height, data in images:
        # 256 is written as 0; planes 1, 32 bits per pixel.
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    with open(argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv)
