"""Wine's paths and the virtual desktop's size, read from wine.env beside this file.

The shell scripts read the same file (lib.sh), so both sides agree on the wineserver,
the DLL overrides and the desktop.
"""

import re
from pathlib import Path

FILE = Path(__file__).resolve().with_name("wine.env")


def read(path=FILE):
    """The file's KEY=value lines as a dict; values as they stand."""
    values = {}
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        key, sep, value = line.partition("=")
        if not sep or not re.fullmatch(r"[A-Z_][A-Z0-9_]*", key):
            raise SystemExit(f"{path}:{number}: not a KEY=value line: {line!r}")
        values[key] = value
    return values


_VALUES = read()
# What runs a Windows program: Wine's loader at fixed addresses (see the script).
WINE = str(FILE.with_name("wine"))
WINESERVER = _VALUES["WINESERVER_BIN"]
OVERRIDES = _VALUES["WINE_OVERRIDES"]
BOOT_OVERRIDES = _VALUES["WINE_BOOT_OVERRIDES"]
DEBUG = _VALUES["WINE_DEBUG"]
LOCALE = _VALUES["WINE_LOCALE"]
DESKTOP_NAME = _VALUES["DESKTOP_NAME"]
DESKTOP_SIZE = (int(_VALUES["DESKTOP_WIDTH"]), int(_VALUES["DESKTOP_HEIGHT"]))
