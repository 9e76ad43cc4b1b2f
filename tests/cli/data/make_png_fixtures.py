#!/usr/bin/env python3
"""Writes the PNG fixtures of the command-line tests, each a few hundred bytes at most.

The good ones all hold the grid of pattern.pgm (6 x 5 nodes, two corners left out) in a different PNG kind;
the bad ones are kinds the tool refuses or files that are broken. Uses only the standard library, so that
the files can be remade anywhere: python3 make_png_fixtures.py (in this folder).
"""
import struct
import zlib

WIDTH, HEIGHT = 6, 5
EMPTY = {(0, 0), (5, 4)}

# Adam7 passes: (first column, first row, column step, row step).
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def pack_row(samples, depth):
    """Packs one row of samples (ints, or tuples for several channels) with filter type 0."""
    flat = [v for s in samples for v in (s if isinstance(s, tuple) else (s,))]
    if depth == 16:
        return b"\0" + b"".join(struct.pack(">H", v) for v in flat)
    if depth == 8:
        return b"\0" + bytes(flat)
    bits = "".join(format(v, "0%db" % depth) for v in flat)
    bits += "0" * (-len(bits) % 8)
    return b"\0" + bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def png(pels, depth, colour_type, extra=b"", interlaced=False):
    """pels[y][x] is a sample or a tuple of samples; extra holds chunks that go before IDAT."""
    height, width = len(pels), len(pels[0])
    raw = b""
    if interlaced:
        for x0, y0, dx, dy in ADAM7:
            for y in range(y0, height, dy):
                row = [pels[y][x] for x in range(x0, width, dx)]
                if row:
                    raw += pack_row(row, depth)
    else:
        raw = b"".join(pack_row(row, depth) for row in pels)
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 1 if interlaced else 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra + chunk(b"IDAT", zlib.compress(raw))
            + chunk(b"IEND", b""))


def grid(node, empty):
    return [[empty if (x, y) in EMPTY else node for x in range(WIDTH)] for y in range(HEIGHT)]


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


# Grey, palette and RGB (node colours so dark that a luminance rule would round some to black).
write("pattern.png", png(grid(255, 0), 8, 0))
write("pattern_1bit_interlaced.png", png(grid(1, 0), 1, 0, interlaced=True))
palette = chunk(b"PLTE", bytes([0, 0, 0, 0, 0, 2, 90, 0, 0]))
write("pattern_palette.png", png([[(x + y) % 2 + 1 if (x, y) not in EMPTY else 0 for x in range(WIDTH)]
                                  for y in range(HEIGHT)], 4, 3, extra=palette))
write("pattern_rgb.png", png(grid((0, 0, 1), (0, 0, 0)), 8, 2))
write("pattern_rgb_interlaced.png", png(grid((0, 0, 1), (0, 0, 0)), 8, 2, interlaced=True))

# Refused kinds and broken files.
write("pattern_16bit.png", png(grid(65535, 0), 16, 0))
write("pattern_alpha.png", png(grid((255, 255), (0, 0)), 8, 4))
write("pattern_trns.png", png(grid(255, 0), 8, 0, extra=chunk(b"tRNS", struct.pack(">H", 0))))
whole = png(grid(255, 0), 8, 0)
write("pattern_truncated.png", whole[: whole.index(b"IDAT") + 12])
huge = struct.pack(">IIBBBBB", 100000, 100000, 8, 0, 0, 0, 0)
write("pattern_huge.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", huge) + chunk(b"IEND", b""))

# Small files that declare large images: a grey PNG of 16384 x 16384 with no pel data, and an 8192 x 4096
# palette PNG with two set pels (32 Mpel, about 32 KB compressed), too few for training.
big = struct.pack(">IIBBBBB", 16384, 16384, 8, 0, 0, 0, 0)
write("pattern_over_budget.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", big) + chunk(b"IDAT", zlib.compress(b""))
      + chunk(b"IEND", b""))
SPARSE_W, SPARSE_H = 8192, 4096
squeeze = zlib.compressobj(9)
rows = []
for y in range(SPARSE_H):
    row = bytearray(SPARSE_W + 1)  # filter byte 0, then palette indices
    if y in (100, 3000):
        row[1 + 7 * y % SPARSE_W] = 1
    rows.append(squeeze.compress(bytes(row)))
sparse_header = struct.pack(">IIBBBBB", SPARSE_W, SPARSE_H, 8, 3, 0, 0, 0)
write("pattern_two_pels.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", sparse_header)
      + chunk(b"PLTE", bytes([0, 0, 0, 255, 255, 255])) + chunk(b"IDAT", b"".join(rows) + squeeze.flush())
      + chunk(b"IEND", b""))
