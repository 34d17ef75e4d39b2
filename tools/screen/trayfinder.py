#!/usr/bin/python3
"""Finds Tarnwick's tray icons in a screenshot by what a user sees: a disc of one of the
two tray colours inside its dark rim, anywhere on the screen. Where the shell draws its
notification area (a taskbar at the bottom, a small window at the top left) and how large
its icons are does not matter.

Other discs of the same colour are told apart by their size and their rim: the logo and
the application icon have a white rim, and the logo is far larger than any tray icon.

Usage: trayfinder.py PICTURE
Prints one line per icon found: its state ("disconnected" or "connected") and the box of
its disc, "left top right bottom" (right and bottom exclusive), in reading order.
"""

import collections
import re
import subprocess
import sys

CONVERT = "/usr/bin/convert"  # another "convert" may come first on the PATH

# The disc and rim colours of the two tray images, as resources/make_artwork.py draws
# them (TRAY_STATES). The inside of a disc is opaque: whatever the taskbar's colour,
# it keeps its colour exactly. The rim is narrow, and some shells blend even its
# middle a little: it is matched within a tolerance.
STATES = {
    "disconnected": (bytes.fromhex("00B7EE"), bytes.fromhex("00506A")),
    "connected": (bytes.fromhex("FFF000"), bytes.fromhex("5C5300")),
}
# A 16 px icon shows ~80 disc pixels and 16 rim pixels of the exact colours; the shell
# draws tray icons at 16 to 64 px.
MIN_DISC_PIXELS = 40
MIN_RIM_PIXELS = 8
RIM_TOLERANCE = 24
MAX_DISC_SIDE = 64

Icon = collections.namedtuple("Icon", "state left top right bottom")
Icon.__doc__ = "One tray icon of ours on the screen: its state and the box of its disc."


def centre(icon):
    """The middle of the icon's disc, where a click lands on the icon."""
    return (icon.left + icon.right) // 2, (icon.top + icon.bottom) // 2


def rgb_pixels(picture):
    """The picture's pixels as RGB bytes, with its width and height."""
    size = subprocess.run([CONVERT, str(picture), "-format", "%w %h", "info:"], check=True,
                          capture_output=True, stdin=subprocess.DEVNULL).stdout.split()
    data = subprocess.run([CONVERT, str(picture), "-alpha", "off", "-depth", "8", "rgb:-"], check=True,
                          capture_output=True, stdin=subprocess.DEVNULL).stdout
    width, height = int(size[0]), int(size[1])
    if len(data) != width * height * 3:
        raise ValueError(f"{picture}: {len(data)} bytes of pixels for {width}x{height}")
    return data, width, height


def _pixels_of(data, width, colour):
    """The (x, y) of every pixel of exactly that colour. A colour's three bytes never
    match the same bytes shifted by one or two, so no pixel hides behind a match that
    straddles two pixels."""
    found = []
    for match in re.finditer(re.escape(colour), data):
        at = match.start()
        if at % 3 == 0:
            found.append(divmod(at // 3, width)[::-1])
    return found


def _clusters(points):
    """Groups of 8-connected points, as lists."""
    left = set(points)
    groups = []
    while left:
        seed = left.pop()
        group, todo = [seed], [seed]
        while todo:
            x, y = todo.pop()
            for dx in (-1, 0, 1):
                for dy in (-1, 0, 1):
                    near = (x + dx, y + dy)
                    if near in left:
                        left.remove(near)
                        group.append(near)
                        todo.append(near)
        groups.append(group)
    return groups


def _boxes(groups):
    """The bounding box of each group, boxes that overlap merged: letters across a disc
    may cut its colour in two."""
    boxes = [[min(x for x, _ in g), min(y for _, y in g), max(x for x, _ in g) + 1, max(y for _, y in g) + 1, len(g)]
             for g in groups]
    merged = True
    while merged:
        merged = False
        for i in range(len(boxes)):
            for j in range(i + 1, len(boxes)):
                a, b = boxes[i], boxes[j]
                if a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]:
                    boxes[i] = [min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]), a[4] + b[4]]
                    del boxes[j]
                    merged = True
                    break
            if merged:
                break
    return boxes


def _rim_pixels(data, width, height, box, rim):
    """How many pixels just around the disc's box have the rim's colour."""
    left, top, right, bottom = box
    count = 0
    for y in range(max(0, top - 3), min(height, bottom + 3)):
        for x in range(max(0, left - 3), min(width, right + 3)):
            at = 3 * (y * width + x)
            if max(abs(data[at + i] - rim[i]) for i in range(3)) <= RIM_TOLERANCE:
                count += 1
    return count


def find_icons(data, width, height):
    """The tray icons of ours in RGB pixel data, in reading order."""
    icons = []
    for state, (disc, rim) in STATES.items():
        discs = _pixels_of(data, width, disc)
        if len(discs) < MIN_DISC_PIXELS:
            continue
        for left, top, right, bottom, count in _boxes(_clusters(discs)):
            if count < MIN_DISC_PIXELS or max(right - left, bottom - top) > MAX_DISC_SIDE:
                continue
            if _rim_pixels(data, width, height, (left, top, right, bottom), rim) >= MIN_RIM_PIXELS:
                icons.append(Icon(state, left, top, right, bottom))
    return sorted(icons, key=lambda i: (i.top, i.left))


def find_in(picture):
    """The tray icons of ours in a picture file."""
    return find_icons(*rgb_pixels(picture))


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().split("\n\n")[-2], file=sys.stderr)
        return 2
    for icon in find_in(argv[1]):
        print(icon.state, icon.left, icon.top, icon.right, icon.bottom)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
