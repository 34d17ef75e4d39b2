#!/usr/bin/python3
"""tools/screen/trayfinder.py, which every end-to-end test and the demo rely on to find
the program's tray icon, on pictures made here: the committed tray images
(resources/tray_*.ico) and the look-alikes it must pass over (the application icon and
the logo, cyan discs with a white rim) composited over Windows 11's light and dark
taskbar colours, as the shell blends them, written as PNG and read back through the
finder's own reader. Native; needs /usr/bin/convert, as the finder does.

Usage: trayfinder_pictures.py [--keep DIR]
Exits 1 on any wrong answer; --keep writes every picture to DIR (otherwise only the
pictures of failed cases are kept, in a temporary folder that is named).
"""

import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
HERE = Path(__file__).resolve().parent
RESOURCES = HERE.parent / "resources"
sys.path[:0] = [str(HERE.parent / "tools" / "screen"), str(HERE), str(RESOURCES)]
import trayfinder  # noqa: E402
from tray_contrast import over, rgb  # noqa: E402
from tray_icons import dib_pixels  # noqa: E402

LIGHT, DARK = "#F3F3F3", "#202020"  # Windows 11's taskbars
DESKTOP = "#3A6EA5"
# Wine 8's virtual desktop of 1000x700: the taskbar is y 680-699 and the first tray
# icon's 16 px slot starts at x 982, the next 20 px to the left.
SCREEN = (1000, 700)
TASKBAR_TOP, FIRST_SLOT, SLOT_PITCH, SLOT_TOP = 680, 982, 20, 682


def read_ico(path):
    """{size: straight-alpha RGBA pixels} of the DIB entries of an .ico file."""
    data = path.read_bytes()
    _, kind, count = struct.unpack_from("<HHH", data)
    assert kind == 1, f"{path}: not an icon file"
    images = {}
    for i in range(count):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        if data[offset:offset + 4] != b"\x89PNG":
            width, pixels = dib_pixels(data[offset:offset + size])
            images[width] = pixels
    return images


def read_png(path):
    """(size, straight-alpha RGBA pixels) of a square PNG, through ImageMagick."""
    side = int(subprocess.run([trayfinder.CONVERT, str(path), "-format", "%w", "info:"], check=True,
                              capture_output=True).stdout)
    data = subprocess.run([trayfinder.CONVERT, str(path), "-depth", "8", "rgba:-"], check=True,
                          capture_output=True).stdout
    return side, [tuple(data[i:i + 4]) for i in range(0, len(data), 4)]


def enlarged(side, pixels, factor):
    """A tray image scaled up by whole pixels, which keeps its disc in one piece."""
    big = side * factor
    return big, [pixels[(y // factor) * side + x // factor] for y in range(big) for x in range(big)]


TRAY = {state: read_ico(RESOURCES / f"tray_{state}.ico") for state in trayfinder.STATES}
APP_ICON = read_ico(RESOURCES / "Tarnwick.ico")
LOGO = read_png(RESOURCES / "logo.png")


def tray(state, size):
    return size, TRAY[state][size]


def picture(size, fills, images):
    """RGB bytes of a picture: `fills` are (colour, left, top, right, bottom) painted in
    order, `images` (side, pixels, left, top) composited over them."""
    width, height = size
    data = bytearray(width * height * 3)
    for colour, left, top, right, bottom in fills:
        row = bytes(rgb(colour)) * (right - left)
        for y in range(top, bottom):
            data[3 * (y * width + left):3 * (y * width + right)] = row
    for side, pixels, left, top in images:
        for i, pixel in enumerate(pixels):
            y, x = divmod(i, side)
            at = 3 * ((top + y) * width + left + x)
            data[at:at + 3] = bytes(over(pixel, tuple(data[at:at + 3])))
    return bytes(data)


def write_png(path, data, width, height):
    """An 8-bit RGB PNG, standard library only."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = b"".join(b"\0" + data[3 * width * y:3 * width * (y + 1)] for y in range(height))
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                     chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def on_screen(taskbar, images, windows=()):
    """Wine 8's desktop with its taskbar in that colour, other windows' fills, and the
    images on them."""
    width, height = SCREEN
    return SCREEN, [(DESKTOP, 0, 0, width, height), (taskbar, 0, TASKBAR_TOP, width, height), *windows], images


def on_strip(taskbar, images, size=(112, 64)):
    """A piece of taskbar alone, as small as a case allows."""
    return size, [(taskbar, 0, 0, *size)], images


def slot(n):
    return FIRST_SLOT - SLOT_PITCH * n


# (what, scene, the icons it shows: (state, left, top, side) of each image placed, in reading order)
CASES = [
    ("one icon on the light taskbar, Wine 8's first slot",
     on_screen(LIGHT, [(*tray("disconnected", 16), slot(0), SLOT_TOP)]), [("disconnected", slot(0), SLOT_TOP, 16)]),
    ("one icon on the dark taskbar, Wine 8's first slot",
     on_screen(DARK, [(*tray("connected", 16), slot(0), SLOT_TOP)]), [("connected", slot(0), SLOT_TOP, 16)]),
    ("two icons in neighbouring slots, one of each state",
     on_screen(LIGHT, [(*tray("connected", 16), slot(1), SLOT_TOP), (*tray("disconnected", 16), slot(0), SLOT_TOP)]),
     [("connected", slot(1), SLOT_TOP, 16), ("disconnected", slot(0), SLOT_TOP, 16)]),
    ("two icons in neighbouring slots, the same state",
     on_screen(DARK, [(*tray("disconnected", 16), slot(1), SLOT_TOP), (*tray("disconnected", 16), slot(0), SLOT_TOP)]),
     [("disconnected", slot(1), SLOT_TOP, 16), ("disconnected", slot(0), SLOT_TOP, 16)]),
    ("a small tray window at the top left, its icon at the screen's edge, and one on the taskbar",
     on_screen(DARK, [(*tray("connected", 24), 0, 0), (*tray("connected", 16), slot(0), SLOT_TOP)],
               windows=[(LIGHT, 0, 0, 28, 28)]),
     [("connected", 0, 0, 24), ("connected", slot(0), SLOT_TOP, 16)]),
    ("no icon: the bare light taskbar", on_screen(LIGHT, []), []),
    ("no icon: the bare dark taskbar", on_screen(DARK, []), []),
    ("the 32 px image doubled to 64 px, the largest tray icon a shell draws",
     on_strip(LIGHT, [(*enlarged(*tray("connected", 32), 2), 8, 8)], (80, 80)), [("connected", 8, 8, 64)]),
    ("no icon: the 32 px image tripled to 96 px, larger than any tray icon",
     on_strip(LIGHT, [(*enlarged(*tray("disconnected", 32), 3), 8, 8)], (112, 112)), []),
    ("Wine 10 at 192 DPI: the image blended in twice, on the light taskbar",
     on_strip(LIGHT, [(*tray("disconnected", 32), 8, 8)] * 2), [("disconnected", 8, 8, 32)]),
    ("Wine 10 at 192 DPI: the image blended in twice, on the dark taskbar",
     on_strip(DARK, [(*tray("connected", 32), 8, 8)] * 2), [("connected", 8, 8, 32)]),
    ("the logo beside an icon", on_strip(DARK, [(*LOGO, 0, 0), (*tray("connected", 16), 140, 56)], (160, 128)),
     [("connected", 140, 56, 16)]),
]
# Every size of both images on both taskbars, and the application icon (a cyan disc in
# a white rim) at every size it has beside a tray image of that size or the nearest.
for taskbar, name in ((LIGHT, "light"), (DARK, "dark")):
    for state in trayfinder.STATES:
        for side in sorted(TRAY[state]):
            CASES.append((f"{state}, {side} px, on the {name} taskbar",
                          on_strip(taskbar, [(*tray(state, side), 8, 8)]), [(state, 8, 8, side)]))
    for side, pixels in sorted(APP_ICON.items()):
        near = min(TRAY["disconnected"], key=lambda s, side=side: abs(s - side))
        CASES.append((f"the application icon at {side} px beside a tray image, on the {name} taskbar",
                      on_strip(taskbar, [(side, pixels, 0, 0), (*tray("disconnected", near), 70, 0)], (70 + near, 64)),
                      [("disconnected", 70, 0, near)]))


def wrong(found, wanted):
    """What is wrong with the icons found, or None. Each must be the image placed there:
    the same state, its disc's box inside the image's square, and its middle (where a
    click lands) within a pixel of the square's."""
    if len(found) != len(wanted):
        return f"found {len(found)} icon(s), not {len(wanted)}: {found}"
    for icon, (state, left, top, side) in zip(found, wanted):
        x, y = trayfinder.centre(icon)
        if icon.state != state or not (left <= icon.left < icon.right <= left + side and
                                       top <= icon.top < icon.bottom <= top + side) or \
                abs(2 * x - (2 * left + side)) > 2 or abs(2 * y - (2 * top + side)) > 2:
            return f"found {icon}, where a {state} icon of {side} px is at ({left}, {top})"
    return None


def command_differs(png, found):
    """What the command prints for a picture, where it is not one "state left top right
    bottom" line per icon found (the demo reads those lines), or None."""
    ran = subprocess.run(["/usr/bin/python3", trayfinder.__file__, str(png)], capture_output=True, text=True)
    lines = [" ".join(map(str, icon)) for icon in found]
    if ran.returncode or ran.stdout.splitlines() != lines:
        return f"the command printed {ran.stdout!r} (exit {ran.returncode}), not {lines}"
    return None


def main(argv):
    keep = Path(argv[2]) if len(argv) == 3 and argv[1] == "--keep" else None
    if len(argv) != 1 and keep is None:
        print(__doc__.strip().split("\n\n")[-2], file=sys.stderr)
        return 2
    folder = keep or Path(tempfile.mkdtemp(prefix="tarnwick-trayfinder-"))
    folder.mkdir(parents=True, exist_ok=True)
    failures = 0
    for number, (what, ((width, height), fills, images), wanted) in enumerate(CASES):
        png = folder / f"case{number:02}.png"
        write_png(png, picture((width, height), fills, images), width, height)
        found = trayfinder.find_in(png)
        problem = wrong(found, wanted) or (command_differs(png, found) if number == 0 else None)
        print(f"  {'ok' if problem is None else 'FAIL':<4} {what}" + (f": {problem} ({png})" if problem else ""))
        if problem is None and keep is None:
            png.unlink()
        failures += problem is not None
    if keep is None and not failures:
        folder.rmdir()
    print(f"{len(CASES)} pictures: {failures} wrong")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
