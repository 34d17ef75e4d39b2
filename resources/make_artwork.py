#!/usr/bin/python3
"""Draw Tarnwick's artwork and write its theme file.

Needs Debian's python3-pil and fonts-dejavu-core:

    /usr/bin/python3 resources/make_artwork.py

Every output is rewritten in this directory, byte-for-byte the same on every
run: PNGs carry no time or text chunks, and the ICO container is written here
rather than by Pillow, whose ICO writer stores every size as PNG while the
shell wants classic 32bpp DIB entries below 256 px.

Small images are drawn for the pixel grid: tray lettering at 16-24 px and the
app initials at 24-32 px are hand-placed bitmaps, and larger lettering keeps
its vertical stems on whole pixels, so nothing is a blurred downscale.
"""

from __future__ import annotations

import io
import struct
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

HERE = Path(__file__).resolve().parent
sys.dont_write_bytecode = True  # no __pycache__ beside the artwork
sys.path.insert(0, str(HERE))
import tray_contrast  # noqa: E402
from tray_contrast import rgb  # noqa: E402

FONT_DIR = Path("/usr/share/fonts/truetype/dejavu")
FONT_BOLD = FONT_DIR / "DejaVuSans-Bold.ttf"
FONT_REGULAR = FONT_DIR / "DejaVuSans.ttf"

SS = 16  # supersampling factor for anti-aliased edges

CYAN = "#00B7EE"
LIME = "#DEFF00"
YELLOW = "#FFF000"
AZURE = "#008AFF"
WHITE = "#FFFFFF"
SLATE = "#1F2630"

Draw = ImageDraw.ImageDraw


# ---------------------------------------------------------------------------
# Compositing.  Each layer is a flat colour plus a coverage mask, so
# anti-aliased edges never pick up colour from transparent pixels.


def blank(size: int) -> Image.Image:
    return Image.new("RGBA", (size, size), (0, 0, 0, 0))


def paint(canvas: Image.Image, colour: str, mask: Image.Image) -> Image.Image:
    layer = Image.new("RGBA", canvas.size, rgb(colour) + (0,))
    layer.putalpha(mask)
    return Image.alpha_composite(canvas, layer)


def supersampled(size: int, draw) -> Image.Image:
    """Coverage mask: `draw(d, k)` paints at k× scale, then box-filter down."""
    big = Image.new("L", (size * SS, size * SS), 0)
    draw(ImageDraw.Draw(big), SS)
    return big.reduce(SS)


# Shape primitives in target-pixel units.  Pixel i covers [i, i+1), so a shape
# spanning [a, b) lights high-res pixels a*k .. b*k-1.

def box(k: int, x0: float, y0: float, x1: float, y1: float):
    return (round(x0 * k), round(y0 * k), round(x1 * k) - 1, round(y1 * k) - 1)


def disc(d: Draw, k: int, cx: float, cy: float, r: float, fill=255) -> None:
    d.ellipse(box(k, cx - r, cy - r, cx + r, cy + r), fill=fill)


def rect(d: Draw, k: int, x0, y0, x1, y1, fill=255) -> None:
    d.rectangle(box(k, x0, y0, x1, y1), fill=fill)


def oval(d: Draw, k: int, x0, y0, x1, y1, fill=255) -> None:
    d.ellipse(box(k, x0, y0, x1, y1), fill=fill)


def poly(d: Draw, k: int, pts, fill=255) -> None:
    d.polygon([(x * k, y * k) for x, y in pts], fill=fill)


def bar(d: Draw, k: int, a, b, width: float) -> None:
    (ax, ay), (bx, by) = a, b
    length = ((bx - ax) ** 2 + (by - ay) ** 2) ** 0.5
    nx = -(by - ay) / length * width / 2
    ny = (bx - ax) / length * width / 2
    poly(d, k, [(ax + nx, ay + ny), (bx + nx, by + ny),
                (bx - nx, by - ny), (ax - nx, ay - ny)])


# ---------------------------------------------------------------------------
# Hand-placed bitmaps: '#' lit, '+' half lit (a deliberate grey step), '.' off.

LEVELS = {"#": 255, "+": 128, ".": 0}


def join_glyphs(glyphs: list[list[str]], gap: int) -> list[str]:
    height = len(glyphs[0])
    for g in glyphs:
        assert len(g) == height and len({len(r) for r in g}) == 1, g
    return [("." * gap).join(g[y] for g in glyphs) for y in range(height)]


def bitmap_mask(size: int, rows: list[str], cx: float, cy: float) -> Image.Image:
    """Place `rows` centred on (cx, cy), snapped to whole pixels."""
    w, h = len(rows[0]), len(rows)
    x0, y0 = round(cx - w / 2), round(cy - h / 2)
    m = Image.new("L", (size, size), 0)
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if LEVELS[ch]:
                m.putpixel((x0 + x, y0 + y), LEVELS[ch])
    return m


def text_mask(size: int, lines: list[str], font_px: float, cx: float,
              cy: float, line_gap: float = 0.22) -> Image.Image:
    """Centre the ink of `lines` on (cx, cy).

    Large text is supersampled for smooth curves.  Small text is rendered at
    its real size so FreeType's hinting puts baselines, x-height and bars on
    whole pixels, which a downscale would blur.
    """
    k = SS if size >= 96 else 1
    font = ImageFont.truetype(str(FONT_BOLD), round(font_px * k))
    cap = font.getbbox("H", anchor="ls")
    pitch = round((cap[3] - cap[1]) * (1 + line_gap))
    boxes = [font.getbbox(line, anchor="ls") for line in lines]
    top = min(b[1] + i * pitch for i, b in enumerate(boxes))
    bottom = max(b[3] + i * pitch for i, b in enumerate(boxes))
    big = Image.new("L", (size * k, size * k), 0)
    d = ImageDraw.Draw(big)
    oy = round(cy * k - (top + bottom) / 2)
    for i, (line, b) in enumerate(zip(lines, boxes)):
        ox = round(cx * k - (b[0] + b[2]) / 2)
        d.text((ox, oy + i * pitch), line, font=font, fill=255, anchor="ls")
    return big.reduce(k) if k > 1 else big


# ---------------------------------------------------------------------------
# Tray icons: a full-bleed disc with "VPN" across it.

TRAY_GLYPHS: dict[int, dict[str, list[str]]] = {
    # Even heights and widths so the word sits exactly on the disc's centre.
    16: {
        "V": ["#.#",
              "#.#",
              "#.#",
              "#.#",
              "+#+",
              ".#."],
        "P": ["##.",
              "#.#",
              "#.#",
              "##.",
              "#..",
              "#.."],
        "N": ["#..#",
              "##.#",
              "##.#",
              "#.##",
              "#.##",
              "#..#"],
    },
    20: {
        "V": ["#...#",
              "#...#",
              "#...#",
              ".#.#.",
              ".#.#.",
              ".#.#.",
              "..#..",
              "..#.."],
        "P": ["###.",
              "#..#",
              "#..#",
              "#..#",
              "###.",
              "#...",
              "#...",
              "#..."],
        "N": ["#...#",
              "##..#",
              "##..#",
              "#.#.#",
              "#.#.#",
              "#..##",
              "#..##",
              "#...#"],
    },
    24: {
        "V": ["##...##",
              "##...##",
              "##...##",
              ".##.##.",
              ".##.##.",
              ".##.##.",
              "..###..",
              "...#..."],
        "P": ["####.",
              "##.##",
              "##.##",
              "##.##",
              "####.",
              "##...",
              "##...",
              "##..."],
        "N": ["##..##",
              "###.##",
              "###.##",
              "######",
              "######",
              "##.###",
              "##.###",
              "##..##"],
    },
}

# Above 24 px the letters are outlines with stems on whole pixels:
# cap height, stem, diagonal stroke (horizontal), letter widths, letter gap.
TRAY_OUTLINE = {
    32: dict(h=12, stem=2, diag=2.3, v=8, p=6, n=8, gap=2),
    40: dict(h=14, stem=3, diag=3.3, v=10, p=8, n=10, gap=2),
    48: dict(h=16, stem=3, diag=3.4, v=12, p=10, n=12, gap=2),
}

# Disc, letters, and the rim: a dark shade of the disc's hue that keeps the
# disc apart from a light taskbar, where neither disc colour stands out.
TRAY_STATES = {
    "disconnected": (CYAN, LIME, "#00506A"),
    "connected": (YELLOW, AZURE, "#5C5300"),
}
TRAY_SIZES = (16, 20, 24, 32, 40, 48)


def outline_vpn(size: int, h: int, stem: int, diag: float, v: int, p: int,
                n: int, gap: int) -> Image.Image:
    x = (size - (v + p + n + 2 * gap)) // 2
    y0 = (size - h) // 2
    y1 = y0 + h

    def draw(d: Draw, k: int) -> None:
        # V: two arms meeting in a flat foot one diagonal stroke wide.
        xm = x + v / 2
        foot = [(xm + diag / 2, y1), (xm - diag / 2, y1)]
        poly(d, k, [(x, y0), (x + diag, y0)] + foot)
        poly(d, k, [(x + v - diag, y0), (x + v, y0)] + foot)
        # P: stem plus a bowl with a semicircular right side.
        px = x + v + gap
        bh = round(0.6 * h)
        rx = min(bh / 2, p - stem)
        rect(d, k, px, y0, px + p - rx, y0 + bh)
        oval(d, k, px + p - 2 * rx, y0, px + p, y0 + bh)
        rect(d, k, px + stem, y0 + stem, px + p - rx, y0 + bh - stem, fill=0)
        oval(d, k, px + p - 2 * rx + stem, y0 + stem, px + p - stem,
             y0 + bh - stem, fill=0)
        rect(d, k, px, y0, px + stem, y1)
        # N: two stems and a diagonal from top left to bottom right.
        nx = px + p + gap
        rect(d, k, nx, y0, nx + stem, y1)
        rect(d, k, nx + n - stem, y0, nx + n, y1)
        poly(d, k, [(nx, y0), (nx + diag, y0), (nx + n, y1),
                    (nx + n - diag, y1)])

    return supersampled(size, draw)


def tray_rim(size: int) -> float:
    # A pixel and a quarter at 16 px: a single pixel, shared with the
    # anti-aliased edge, leaves gaps of light in the outline.
    return max(1.25, size / 16)


def tray_image(size: int, disc_colour: str, text_colour: str,
               rim_colour: str) -> Image.Image:
    c = size / 2
    img = paint(blank(size), rim_colour,
                supersampled(size, lambda d, k: disc(d, k, c, c, c)))
    img = paint(img, disc_colour, supersampled(
        size, lambda d, k: disc(d, k, c, c, c - tray_rim(size))))
    if size in TRAY_GLYPHS:
        g = TRAY_GLYPHS[size]
        letters = bitmap_mask(size, join_glyphs([g["V"], g["P"], g["N"]], 1),
                              c, c)
    else:
        letters = outline_vpn(size, **TRAY_OUTLINE[size])
    return paint(img, text_colour, letters)


# ---------------------------------------------------------------------------
# Application icon and logo: a white-rimmed disc with a small disc hanging off
# its lower left on a short bar, the product name across the big disc.

APP_SIZES = (256, 64, 48, 32, 24)

APP_INITIALS = {
    # Below 48 px the name cannot be read; the initials still can.
    24: ["####.#...#",
         ".##..#...#",
         ".##..#.#.#",
         ".##..#.#.#",
         ".##..##.##",
         ".##..#...#"],
    32: ["######.##...##",
         "..##...##...##",
         "..##...##...##",
         "..##...##.#.##",
         "..##...##.#.##",
         "..##...#######",
         "..##...###.###",
         "..##...##...##"],
}


def app_image(size: int) -> Image.Image:
    s = size
    rim = max(1.0, 0.035 * s)
    bx, by, br = 0.585 * s, 0.415 * s, 0.38 * s
    # The handle must keep some colour inside its rim at the smallest sizes.
    sr = max(0.13 * s, rim + 2.5)
    sx, sy = sr + 0.035 * s, s - sr - 0.035 * s
    bar_w = max(0.12 * s, 2 * rim + 2)

    def shape(grow: float):
        def draw(d: Draw, k: int) -> None:
            disc(d, k, bx, by, br + grow)
            disc(d, k, sx, sy, sr + grow)
            bar(d, k, (sx, sy), (bx, by), bar_w + 2 * grow)
        return draw

    img = paint(blank(s), WHITE, supersampled(s, shape(0.0)))
    img = paint(img, CYAN, supersampled(s, shape(-rim)))
    if s in APP_INITIALS:
        letters = bitmap_mask(s, APP_INITIALS[s], bx, by)
    else:
        letters = text_mask(s, ["Tarn", "Wick"], br * 0.50, bx, by)
    return paint(img, LIME, letters)


# ---------------------------------------------------------------------------
# "Built with C++" badge.

CAPTION_FONT = {
    "B": ["##.", "#.#", "##.", "#.#", "##."],
    "U": ["#.#", "#.#", "#.#", "#.#", "###"],
    "I": ["###", ".#.", ".#.", ".#.", "###"],
    "L": ["#..", "#..", "#..", "#..", "###"],
    "T": ["###", ".#.", ".#.", ".#.", ".#."],
    "W": ["#...#", "#...#", "#.#.#", "#.#.#", ".#.#."],
    "H": ["#.#", "#.#", "###", "#.#", "#.#"],
    " ": [".", ".", ".", ".", "."],
}


def badge_image(size: int = 48) -> Image.Image:
    border, radius = 2, 11

    def rounded(inset: int):
        def draw(d: Draw, k: int) -> None:
            d.rounded_rectangle(box(k, inset, inset, size - inset, size - inset),
                                radius=(radius - inset) * k, fill=255)
        return draw

    img = paint(blank(size), CYAN, supersampled(size, rounded(0)))
    img = paint(img, SLATE, supersampled(size, rounded(border)))

    caption = join_glyphs([CAPTION_FONT[c] for c in "BUILT WITH"], 1)
    ch, cap_gap, h = len(caption), 5, 18
    top = (size - (ch + cap_gap + h)) // 2
    img = paint(img, "#C9D3DE",
                bitmap_mask(size, caption, size / 2, top + ch / 2))

    # "C++": a ring with its right side cut away, and two pixel-exact plus signs.
    c_w, plus, arm, gap = 15, 9, 3, (2, 2)
    x = (size - (c_w + gap[0] + plus + gap[1] + plus)) // 2
    y0 = top + ch + cap_gap
    y1 = y0 + h

    def letter_c(d: Draw, k: int) -> None:
        oval(d, k, x, y0, x + c_w, y1)
        oval(d, k, x + 4, y0 + 4, x + c_w - 4, y1 - 4, fill=0)
        cx, cy = x + c_w / 2, (y0 + y1) / 2
        poly(d, k, [(cx, cy), (x + c_w + 1, y0 + 3.2), (x + c_w + 1, y1 - 3.2)],
             fill=0)

    img = paint(img, WHITE, supersampled(size, letter_c))

    def pluses(d: Draw, k: int) -> None:
        px = x + c_w + gap[0]
        for _ in range(2):
            mid = (plus - arm) // 2
            cy = (y0 + y1) // 2 - plus // 2
            rect(d, k, px + mid, cy, px + mid + arm, cy + plus)
            rect(d, k, px, cy + mid, px + plus, cy + mid + arm)
            px += plus + gap[1]

    return paint(img, CYAN, supersampled(size, pluses))


# ---------------------------------------------------------------------------
# ICO container.


def png_bytes(img: Image.Image) -> bytes:
    buf = io.BytesIO()
    img.save(buf, format="PNG", compress_level=9)
    return buf.getvalue()


def dib_bytes(img: Image.Image) -> bytes:
    """BITMAPINFOHEADER, 32bpp BGRA rows bottom-up, then the 1bpp AND mask."""
    w, h = img.size
    px = img.load()
    mask_stride = (w + 31) // 32 * 4
    xor, and_mask = bytearray(), bytearray()
    for y in range(h - 1, -1, -1):
        row_mask = bytearray(mask_stride)
        for x in range(w):
            r, g, b, a = px[x, y]
            if a == 0:
                r = g = b = 0
                row_mask[x // 8] |= 0x80 >> (x % 8)
            xor += bytes((b, g, r, a))
        and_mask += row_mask
    # biHeight counts the XOR and AND halves together.
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(and_mask)


def ico_bytes(images: list[Image.Image]) -> bytes:
    blobs = []
    for img in images:
        assert img.mode == "RGBA" and img.width == img.height <= 256
        blobs.append(png_bytes(img) if img.width == 256 else dib_bytes(img))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for img, blob in zip(images, blobs):
        # A width or height of 256 is stored as 0.
        out += struct.pack("<BBBBHHII", img.width % 256, img.height % 256,
                           0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


# ---------------------------------------------------------------------------
# Theme.

GLOW = {
    "Window": "#1F2630",
    "WindowText": "#E6EDF3",
    "MenuBackground": "#252D38",
    "MenuText": "#E6EDF3",
    "MenuHighlight": "#00B7EE",
    "MenuHighlightText": "#0B1016",
    "MenuDisabledText": "#8A97A8",
    "MenuSeparator": "#3C4757",
    "MenuCheck": "#33CCFF",
    "ButtonFace": "#2C3542",
    "ButtonText": "#E6EDF3",
    "ButtonHover": "#33475A",
    "Border": "#435062",
}

THEME_KEYS = ("Window", "WindowText", "MenuBackground", "MenuText",
              "MenuHighlight", "MenuHighlightText", "MenuDisabledText",
              "MenuSeparator", "MenuCheck", "ButtonFace", "ButtonText",
              "ButtonHover", "Border")

# Readability floors (WCAG contrast ratio): body text comfortably above AA,
# disabled text still AA, accents and the separator visible on the menu.
THEME_CONTRAST = (
    ("WindowText", "Window", 7.0),
    ("MenuText", "MenuBackground", 7.0),
    ("MenuHighlightText", "MenuHighlight", 4.5),
    ("MenuDisabledText", "MenuBackground", 4.5),
    ("ButtonText", "ButtonFace", 7.0),
    ("ButtonText", "ButtonHover", 4.5),
    ("MenuCheck", "MenuBackground", 3.0),
    ("MenuSeparator", "MenuBackground", 1.3),
    ("Border", "Window", 1.5),
)


def contrast(a: str, b: str) -> float:
    return tray_contrast.contrast(rgb(a), rgb(b))


def theme_text(name: str, comment: str, palette: dict[str, str]) -> str:
    if set(palette) != set(THEME_KEYS):
        sys.exit(f"{name}: keys differ from the theme format")
    for fg, bg, floor in THEME_CONTRAST:
        ratio = contrast(palette[fg], palette[bg])
        if ratio < floor:
            sys.exit(f"{name}: {fg} on {bg} contrast {ratio:.2f} < {floor}")
    lines = ["FWSTYLE 1", f"; {name} \u2014 {comment}", f"Name={name}"]
    lines += [f"{key}={palette[key].upper()}" for key in THEME_KEYS]
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------
# Contact sheet for review: each group at 1× then zoomed with hard pixels
# (4×; 2× for 128 px and up), on a light and on a dark panel.


def contact_sheet(groups: list[tuple[str, list[Image.Image]]]) -> Image.Image:
    label_font = ImageFont.truetype(str(FONT_REGULAR), 12)
    pad, label_h = 12, 18
    panels = (("#F3F3F3", "#202020"), ("#202020", "#E0E0E0"))

    def zoom(img: Image.Image) -> int:
        return 4 if img.width <= 64 else 2

    def row_items(imgs):
        return [(i, 1) for i in imgs] + [(i, zoom(i)) for i in imgs]

    rows = [(title, row_items(imgs)) for title, imgs in groups]
    row_h = [label_h + max(i.height * z for i, z in items) for _, items in rows]
    panel_w = max(sum(i.width * z + pad for i, z in items) + pad
                  for _, items in rows)
    panel_h = sum(row_h) + pad * (len(rows) + 1)
    sheet = Image.new("RGB", (panel_w * len(panels), panel_h))
    for p, (bg, fg) in enumerate(panels):
        panel = Image.new("RGBA", (panel_w, panel_h), bg)
        d = ImageDraw.Draw(panel)
        y = pad
        for (title, items), h in zip(rows, row_h):
            d.text((pad, y), title, font=label_font, fill=fg)
            x = pad
            for img, z in items:
                big = img.resize((img.width * z, img.height * z),
                                 Image.Resampling.NEAREST)
                panel.alpha_composite(big, (x, y + label_h))
                x += big.width + pad
            y += h + pad
        sheet.paste(panel.convert("RGB"), (p * panel_w, 0))
    return sheet


# ---------------------------------------------------------------------------


def main() -> None:
    outputs: dict[str, bytes] = {}
    groups = []

    app = [app_image(s) for s in APP_SIZES]
    outputs["Tarnwick.ico"] = ico_bytes(app)
    groups.append(("Tarnwick.ico", sorted(app, key=lambda i: i.width)))

    tray: dict[str, list[Image.Image]] = {}
    for state, colours in TRAY_STATES.items():
        imgs = [tray_image(s, *colours) for s in TRAY_SIZES]
        for img in imgs:
            for failure in tray_contrast.failures(list(img.getdata()), img.width):
                sys.exit(f"tray_{state}.ico: {failure}")
        tray[state] = imgs
        outputs[f"tray_{state}.ico"] = ico_bytes(imgs)
        outputs[f"tray_{state}_24.png"] = png_bytes(imgs[TRAY_SIZES.index(24)])
        groups.append((f"tray_{state}.ico", imgs))

    logo, badge = app_image(128), badge_image(48)
    outputs["logo.png"] = png_bytes(logo)
    outputs["badge.png"] = png_bytes(badge)
    groups.append(("badge.png, logo.png", [badge, logo]))

    outputs["Glow.fwstyle"] = theme_text(
        "Glow", "dark slate with cyan accents", GLOW).encode("utf-8")
    outputs["preview.png"] = png_bytes(contact_sheet(groups))

    # The tray images as the taskbar shows them, light and dark, for the README.
    outputs["../docs/images/tray_taskbars.png"] = png_bytes(contact_sheet(
        [(f"{s} px", [tray[state][TRAY_SIZES.index(s)] for state in TRAY_STATES])
         for s in (16, 32)]))

    for name, data in outputs.items():
        (HERE / name).write_bytes(data)
        print(f"wrote {name} ({len(data)} bytes)")


if __name__ == "__main__":
    main()
