#!/usr/bin/env python3
"""Draws the program's pictures and icons and writes them as BMP, ICO and PNG files.

Python 3 standard library only: every file format is written byte by byte here. Run it from
anywhere; it writes into res/art/ of the repository:

    python3 tools/art/make_art.py

The three pictures and the four button faces are drawn for 100, 125, 150 and 200 % display
scale (left.bmp, left-125.bmp, ...): the same drawing, sampled on a finer grid, so that the
program never has to enlarge a picture. The program icon holds its own sizes.

Shapes are drawn with 4 x 4 supersampling. The theme is the car's engine bay: a dark band with
an orange stripe, the emulator board with its memory chip, and a rev counter.
"""

import math
import os
import struct
import zlib

OUT_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res", "art")

# The right picture's background; the program repaints the areas of this colour that touch a
# bottom corner in the window's menu colour.
KEY = (128, 0, 255)

NAVY = (22, 34, 52)
NAVY_LIGHT = (40, 60, 88)
ORANGE = (242, 140, 30)
RED = (214, 40, 40)
WHITE = (245, 247, 250)
STEEL = (170, 180, 192)
STEEL_DARK = (96, 106, 120)
CHIP = (38, 40, 46)
PCB = (24, 96, 64)
PCB_TRACE = (92, 176, 120)
GOLD = (214, 178, 82)
GREEN = (53, 132, 47)
BLUE = (40, 110, 200)

SS = 4

# The display scales the pictures and button faces are drawn for, in per cent. The drawing is
# given in its 100 % coordinates; a canvas maps its pixels back to them.
SCALES = (100, 125, 150, 200)
scale = 100  # the scale being drawn


# --- canvas -----------------------------------------------------------------------------------

def new_image(w, h, colour=None):
    """A canvas of straight-alpha pixels [r, g, b, a] for a drawing of w x h at 100 %, with the
    pixels of the current scale (rounded up, so that the drawing is never cut); transparent
    unless a colour is given."""
    pw, ph = (w * scale + 99) // 100, (h * scale + 99) // 100
    img = {"w": pw, "h": ph, "sx": pw / float(w), "sy": ph / float(h)}
    if colour is None:
        img["px"] = [[0.0, 0.0, 0.0, 0.0] for _ in range(pw * ph)]
    else:
        img["px"] = [[float(c) for c in colour] + [1.0] for _ in range(pw * ph)]
    return img


def blend(img, x, y, colour, alpha):
    p = img["px"][y * img["w"] + x]
    da = p[3]
    oa = alpha + da * (1.0 - alpha)
    if oa <= 0.0:
        return
    for i in range(3):
        p[i] = (colour[i] * alpha + p[i] * da * (1.0 - alpha)) / oa
    p[3] = oa


def paint(img, shape, colour, opacity=1.0):
    """Fills `shape` (bbox, inside-test) with a colour or a colour function of (x, y)."""
    (bx0, by0, bx1, by1), inside = shape
    sx, sy = img["sx"], img["sy"]
    x0 = max(0, int(math.floor(bx0 * sx)))
    y0 = max(0, int(math.floor(by0 * sy)))
    x1 = min(img["w"], int(math.ceil(bx1 * sx)) + 1)
    y1 = min(img["h"], int(math.ceil(by1 * sy)) + 1)
    offsets = [(i + 0.5) / SS for i in range(SS)]
    total = SS * SS
    for y in range(y0, y1):
        for x in range(x0, x1):
            n = 0
            for oy in offsets:
                for ox in offsets:
                    if inside((x + ox) / sx, (y + oy) / sy):
                        n += 1
            if n:
                c = colour((x + 0.5) / sx, (y + 0.5) / sy) if callable(colour) else colour
                blend(img, x, y, c, opacity * n / total)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def vertical_gradient(top, bottom, y0, y1):
    return lambda x, y: mix(top, bottom, min(1.0, max(0.0, (y - y0) / float(y1 - y0))))


# --- shapes: (bbox, inside) ---------------------------------------------------------------------

def rect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        if r <= 0:
            return True
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return (x0, y0, x1, y1), inside


def circle(cx, cy, r):
    return (cx - r, cy - r, cx + r, cy + r), lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1, a0=None, a1=None):
    """An annulus, or the part of it between angles a0 and a1 (degrees, clockwise from east)."""
    def inside(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        if d < r0 * r0 or d > r1 * r1:
            return False
        if a0 is None:
            return True
        a = math.degrees(math.atan2(y - cy, x - cx)) % 360.0
        lo, hi = a0 % 360.0, a1 % 360.0
        return lo <= a <= hi if lo <= hi else (a >= lo or a <= hi)
    return (cx - r1, cy - r1, cx + r1, cy + r1), inside


def capsule(ax, ay, bx, by, width):
    r = width / 2.0
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy or 1e-9

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx - x, ay + t * dy - y
        return px * px + py * py <= r * r
    return (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r), inside


def polygon(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]

    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return (min(xs), min(ys), max(xs), max(ys)), inside


def union(shapes):
    shapes = list(shapes)
    bbox = (min(s[0][0] for s in shapes), min(s[0][1] for s in shapes),
            max(s[0][2] for s in shapes), max(s[0][3] for s in shapes))
    tests = [(s[0], s[1]) for s in shapes]

    def inside(x, y):
        for (x0, y0, x1, y1), test in tests:
            if x0 <= x <= x1 and y0 <= y <= y1 and test(x, y):
                return True
        return False
    return bbox, inside


def polyline(points, width):
    return union(capsule(*points[i], *points[i + 1], width) for i in range(len(points) - 1))


# --- stroke lettering ----------------------------------------------------------------------------

# Glyphs on a 4 x 6 grid, y downwards, as polylines.
GLYPHS = {
    "K": [[(0, 0), (0, 6)], [(4, 0), (0, 4)], [(1.4, 2.8), (4, 6)]],
    "E": [[(4, 0), (0, 0), (0, 6), (4, 6)], [(0, 3), (3, 3)]],
    "S": [[(4, 0.6), (3.4, 0), (0.6, 0), (0, 0.6), (0, 2.4), (0.6, 3), (3.4, 3), (4, 3.6),
           (4, 5.4), (3.4, 6), (0.6, 6), (0, 5.4)]],
    "T": [[(0, 0), (4, 0)], [(2, 0), (2, 6)]],
    "A": [[(0, 6), (2, 0), (4, 6)], [(0.7, 4), (3.3, 4)]],
    "O": [[(0.6, 0), (3.4, 0), (4, 0.6), (4, 5.4), (3.4, 6), (0.6, 6), (0, 5.4), (0, 0.6),
           (0.6, 0)]],
    "B": [[(0, 3), (3.2, 3), (4, 3.8), (4, 5.2), (3.2, 6), (0, 6), (0, 0), (3, 0), (3.7, 0.7),
           (3.7, 2.3), (3, 3)]],
    "D": [[(0, 0), (0, 6), (2.8, 6), (4, 4.8), (4, 1.2), (2.8, 0), (0, 0)]],
    "1": [[(0.8, 1.2), (2.2, 0), (2.2, 6)], [(0.8, 6), (3.6, 6)]],
    "M": [[(0, 6), (0, 0), (2, 3.6), (4, 0), (4, 6)]],
    "U": [[(0, 0), (0, 5.4), (0.6, 6), (3.4, 6), (4, 5.4), (4, 0)]],
    " ": [],
}


def text_shape(text, x, y, height, stroke, slant=0.18, spacing=1.6):
    """The strokes of `text` with its top-left at (x, y), `height` pixels tall."""
    unit = height / 6.0
    strokes = []
    pen = x
    for ch in text:
        for line in GLYPHS[ch]:
            pts = [(pen + (gx + (6 - gy) * slant) * unit, y + gy * unit) for gx, gy in line]
            strokes.append(polyline(pts, stroke))
        pen += (4 + spacing) * unit
    return union(strokes), pen - spacing * unit


def text_width(text, height, spacing=1.6):
    unit = height / 6.0
    return len(text) * (4 + spacing) * unit - spacing * unit


# --- pictures -----------------------------------------------------------------------------------

BAND_H = 82


def band_background(img, w):
    paint(img, rect(0, 0, w, BAND_H), vertical_gradient(NAVY_LIGHT, NAVY, 0, BAND_H))


def left_picture():
    """186 x 82: the product's name over the racing stripe."""
    w = 186
    img = new_image(w, BAND_H)
    band_background(img, w)
    # Orange stripe with a thin red edge, running on into the centre picture.
    paint(img, polygon([(0, 58), (w, 58), (w, 66), (0, 66)]), ORANGE)
    paint(img, polygon([(0, 67), (w, 67), (w, 70), (0, 70)]), RED)
    name, _ = text_shape("KESTA", 16, 12, 30, 5.2)
    paint(img, name, WHITE)
    sub, _ = text_shape("OBD1 EMU", 18, 47, 8, 1.9, spacing=1.9)
    paint(img, sub, ORANGE)
    return img


def chip(img, x0, y0, x1, y1, pins, pin_len, label=None):
    """A memory chip seen from above, with its pins on the long sides."""
    pitch = (x1 - x0 - 8) / float(pins - 1)
    for i in range(pins):
        px = x0 + 4 + i * pitch
        paint(img, rect(px - 1.6, y0 - pin_len, px + 1.6, y1 + pin_len), STEEL)
    paint(img, rect(x0, y0, x1, y1, 2), CHIP)
    paint(img, circle(x0 + 6, y0 + 6, 2.2), STEEL_DARK)
    if label:
        shape, width = text_shape(label, 0, 0, 9, 1.8)
        lx = (x0 + x1) / 2.0 - width / 2.0
        ly = (y0 + y1) / 2.0 - 4.5
        shape, _ = text_shape(label, lx, ly, 9, 1.8)
        paint(img, shape, STEEL)


def centre_picture():
    """246 x 82: the emulator board in the engine control unit."""
    w = 246
    img = new_image(w, BAND_H)
    band_background(img, w)
    # The board, its traces and the memory chip the emulator stands in for.
    paint(img, rect(18, 8, 214, 54, 4), PCB)
    paint(img, rect(18, 8, 214, 54, 4), (255, 255, 255), 0.04)
    for i in range(6):
        y = 16 + i * 6
        paint(img, polyline([(24, y), (60, y), (68, y + 4 - i * 2), (92, y + 4 - i * 2)], 1.6),
              PCB_TRACE)
        paint(img, circle(24, y, 2), GOLD)
    for i in range(5):
        x = 150 + i * 9
        paint(img, polyline([(x, 14), (x, 22), (x + 4, 26), (x + 4, 48)], 1.6), PCB_TRACE)
        paint(img, circle(x, 14, 2), GOLD)
    chip(img, 96, 18, 146, 44, 8, 4, "EMU")
    # The edge connector the adapter cable plugs into.
    paint(img, rect(200, 16, 210, 46, 1.5), CHIP)
    for i in range(5):
        paint(img, rect(202, 19 + i * 5.5, 208, 22 + i * 5.5), GOLD)
    # The stripe from the left picture runs on under the board.
    paint(img, polygon([(0, 58), (w, 58), (w, 66), (0, 66)]), ORANGE)
    paint(img, polygon([(0, 67), (w, 67), (w, 70), (0, 70)]), RED)
    return img


def right_picture():
    """102 x 102: a rev counter breaking out below the band, on the key colour.

    Antialiased edges against the key colour are blended with a light grey instead, so that
    no violet fringe is left once the background is repainted. The violet warning lamp on the
    dial is the key colour too, but touches no corner and stays.
    """
    size = 102
    img = new_image(size, size)
    paint(img, rect(0, 0, size, BAND_H), vertical_gradient(NAVY_LIGHT, NAVY, 0, BAND_H))
    paint(img, polygon([(0, 58), (size, 58), (size, 66), (0, 66)]), ORANGE)
    paint(img, polygon([(0, 67), (size, 67), (size, 70), (0, 70)]), RED)

    cx, cy = 51.0, 50.0
    paint(img, circle(cx, cy, 47), STEEL_DARK)
    paint(img, circle(cx, cy, 45), STEEL)
    paint(img, circle(cx, cy, 41), (18, 20, 24))
    # Scale from 135 to 405 degrees (clockwise from east): 0 to 8 thousand revolutions.
    for i in range(9):
        a = math.radians(135 + i * 270 / 8.0)
        r0, r1 = (30, 38) if i < 7 else (28, 38)
        colour = WHITE if i < 6 else RED
        paint(img, capsule(cx + r0 * math.cos(a), cy + r0 * math.sin(a),
                           cx + r1 * math.cos(a), cy + r1 * math.sin(a), 2.2), colour)
    paint(img, ring(cx, cy, 35, 38, 135 + 270 * 6 / 8.0, 405), RED, 0.85)
    # Needle at about three thousand.
    a = math.radians(135 + 270 * 3.1 / 8.0)
    paint(img, capsule(cx - 6 * math.cos(a), cy - 6 * math.sin(a),
                       cx + 33 * math.cos(a), cy + 33 * math.sin(a), 2.6), ORANGE)
    paint(img, circle(cx, cy, 5), STEEL)
    paint(img, circle(cx, cy, 2.4), STEEL_DARK)
    # Warning lamp: exact key colour inside a dark bezel.
    paint(img, circle(cx, cy + 22, 6.2), (60, 64, 70))
    lamp = circle(cx, cy + 22, 4.2)

    w, h, sx, sy = img["w"], img["h"], img["sx"], img["sy"]
    out = []
    for y in range(h):
        row = []
        for x in range(w):
            r, g, b, a = img["px"][y * w + x]
            if a <= 0.0:
                row.append(KEY)
            elif a >= 0.999:
                row.append((r, g, b))
            else:
                row.append(mix((224, 224, 224), (r, g, b), a))
        out.append(row)
    # The lamp is drawn hard-edged in the key colour so that its core is exactly the key.
    for y in range(h):
        for x in range(w):
            if lamp[1]((x + 0.5) / sx, (y + 0.5) / sy):
                out[y][x] = KEY
    assert out[h - 1][0] == KEY and out[h - 1][w - 1] == KEY
    return out


# --- icons --------------------------------------------------------------------------------------

def program_icon(size):
    """The program: the emulator chip with the product's initial."""
    s = size / 32.0
    img = new_image(size, size)
    for i in range(4):
        y = (8 + i * 5.3) * s
        paint(img, rect(1.5 * s, y - 1.1 * s, 30.5 * s, y + 1.1 * s, 0.6 * s), STEEL)
    paint(img, rect(5 * s, 3 * s, 27 * s, 29 * s, 3 * s), vertical_gradient(NAVY_LIGHT, NAVY, 3 * s, 29 * s))
    paint(img, rect(5 * s, 22.5 * s, 27 * s, 25 * s), ORANGE)
    k, _ = text_shape("K", 10.2 * s, 6 * s, 14 * s, 3.4 * s, slant=0.12)
    paint(img, k, WHITE)
    return img


def rotated_rect(cx, cy, half_w, half_h, degrees):
    a = math.radians(degrees)
    ca, sa = math.cos(a), math.sin(a)
    return polygon([(cx + x * ca - y * sa, cy + x * sa + y * ca)
                    for x, y in ((-half_w, -half_h), (half_w, -half_h), (half_w, half_h),
                                 (-half_w, half_h))])


def erase_icon():
    """Memory wiped: an eraser leaving a clean sweep behind it."""
    img = new_image(32, 32)
    for y, x1 in ((24.5, 13), (28.5, 21)):
        paint(img, capsule(2.5, y, x1, y, 2), STEEL)
    angle = -38
    a = math.radians(angle)
    # The block lies along its long axis; the sleeve takes the upper half.
    cx, cy = 18.0, 14.0
    ux, uy = math.cos(a), math.sin(a)
    paint(img, rotated_rect(cx, cy, 12.5, 6.8, angle), (110, 36, 48))
    paint(img, rotated_rect(cx - 5.6 * ux, cy - 5.6 * uy, 5.8, 5.6, angle), (236, 98, 112))
    paint(img, rotated_rect(cx + 5.6 * ux, cy + 5.6 * uy, 5.8, 5.6, angle), BLUE)
    paint(img, rotated_rect(cx + 5.6 * ux, cy + 5.6 * uy, 5.8, 1.3, angle), (150, 196, 240))
    return img


def page(img, x0, y0, x1, y1):
    fold = 6
    paint(img, polygon([(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)]),
          (120, 126, 136))
    paint(img, polygon([(x0 + 1.2, y0 + 1.2), (x1 - fold - 0.5, y0 + 1.2), (x1 - 1.2, y0 + fold + 0.5),
                        (x1 - 1.2, y1 - 1.2), (x0 + 1.2, y1 - 1.2)]), (252, 252, 252))
    paint(img, polygon([(x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold)]), (200, 204, 212))


def down_arrow(img, cx, y0, y1, colour, shaft=6.0, head=13.0):
    hy = y1 - head * 0.7
    paint(img, polygon([(cx - shaft / 2, y0), (cx + shaft / 2, y0), (cx + shaft / 2, hy),
                        (cx + head / 2, hy), (cx, y1), (cx - head / 2, hy), (cx - shaft / 2, hy)]),
          colour)


def read_icon():
    """Memory to file: a page with a green arrow coming down into it."""
    img = new_image(32, 32)
    page(img, 6, 8, 26, 31)
    for y in (17, 21, 25):
        paint(img, rect(10, y, 22, y + 1.4), (190, 196, 206))
    down_arrow(img, 16, 0.5, 21, (30, 92, 26), shaft=7.5, head=15.5)
    down_arrow(img, 16, 1.5, 19.5, GREEN, shaft=5, head=12.5)
    return img


def write_icon():
    """File to memory: a chip with an orange arrow coming down into it."""
    img = new_image(32, 32)
    for i in range(4):
        x = 8.5 + i * 5
        paint(img, rect(x - 1.2, 14, x + 1.2, 31.5), STEEL)
    paint(img, rect(4.5, 17, 27.5, 29, 2), CHIP)
    paint(img, circle(8.5, 21, 1.6), STEEL_DARK)
    down_arrow(img, 16, 0.5, 22, (150, 70, 10), shaft=7.5, head=15.5)
    down_arrow(img, 16, 1.5, 20.5, ORANGE, shaft=5, head=12.5)
    return img


def update_icon():
    """The adapter's configuration renewed: two chasing arrows."""
    img = new_image(32, 32)
    cx, cy = 16.0, 16.0
    for start, colour in ((200, BLUE), (20, GREEN)):
        paint(img, ring(cx, cy, 8.5, 13, start, start + 130), colour)
        a = math.radians(start + 130)
        tip = math.radians(start + 160)
        r_mid = 10.75
        paint(img, polygon([(cx + 5.5 * math.cos(a), cy + 5.5 * math.sin(a)),
                            (cx + 16 * math.cos(a), cy + 16 * math.sin(a)),
                            (cx + r_mid * math.cos(tip), cy + r_mid * math.sin(tip))]), colour)
    return img


# --- file formats -------------------------------------------------------------------------------

def rgb_rows(img):
    """Rows of opaque (r, g, b), composited over white where the canvas is transparent."""
    rows = []
    for y in range(img["h"]):
        row = []
        for x in range(img["w"]):
            r, g, b, a = img["px"][y * img["w"] + x]
            row.append(mix((255, 255, 255), (r, g, b), a))
        rows.append(row)
    return rows


def byte(v):
    return max(0, min(255, int(round(v))))


def bmp_file(rows):
    """A 24-bit bottom-up BMP file."""
    h = len(rows)
    w = len(rows[0])
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((byte(b), byte(g), byte(r)))
        line += b"\0" * (stride - len(line))
        data += line
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(data), 0, 0, 14 + len(header))
    return file_header + header + data


def and_mask(img, threshold=0.5):
    w, h = img["w"], img["h"]
    stride = ((w + 31) // 32) * 4
    data = bytearray()
    for y in reversed(range(h)):
        line = bytearray(stride)
        for x in range(w):
            if img["px"][y * w + x][3] < threshold:
                line[x // 8] |= 0x80 >> (x % 8)
        data += line
    return bytes(data)


def icon_bitmap_32(img):
    """An icon image: 32-bit BGRA with alpha, then the 1-bit mask for old systems."""
    w, h = img["w"], img["h"]
    data = bytearray()
    for y in reversed(range(h)):
        for x in range(w):
            r, g, b, a = img["px"][y * w + x]
            data += bytes((byte(b), byte(g), byte(r), byte(a * 255)))
    mask = and_mask(img)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(data) + len(mask), 0, 0, 0, 0)
    return header + bytes(data) + mask


def icon_bitmap_24(img):
    """An icon image in 24-bit colour; the mask makes the outside transparent."""
    w, h = img["w"], img["h"]
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for y in reversed(range(h)):
        line = bytearray()
        for x in range(w):
            r, g, b, a = img["px"][y * w + x]
            if a < 0.5:
                line += b"\0\0\0"  # masked out: black so the screen shows through unchanged
            else:
                # Edges are composited over a light face colour, which buttons share.
                c = mix((240, 240, 240), (r, g, b), a)
                line += bytes((byte(c[2]), byte(c[1]), byte(c[0])))
        line += b"\0" * (stride - len(line))
        data += line
    mask = and_mask(img)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 24, 0, len(data) + len(mask), 0, 0, 0, 0)
    return header + bytes(data) + mask


def png_file(img):
    w, h = img["w"], img["h"]
    raw = bytearray()
    for y in range(h):
        raw.append(0)
        for x in range(w):
            r, g, b, a = img["px"][y * w + x]
            raw += bytes((byte(r), byte(g), byte(b), byte(a * 255)))

    def chunk(kind, payload):
        return (struct.pack(">I", len(payload)) + kind + payload +
                struct.pack(">I", zlib.crc32(kind + payload) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def ico_file(images):
    """`images`: (size, bits per pixel, image bytes); size 256 is stored as 0."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    body = b""
    for size, bits, data in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
        body += data
    return head + entries + body


def write(name, data):
    path = os.path.join(OUT_DIR, name)
    with open(path, "wb") as f:
        f.write(data)
    print("wrote", os.path.normpath(path), len(data), "bytes")


def main():
    global scale
    os.makedirs(OUT_DIR, exist_ok=True)
    for scale in SCALES:
        suffix = "" if scale == 100 else "-%d" % scale
        write("left%s.bmp" % suffix, bmp_file(rgb_rows(left_picture())))
        write("centre%s.bmp" % suffix, bmp_file(rgb_rows(centre_picture())))
        write("right%s.bmp" % suffix, bmp_file(right_picture()))
        for name, draw in (("erase", erase_icon), ("read", read_icon), ("write", write_icon),
                           ("update", update_icon)):
            face = draw()
            write("%s%s.ico" % (name, suffix), ico_file([(face["w"], 24, icon_bitmap_24(face))]))

    # The program icon draws each of its sizes itself.
    scale = 100
    program = [(n, 32, icon_bitmap_32(program_icon(n))) for n in (16, 32, 48, 64, 128)]
    program.append((256, 32, png_file(program_icon(256))))
    write("program.ico", ico_file(program))


if __name__ == "__main__":
    main()
