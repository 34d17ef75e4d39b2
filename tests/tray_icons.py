#!/usr/bin/python3
"""The tray images inside a built executable stand out on light and dark
taskbars: both icons, at every size they carry, pass the artwork's contrast
check (resources/tray_contrast.py). Reads the PE resources itself, with the
standard library only; exits 1 on any fault.

Usage: tray_icons.py FILE.exe
"""

import struct
import sys
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parent / "resources")]
import tray_contrast  # noqa: E402
from hardening import PeError, PeFile  # noqa: E402

RT_ICON, RT_GROUP_ICON = 3, 14
DIR_RESOURCE = 2
TRAY_ICONS = ("TRAYDISCONNECTED", "TRAYCONNECTED")
TRAY_SIZES = (16, 20, 24, 32, 40, 48)


class Resources:
    """The resource tree of a PE file: type, then name or id, then language."""

    def __init__(self, pe):
        self.pe = pe
        self.root = pe.directory(DIR_RESOURCE)[0]
        if not self.root:
            raise PeError("no resources")

    def entries(self, offset):
        """(key, data offset or subdirectory offset, is subdirectory) of one directory;
        the key is an id or an upper-case name."""
        at = self.pe.offset(self.root + offset)
        named, ids = struct.unpack_from("<HH", self.pe.data, at + 12)
        for i in range(named + ids):
            key, target = struct.unpack_from("<II", self.pe.data, at + 16 + 8 * i)
            if key & 0x80000000:
                name = self.pe.offset(self.root + (key & 0x7FFFFFFF))
                length = struct.unpack_from("<H", self.pe.data, name)[0]
                key = self.pe.data[name + 2:name + 2 + 2 * length].decode("utf-16-le").upper()
            yield key, target & 0x7FFFFFFF, bool(target & 0x80000000)

    def find(self, kind, key):
        """The bytes of the first language of resource (kind, key), or None."""
        for k, types, _ in self.entries(0):
            if k != kind:
                continue
            for name, languages, _ in self.entries(types):
                if name != key:
                    continue
                for _, entry, _ in self.entries(languages):
                    rva, size = struct.unpack_from("<II", self.pe.data, self.pe.offset(self.root + entry))
                    start = self.pe.offset(rva)
                    return self.pe.data[start:start + size]
        return None


def dib_pixels(dib):
    """(size, straight-alpha RGBA rows top-down) of a 32 bpp icon image."""
    if dib[:8] == b"\x89PNG\r\n\x1a\n":
        raise PeError("a PNG image, where the tray images are DIBs")
    header, width, height, _, bits = struct.unpack_from("<IiiHH", dib)
    if header != 40 or bits != 32 or height != 2 * width:
        raise PeError(f"not a 32 bpp icon DIB (header {header}, {width}x{height}, {bits} bpp)")
    pixels = []
    for y in range(width - 1, -1, -1):  # bottom-up
        row = header + 4 * width * y
        for x in range(width):
            b, g, r, a = dib[row + 4 * x:row + 4 * x + 4]
            pixels.append((r, g, b, a))
    return width, pixels


def icon_images(resources, name):
    """{size: pixels} of every image of group icon `name`."""
    group = resources.find(RT_GROUP_ICON, name)
    if group is None:
        raise PeError(f"no group icon {name}")
    _, _, count = struct.unpack_from("<HHH", group)
    images = {}
    for i in range(count):
        icon_id = struct.unpack_from("<H", group, 6 + 14 * i + 12)[0]
        dib = resources.find(RT_ICON, icon_id)
        if dib is None:
            raise PeError(f"{name}: no icon image {icon_id}")
        size, pixels = dib_pixels(dib)
        images[size] = pixels
    return images


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    faults = []
    try:
        with open(argv[1], "rb") as f:
            resources = Resources(PeFile(f.read()))
        for name in TRAY_ICONS:
            images = icon_images(resources, name)
            if sorted(images) != list(TRAY_SIZES):
                faults.append(f"{name}: sizes {sorted(images)}, not {list(TRAY_SIZES)}")
            for size, pixels in sorted(images.items()):
                found = tray_contrast.failures(pixels, size)
                print(f"  {'ok' if not found else 'FAULT':<6} {name} {size} px")
                faults += [f"{name}: {line}" for line in found]
    except (OSError, PeError, struct.error) as error:
        print(f"{argv[1]}: cannot read its tray icons: {error}")
        return 1
    for fault in faults:
        print(f"FAULT: {fault}")
    print("passed" if not faults else f"{len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
