#!/usr/bin/env python3
"""Render Pellucor's application icon from its SVG into the PNG sizes that
desktops look up in the hicolor theme.

    src/window/desktop/pellucor.svg  ->  src/window/desktop/pellucor-<size>.png

Usage: make_icons.py [output-dir]     (default: beside the SVG)

Needs rsvg-convert (Debian package librsvg2-bin).  The PNGs are committed,
so building Pellucor needs no SVG renderer; run this after changing the SVG.
The window's own icon is the 256 pixel PNG, so it changes with them.
"""
import pathlib
import subprocess
import sys

SIZES = (48, 128, 256)


def main():
    desktop = pathlib.Path(__file__).resolve().parent.parent / "src" / "window" / "desktop"
    svg = desktop / "pellucor.svg"
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else desktop
    out.mkdir(parents=True, exist_ok=True)
    for size in SIZES:
        png = out / f"pellucor-{size}.png"
        # Rendered from the vector at each size, not scaled down from the
        # largest, so the small sizes stay sharp.
        subprocess.run(["rsvg-convert", "--width", str(size), "--height", str(size),
                        "--output", str(png), str(svg)], check=True)
        print(png)


if __name__ == "__main__":
    main()
