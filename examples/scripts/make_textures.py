#!/usr/bin/env python3
"""Draws the demo's two textures and its window icon (python3 only, no packages).

    python3 examples/scripts/make_textures.py

writes, under examples/demo/assets/:
  plates.png   256 x 256, tiles seamlessly. Not a picture but three maps the
               shader reads: red = paint (how bright the metal is),
               green = height (seams low, panels high, rivets highest),
               blue = light strips (what glows).
  letters.png  1024 x 256, four caption lines of 64 pixels each, top line
               first: red = the letters, green = a soft glow around them.
  icon.png     64 x 64 with alpha: a glowing hexagonal tunnel.
"""
import math
import os
import random
import struct
import zlib

ASSETS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "demo", "assets")

CAPTIONS = ["TOLVANE PRESENTS", "SPINDRIFT", "GREETINGS TO ALL SCENERS", "THANKS FOR WATCHING"]

def write_png(path, width, height, channels, pixel):
    """Writes an 8-bit RGB (3 channels) or RGBA (4) PNG; pixel(x, y) gives
    the channel values as floats from 0 to 1."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)  # filter type: none
        for x in range(width):
            raw += bytes(max(0, min(255, int(v * 255 + 0.5))) for v in pixel(x, y))
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    colour_type = {3: 2, 4: 6}[channels]
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
           + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)
    print("wrote", os.path.normpath(path))

def smooth(t):
    return t * t * (3 - 2 * t)

def clamp(v, lo=0.0, hi=1.0):
    return max(lo, min(hi, v))

def value_noise(size, cells, seed):
    """A size x size grid of smooth noise in 0..1 that wraps around at the
    edges, from a lattice of cells x cells random values."""
    rnd = random.Random(seed)
    lattice = [[rnd.random() for _ in range(cells)] for _ in range(cells)]
    grid = []
    for y in range(size):
        fy = y * cells / size
        y0, ty = int(fy), smooth(fy - int(fy))
        row = []
        for x in range(size):
            fx = x * cells / size
            x0, tx = int(fx), smooth(fx - int(fx))
            a = lattice[y0][x0]
            b = lattice[y0][(x0 + 1) % cells]
            c = lattice[(y0 + 1) % cells][x0]
            d = lattice[(y0 + 1) % cells][(x0 + 1) % cells]
            top = a + (b - a) * tx
            bottom = c + (d - c) * tx
            row.append(top + (bottom - top) * ty)
        grid.append(row)
    return grid

# ---------------------------------------------------------------- plates.png
def make_plates():
    size = 256
    panel = size // 2          # 2 x 2 panels in the tile
    seam = 3                   # half width of the groove between panels
    bevel = 12                 # width of the slope from groove to panel
    grime = [value_noise(size, n, seed) for n, seed in ((4, 1), (8, 2), (32, 3))]

    def pixel(x, y):
        # Distance to the nearest seam, along x and along y.
        px, py = x % panel, y % panel
        dx = min(px, panel - px)
        dy = min(py, panel - py)
        edge = min(dx, dy)
        height = 0.0 if edge < seam else 0.85 * smooth(clamp((edge - seam) / bevel))

        # Rivets near every panel corner.
        for cx in (20, panel - 20):
            for cy in (20, panel - 20):
                r = math.hypot(px - cx, py - cy)
                if r < 5:
                    height = max(height, 0.85 + 0.15 * math.sqrt(1 - (r / 5) ** 2))

        noise = 0.5 * grime[0][y][x] + 0.3 * grime[1][y][x] + 0.2 * grime[2][y][x]
        # Every other panel is painted a shade darker, like replaced plates.
        odd = ((x // panel) + (y // panel)) % 2
        paint = (0.55 if odd else 0.7) * (0.55 + 0.6 * noise)
        if edge < seam:
            paint = 0.12
        if height > 0.85:
            paint = 0.9

        # Light: a ring strip in the groove across the tile (y = 0), and a
        # short lamp in the middle of the first panel.
        light = 0.0
        if dy < seam and y < 8 or y > size - 8:
            light = 1.0
        if abs(px - panel // 2) < 22 and abs(py - panel // 2) < 3 and x < panel and y < panel:
            light = 0.8
        return paint, height, light

    write_png(os.path.join(ASSETS, "plates.png"), size, size, 3, pixel)

# --------------------------------------------------------------- letters.png
FONT = {  # 5 x 7 pixels, rows top to bottom
    "A": ".###. #...# #...# ##### #...# #...# #...#", "B": "####. #...# #...# ####. #...# #...# ####.",
    "C": ".###. #...# #.... #.... #.... #...# .###.", "D": "####. #...# #...# #...# #...# #...# ####.",
    "E": "##### #.... #.... ####. #.... #.... #####", "F": "##### #.... #.... ####. #.... #.... #....",
    "G": ".###. #...# #.... #.### #...# #...# .####", "H": "#...# #...# #...# ##### #...# #...# #...#",
    "I": ".###. ..#.. ..#.. ..#.. ..#.. ..#.. .###.", "J": "..### ...#. ...#. ...#. ...#. #..#. .##..",
    "K": "#...# #..#. #.#.. ##... #.#.. #..#. #...#", "L": "#.... #.... #.... #.... #.... #.... #####",
    "M": "#...# ##.## #.#.# #.#.# #...# #...# #...#", "N": "#...# #...# ##..# #.#.# #..## #...# #...#",
    "O": ".###. #...# #...# #...# #...# #...# .###.", "P": "####. #...# #...# ####. #.... #.... #....",
    "Q": ".###. #...# #...# #...# #.#.# #..#. .##.#", "R": "####. #...# #...# ####. #.#.. #..#. #...#",
    "S": ".#### #.... #.... .###. ....# ....# ####.", "T": "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",
    "U": "#...# #...# #...# #...# #...# #...# .###.", "V": "#...# #...# #...# #...# #...# .#.#. ..#..",
    "W": "#...# #...# #...# #.#.# #.#.# #.#.# .#.#.", "X": "#...# #...# .#.#. ..#.. .#.#. #...# #...#",
    "Y": "#...# #...# .#.#. ..#.. ..#.. ..#.. ..#..", "Z": "##### ....# ...#. ..#.. .#... #.... #####",
    ".": "..... ..... ..... ..... ..... .##.. .##..", "-": "..... ..... ..... .###. ..... ..... .....",
    " ": "..... ..... ..... ..... ..... ..... .....",
}

def box_blur(grid, width, height, radius, passes=3):
    """Blurs a grid of rows in place-free passes (close to a Gaussian)."""
    for _ in range(passes):
        for horizontal in (True, False):
            out = [[0.0] * width for _ in range(height)]
            span = 2 * radius + 1
            if horizontal:
                for y in range(height):
                    row, acc = grid[y], 0.0
                    for x in range(-radius, width + radius):
                        if 0 <= x + radius < width:
                            acc += row[x + radius]
                        if 0 <= x - radius - 1 < width:
                            acc -= row[x - radius - 1]
                        if 0 <= x < width:
                            out[y][x] = acc / span
            else:
                for x in range(width):
                    acc = 0.0
                    for y in range(-radius, height + radius):
                        if 0 <= y + radius < height:
                            acc += grid[y + radius][x]
                        if 0 <= y - radius - 1 < height:
                            acc -= grid[y - radius - 1][x]
                        if 0 <= y < height:
                            out[y][x] = acc / span
            grid = out
    return grid

def make_letters():
    width, height, line = 1024, 256, 64
    cell = 6                              # one font pixel is 6 x 6 texels
    advance = 6 * cell                    # 5 pixels and a gap
    ink = [[0.0] * width for _ in range(height)]
    for index, text in enumerate(CAPTIONS):
        left = (width - len(text) * advance + cell) // 2
        top = index * line + (line - 7 * cell) // 2
        for i, char in enumerate(text):
            rows = FONT[char].split()
            for gy, bits in enumerate(rows):
                for gx, bit in enumerate(bits):
                    if bit != "#":
                        continue
                    # Each font pixel is a square with softly rounded
                    # corners, a texel smaller than its cell.
                    for sy in range(cell):
                        for sx in range(cell):
                            cx, cy = sx - (cell - 1) / 2, sy - (cell - 1) / 2
                            corner = math.hypot(max(abs(cx) - 1.5, 0), max(abs(cy) - 1.5, 0))
                            v = clamp(1.6 - corner)
                            x = left + i * advance + gx * cell + sx
                            y = top + gy * cell + sy
                            ink[y][x] = max(ink[y][x], v)
    glow = box_blur(ink, width, height, 5)
    peak = max(max(row) for row in glow)
    write_png(os.path.join(ASSETS, "letters.png"), width, height, 3,
              lambda x, y: (ink[y][x], min(1.0, glow[y][x] / peak * 1.2), 0.0))

# ------------------------------------------------------------------ icon.png
def make_icon():
    size = 64
    def pixel(x, y):
        # Centred coordinates from -1 to 1.
        u, v = (x + 0.5) / size * 2 - 1, (y + 0.5) / size * 2 - 1
        # Rounded square outline of the icon; transparent outside.
        corner = math.hypot(max(abs(u) - 0.7, 0), max(abs(v) - 0.7, 0))
        alpha = clamp((0.28 - corner) * 40)
        # Hexagonal distance: rings of a tunnel seen from inside.
        a = math.atan2(v, u)
        sector = math.pi / 3
        hexr = math.hypot(u, v) * math.cos((a % sector) - sector / 2)
        rings = 0.0
        for k, r in enumerate((0.18, 0.34, 0.52, 0.74)):
            rings += math.exp(-((hexr - r) / (0.025 + 0.01 * k)) ** 2) * (1 - 0.15 * k)
        core = math.exp(-hexr * hexr * 30)
        cold = (0.15, 0.75, 1.0)
        hot = (1.0, 0.35, 0.7)
        mixf = clamp(hexr * 1.4)
        colour = [cold[i] * (1 - mixf) + hot[i] * mixf for i in range(3)]
        base = (0.04, 0.03, 0.08)
        rgb = [base[i] + colour[i] * rings + core for i in range(3)]
        return rgb[0], rgb[1], rgb[2], alpha
    write_png(os.path.join(ASSETS, "icon.png"), size, size, 4, pixel)

if __name__ == "__main__":
    os.makedirs(ASSETS, exist_ok=True)
    make_plates()
    make_letters()
    make_icon()
