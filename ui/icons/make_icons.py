#!/usr/bin/env python3
"""Draws the panel's icon: a relay coil beside a switch contact, on a dark
tile. Writes the two 16-colour pixel versions (XPM, built into the program)
and the scalable version (SVG) from the same shapes, so the three agree.

    python3 make_icons.py          # rewrites relay-panel{.svg,-16.xpm,-32.xpm}
    convert relay-panel-16.xpm PNG8:relay-panel-16.png   (and -32)
"""

import math
import pathlib

HERE = pathlib.Path(__file__).resolve().parent

# Sixteen colours at most, the first one transparent.
PALETTE = {
    " ": None,
    "k": "#101820",  # outline
    "n": "#1F3A5F",  # tile
    "b": "#2E5C8A",  # tile highlight
    "c": "#D9822B",  # coil winding
    "d": "#8A4B14",  # coil shadow
    "g": "#A0A8B0",  # core, terminals
    "w": "#F2F4F6",  # contact blade
    "y": "#F5C518",  # linkage
    "e": "#3CC850",  # "on" lamp
}

# Shapes in a 32-unit square: (kind, colour, geometry), painted in order.
SHAPES = [
    ("rrect", "k", (1, 1, 30, 30, 5)),
    ("rrect", "n", (2, 2, 28, 28, 4)),
    ("rect", "b", (4, 3, 24, 2)),
    ("rect", "g", (6, 7, 2, 19)),       # coil core ends
    ("rect", "d", (8, 8, 8, 17)),
    ("coil", "c", (8, 8, 8, 17)),       # winding: stripes over the shadow
    ("rect", "g", (16, 7, 2, 19)),
    ("line", "y", (18, 16, 22, 16, 1.6)),  # linkage from coil to blade
    ("circle", "g", (24, 25, 2.5)),     # blade pivot
    ("circle", "g", (26, 7, 2.5)),      # fixed contact
    ("line", "w", (24, 25, 27, 9, 2.2)),  # blade, closed on the contact
    ("circle", "e", (27, 28.5, 1.6)),   # lamp
]


def inside(kind, geo, x, y):
    if kind in ("rect", "coil"):
        l, t, w, h = geo
        hit = l <= x < l + w and t <= y < t + h
        if kind == "coil":
            return hit and int(y - t) % 3 != 2
        return hit
    if kind == "rrect":
        l, t, w, h, r = geo
        if not (l <= x < l + w and t <= y < t + h):
            return False
        cx = min(max(x, l + r), l + w - r)
        cy = min(max(y, t + r), t + h - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    if kind == "circle":
        cx, cy, r = geo
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    if kind == "line":
        x1, y1, x2, y2, w = geo
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - (x1 + t * dx), y - (y1 + t * dy)) <= w / 2
    raise ValueError(kind)


def raster(size):
    scale = 32 / size
    rows = []
    for py in range(size):
        row = ""
        for px in range(size):
            x, y = (px + 0.5) * scale, (py + 0.5) * scale
            pixel = " "
            for kind, colour, geo in SHAPES:
                if inside(kind, geo, x, y):
                    pixel = colour
            row += pixel
        rows.append(row)
    return rows


# At 16 pixels the shapes fall between pixel centres; this hand-placed
# version keeps the outline closed and the blade one pixel wide.
SMALL = [
    "                ",
    " kkkkkkkkkkkkkk ",
    "kbbbbbbbbbbbbbbk",
    "knnnnnnnnnnnggnk",
    "kngccccgnnnnggnk",
    "kngddddgnnnnwnnk",
    "kngccccgnnnnwnnk",
    "kngddddgyyynwnnk",
    "kngccccgyyywnnnk",
    "kngddddgnnnwnnnk",
    "kngccccgnnnwnnnk",
    "kngddddgnngwnnnk",
    "knnnnnnnnnggnnnk",
    "knnnnnnnnnnnneek",
    " knnnnnnnnnnneek",
    "  kkkkkkkkkkkkk ",
]


def xpm(size):
    rows = SMALL if size == 16 else raster(size)
    assert len(rows) == size and all(len(r) == size for r in rows)
    used = [k for k in PALETTE if any(k in r for r in rows)]
    name = f"relay_panel_{size}"
    out = ["/* XPM */", f"static const char *{name}[] = {{", f'"{size} {size} {len(used)} 1",']
    for k in used:
        out.append(f'"{k} c {PALETTE[k] or "None"}",')
    out += [f'"{r}",' for r in rows]
    out[-1] = out[-1].rstrip(",")
    out.append("};")
    return "\n".join(out) + "\n"


def svg():
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">',
             "  <title>relay panel</title>"]
    for kind, colour, geo in SHAPES:
        fill = PALETTE[colour]
        if kind == "rect":
            l, t, w, h = geo
            parts.append(f'  <rect x="{l}" y="{t}" width="{w}" height="{h}" fill="{fill}"/>')
        elif kind == "coil":
            l, t, w, h = geo
            for y in range(t, t + h, 3):
                parts.append(f'  <rect x="{l}" y="{y}" width="{w}" height="{min(2, t + h - y)}" fill="{fill}"/>')
        elif kind == "rrect":
            l, t, w, h, r = geo
            parts.append(f'  <rect x="{l}" y="{t}" width="{w}" height="{h}" rx="{r}" fill="{fill}"/>')
        elif kind == "circle":
            cx, cy, r = geo
            parts.append(f'  <circle cx="{cx}" cy="{cy}" r="{r}" fill="{fill}"/>')
        elif kind == "line":
            x1, y1, x2, y2, w = geo
            parts.append(f'  <line x1="{x1}" y1="{y1}" x2="{x2}" y2="{y2}" stroke="{fill}" '
                         f'stroke-width="{w}" stroke-linecap="round"/>')
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


if __name__ == "__main__":
    assert len(PALETTE) <= 16
    (HERE / "relay-panel-32.xpm").write_text(xpm(32))
    (HERE / "relay-panel-16.xpm").write_text(xpm(16))
    (HERE / "relay-panel.svg").write_text(svg())
