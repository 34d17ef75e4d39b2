"""Whether a tray image stands out from the taskbar it is drawn on.

A tray image must be seen on a light taskbar and on a dark one. The check, for
each taskbar colour: composite the image over it; the pixels with at least 3:1
contrast against it (the WCAG 2.1 floor for graphics that identify a control)
must separate the image's centre from its border, so that no 4-connected path
of pixels below 3:1 leads from the border to any pixel within n/6 of the
centre of the n x n image. A thin outline of low contrast, broken or missing,
lets such a path through.

Standard library only: `make_artwork.py` checks what it draws, and a test
checks the images inside the built executable.
"""

from __future__ import annotations

from collections import deque

# Windows 11's light taskbar, white, its dark taskbar, black.
TASKBARS = ("#F3F3F3", "#FFFFFF", "#202020", "#000000")
MIN_CONTRAST = 3.0

Rgb = tuple[int, int, int]
Rgba = tuple[int, int, int, int]


def rgb(hex_colour: str) -> Rgb:
    h = hex_colour.lstrip("#")
    return int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16)


def luminance(colour: Rgb) -> float:
    """Relative luminance of an sRGB colour (WCAG 2.1)."""

    def lin(c: int) -> float:
        v = c / 255
        return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4

    r, g, b = colour
    return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b)


def contrast(a: Rgb, b: Rgb) -> float:
    hi, lo = sorted((luminance(a), luminance(b)), reverse=True)
    return (hi + 0.05) / (lo + 0.05)


def over(pixel: Rgba, background: Rgb) -> Rgb:
    """A straight-alpha pixel composited over an opaque background."""
    r, g, b, a = pixel
    return tuple(round((c * a + bg * (255 - a)) / 255) for c, bg in zip((r, g, b), background))


def leak(pixels: list[Rgba], size: int, taskbar: str) -> tuple[int, int] | None:
    """The first centre pixel that a low-contrast path from the border reaches,
    or None when the image's high-contrast pixels wall its centre in.

    `pixels` holds size x size straight-alpha RGBA values, row by row.
    """
    assert len(pixels) == size * size
    background = rgb(taskbar)
    low = [contrast(over(p, background), background) < MIN_CONTRAST for p in pixels]
    centre, reach = size / 2, size / 6

    def near_centre(x: int, y: int) -> bool:
        return (x + 0.5 - centre) ** 2 + (y + 0.5 - centre) ** 2 <= reach * reach

    seen = [False] * (size * size)
    todo: deque[tuple[int, int]] = deque()
    for i in range(size):
        for x, y in ((i, 0), (i, size - 1), (0, i), (size - 1, i)):
            if low[y * size + x] and not seen[y * size + x]:
                seen[y * size + x] = True
                todo.append((x, y))
    while todo:
        x, y = todo.popleft()
        if near_centre(x, y):
            return x, y
        for nx, ny in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)):
            if 0 <= nx < size and 0 <= ny < size and low[ny * size + nx] and not seen[ny * size + nx]:
                seen[ny * size + nx] = True
                todo.append((nx, ny))
    return None


def failures(pixels: list[Rgba], size: int) -> list[str]:
    """One line for each taskbar colour the image does not stand out on."""
    found = []
    for taskbar in TASKBARS:
        at = leak(pixels, size, taskbar)
        if at is not None:
            found.append(f"{size} px on {taskbar}: a path below {MIN_CONTRAST:g}:1 "
                         f"reaches the centre at {at}")
    return found
