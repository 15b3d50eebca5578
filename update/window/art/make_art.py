#!/usr/bin/env python3
"""Draws the artwork of the update window: the background bitmap, the progress-bar bitmap
and the program icon, as files that the resource script includes.

    make_art.py OUTDIR

writes OUTDIR/UpdateBack.bmp (361x57, 24 bpp), OUTDIR/UpdateBar.bmp (326x8, 24 bpp) and
OUTDIR/Update.ico (48, 32 and 16 pixels, each at 4, 8 and 24 bpp). The output depends on
nothing but this file: the same script always writes the same bytes.
"""
import os
import struct
import sys

WINDOW_W, WINDOW_H = 361, 57
BAR_W, BAR_H = 326, 8

# The window: two vertical gradients, the upper band behind the two text lines, the lower
# one behind the progress trough.
UPPER_ROWS = (0, 23)
UPPER_FROM, UPPER_TO = (86, 183, 220), (47, 139, 190)
LOWER_ROWS = (24, 56)
LOWER_FROM, LOWER_TO = (25, 114, 174), (14, 191, 223)

# The trough: a one-pixel outline from (16, 36) to (343, 45) with cut corners; its inside
# is exactly where the bar bitmap lands when drawn at (17, 37).
TROUGH_LEFT, TROUGH_TOP, TROUGH_RIGHT, TROUGH_BOTTOM = 16, 36, 343, 45
TROUGH_EDGE = (120, 120, 120)
# Inside rows, top to bottom: a shadow under the upper edge, the flat middle, lighter below.
TROUGH_ROWS = [(176, 172, 166), (200, 196, 189)] + [(212, 208, 200)] * 4 + [
    (220, 217, 210), (228, 226, 220)]

# The bar: a darker first row, the highlight in the second, then down to the last row.
BAR_FIRST = (128, 200, 134)
BAR_HIGHLIGHT = (160, 214, 164)
BAR_BODY_FROM, BAR_LAST = (120, 198, 127), (79, 180, 87)

assert len(TROUGH_ROWS) == BAR_H == TROUGH_BOTTOM - TROUGH_TOP - 1
assert BAR_W == TROUGH_RIGHT - TROUGH_LEFT - 1


def lerp(a, b, num, den):
    """a + (b - a) * num / den per channel, rounded half up, in integers only."""
    return tuple((2 * (x * den + (y - x) * num) + den) // (2 * den) for x, y in zip(a, b))


def mix(a, b):
    return lerp(a, b, 1, 2)


def band_colour(y):
    if UPPER_ROWS[0] <= y <= UPPER_ROWS[1]:
        return lerp(UPPER_FROM, UPPER_TO, y - UPPER_ROWS[0], UPPER_ROWS[1] - UPPER_ROWS[0])
    return lerp(LOWER_FROM, LOWER_TO, y - LOWER_ROWS[0], LOWER_ROWS[1] - LOWER_ROWS[0])


def bar_row(r):
    if r == 0:
        return BAR_FIRST
    if r == 1:
        return BAR_HIGHLIGHT
    return lerp(BAR_BODY_FROM, BAR_LAST, r - 2, BAR_H - 3)


def background():
    rows = []
    for y in range(WINDOW_H):
        row = [band_colour(y)] * WINDOW_W
        if TROUGH_TOP <= y <= TROUGH_BOTTOM:
            edge_row = y in (TROUGH_TOP, TROUGH_BOTTOM)
            for x in range(TROUGH_LEFT, TROUGH_RIGHT + 1):
                edge_col = x in (TROUGH_LEFT, TROUGH_RIGHT)
                if edge_row and edge_col:
                    row[x] = mix(row[x], TROUGH_EDGE)  # rounded corner
                elif edge_row or edge_col:
                    row[x] = TROUGH_EDGE
                else:
                    row[x] = TROUGH_ROWS[y - TROUGH_TOP - 1]
        rows.append(row)
    return rows


def bar():
    rows = []
    for r in range(BAR_H):
        row = [bar_row(r)] * BAR_W
        if r in (0, BAR_H - 1):
            # Rounded ends: the corners fade into the trough they are drawn on.
            corner = mix(row[0], TROUGH_ROWS[r])
            row = [corner] + row[1:-1] + [corner]
        rows.append(row)
    return rows


def bmp24(rows):
    """A bottom-up 24-bit BMP file of the given rows of (r, g, b)."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    bits = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        bits += line + bytes(stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(bits), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(bits), 0, 0, 14 + len(info))
    return header + info + bytes(bits)


# --- the icon -----------------------------------------------------------------------------
# The window in small: a blue tile, a white arrow pointing down into a trough with a green
# bar. Shapes are given on a unit square and sampled 4x4 per pixel, so one drawing serves
# every size.

ICON_SIZES = (48, 32, 16)
ICON_DEPTHS = (4, 8, 24)
TILE_TOP, TILE_BOTTOM = UPPER_FROM, (14, 120, 186)
TILE_RADIUS = 0.18
WHITE = (255, 255, 255)
SUBSAMPLES = 4


def in_tile(u, v):
    r = TILE_RADIUS
    cu = min(max(u, r), 1 - r)
    cv = min(max(v, r), 1 - r)
    return (u - cu) ** 2 + (v - cv) ** 2 <= r * r


def in_arrow(u, v):
    if 0.42 <= u <= 0.58 and 0.12 <= v <= 0.42:
        return True
    # The head: a triangle from the base (0.22..0.78 at v 0.38) to the tip (0.5, 0.64).
    if 0.38 <= v <= 0.64:
        half = 0.28 * (0.64 - v) / 0.26
        return abs(u - 0.5) <= half
    return False


def icon_colour(u, v):
    """Colour at a point of the unit square, or None outside the tile."""
    if not in_tile(u, v):
        return None
    if 0.12 <= u <= 0.88 and 0.72 <= v <= 0.88:
        if 0.16 <= u <= 0.62 and 0.76 <= v <= 0.84:
            return BAR_HIGHLIGHT if v < 0.79 else BAR_LAST
        if u < 0.15 or u > 0.85 or v < 0.75 or v > 0.85:
            return TROUGH_EDGE
        return TROUGH_ROWS[3]
    if in_arrow(u, v):
        return WHITE
    return tuple(int(a + (b - a) * v + 0.5) for a, b in zip(TILE_TOP, TILE_BOTTOM))


def icon_pixels(size):
    """Rows of (r, g, b) or None for transparent pixels."""
    rows = []
    n = SUBSAMPLES
    for y in range(size):
        row = []
        for x in range(size):
            hits = []
            for sy in range(n):
                for sx in range(n):
                    c = icon_colour((x + (sx + 0.5) / n) / size, (y + (sy + 0.5) / n) / size)
                    if c is not None:
                        hits.append(c)
            if 2 * len(hits) < n * n:
                row.append(None)
            else:
                row.append(tuple((sum(c[i] for c in hits) + len(hits) // 2) // len(hits)
                                 for i in range(3)))
        rows.append(row)
    return rows


def median_cut(colours, count):
    """A palette of at most count colours for the given pixels: the box of colours with
    the widest spread is split at its median until there are count boxes; each box gives
    its mean. An image with no more distinct colours than count keeps them exactly."""
    boxes = [sorted(colours)]
    while len(boxes) < count:
        def spread(box):
            return max(max(c[i] for c in box) - min(c[i] for c in box) for i in range(3))
        widest = max(range(len(boxes)), key=lambda i: (spread(boxes[i]), len(boxes[i]), -i))
        box = boxes[widest]
        if spread(box) == 0:
            break
        channel = max(range(3), key=lambda i: max(c[i] for c in box) - min(c[i] for c in box))
        box = sorted(box, key=lambda c: (c[channel], c))
        half = len(box) // 2
        # Never split between equal values, so that each distinct colour stays in one box.
        while 0 < half < len(box) and box[half - 1][channel] == box[half][channel]:
            half += 1
        if half == len(box):
            half = len(box) // 2
            while half > 0 and box[half - 1][channel] == box[half][channel]:
                half -= 1
        boxes[widest:widest + 1] = [box[:half], box[half:]]
    return [tuple((sum(c[i] for c in box) + len(box) // 2) // len(box) for i in range(3))
            for box in boxes]


def nearest(palette, colour, cache):
    if colour not in cache:
        cache[colour] = min(range(len(palette)), key=lambda i: sum(
            (p - c) ** 2 for p, c in zip(palette[i], colour)))
    return cache[colour]


def icon_image(pixels, depth):
    """One icon image: BITMAPINFOHEADER, palette, colour bits and mask, bottom-up."""
    size = len(pixels)
    opaque = [c for row in pixels for c in row if c is not None]
    palette = [] if depth == 24 else median_cut(opaque, 1 << depth)
    palette += [(0, 0, 0)] * ((0 if depth == 24 else 1 << depth) - len(palette))
    cache = {}
    stride = ((size * depth + 31) // 32) * 4
    mask_stride = ((size + 31) // 32) * 4
    xor, and_ = bytearray(), bytearray()
    for row in reversed(pixels):
        line = bytearray(stride)
        mask = bytearray(mask_stride)
        for x, c in enumerate(row):
            if c is None:
                mask[x // 8] |= 0x80 >> (x % 8)
                c = (0, 0, 0)  # transparent pixels must be black for the mask to work
            if depth == 24:
                line[3 * x:3 * x + 3] = bytes((c[2], c[1], c[0]))
            elif depth == 8:
                line[x] = nearest(palette, c, cache)
            else:
                line[x // 2] |= nearest(palette, c, cache) << (4 if x % 2 == 0 else 0)
        xor += line
        and_ += mask
    info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, depth, 0, len(xor) + len(and_),
                       0, 0, 0, 0)
    quads = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return info + quads + bytes(xor) + bytes(and_)


def icon_file():
    images = []
    for depth in ICON_DEPTHS:
        for size in ICON_SIZES:
            images.append((size, depth, icon_image(icon_pixels(size), depth)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, depth, data in images:
        colours = 16 if depth == 4 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, depth, len(data),
                           offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_art.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "UpdateBack.bmp"), bmp24(background()))
    write(os.path.join(out, "UpdateBar.bmp"), bmp24(bar()))
    write(os.path.join(out, "Update.ico"), icon_file())


if __name__ == "__main__":
    main()
