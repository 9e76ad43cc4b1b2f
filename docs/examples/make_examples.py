#!/usr/bin/env python3
"""Writes the example files of the user guide (python3 make_examples.py, in this folder). Seeded, so the
files come out the same every time; only the standard library is used."""
import math
import random
import struct
import zlib

rng = random.Random(7)


def pose(points, angle_deg, scale, tx, ty):
    a = math.radians(angle_deg)
    c, s = scale * math.cos(a), scale * math.sin(a)
    return [(c * x - s * y + tx, s * x + c * y + ty) for x, y in points]


def jitter(points, sigma):
    return [(x + rng.gauss(0, sigma), y + rng.gauss(0, sigma)) for x, y in points]


def write_points(name, points, header="x,y", fmt="%.3f"):
    with open(name, "w") as f:
        f.write(header + "\n")
        for p in points:
            f.write(",".join(fmt % v for v in p) + "\n")


# A board fiducial: an L of ten and six dots with a triangle and a dot that make only one pose fit.
fiducial = [(10.0 * i, 0.0) for i in range(10)] + [(0.0, 10.0 * i) for i in range(1, 6)]
fiducial += [(60, 40), (72, 40), (66, 50), (30, 30)]
write_points("fiducial.csv", fiducial, fmt="%g")
seen = [p for i, p in enumerate(pose(fiducial, 120, 0.95, 420, 310)) if i not in (4, 11)]
clutter = [(rng.uniform(300, 520), rng.uniform(220, 420)) for _ in range(30)]
scene = jitter(seen, 0.3) + clutter
rng.shuffle(scene)
write_points("scene.csv", scene)

# Four corner marks of a part, for the exhaustive search; the scene holds them among six other marks.
corners = [(0, 0), (50, 0), (50, 30), (0, 30), (8, 6)]
write_points("corners.csv", corners, fmt="%g")
marks = jitter(pose(corners, -70, 1.0, 200, 150), 0.2) + [(rng.uniform(120, 260), rng.uniform(60, 200))
                                                           for _ in range(6)]
rng.shuffle(marks)
write_points("corners_scene.csv", marks)


# A ball-grid array: 10 x 10 balls on a 0.8 mm pitch, the middle 4 x 4 left empty and the corner ball
# A1 missing as the orientation mark. The pattern is a PNG, one pel per ball position.
def png_grey(pels):
    raw = b"".join(b"\0" + bytes(row) for row in pels)
    header = struct.pack(">IIBBBBB", len(pels[0]), len(pels), 8, 0, 0, 0, 0)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw))
            + chunk(b"IEND", b""))


def ball(col, row):
    return not (3 <= col <= 6 and 3 <= row <= 6) and (col, row) != (0, 0)


with open("bga.png", "wb") as f:
    f.write(png_grey([[255 if ball(c, r) else 0 for c in range(10)] for r in range(10)]))
balls = [(0.8 * c, 0.8 * r) for r in range(10) for c in range(10) if ball(c, r)]
# Measured in mm on the board: rotated by 3 degrees, the pitch 1 % large, two balls not found, three
# specks of flux found instead.
found = [p for i, p in enumerate(pose(balls, 3, 1.01, 12.5, 8.2)) if i not in (17, 40)]
specks = [(rng.uniform(12, 20), rng.uniform(8, 16)) for _ in range(3)]
write_points("bga_balls.csv", jitter(found, 0.01) + specks, fmt="%.4f")

# A staggered dot grid (dots where column + row is even), 12 units apart, with one dot missing.
dots = [(12.0 * c, 12.0 * r) for r in range(5) for c in range(8) if (c + r) % 2 == 0 and (c, r) != (4, 2)]
write_points("dots.csv", jitter(pose(dots, 0, 1.0, 30, 20), 0.1))
