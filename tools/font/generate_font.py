#!/usr/bin/env python3
"""Packs the built-in font of the text overlay into src/text/font.c.

Reads the white glyph shapes drawn in tools/font/glyphs.txt, checks them
against the font's fixed metrics, adds the black edge around every shape and
writes the three tables the renderer builds its font texture from: the
character set, one metric word per character and the 2-bit pixel stream.

    python3 tools/font/generate_font.py            # rewrite src/text/font.c
    python3 tools/font/generate_font.py --check    # fail if font.c is stale
    python3 tools/font/generate_font.py --preview  # print glyphs with edges

Only the Python standard library is used.
"""

import argparse
import pathlib
import string
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
GLYPH_FILE = ROOT / "tools" / "font" / "glyphs.txt"
OUTPUT_FILE = ROOT / "src" / "text" / "font.c"

CELL_HEIGHT = 17

# The supported characters, in the order of every table.
CHARACTERS = (" " + string.ascii_lowercase + string.ascii_uppercase + string.digits
              + ".,!?-+/():;%&`*#=[]\"")

# Advance width, top margin and bottom margin (in pixel rows outside the
# glyph's pixel data) of every character. These are fixed: text laid out with
# the font depends on them.
METRIC_GROUPS = [
    (9, 2, 3, "bdfhkltABCDEFGHJKLOPRSTUVXYZ01235679?8"),
    (9, 4, 3, "acenorsuvxz"),
    (10, 2, 3, "MNW4&#"),
    (9, 4, 0, "gpq"),
    (10, 4, 3, "mw"),
    (7, 2, 3, "I!"),
    (7, 2, 1, "()"),
    (7, 2, 0, "[]"),
    (4, 0, 17, " "),
    (9, 1, 3, "i"),
    (8, 1, 0, "j"),
    (10, 4, 0, "y"),
    (9, 2, 1, "Q"),
    (6, 9, 3, "."),
    (6, 9, 1, ","),
    (9, 6, 7, "-"),
    (9, 4, 5, "+"),
    (9, 2, 2, "/"),
    (6, 4, 3, ":"),
    (6, 4, 1, ";"),
    (11, 1, 2, "%"),
    (7, 0, 11, "`"),
    (10, 4, 5, "*"),
    (9, 5, 6, "="),
    (9, 1, 11, "\""),
]

# The glyphs were first drawn side by side on one sheet, in set order; the
# metric words keep each glyph's column on that sheet. The sheet leaves seven
# blank columns in front of the double quote.
SHEET_GAPS = {"\"": 7}

# Metric words that pin the layout of the sheet and the bit fields.
TELLING_RECTS = {
    " ": 0x0000001100040000,
    "a": 0x0000000304090004,
    "\"": 0x0000000B010902D5,
}

# Size of the pixel table and of the stream the metrics imply.
DATA_WORDS = 387
STREAM_BITS = 16488

# Pixel codes of the stream: (bit 2k, bit 2k+1) = (0, 0) transparent,
# (0, 1) white, (1, 0) black.
TRANSPARENT, BLACK, WHITE = 0, 1, 2

# Offsets from a white pixel to the pixels it edges in black: one pixel to
# the left and above, two to the right and below. The two far corners that
# would stick out diagonally (right-above, left-below) are left open so the
# edge follows the shape instead of boxing it.
EDGE_OFFSETS = [(dx, dy) for dy in range(-1, 3) for dx in range(-1, 3)
                if (dx, dy) not in ((0, 0), (2, -1), (-1, 2))]


class FontError(Exception):
    pass


def metrics():
    """Returns {character: (width, top, bottom)} for the whole set."""
    table = {}
    for width, top, bottom, chars in METRIC_GROUPS:
        for c in chars:
            if c in table:
                raise FontError(f"metrics list {c!r} twice")
            table[c] = (width, top, bottom)
    if set(table) != set(CHARACTERS) or len(table) != len(CHARACTERS):
        raise FontError("metrics do not cover exactly the character set")
    return table


def read_glyphs(path):
    """Parses the glyph file into {character: list of 17 row strings}."""
    cells = {}
    lines = path.read_text(encoding="ascii").splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        if not line.strip() or line.startswith("//"):
            i += 1
            continue
        if not line.startswith("chars:"):
            raise FontError(f"{path.name}:{i + 1}: expected a 'chars:' line")
        names = line[len("chars:"):].split()
        chars = [" " if n == "space" else n for n in names]
        if any(len(c) != 1 for c in chars):
            raise FontError(f"{path.name}:{i + 1}: characters are single letters or 'space'")
        rows = lines[i + 1:i + 1 + CELL_HEIGHT]
        if len(rows) != CELL_HEIGHT:
            raise FontError(f"{path.name}:{i + 1}: band is not {CELL_HEIGHT} rows high")
        split = [row.split(" ") for row in rows]
        for r, parts in enumerate(split):
            if len(parts) != len(chars):
                raise FontError(f"{path.name}:{i + 2 + r}: {len(parts)} cells, expected {len(chars)}")
            if any(set(p) - set("#.") for p in parts):
                raise FontError(f"{path.name}:{i + 2 + r}: only '#' and '.' may draw a glyph")
        for k, c in enumerate(chars):
            if c in cells:
                raise FontError(f"{path.name}:{i + 1}: {c!r} drawn twice")
            cell = [split[r][k] for r in range(CELL_HEIGHT)]
            if len({len(r) for r in cell}) != 1:
                raise FontError(f"{path.name}:{i + 1}: rows of {c!r} differ in width")
            cells[c] = cell
        i += 1 + CELL_HEIGHT
    missing = [c for c in CHARACTERS if c not in cells]
    extra = [c for c in cells if c not in CHARACTERS]
    if missing or extra:
        raise FontError(f"glyph file lacks {missing!r} or has extra {extra!r}")
    return cells


def glyph_pixels(c, cell, width, top, bottom):
    """Returns the glyph's pixel rows (between its margins) as pixel codes."""
    if len(cell[0]) != width:
        raise FontError(f"{c!r} is drawn {len(cell[0])} wide, its advance is {width}")
    first, last = top + 1, CELL_HEIGHT - bottom - 3
    white = set()
    for y, row in enumerate(cell):
        for x, p in enumerate(row):
            if p != "#":
                continue
            if not (1 <= x <= width - 3 and first <= y <= last):
                raise FontError(f"{c!r}: white pixel at column {x}, row {y} leaves no room "
                                f"for its edge (columns 1..{width - 3}, rows {first}..{last})")
            white.add((x, y))
    rows = CELL_HEIGHT - top - bottom
    if rows > 0 and width > 0 and not white:
        raise FontError(f"{c!r} is drawable but has no white pixel")
    pixels = []
    for y in range(top, top + rows):
        row = []
        for x in range(width):
            if (x, y) in white:
                row.append(WHITE)
            elif any((x - dx, y - dy) in white for dx, dy in EDGE_OFFSETS):
                row.append(BLACK)
            else:
                row.append(TRANSPARENT)
        pixels.append(row)
    return pixels


def build(cells):
    """Returns (rect words, data words, per-glyph pixel rows)."""
    table = metrics()
    rects = []
    stream = []
    glyphs = {}
    sheet_x = 0
    for c in CHARACTERS:
        width, top, bottom = table[c]
        sheet_x += SHEET_GAPS.get(c, 0)
        rects.append(sheet_x | width << 16 | top << 24 | bottom << 32)
        sheet_x += width
        pixels = glyph_pixels(c, cells[c], width, top, bottom)
        glyphs[c] = pixels
        for row in pixels:
            stream.extend(row)
    for c, word in TELLING_RECTS.items():
        got = rects[CHARACTERS.index(c)]
        if got != word:
            raise FontError(f"metric word of {c!r} is {got:#018x}, expected {word:#018x}")
    if len(stream) * 2 != STREAM_BITS:
        raise FontError(f"pixel stream is {len(stream) * 2} bits, expected {STREAM_BITS}")
    data = [0] * DATA_WORDS
    for k, code in enumerate(stream):
        data[k // 32] |= code << (2 * (k % 32))
    return rects, data, glyphs


def c_char(c):
    return {"\"": "\\\"", "\\": "\\\\"}.get(c, c)


def render_source(rects, data):
    out = []
    out.append("// The built-in font of the text overlay: character set, metric words and")
    out.append("// packed pixels. Generated from tools/font/glyphs.txt; do not edit by hand.")
    out.append("// Regenerate with: python3 tools/font/generate_font.py")
    out.append("")
    out.append("#include \"overlay_internal.h\"")
    out.append("")
    out.append("const char _gltFontGlyphCharacters[] =")
    out.append("    \"" + "".join(c_char(c) for c in CHARACTERS) + "\";")
    out.append("")
    out.append("// Bits 0-15: x on the source sheet; 16-23: advance width; 24-31: top")
    out.append("// margin; 32-39: bottom margin.")
    out.append(f"const uint64_t _gltFontGlyphRects[{len(rects)}] = {{")
    for c, word in zip(CHARACTERS, rects):
        name = "space" if c == " " else c
        out.append(f"    UINT64_C(0x{word:016X}), // {name}")
    out.append("};")
    out.append("")
    out.append("// 2-bit pixels, 32 to a word from the low bits up: 0 transparent,")
    out.append("// 2 white, 1 black. Drawable glyphs in set order, rows top to bottom.")
    out.append(f"const uint64_t _gltFontGlyphData[{len(data)}] = {{")
    for i in range(0, len(data), 3):
        chunk = data[i:i + 3]
        out.append("    " + " ".join(f"UINT64_C(0x{w:016X})," for w in chunk))
    out.append("};")
    out.append("")
    return "\n".join(out)


def preview(glyphs):
    marks = {TRANSPARENT: ".", BLACK: "o", WHITE: "#"}
    table = metrics()
    for c in CHARACTERS:
        width, top, bottom = table[c]
        print(f"{'space' if c == ' ' else c}  (width {width}, top {top}, bottom {bottom})")
        for row in glyphs[c]:
            print("    " + "".join(marks[p] for p in row))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--check", action="store_true",
                       help="exit with status 1 when src/text/font.c does not match the glyph file")
    group.add_argument("--preview", action="store_true",
                       help="print every glyph with its edge ('#' white, 'o' black)")
    args = parser.parse_args()
    try:
        rects, data, glyphs = build(read_glyphs(GLYPH_FILE))
    except FontError as error:
        print(f"generate_font.py: {error}", file=sys.stderr)
        return 2
    source = render_source(rects, data)
    if args.preview:
        preview(glyphs)
        return 0
    if args.check:
        current = OUTPUT_FILE.read_text(encoding="ascii") if OUTPUT_FILE.exists() else ""
        if current != source:
            print(f"generate_font.py: {OUTPUT_FILE} is out of date; run "
                  "python3 tools/font/generate_font.py", file=sys.stderr)
            return 1
        return 0
    OUTPUT_FILE.write_text(source, encoding="ascii")
    return 0


if __name__ == "__main__":
    sys.exit(main())
