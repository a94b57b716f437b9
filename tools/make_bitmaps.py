#!/usr/bin/env python3
"""Draws the program's bitmaps (avatar, toolbar, panel, tab and list pictures) into app/resources.

Flat pictures from a few shapes, 4x4 supersampled. Pixels that shapes cover less than about a third
are left in the mask colour RGB(128,0,128), so outer edges stay hard; edges between shapes blend.
Run from anywhere: python3 tools/make_bitmaps.py
"""
import math
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app", "resources")
MASK = (128, 0, 128)
SAMPLES = 4


def rgb(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


# Shapes are functions (x, y) -> bool in the picture's pixel units.
def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, w):
    return lambda x, y: (r - w) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def rrect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return inside


def seg(x0, y0, x1, y1, w):
    vx, vy = x1 - x0, y1 - y0
    length2 = vx * vx + vy * vy or 1e-9

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * vx + (y - y0) * vy) / length2))
        px, py = x0 + t * vx - x, y0 + t * vy - y
        return px * px + py * py <= (w / 2) ** 2
    return inside


def poly(points):
    def inside(x, y):
        hit = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def star(cx, cy, outer, inner):
    pts = []
    for k in range(10):
        a = -math.pi / 2 + k * math.pi / 5
        r = outer if k % 2 == 0 else inner
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return poly(pts)


def gear(cx, cy, r_out, r_in, teeth):
    pts = []
    for k in range(teeth * 4):
        a = 2 * math.pi * k / (teeth * 4)
        r = r_out if k % 4 in (1, 2) else r_in
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return poly(pts)


def render(size, layers):
    """layers: [(shape, colour or function(x, y) -> colour)], later layers on top."""
    w, h = size
    pixels = []
    for py in range(h):
        row = []
        for px in range(w):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    colour = None
                    for shape, fill in reversed(layers):
                        if shape(x, y):
                            colour = fill(x, y) if callable(fill) else fill
                            break
                    if colour is not None:
                        hits += 1
                        for c in range(3):
                            acc[c] += colour[c]
            if hits * 3 < SAMPLES * SAMPLES:
                row.append(MASK)
            else:
                pixel = tuple(round(v / hits) for v in acc)
                # A blended pixel must never turn into the mask colour itself.
                row.append((pixel[0], 1, pixel[2]) if pixel == MASK else pixel)
        pixels.append(row)
    return pixels


def strip(images):
    """Puts same-sized pictures side by side."""
    height = len(images[0])
    return [sum((img[y] for img in images), []) for y in range(height)]


def write_bmp(name, pixels):
    h, w = len(pixels), len(pixels[0])
    stride = (w * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        body += line + b"\0" * (stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    path = os.path.join(OUT, name)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(header + info + body)
    os.replace(tmp, path)


# Colours of the set.
GOLD, GOLD_DARK = rgb("#F5B400"), rgb("#D08A00")
BLUE, BLUE_DARK = rgb("#2F6FD6"), rgb("#1F4FA0")
GREEN = rgb("#2E9E5B")
RED = rgb("#D9453F")
ORANGE = rgb("#F08A24")
GREY, GREY_LIGHT = rgb("#6B7380"), rgb("#C9CED6")
WHITE = (255, 255, 255)
PAPER = rgb("#F4F6F9")


def s(scale, *values):
    return [v * scale for v in values]


def folder(k):
    return [(rrect(*s(k, 1, 2.5, 7.5, 6), 1 * k), GOLD_DARK), (rrect(*s(k, 1, 4.5, 15, 13.5), 1.2 * k), GOLD)]


def favourite(k):
    return [(star(8 * k, 8.4 * k, 7.4 * k, 3.1 * k), GOLD_DARK), (star(8 * k, 8.4 * k, 6 * k, 2.5 * k), GOLD)]


def open_mark(k):
    arrow = poly([(x * k, y * k) for x, y in [(4, 7), (8, 7), (8, 4.5), (12, 8), (8, 11.5), (8, 9), (4, 9)]])
    return [(circle(8 * k, 8 * k, 7.2 * k), GREEN), (arrow, WHITE)]


def magnifier(k, colour=BLUE):
    return [(seg(*s(k, 10, 10, 14, 14), 2.6 * k), GREY), (circle(6.6 * k, 6.6 * k, 5.4 * k), PAPER),
            (ring(6.6 * k, 6.6 * k, 5.4 * k, 1.7 * k), colour)]


def close_mark(k):
    return [(rrect(*s(k, 1.5, 1.5, 14.5, 14.5), 3 * k), RED),
            (seg(*s(k, 5, 5, 11, 11), 2 * k), WHITE), (seg(*s(k, 11, 5, 5, 11), 2 * k), WHITE)]


def download(k, colour=BLUE):
    arrow = poly([(x * k, y * k) for x, y in [(6, 1.5), (10, 1.5), (10, 6.5), (13, 6.5), (8, 11.5), (3, 6.5), (6, 6.5)]])
    return [(rrect(*s(k, 1.5, 11.5, 14.5, 14.5), 1 * k), GREY), (arrow, colour)]


def comic(k):
    return [(rrect(*s(k, 1, 2.5, 15, 13.5), 1 * k), BLUE_DARK), (rrect(*s(k, 2, 3.5, 7.6, 12.5)), PAPER),
            (rrect(*s(k, 8.4, 3.5, 14, 12.5)), PAPER), (rrect(*s(k, 3, 5, 6.6, 6)), ORANGE),
            (rrect(*s(k, 3, 7.5, 6.6, 8.2)), GREY_LIGHT), (rrect(*s(k, 9.4, 5, 13, 9)), ORANGE),
            (rrect(*s(k, 9.4, 10, 13, 10.7)), GREY_LIGHT)]


def globe(k):
    return [(circle(8 * k, 8 * k, 7 * k), BLUE), (seg(*s(k, 1.5, 8, 14.5, 8), 1.1 * k), WHITE),
            (seg(*s(k, 8, 1.5, 8, 14.5), 1.1 * k), WHITE), (seg(*s(k, 3, 4.5, 13, 4.5), 1.1 * k), WHITE),
            (seg(*s(k, 3, 11.5, 13, 11.5), 1.1 * k), WHITE)]


def document(k):
    corner = poly([(x * k, y * k) for x, y in [(10, 1), (14, 5), (10, 5)]])
    page = poly([(x * k, y * k) for x, y in [(2.5, 1), (10, 1), (14, 5), (14, 15), (2.5, 15)]])
    lines = [(rrect(*s(k, 5, y, 11.5, y + 1)), GREY_LIGHT) for y in (7, 9.5, 12)]
    return [(page, GREY), (poly([(x * k, y * k) for x, y in [(3.5, 2), (9.6, 2), (13, 5.4), (13, 14), (3.5, 14)]]),
                           WHITE)] + lines + [(corner, GREY_LIGHT)]


def settings(k):
    return [(gear(8 * k, 8 * k, 7.4 * k, 5.6 * k, 8), GREY), (circle(8 * k, 8 * k, 2.4 * k), WHITE)]


def about(k):
    return [(circle(8 * k, 8 * k, 7.2 * k), BLUE), (circle(8 * k, 4.6 * k, 1.2 * k), WHITE),
            (rrect(*s(k, 7, 6.8, 9, 12.2), 0.4 * k), WHITE)]


def flame(k):
    outer = poly([(x * k, y * k) for x, y in [(8, 0.8), (11.5, 5), (13.5, 9), (12.5, 13), (9.5, 15.2), (6.5, 15.2),
                                              (3.5, 13), (2.5, 9.5), (4, 6), (5.6, 8.2), (6.4, 4.6)]])
    inner = poly([(x * k, y * k) for x, y in [(8.4, 6.5), (10.8, 10), (10.6, 13), (8, 14.6), (5.6, 13.2),
                                              (5.4, 10.6), (7, 11.4)]])
    return [(outer, RED), (inner, GOLD)]


def check_box(k, checked):
    layers = [(rrect(*s(k, 2, 2, 14, 14), 2 * k), GREY if not checked else BLUE_DARK),
              (rrect(*s(k, 3, 3, 13, 13), 1.2 * k), WHITE if not checked else BLUE)]
    if checked:
        layers += [(seg(*s(k, 4.8, 8.2, 7, 10.6), 1.8 * k), WHITE), (seg(*s(k, 7, 10.6, 11.4, 5.4), 1.8 * k), WHITE)]
    return layers


def clock(k):
    return [(circle(8 * k, 8 * k, 7 * k), GREY), (circle(8 * k, 8 * k, 5.6 * k), WHITE),
            (seg(*s(k, 8, 8, 8, 4), 1.4 * k), GREY), (seg(*s(k, 8, 8, 10.8, 9.6), 1.4 * k), GREY)]


def done(k):
    return [(circle(8 * k, 8 * k, 7 * k), GREEN), (seg(*s(k, 4.6, 8.2, 7, 10.8), 1.9 * k), WHITE),
            (seg(*s(k, 7, 10.8, 11.6, 5.4), 1.9 * k), WHITE)]


def failed(k):
    return [(circle(8 * k, 8 * k, 7 * k), RED), (seg(*s(k, 5.2, 5.2, 10.8, 10.8), 1.9 * k), WHITE),
            (seg(*s(k, 10.8, 5.2, 5.2, 10.8), 1.9 * k), WHITE)]


def paused(k):
    return [(circle(8 * k, 8 * k, 7 * k), ORANGE), (rrect(*s(k, 5.2, 4.6, 7.2, 11.4)), WHITE),
            (rrect(*s(k, 8.8, 4.6, 10.8, 11.4)), WHITE)]


def icons(size, drawings):
    k = size / 16.0
    return strip([render((size, size), d(k)) for d in drawings])


def moved(shape, dx, dy):
    return lambda x, y: shape(x - dx, y - dy)


def avatar():
    top, bottom = rgb("#5B9BF0"), rgb("#2A5FB8")

    def sky(x, y):
        t = y / 60.0
        return tuple(round(top[c] + (bottom[c] - top[c]) * t) for c in range(3))

    # Fills the whole square: the avatar is shown as it is, without a mask.
    layers = [(lambda x, y: True, sky)]
    layers += [(moved(shape, 10.8, 8), colour) for shape, colour in comic(2.4)]
    layers.append((rrect(12, 46, 48, 49, 1.5), rgb("#E8EEF8")))
    return render((60, 60), layers)


def main():
    write_bmp("avatar.bmp", avatar())
    write_bmp("toolbar.bmp", icons(24, [favourite, settings, about, lambda k: download(k, GREEN), flame, magnifier]))
    write_bmp("small.bmp", icons(16, [folder, favourite, open_mark, magnifier]))
    write_bmp("tabs.bmp", icons(16, [close_mark, download, comic, globe, magnifier, favourite, document]))
    write_bmp("list.bmp", icons(16, [lambda k: [], lambda k: check_box(k, False), lambda k: check_box(k, True),
                                     clock, download, done, failed, paused]))


if __name__ == "__main__":
    main()
