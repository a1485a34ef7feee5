#!/usr/bin/env python3
"""Draw the Quillmere application icon (icon group 1 of the executable).

The picture is a square with rounded, transparent corners filled with a
vertical gradient from #4A33D4 (top) to #872BE1 (bottom).  On it sits a white
memory module (a RAM stick seen from the front) with four violet chips and a
row of yellow (#FFD23C) contact pins below it, short white motion lines at its
left and a light lavender (#C8BEFF) arc ending in a dot above it.  The 16-pixel
image shows only the white module (with its chips) on the gradient.

Output, relative to the repository root (paths are resolved from this
script's location, so it can be run from anywhere):

    res/icons/quillmere-{16,24,32,48,64,128,256}.png
        non-interlaced PNG, RGBA, 8 bits per channel (colour type 6)
    res/icons/quillmere.ico
        icon file whose seven entries (ascending size) hold those PNGs verbatim

Run it with:

    python3 scripts/draw_icons.py

Only the Python standard library is used.  Shapes are described by signed
distance functions, rendered on a supersampled canvas and box-filtered down;
the small sizes use hand-placed geometry snapped to whole pixels so that their
edges stay sharp.  The output is deterministic (byte-identical on every run).
"""

import math
import os
import struct
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)

# Colours (sRGB, 0..255).
GRAD_TOP = (0x4A, 0x33, 0xD4)
GRAD_BOTTOM = (0x87, 0x2B, 0xE1)
WHITE = (0xFF, 0xFF, 0xFF)
CHIP = (0x5B, 0x36, 0xD6)
PINS = (0xFF, 0xD2, 0x3C)
LAVENDER = (0xC8, 0xBE, 0xFF)
SHADOW = (0x24, 0x0E, 0x6E)


# --------------------------------------------------------------------------
# Signed distance functions (pixel units; negative inside).
# --------------------------------------------------------------------------

def sd_rrect(px, py, x0, y0, x1, y1, r):
    cx = (x0 + x1) * 0.5
    cy = (y0 + y1) * 0.5
    qx = abs(px - cx) - ((x1 - x0) * 0.5 - r)
    qy = abs(py - cy) - ((y1 - y0) * 0.5 - r)
    ox = qx if qx > 0.0 else 0.0
    oy = qy if qy > 0.0 else 0.0
    inner = qx if qx > qy else qy
    if inner > 0.0:
        inner = 0.0
    return math.sqrt(ox * ox + oy * oy) + inner - r


def sd_segment(px, py, ax, ay, bx, by, half_width):
    dx = bx - ax
    dy = by - ay
    ll = dx * dx + dy * dy
    t = ((px - ax) * dx + (py - ay) * dy) / ll if ll > 0.0 else 0.0
    if t < 0.0:
        t = 0.0
    elif t > 1.0:
        t = 1.0
    ex = px - (ax + t * dx)
    ey = py - (ay + t * dy)
    return math.sqrt(ex * ex + ey * ey) - half_width


def arc_point(cx, cy, radius, angle_deg):
    a = math.radians(angle_deg)
    return cx + radius * math.cos(a), cy - radius * math.sin(a)


# --------------------------------------------------------------------------
# Shapes.  Each shape knows its bounding box, its distance function and its
# paint (straight RGBA in 0..1 at a point).
# --------------------------------------------------------------------------

def solid(rgb, alpha=1.0):
    c = (rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, alpha)
    return lambda px, py: c


def vertical_gradient(top_rgb, bottom_rgb, y_top, y_bottom):
    span = float(y_bottom - y_top)

    def paint(px, py):
        t = (py - y_top) / span
        if t < 0.0:
            t = 0.0
        elif t > 1.0:
            t = 1.0
        return tuple((top_rgb[i] + (bottom_rgb[i] - top_rgb[i]) * t) / 255.0
                     for i in range(3)) + (1.0,)
    return paint


class RRect:
    def __init__(self, x0, y0, x1, y1, r, paint, soft=0.0):
        self.args = (x0, y0, x1, y1, r)
        self.paint = paint
        self.soft = soft  # > 0: blurred edge of this width (pixels)
        pad = soft + 1.0
        self.bbox = (x0 - pad, y0 - pad, x1 + pad, y1 + pad)

    def sd(self, px, py):
        return sd_rrect(px, py, *self.args)


class Circle:
    def __init__(self, cx, cy, r, paint):
        self.c = (cx, cy, r)
        self.paint = paint
        self.soft = 0.0
        self.bbox = (cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1)

    def sd(self, px, py):
        cx, cy, r = self.c
        return math.hypot(px - cx, py - cy) - r


class Capsule:
    def __init__(self, ax, ay, bx, by, width, paint):
        self.c = (ax, ay, bx, by, width * 0.5)
        self.paint = paint
        self.soft = 0.0
        h = width * 0.5 + 1
        self.bbox = (min(ax, bx) - h, min(ay, by) - h,
                     max(ax, bx) + h, max(ay, by) + h)

    def sd(self, px, py):
        return sd_segment(px, py, *self.c)


class Arc:
    """Stroke along a circle from angle a0 to a1 (degrees, counter-clockwise
    positive, y up), a0 > a1, with round caps.  The opacity ramps linearly
    from alpha0 at a0 to 1 at a1."""

    def __init__(self, cx, cy, radius, a0, a1, width, rgb, alpha0=1.0):
        self.cx, self.cy, self.radius = cx, cy, radius
        self.a0, self.a1 = a0, a1
        self.hw = width * 0.5
        self.p0 = arc_point(cx, cy, radius, a0)
        self.p1 = arc_point(cx, cy, radius, a1)
        self.rgb = tuple(v / 255.0 for v in rgb)
        self.alpha0 = alpha0
        self.soft = 0.0
        # Bounding box: sample the arc.
        xs, ys = [], []
        for i in range(65):
            x, y = arc_point(cx, cy, radius, a0 + (a1 - a0) * i / 64.0)
            xs.append(x)
            ys.append(y)
        h = self.hw + 1
        self.bbox = (min(xs) - h, min(ys) - h, max(xs) + h, max(ys) + h)

    def _angle(self, px, py):
        return math.degrees(math.atan2(self.cy - py, px - self.cx))

    def sd(self, px, py):
        ang = self._angle(px, py)
        if self.a1 <= ang <= self.a0:
            return abs(math.hypot(px - self.cx, py - self.cy) - self.radius) - self.hw
        d0 = math.hypot(px - self.p0[0], py - self.p0[1])
        d1 = math.hypot(px - self.p1[0], py - self.p1[1])
        return min(d0, d1) - self.hw

    def paint(self, px, py):
        ang = self._angle(px, py)
        t = (self.a0 - ang) / (self.a0 - self.a1)
        if t < 0.0:
            t = 0.0
        elif t > 1.0:
            t = 1.0
        a = self.alpha0 + (1.0 - self.alpha0) * t
        return self.rgb + (a,)


# --------------------------------------------------------------------------
# Layouts.
# --------------------------------------------------------------------------

def module_shapes(L):
    """Turn a layout dictionary L into the list of shapes, back to front.
    All coordinates are in output pixels (pixel i covers [i, i+1)):

      bg      (x0, y0, x1, y1)        gradient tile, bg_r its corner radius
      module  (x0, y0, x1, y1, r)     white board
      chips   (y0, y1, r, [(x0, x1)]) violet chips
      pins    (y0, y1, r, [(x0, x1)]) yellow contact pins (optional)
      motion  [(x0, x1, yc, width, alpha)] white motion lines (optional)
      arc     (cx, cy, R, a0, a1, width, start_alpha, dot_r) (optional)
      shadow  (dy, blur, alpha)       soft shadow under the board (optional)
      notch   (x0, y0, x1, y1)        key notch cut into the board (optional)
    """
    shapes = []
    x0, y0, x1, y1 = L['bg']
    shapes.append(RRect(x0, y0, x1, y1, L['bg_r'],
                        vertical_gradient(GRAD_TOP, GRAD_BOTTOM, y0, y1)))
    mx0, my0, mx1, my1, mr = L['module']
    if L.get('shadow'):
        dy, blur, alpha = L['shadow']
        shapes.append(RRect(mx0, my0 + dy, mx1, my1 + dy, mr,
                            solid(SHADOW, alpha), soft=blur))
    for (lx0, lx1, ly, lw, la) in L.get('motion', ()):
        shapes.append(Capsule(lx0 + lw * 0.5, ly, lx1 - lw * 0.5, ly, lw,
                              solid(WHITE, la)))
    if L.get('arc'):
        cx, cy, rad, a0, a1, w, alpha0, dot_r = L['arc']
        shapes.append(Arc(cx, cy, rad, a0, a1, w, LAVENDER, alpha0))
        ex, ey = arc_point(cx, cy, rad, a1)
        shapes.append(Circle(ex, ey, dot_r, solid(LAVENDER)))
    if L.get('pins'):
        py0, py1, pr, xs = L['pins']
        for (px0, px1) in xs:
            # Pins start a little under the board so they join it cleanly.
            shapes.append(RRect(px0, py0 - pr - 0.01, px1, py1, pr,
                                solid(PINS)))
    shapes.append(RRect(mx0, my0, mx1, my1, mr, solid(WHITE)))
    if L.get('notch'):
        nx0, ny0, nx1, ny1 = L['notch']
        # Key notch in the board's bottom edge: repaint the gradient there.
        shapes.append(RRect(nx0, ny0, nx1, ny1, 0.0,
                            vertical_gradient(GRAD_TOP, GRAD_BOTTOM, y0, y1)))
    cy0, cy1, cr, xs = L['chips']
    for (cx0, cx1) in xs:
        shapes.append(RRect(cx0, cy0, cx1, cy1, cr, solid(CHIP)))
    return shapes


def design_layout(size):
    """Layout for the larger sizes, from a 256-unit design grid.  All
    rectangle edges of the design are multiples of 4 so that they land on
    whole pixels at 64 and 128 pixels."""
    s = size / 256.0
    L = {'size': size}
    L['bg'] = (8 * s, 8 * s, 248 * s, 248 * s)
    L['bg_r'] = 52 * s
    L['module'] = (80 * s, 116 * s, 224 * s, 172 * s, 8 * s)
    L['chips'] = (128 * s, 156 * s, 4 * s,
                  [((92 + 32 * i) * s, (116 + 32 * i) * s) for i in range(4)])
    pins = []
    for i in range(11):
        if i == 4:          # key notch
            continue
        x = 88 + 12 * i
        pins.append((x * s, (x + 8) * s))
    L['pins'] = (172 * s, 192 * s, 3 * s, pins)
    L['motion'] = [
        (44 * s, 68 * s, 128 * s, 8 * s, 1.0),
        (24 * s, 68 * s, 144 * s, 8 * s, 1.0),
        (48 * s, 68 * s, 160 * s, 8 * s, 1.0),
    ]
    L['arc'] = (150 * s, 140 * s, 72 * s, 150.0, 50.0, 9 * s, 0.35, 12 * s)
    if size >= 128:
        L['shadow'] = (6 * s, 12 * s, 0.22)
    return L


def small_layout(size):
    """Hand-placed, pixel-snapped layouts for the small sizes."""
    L = {'size': size}
    if size == 16:
        L['bg'] = (0, 0, 16, 16)
        L['bg_r'] = 3.5
        L['module'] = (1, 4, 15, 12, 1.0)
        L['chips'] = (5, 9, 0.0, [(2, 4), (5, 7), (9, 11), (12, 14)])
        L['notch'] = (9, 11, 11, 12)
    elif size == 24:
        L['bg'] = (0, 0, 24, 24)
        L['bg_r'] = 5
        L['module'] = (8, 11, 21, 17, 1.0)
        L['chips'] = (12, 15, 0.0, [(9 + 3 * i, 11 + 3 * i) for i in range(4)])
        L['pins'] = (17, 19, 0.0, [(x, x + 1) for x in (9, 11, 13, 17, 19)])
        L['motion'] = [(4, 7, 12.5, 1, 1.0), (2, 7, 14.5, 1, 1.0),
                       (4, 7, 16.5, 1, 1.0)]
        L['arc'] = (14.5, 11, 6, 150.0, 50.0, 1.1, 0.55, 1.6)
    elif size == 32:
        L['bg'] = (1, 1, 31, 31)
        L['bg_r'] = 6.5
        L['module'] = (11, 15, 28, 22, 1.0)
        L['chips'] = (16, 20, 0.0, [(12 + 4 * i, 15 + 4 * i) for i in range(4)])
        L['pins'] = (22, 24, 0.0, [(x, x + 1) for x in
                                   (12, 14, 16, 20, 22, 24, 26)])
        L['motion'] = [(6, 10, 16.5, 1, 1.0), (4, 10, 18.5, 1, 1.0),
                       (6, 10, 20.5, 1, 1.0)]
        L['arc'] = (19.5, 15, 7.5, 150.0, 50.0, 1.4, 0.5, 2.0)
    elif size == 48:
        L['bg'] = (1, 1, 47, 47)
        L['bg_r'] = 10
        L['module'] = (14, 21, 44, 33, 1.5)
        L['chips'] = (23, 30, 0.5, [(16 + 7 * i, 21 + 7 * i) for i in range(4)])
        L['pins'] = (33, 36, 0.0, [(16 + 3 * i, 18 + 3 * i) for i in range(9)
                                   if i != 3])
        L['motion'] = [(7, 12, 23, 2, 1.0), (4, 12, 27, 2, 1.0),
                       (8, 12, 31, 2, 1.0)]
        L['arc'] = (29, 23, 12, 150.0, 50.0, 2.2, 0.45, 2.8)
    return L


def layout(size):
    if size >= 64:
        return design_layout(size)
    return small_layout(size)


# --------------------------------------------------------------------------
# Rendering.
# --------------------------------------------------------------------------

SUPERSAMPLE = {16: 8, 24: 8, 32: 8, 48: 6, 64: 4, 128: 3, 256: 2}


def render(size):
    k = SUPERSAMPLE[size]
    n = size * k
    # Premultiplied RGBA, one flat list per channel.
    R = [0.0] * (n * n)
    G = [0.0] * (n * n)
    B = [0.0] * (n * n)
    A = [0.0] * (n * n)
    inv_k = 1.0 / k
    for shape in module_shapes(layout(size)):
        bx0, by0, bx1, by1 = shape.bbox
        u0 = max(0, int(math.floor(bx0 * k)))
        v0 = max(0, int(math.floor(by0 * k)))
        u1 = min(n, int(math.ceil(bx1 * k)) + 1)
        v1 = min(n, int(math.ceil(by1 * k)) + 1)
        soft = shape.soft
        for v in range(v0, v1):
            py = (v + 0.5) * inv_k
            row = v * n
            for u in range(u0, u1):
                px = (u + 0.5) * inv_k
                d = shape.sd(px, py)
                if soft > 0.0:
                    t = 0.5 - d / (2.0 * soft)
                    if t <= 0.0:
                        continue
                    cov = 1.0 if t >= 1.0 else t * t * (3.0 - 2.0 * t)
                else:
                    cov = 0.5 - d * k
                    if cov <= 0.0:
                        continue
                    if cov > 1.0:
                        cov = 1.0
                r, g, b, a = shape.paint(px, py)
                a *= cov
                if a <= 0.0:
                    continue
                i = row + u
                keep = 1.0 - a
                R[i] = r * a + R[i] * keep
                G[i] = g * a + G[i] * keep
                B[i] = b * a + B[i] * keep
                A[i] = a + A[i] * keep
    # Box-filter down to the output size and convert to 8-bit RGBA.
    out = bytearray(size * size * 4)
    kk = float(k * k)
    for y in range(size):
        for x in range(size):
            sr = sg = sb = sa = 0.0
            for v in range(y * k, y * k + k):
                base = v * n + x * k
                for i in range(base, base + k):
                    sr += R[i]
                    sg += G[i]
                    sb += B[i]
                    sa += A[i]
            sa /= kk
            o = (y * size + x) * 4
            if sa <= 0.0:
                continue
            alpha = int(math.floor(sa * 255.0 + 0.5))
            if alpha == 0:
                continue
            for j, c in enumerate((sr, sg, sb)):
                val = c / kk / sa
                out[o + j] = max(0, min(255, int(math.floor(val * 255.0 + 0.5))))
            out[o + 3] = min(255, alpha)
    return bytes(out)


# --------------------------------------------------------------------------
# PNG and ICO writers.
# --------------------------------------------------------------------------

def png_chunk(kind, data):
    return (struct.pack('>I', len(data)) + kind + data +
            struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_rows(pixels, width, height):
    """Choose a PNG filter per row (minimum sum of absolute differences)."""
    stride = width * 4
    raw = bytearray()
    prev = bytes(stride)
    for y in range(height):
        line = pixels[y * stride:(y + 1) * stride]
        best = None
        for ftype in range(5):
            f = bytearray(stride)
            for i in range(stride):
                a = line[i - 4] if i >= 4 else 0
                b = prev[i]
                c = prev[i - 4] if i >= 4 else 0
                if ftype == 0:
                    pred = 0
                elif ftype == 1:
                    pred = a
                elif ftype == 2:
                    pred = b
                elif ftype == 3:
                    pred = (a + b) >> 1
                else:
                    pred = paeth(a, b, c)
                f[i] = (line[i] - pred) & 0xFF
            score = sum(v if v < 128 else 256 - v for v in f)
            if best is None or score < best[0]:
                best = (score, ftype, f)
        raw.append(best[1])
        raw += best[2]
        prev = line
    return bytes(raw)


def encode_png(pixels, size):
    ihdr = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    idat = zlib.compress(filter_rows(pixels, size, size), 9)
    return (b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', ihdr) +
            png_chunk(b'IDAT', idat) + png_chunk(b'IEND', b''))


def encode_ico(images):
    """images: list of (size, png_bytes) in ascending size."""
    header = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b''
    data = b''
    for size, png in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32,
                               len(png), offset)
        offset += len(png)
        data += png
    return header + entries + data


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_dir = os.path.join(root, 'res', 'icons')
    os.makedirs(out_dir, exist_ok=True)
    images = []
    for size in SIZES:
        png = encode_png(render(size), size)
        path = os.path.join(out_dir, 'quillmere-%d.png' % size)
        with open(path, 'wb') as f:
            f.write(png)
        images.append((size, png))
        print('wrote %s (%d bytes)' % (os.path.relpath(path, root), len(png)))
    ico_path = os.path.join(out_dir, 'quillmere.ico')
    with open(ico_path, 'wb') as f:
        f.write(encode_ico(images))
    print('wrote %s' % os.path.relpath(ico_path, root))


if __name__ == '__main__':
    main()
