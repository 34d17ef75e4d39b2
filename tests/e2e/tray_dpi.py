#!/usr/bin/python3
"""The tray icon is the image drawn for the shell's icon size, pixel for pixel,
at 100 % and at 200 % (no stretched, blurred picture)."""

import struct
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import DEFAULT_SCENARIO, SOURCE, TRAY_CLASS, check

DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
ICON_FILE = SOURCE / "resources" / "tray_disconnected.ico"
DISC = (0x00, 0xB7, 0xEE)


def icon_image(size):
    """The size x size 32-bit image of the icon file as rows of (r, g, b, a)."""
    data = ICON_FILE.read_bytes()
    _, _, count = struct.unpack_from("<HHH", data, 0)
    for i in range(count):
        width, height, _, _, _, _, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if (width or 256) != size:
            continue
        header = struct.unpack_from("<IiiHH", data, offset)
        check(header[4] == 32, "the tray images are 32 bits per pixel")
        pixels = offset + header[0]
        rows = []
        for y in range(size):  # bottom-up DIB
            row = data[pixels + (size - 1 - y) * size * 4: pixels + (size - y) * size * 4]
            rows.append([(row[x + 2], row[x + 1], row[x], row[x + 3]) for x in range(0, size * 4, 4)])
        return rows
    raise harness.TestFailure(f"no {size} px image in {ICON_FILE.name}")


def pixels(s, png, area):
    """The pixels of an area (left, top, width, height) of the picture as a dict (x, y) -> (r, g, b)."""
    left, top, width, height = area
    text = s.convert(png, "-alpha", "off", "-crop", f"{width}x{height}+{left}+{top}", "+repage", "-depth", "8",
                     "txt:-").decode()
    found = {}
    for match in harness.re.finditer(r"^(\d+),(\d+): \S+\s+#([0-9A-Fa-f]{6})", text, harness.re.M):
        rgb = bytes.fromhex(match.group(3))
        found[(int(match.group(1)) + left, int(match.group(2)) + top)] = (rgb[0], rgb[1], rgb[2])
    return found


def around(icon, size):
    """The icon with room for a whole image of that size on each side, inside the screen."""
    left, top = max(0, icon.left - 2 * size), max(0, icon.top - 2 * size)
    right = min(harness.DESKTOP_SIZE[0], icon.right + 2 * size)
    bottom = min(harness.DESKTOP_SIZE[1], icon.bottom + 2 * size)
    return left, top, right - left, bottom - top


def disc_box(found):
    """The box of the disc-coloured pixels: the disc inside its rim."""
    near = [p for p, rgb in found.items() if max(abs(a - b) for a, b in zip(rgb, DISC)) <= 24]
    if len(near) < 40:
        return None
    xs, ys = [p[0] for p in near], [p[1] for p in near]
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def over(image, background):
    """The image composited over an opaque background, as (x, y) -> (r, g, b)."""
    return {(x, y): tuple((c * a + bg * (255 - a)) // 255 for c, bg in zip((r, g, b), background))
            for y, row in enumerate(image) for x, (r, g, b, a) in enumerate(row)}


def shown_as_drawn(s, dpi, size):
    if dpi != 96:
        s.reg_set(DESKTOP_KEY, "LogPixels", "REG_DWORD", dpi)
        # Wine's processes read the DPI once: a fresh server makes everyone agree.
        s.restart_server()
    s.write_scenario(DEFAULT_SCENARIO)
    program = s.start()
    s.wait_window(TRAY_CLASS, 20)
    # Found by its look wherever the shell shows it; measured on the pixels around it.
    icon = s.wait_tray_icon(20, "disconnected")
    found = pixels(s, s.last_shot, around(icon, size))
    shown = disc_box(found)
    check(shown is not None, f"no disc around the icon found at {icon}")
    # The disc of the image drawn for this size, blended over the taskbar: the
    # shown disc must have its size, and then place the image.
    image = icon_image(size)
    # The taskbar beside the icon, on whichever side the screen has room.
    beside = shown[0] - size if shown[0] - size >= 0 else shown[2] + size - 1
    background = found[(beside, (shown[1] + shown[3]) // 2)]
    wanted = over(image, background)
    drawn = disc_box(wanted)
    check(abs((shown[2] - shown[0]) - (drawn[2] - drawn[0])) <= 1 and
          abs((shown[3] - shown[1]) - (drawn[3] - drawn[1])) <= 1,
          f"at {dpi} DPI the icon's disc is {shown[2] - shown[0]}x{shown[3] - shown[1]}, "
          f"not {drawn[2] - drawn[0]}x{drawn[3] - drawn[1]} as in the {size} px drawing")
    left, top = shown[0] - drawn[0], shown[1] - drawn[1]
    same = total = 0
    # The opaque pixels only: how a shell blends the rim's soft edge into its taskbar
    # is its own affair (Wine 10's shell blends it in twice at 192 DPI).
    for y in range(size):
        for x in range(size):
            if image[y][x][3] != 255:
                continue
            got = found.get((left + x, top + y))
            total += 1
            same += got is not None and max(abs(p - q) for p, q in zip(got, wanted[(x, y)])) <= 12
    check(same >= 0.95 * total, f"at {dpi} DPI only {same} of {total} opaque icon pixels are the {size} px drawing's")
    print(f"     {dpi} DPI: {size} px icon, {same}/{total} pixels as drawn")
    s.wine("taskkill", "/f", "/im", "Tarnwick.exe")
    program.wait_exit(10)


CASES = [
    ("at 96 DPI the shell shows the 16 px drawing", lambda s: shown_as_drawn(s, 96, 16)),
    ("at 192 DPI the shell shows the 32 px drawing", lambda s: shown_as_drawn(s, 192, 32)),
]

if __name__ == "__main__":
    sys.exit(harness.run("tray_dpi", CASES))
