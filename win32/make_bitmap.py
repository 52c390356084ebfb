#!/usr/bin/env python3
"""Turns a PNG file (8-bit RGB or RGBA, not interlaced) into a 24-bit Windows bitmap for the
resource script: make_bitmap.py IN.png OUT.bmp. Transparent pixels are laid over white.
Standard library only, so the build needs no image tool."""
import struct
import sys
import zlib


def read_png(name):
    with open(name, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"make_bitmap.py: {name}: not a PNG file")
    pos, idat, header = 8, bytearray(), None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        pos += 12 + length
    if header is None:
        sys.exit(f"make_bitmap.py: {name}: no header")
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        sys.exit(f"make_bitmap.py: {name}: only 8-bit RGB or RGBA without interlace")
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(bytes(idat))
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + pred) & 0xFF
        rows.append(line)
        previous = line
    return width, height, channels, rows


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: make_bitmap.py IN.png OUT.bmp")
    width, height, channels, rows = read_png(argv[1])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for line in reversed(rows):  # bottom-up
        out = bytearray()
        for x in range(width):
            r, g, b = line[x * channels:x * channels + 3]
            if channels == 4:
                a = line[x * channels + 3]
                r, g, b = ((c * a + 255 * (255 - a)) // 255 for c in (r, g, b))
            out += bytes((b, g, r))
        out += b"\0" * (stride - len(out))
        pixels += out
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(argv[2], "wb") as f:
        f.write(head + info + pixels)


if __name__ == "__main__":
    main(sys.argv)
