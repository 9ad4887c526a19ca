#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Writes the default wallpaper templates, one composition per aspect ratio.

Every colour that follows the theme is a palette placeholder (#color900 .. #color50);
the generator in the library replaces them with shades of the primary colour.

    data/artwork/make-templates.py [OUTPUT_DIR]   (default: data/wallpapers)
"""
import math
import os
import sys

# ratio: (width, height, sun x, sun y, sun radius, wave phase, wave crests, band top)
# Positions are fractions of the picture; each ratio has its own balance.
LAYOUTS = {
    "21:9": (2520, 1080, 0.72, 0.30, 0.30, 0.15, 2.5, 0.52),
    "16:9": (1920, 1080, 0.68, 0.32, 0.30, 0.40, 2.0, 0.55),
    "16:10": (1728, 1080, 0.66, 0.31, 0.31, 0.55, 1.8, 0.56),
    "4:3": (1440, 1080, 0.64, 0.30, 0.32, 0.70, 1.5, 0.58),
    "9:21": (1080, 2520, 0.62, 0.20, 0.34, 0.25, 0.9, 0.62),
    "9:16": (1080, 1920, 0.64, 0.22, 0.36, 0.35, 1.0, 0.60),
    "10:16": (1080, 1728, 0.64, 0.23, 0.36, 0.45, 1.1, 0.60),
    "3:4": (1080, 1440, 0.65, 0.25, 0.36, 0.60, 1.2, 0.60),
}

# Bands from the back to the front: colour, offset below the band top (fraction of the
# height), amplitude (fraction of the height), phase shift, opacity.
BANDS = [
    ("#color700", 0.00, 0.060, 0.00, 0.85),
    ("#color600", 0.08, 0.050, 0.90, 0.90),
    ("#color500", 0.16, 0.045, 1.70, 0.92),
    ("#color400", 0.24, 0.040, 2.60, 0.95),
    ("#color300", 0.32, 0.035, 3.40, 1.00),
]


def wave(w, h, top, amp, phase, crests, steps=8):
    """A closed band: a smooth wave across the width, filled down to the bottom edge."""
    pts = []
    for i in range(steps + 1):
        x = w * i / steps
        y = h * (top + amp * math.sin(2 * math.pi * crests * i / steps + phase))
        pts.append((x, y))
    d = "M0 %d L%.0f %.0f" % (h, pts[0][0], pts[0][1])
    # Catmull-Rom through the points, written as cubic Béziers.
    for i in range(len(pts) - 1):
        p0 = pts[max(i - 1, 0)]
        p1, p2 = pts[i], pts[i + 1]
        p3 = pts[min(i + 2, len(pts) - 1)]
        c1 = (p1[0] + (p2[0] - p0[0]) / 6, p1[1] + (p2[1] - p0[1]) / 6)
        c2 = (p2[0] - (p3[0] - p1[0]) / 6, p2[1] - (p3[1] - p1[1]) / 6)
        d += " C%.0f %.0f %.0f %.0f %.0f %.0f" % (c1 + c2 + p2)
    d += " L%d %d Z" % (w, h)
    return d


def template(ratio):
    w, h, sx, sy, sr, phase, crests, top = LAYOUTS[ratio]
    short = min(w, h)
    out = []
    out.append('<?xml version="1.0" encoding="UTF-8"?>')
    out.append('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
               'viewBox="0 0 %d %d">' % (w, h, w, h))
    out.append("<!-- Default wallpaper, %s. Theme colours are palette placeholders. -->" % ratio)
    out.append("<defs>")
    out.append('<linearGradient id="sky" x1="0" y1="0" x2="0.35" y2="1">'
               '<stop offset="0" stop-color="#color900"/>'
               '<stop offset="0.6" stop-color="#color800"/>'
               '<stop offset="1" stop-color="#color700"/></linearGradient>')
    out.append('<radialGradient id="sun" cx="0.5" cy="0.5" r="0.5">'
               '<stop offset="0" stop-color="#color900" stop-opacity="0.95"/>'
               '<stop offset="0.7" stop-color="#color900" stop-opacity="0.55"/>'
               '<stop offset="1" stop-color="#color900" stop-opacity="0"/></radialGradient>')
    out.append('<linearGradient id="deep" x1="0" y1="0" x2="0" y2="1">'
               '<stop offset="0" stop-color="#color200"/>'
               '<stop offset="1" stop-color="#color50"/></linearGradient>')
    out.append("</defs>")
    out.append('<rect width="%d" height="%d" fill="url(#sky)"/>' % (w, h))
    r = sr * short
    out.append('<circle cx="%.0f" cy="%.0f" r="%.0f" fill="url(#sun)"/>' % (sx * w, sy * h, r))
    out.append('<circle cx="%.0f" cy="%.0f" r="%.0f" fill="none" stroke="#color600" '
               'stroke-opacity="0.35" stroke-width="%.0f"/>'
               % (sx * w, sy * h, r * 1.25, short * 0.004))
    out.append('<circle cx="%.0f" cy="%.0f" r="%.0f" fill="none" stroke="#color500" '
               'stroke-opacity="0.2" stroke-width="%.0f"/>'
               % (sx * w, sy * h, r * 1.55, short * 0.003))
    for colour, offset, amp, shift, opacity in BANDS:
        out.append('<path d="%s" fill="%s" fill-opacity="%.2f"/>'
                   % (wave(w, h, top + offset, amp, phase + shift, crests), colour, opacity))
    out.append('<path d="%s" fill="url(#deep)"/>'
               % wave(w, h, top + 0.40, 0.025, phase + 4.3, crests * 1.3))
    out.append('<path d="%s" fill="none" stroke="#color100" stroke-opacity="0.5" '
               'stroke-width="%.0f"/>'
               % (wave(w, h, top + 0.37, 0.03, phase + 4.0, crests * 1.3).split(" L%d" % w)[0]
                  .replace("M0 %d L" % h, "M"), short * 0.003))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "wallpapers")
    for ratio in LAYOUTS:
        folder = os.path.join(root, ratio)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "vok-default.svg.in"), "w", encoding="utf-8") as f:
            f.write(template(ratio))


if __name__ == "__main__":
    main()
