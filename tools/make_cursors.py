#!/usr/bin/env python3
"""Draw Pellucor's pointer images from ASCII art and write them as
Windows .cur / .ico files (standard library only).

    HAND-M.CUR  32x32 pointing hand, hotspot on the tip of the index finger
    drag.ico    32x32 arrow dragging a list entry, with an up/down arrow

Usage: make_cursors.py [output-dir]        (default: ../assets)

Each image is stored as a 32-bit BGRA DIB followed by a 1-bit AND mask,
the layout every ICO/CUR reader understands.  In a .cur the two words that
an .ico uses for colour planes and bit count hold the hotspot instead.
"""
import pathlib
import struct
import sys
import zlib

SIZE = 32

# colour of each art character, as (r, g, b, a); '.' is transparent
PALETTE = {
    ".": (0, 0, 0, 0),
    "K": (16, 20, 28, 255),       # outline
    "W": (255, 255, 255, 255),    # fill
    "g": (205, 212, 224, 255),    # light shade
    "s": (150, 160, 178, 255),    # darker shade / creases
    "b": (120, 150, 200, 255),    # text lines on the card
    "B": (30, 100, 210, 255),     # blue arrow
    "H": (255, 255, 255, 255),    # white halo drawn around the blue arrow
}

# Pointing hand.  The top pixel of the index finger is the hotspot; it is
# marked '*' here so the hotspot always follows the drawing.
HAND = """
.......K*K............
......KWWgK...........
......KWWgK...........
......KWWgK...........
......KWWgK...........
......KWWgK...........
......KWWgKKKK........
......KWWgKWWgKKKK....
......KWWgKWWgKWWgK...
......KWWgKWWgKWWgKKK.
......KWWgKWWgKWWgKWgK
..KKK.KWWgsWWgsWWgsWgK
.KWWgKKWWWWWWWWWWWWWgK
.KWWWgKWWWWWWWWWWWWWgK
.KWWWWsWWWWWWWWWWWWWgK
..KWWWWWWWWWWWWWWWWWgK
..KWWWWWWWWWWWWWWWWWgK
...KWWWWWWWWWWWWWWWWgK
...KWWWWWWWWWWWWWWWWgK
....KWWWWWWWWWWWWWWggK
.....KWWWWWWWWWWWWWgK.
......KWWWWWWWWWWWWgK.
.......KggggggggggggK.
.......KKKKKKKKKKKKKK.
"""

# Arrow pointer, tip at the top-left pixel.
ARROW = """
K..........
KK.........
KWK........
KWWK.......
KWWWK......
KWWWWK.....
KWWWWWK....
KWWWWWWK...
KWWWWWWWK..
KWWWWWWWWK.
KWWWWWKKKKK
KWWKWWK....
KWK.KWWK...
KK..KWWK...
K....KWWK..
.....KWWK..
......KK...
"""

# A list entry / document card with a folded corner.
CARD = """
KKKKKKKKK....
KWWWWWWWKK...
KWWWWWWWKgK..
KWbbbbbWKggK.
KWWWWWWWKKKKK
KWWWWWWWWWWWK
KWbbbbbbbbbWK
KWWWWWWWWWWWK
KWbbbbbbbWWWK
KWWWWWWWWWWWK
KWbbbbbbbbbWK
KWWWWWWWWWWWK
KWbbbbbbWWWWK
KWWWWWWWWWWWK
KKKKKKKKKKKKK
"""

# Up/down arrow meaning "move this entry".
UPDOWN = """
..BB..
.BBBB.
BBBBBB
..BB..
..BB..
..BB..
..BB..
..BB..
..BB..
..BB..
..BB..
BBBBBB
.BBBB.
..BB..
"""


def parse(art):
    rows = [r for r in art.strip("\n").split("\n")]
    width = max(len(r) for r in rows)
    return [r.ljust(width, ".") for r in rows]


def blank():
    return [["."] * SIZE for _ in range(SIZE)]


def stamp(canvas, art, x0, y0):
    """Copy the non-transparent characters of art onto canvas at (x0, y0);
    returns the canvas position of a '*' marker if the art has one."""
    mark = None
    for y, row in enumerate(parse(art)):
        for x, ch in enumerate(row):
            if ch == ".":
                continue
            if not (0 <= x0 + x < SIZE and 0 <= y0 + y < SIZE):
                raise ValueError("art does not fit the %dx%d canvas" % (SIZE, SIZE))
            if ch == "*":
                mark = (x0 + x, y0 + y)
                ch = "K"
            canvas[y0 + y][x0 + x] = ch
    return mark


def halo(canvas, around, ch="H"):
    """Put ch on every transparent cell next (8-way) to a cell in `around`,
    so a coloured shape without its own outline stays visible on any
    background."""
    todo = []
    for y in range(SIZE):
        for x in range(SIZE):
            if canvas[y][x] != ".":
                continue
            if any(0 <= x + dx < SIZE and 0 <= y + dy < SIZE and canvas[y + dy][x + dx] in around
                   for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                todo.append((x, y))
    for x, y in todo:
        canvas[y][x] = ch


def to_rgba(canvas, shadow=True):
    """Rows of (r, g, b, a); optionally a soft shadow one pixel down-right."""
    px = [[PALETTE[ch] for ch in row] for row in canvas]
    if shadow:
        for y in range(SIZE - 1, 0, -1):
            for x in range(SIZE - 1, 0, -1):
                if px[y][x][3] == 0 and canvas[y - 1][x - 1] != ".":
                    px[y][x] = (0, 0, 0, 70)
    return px


# ---------------------------------------------------------------- writers

def dib(px):
    """BITMAPINFOHEADER + bottom-up BGRA pixels + bottom-up AND mask."""
    h, w = len(px), len(px[0])
    stride = ((w + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:                       # 1 = screen shows through
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def icon_file(images, kind=1, hotspots=None):
    """ICO (kind 1) or CUR (kind 2) container holding DIB images.
    images: list of pixel grids; hotspots: list of (x, y) for a cursor."""
    blobs = [dib(px) for px in images]
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    for i, (px, blob) in enumerate(zip(images, blobs)):
        h, w = len(px), len(px[0])
        if kind == 2:
            f1, f2 = hotspots[i]
        else:
            f1, f2 = 1, 32                   # planes, bits per pixel
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, f1, f2, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def png_file(px):
    """RGBA PNG of a pixel grid."""
    h, w = len(px), len(px[0])
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in px)

    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data +
                struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# ---------------------------------------------------------------- images

def hand():
    c = blank()
    hot = stamp(c, HAND, 4, 1)
    return to_rgba(c), hot


def drag():
    c = blank()
    stamp(c, ARROW, 0, 0)
    stamp(c, CARD, 9, 13)
    stamp(c, UPDOWN, 24, 13)
    halo(c, "B")
    return to_rgba(c)


def main():
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else \
        pathlib.Path(__file__).resolve().parent.parent / "assets"
    out.mkdir(parents=True, exist_ok=True)
    px, hot = hand()
    (out / "HAND-M.CUR").write_bytes(icon_file([px], kind=2, hotspots=[hot]))
    (out / "drag.ico").write_bytes(icon_file([drag()], kind=1))
    print("HAND-M.CUR hotspot", hot)
    print("drag.ico   (intended hotspot (0, 0), the arrow tip)")


if __name__ == "__main__":
    main()
