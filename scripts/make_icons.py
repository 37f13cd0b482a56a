#!/usr/bin/env python3
"""Draws the plug-in icons (32x32 RGBA, uncompressed TIFF) into res/.

Standard library only, so the icons can be regenerated anywhere:

    python3 scripts/make_icons.py            # writes into the repository's res/
    python3 scripts/make_icons.py --out DIR  # writes DIR/<module>/<icon>.tif instead

Each pictogram is a few shapes described by their distance functions; a pixel's coverage
is the fraction of 4x4 sub-samples inside a shape, so edges come out smooth and the output
is the same byte for byte on every run.
"""

import argparse
import math
import os
import struct
import sys

SIZE = 32
SUBSAMPLES = 4

# A shared palette keeps the family recognisable in the host's object manager.
INK = (232, 236, 242)
ACCENT = (255, 170, 40)
BLUE = (80, 160, 255)
GREEN = (110, 210, 120)
RED = (240, 90, 80)


# Shapes: each is (distance function, colour); a sample is inside when the distance is <= 0.


def disc(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - width / 2


def _segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


def polyline(points, width):
    """A stroke of the given width along the points (round joins and caps)."""
    segments = list(zip(points, points[1:]))

    def distance(x, y):
        return min(_segment_distance(x, y, a[0], a[1], b[0], b[1]) for a, b in segments) - width / 2

    return distance


def polygon(points):
    """A filled convex or concave polygon (even-odd rule); distance is only its sign."""

    def distance(x, y):
        inside = False
        n = len(points)
        for i in range(n):
            (x1, y1), (x2, y2) = points[i], points[(i + 1) % n]
            if (y1 > y) != (y2 > y) and x < (x2 - x1) * (y - y1) / (y2 - y1) + x1:
                inside = not inside
        return -1.0 if inside else 1.0

    return distance


def arc_points(cx, cy, r, start, end, steps=48):
    """Points on a circle from angle `start` to `end` (radians, y grows downwards)."""
    return [
        (cx + r * math.cos(start + (end - start) * i / steps),
         cy + r * math.sin(start + (end - start) * i / steps))
        for i in range(steps + 1)
    ]


def arrow(ax, ay, bx, by, width, head):
    """A shaft from a to b with a triangular head at b."""
    length = math.hypot(bx - ax, by - ay)
    ux, uy = (bx - ax) / length, (by - ay) / length
    px, py = -uy, ux
    base_x, base_y = bx - ux * head, by - uy * head
    return [
        polyline([(ax, ay), (base_x, base_y)], width),
        polygon([(bx, by), (base_x + px * head * 0.6, base_y + py * head * 0.6),
                 (base_x - px * head * 0.6, base_y - py * head * 0.6)]),
    ]


# The pictograms. Coordinates are pixels, origin top left, y downwards.


def icon_rebend():
    # A stem with its old, tight bend (thin) and its new, wider bend (thick).
    ghost = [(6, 27), (6, 19)] + arc_points(12, 19, 6, math.pi, math.pi * 2)[1:]
    bent = [(6, 27), (6, 18)] + arc_points(18, 18, 12, math.pi, math.pi * 1.75)[1:]
    return [(polyline(ghost, 2.0), BLUE), (polyline(bent, 3.4), INK),
            (disc(6, 27, 2.6), ACCENT)]


def icon_motionstretch():
    # A ball smeared backwards along its path.
    shapes = [(polyline([(3, y), (17, y)], 2.0), BLUE) for y in (10, 16, 22)]
    shapes.append((polygon([(8, 9), (20, 6), (20, 26), (8, 23)]), BLUE))
    shapes.append((disc(21, 16, 8.5), INK))
    shapes.append((disc(23, 13, 2.5), ACCENT))
    return shapes


def icon_expand():
    # A box with four arrows pushing outwards.
    shapes = [(polygon([(11, 11), (21, 11), (21, 21), (11, 21)]), ACCENT)]
    for ax, ay, bx, by in ((16, 10, 16, 2), (16, 22, 16, 30), (10, 16, 2, 16), (22, 16, 30, 16)):
        shapes += [(s, INK) for s in arrow(ax, ay, bx, by, 2.2, 5.0)]
    return shapes


def icon_seam():
    # Two edge rows drawn together by stitches.
    shapes = [(polyline([(8, 3), (11, 16), (8, 29)], 3.0), BLUE),
              (polyline([(24, 3), (21, 16), (24, 29)], 3.0), GREEN)]
    for y in (7, 12, 17, 22, 27):
        shift = abs(y - 16) * 3.0 / 13.0
        shapes.append((polyline([(11 - shift, y - 2), (21 + shift, y + 2)], 1.6), INK))
    return shapes


def icon_spherewrap():
    # A sphere with a sheet wrapped round its top.
    shapes = [(disc(16, 17, 12), BLUE),
              (ring(16, 17, 12, 1.4), INK),
              (polyline(arc_points(16, 17, 12, math.pi * 1.1, math.pi * 1.9), 3.2), ACCENT)]
    shapes.append((polyline([(4.5, 19), (16, 22), (27.5, 19)], 1.2), INK))
    shapes.append((polyline([(16, 5), (16, 29)], 1.2), INK))
    return shapes


def icon_twirl():
    # An Archimedean spiral around the axis.
    points = []
    turns = 2.6
    for i in range(161):
        t = i / 160
        angle = t * turns * 2 * math.pi
        r = 1.0 + 13.0 * t
        points.append((16 + r * math.cos(angle), 16 + r * math.sin(angle)))
    return [(polyline(points, 2.4), INK), (disc(16, 16, 2.6), ACCENT)]


def icon_scrollroll():
    # A flat sheet rolled up into a scroll at its left edge.
    points = []
    for i in range(121):
        t = i / 120
        angle = math.pi * 0.5 + t * 2.2 * 2 * math.pi
        r = 8.5 - 6.5 * t
        points.append((10 + r * math.cos(angle), 17 + r * math.sin(angle)))
    return [(polygon([(10, 23.5), (30, 23.5), (30, 27), (10, 27)]), BLUE),
            (polyline([(10, 25.5), (30, 25.5)], 2.2), INK),
            (polyline(points[::-1], 2.2), INK)]


def icon_impact():
    # A strike point with rings running outward.
    return [(ring(16, 16, 13, 1.8), BLUE),
            (ring(16, 16, 9, 2.2), INK),
            (ring(16, 16, 5, 2.0), INK),
            (disc(16, 16, 2.4), RED)]


def icon_nullpin():
    # A pin with a round head, stuck at a point.
    return [(polyline([(5, 28), (14, 19)], 2.0), INK),
            (polyline([(12, 21), (18, 15)], 6.0), (190, 60, 55)),
            (disc(21, 11, 7), RED),
            (disc(19, 9, 2), (255, 200, 190))]


ICONS = {
    "vexwarp": {"kwrebend": icon_rebend, "kwmotionstretch": icon_motionstretch,
                "kwexpand": icon_expand, "kwseam": icon_seam},
    "quillform": {"kwspherewrap": icon_spherewrap, "kwtwirl": icon_twirl,
                  "kwscrollroll": icon_scrollroll, "kwimpact": icon_impact},
    "nullpin": {"nullpin": icon_nullpin},
}


def render(shapes):
    """Composites the shapes in order; returns SIZE*SIZE RGBA tuples (straight alpha)."""
    pixels = []
    step = 1.0 / SUBSAMPLES
    offsets = [(i + 0.5) * step for i in range(SUBSAMPLES)]
    for py in range(SIZE):
        for px in range(SIZE):
            # Premultiplied accumulation, "over" from back to front.
            r = g = b = a = 0.0
            for distance, colour in shapes:
                hits = sum(1 for oy in offsets for ox in offsets if distance(px + ox, py + oy) <= 0)
                cover = hits / (SUBSAMPLES * SUBSAMPLES)
                if cover == 0:
                    continue
                r = colour[0] * cover + r * (1 - cover)
                g = colour[1] * cover + g * (1 - cover)
                b = colour[2] * cover + b * (1 - cover)
                a = cover + a * (1 - cover)
            if a > 0:
                pixels.append((round(r / a), round(g / a), round(b / a), round(a * 255)))
            else:
                pixels.append((0, 0, 0, 0))
    return pixels


def tiff_bytes(pixels, width, height):
    """An uncompressed little-endian baseline TIFF, RGBA with unassociated alpha, one strip."""
    data = bytes(c for pixel in pixels for c in pixel)
    entries = []  # (tag, type, count, value bytes)
    SHORT, LONG, RATIONAL = 3, 4, 5

    def add(tag, kind, values):
        fmt = {SHORT: "<H", LONG: "<I", RATIONAL: "<II"}[kind]
        packed = b"".join(struct.pack(fmt, *(v if isinstance(v, tuple) else (v,))) for v in values)
        entries.append((tag, kind, len(values), packed))

    header_size = 8
    pixel_offset = header_size
    add(256, LONG, [width])                  # ImageWidth
    add(257, LONG, [height])                 # ImageLength
    add(258, SHORT, [8, 8, 8, 8])            # BitsPerSample
    add(259, SHORT, [1])                     # Compression: none
    add(262, SHORT, [2])                     # PhotometricInterpretation: RGB
    add(273, LONG, [pixel_offset])           # StripOffsets
    add(277, SHORT, [4])                     # SamplesPerPixel
    add(278, LONG, [height])                 # RowsPerStrip
    add(279, LONG, [len(data)])              # StripByteCounts
    add(282, RATIONAL, [(72, 1)])            # XResolution
    add(283, RATIONAL, [(72, 1)])            # YResolution
    add(284, SHORT, [1])                     # PlanarConfiguration: chunky
    add(296, SHORT, [2])                     # ResolutionUnit: inch
    add(338, SHORT, [2])                     # ExtraSamples: unassociated alpha
    entries.sort()

    # Layout: header, pixels, IFD, then the values too large for an IFD entry.
    ifd_offset = pixel_offset + len(data)
    ifd_offset += ifd_offset % 2  # the IFD starts on a word boundary
    ifd_size = 2 + 12 * len(entries) + 4
    extra_offset = ifd_offset + ifd_size
    ifd = struct.pack("<H", len(entries))
    extra = b""
    for tag, kind, count, packed in entries:
        if len(packed) <= 4:
            ifd += struct.pack("<HHI", tag, kind, count) + packed.ljust(4, b"\0")
        else:
            ifd += struct.pack("<HHII", tag, kind, count, extra_offset + len(extra))
            extra += packed
            extra += b"\0" * (len(extra) % 2)
    ifd += struct.pack("<I", 0)  # no further image

    out = b"II" + struct.pack("<HI", 42, ifd_offset) + data
    out += b"\0" * (ifd_offset - len(out))
    return out + ifd + extra


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "..", "res"),
                        help="resource root holding one folder per module (default: res/)")
    args = parser.parse_args(argv)
    for module, icons in ICONS.items():
        folder = os.path.join(args.out, module)
        os.makedirs(folder, exist_ok=True)
        for name, draw in icons.items():
            path = os.path.join(folder, name + ".tif")
            with open(path, "wb") as f:
                f.write(tiff_bytes(render(draw()), SIZE, SIZE))
            print(os.path.relpath(path))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
