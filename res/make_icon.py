#!/usr/bin/env python3
"""Builds the program's .ico (one 32 x 32 image, 16 colours) from res/icon.txt."""
import struct
import sys

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def main(source, target):
    rows = [line.rstrip("\n") for line in open(source, encoding="ascii") if not line.startswith("#")]
    rows = [r for r in rows if r]
    if len(rows) != 32 or any(len(r) != 32 for r in rows):
        sys.exit("icon.txt must hold 32 rows of 32 pixels")
    pixels, mask = b"", b""
    for row in reversed(rows):  # bitmaps are stored bottom-up
        indices = [0 if c == "." else int(c, 16) for c in row]
        pixels += bytes((indices[i] << 4) | indices[i + 1] for i in range(0, 32, 2))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c == "." else 0)
        mask += struct.pack(">I", bits)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(pixels) + len(mask), 0, 0, 16, 0)
    image = header + palette + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 22)
    with open(target, "wb") as f:
        f.write(directory + image)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
