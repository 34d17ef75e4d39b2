#!/usr/bin/python3
"""The theme and the remote-access service as the executable finds them.

Patched copies of Tarnwick.exe (made with twpatchres, placed beside the
original) lack the theme, carry one of another name, or a damaged one; a
rasapi32.dll without the service's functions stands in for the simulated one.
"""

import re
import shutil
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import POLL_INTERVAL_S, SOURCE, TRAY_CLASS, check, ms, scaled

GLOW = (SOURCE / "resources" / "Glow.fwstyle").read_text(encoding="utf-8")
NOT_FOUND_TEXT = "スタイル 'Glow' が見つかりません"
LAST_CHANCE_TITLE = "アプリケーションエラー"
# The theme's menu background, and the family of dark slate colours it belongs to.
GLOW_MENU = (0x25, 0x2D, 0x38)
BOX_CLASS = "#32770"


def dark_slate(rgb):
    r, g, b = rgb
    return 0x20 <= r <= 0x2F and 0x20 <= g <= 0x2F and 0x30 <= b <= 0x3F


# ---- patched executables ----

COPIES = []  # removed when the script ends


def patchres(s, *args):
    return s.patchres(*args)


def copy_with_style(s, stem, style_text):
    """Tarnwick.exe beside the original as <stem>.exe, its GLOW theme replaced (None: deleted)."""
    exe = s.build / f"{stem}.exe"
    COPIES.append(exe)
    if style_text is None:
        patchres(s, s.exe, exe, "delete", "FWSTYLE", "GLOW")
    else:
        data = s.tmp / f"{stem}.fwstyle"
        data.write_text(style_text, encoding="utf-8", newline="")
        patchres(s, s.exe, exe, "replace", "FWSTYLE", "GLOW", data)
    return exe


def glow_with(old, new):
    check(GLOW.count(old) == 1, f"the theme file has no single {old!r} to change")
    return GLOW.replace(old, new)


# ---- observations ----

def box(s, timeout=15):
    """The visible dialog's title, its message text and its controls (class, text)."""
    lines = s.driver("boxes", ms(timeout), timeout=timeout + 30)[1].splitlines()
    controls = []
    for line in s.driver("children", BOX_CLASS)[1].splitlines():
        fields = line.split("\t")
        controls.append((fields[3], harness.unescape(fields[4]) if len(fields) > 4 else ""))
    return harness.unescape(lines[0]), harness.unescape(lines[1]) if len(lines) > 1 else "", controls


def keep(s, shot, label):
    """Keeps a screenshot as evidence in <build>/e2e/themes/."""
    s.artifacts.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(shot, s.artifacts / f"{label}.png")
    return shot


def menu_colours(s, label):
    """Opens the tray menu and counts the colours inside its frame, no item selected; closes it.

    Returns the most common colour and all the counts."""
    s.click_tray("left")
    left, top, right, bottom = s.wait_menu(10)
    s.pointer(left + 1, top + 1)  # on the frame: no item under the pointer
    shot = keep(s, s.screenshot("menu"), label)
    s.type_into_menu("Escape")
    s.wait_no_menu(10)
    counts = s.colours(shot, left + 3, top + 3, right - left - 6, bottom - top - 6)
    return counts.most_common(1)[0][0], counts


def exit_from_menu(s, program):
    s.click_tray("left")
    s.type_into_menu("x")
    code = program.wait_exit(10)
    check(code == 0, f"Exit from the menu: exit code {code}, not 0")


# ---- cases ----

def themed_menu(s):
    program = s.start_ready()
    check(s.count_windows(BOX_CLASS, visible_only=True) == 0, "a box is shown")
    colour, _ = menu_colours(s, "menu-themed")
    check(colour == GLOW_MENU, f"menu background #{bytes(colour).hex()}, not the theme's #{bytes(GLOW_MENU).hex()}")
    exit_from_menu(s, program)


def not_found_then_unthemed(stem, style_text):
    def case(s):
        exe = copy_with_style(s, stem, style_text)
        program = s.start(exe=exe)
        title, text, controls = box(s)
        check(title == stem, f"box title {title!r}, not {stem!r}")
        check(text == NOT_FOUND_TEXT, f"box text {text!r}, not {NOT_FOUND_TEXT!r}")
        buttons = [t.replace("&", "") for c, t in controls if c == "Button"]
        check(buttons == ["Close"], f"the box's buttons are {buttons}, not a single Close")
        # Wine's error icon is a red disc with a white cross; nothing else in the box is red.
        client = patchres(s, "rects", BOX_CLASS, ms(5)).split()[1:5]
        left, top, right, bottom = map(int, client)
        # The icon is a window of its own, which may paint after the rest of the box.
        patchres(s, "painted", BOX_CLASS, ms(5))
        shot = keep(s, s.screenshot("box"), f"box-{stem}")
        red = sum(n for (r, g, b), n in s.colours(shot, left, top, right - left, bottom - top).items()
                  if r >= 0xB0 and g <= 0x60 and b <= 0x60)
        check(red >= 100, f"no error icon in the box ({red} red pixels)")
        check(s.count_windows(TRAY_CLASS) == 0, "the tray icon came before the box was closed")

        s.driver("click", "Close", ms(5))
        s.driver("wait-no-box", ms(10))
        s.wait_window(TRAY_CLASS, 10)
        s.wait_tray("disconnected", 10)
        colour, counts = menu_colours(s, f"menu-{stem}")
        slate = sum(n for rgb, n in counts.items() if dark_slate(rgb))
        check(min(colour) >= 0xC0, f"menu background #{bytes(colour).hex()} is not a light system colour")
        check(slate == 0, f"{slate} pixels of the menu are in the theme's dark slate colours")
        check(program.running(), "the program ended")
        exit_from_menu(s, program)
    return case


def damaged_is_fatal(stem, style_text):
    def case(s):
        exe = copy_with_style(s, stem, style_text)
        program = s.start(exe=exe)
        title, text, controls = box(s)
        check(title == LAST_CHANCE_TITLE, f"box title {title!r}, not {LAST_CHANCE_TITLE!r}")
        wanted = (rf"EStyleError がモジュール {re.escape(exe.name)} の [0-9A-F]{{16}} で発生しました。\n"
                  r"スタイル リソース 'GLOW' を読み込めません\.\n")
        check(re.fullmatch(wanted, text), f"box text {text!r} is not the last-chance text for EStyleError 'GLOW'")
        buttons = [t for c, t in controls if c == "Button"]
        check(buttons == ["OK"], f"the box's buttons are {buttons}, not a single OK")
        check(s.count_windows(TRAY_CLASS) == 0, "a tray icon window exists")
        check(s.tray_state(keep(s, s.screenshot("box"), f"box-{stem}")) is None, "a tray icon is drawn")
        s.driver("click", "OK", ms(5))
        code = program.wait_exit(10)
        check(code == 1, f"exit code {code}, not 1")
        check(s.tray_state() is None, "a tray icon is drawn after the exit")
    return case


def missing_service_functions(s):
    system32 = s.prefix / "drive_c" / "windows" / "system32" / "rasapi32.dll"
    empty = s.build / "tools" / "rassim" / "empty" / "rasapi32.dll"
    check(empty.is_file(), f"{empty} is missing: build rassim_empty first")
    calls = len(s.log_lines())
    try:
        shutil.copyfile(empty, system32)
        program = s.start_ready("disconnected")
        s.click_tray("left")
        s.wait_menu(10)
        items = s.menu_items()
        keep(s, s.screenshot("menu"), "menu-without-service")
        s.type_into_menu("Escape")
        s.wait_no_menu(10)
        check(items and items[0].text == "(none)" and items[0].disabled,
              f"the menu does not start with a disabled (none): {items[:2]}")
        # Two of the program's connection polls pass with nothing to ask.
        deadline = time.monotonic() + scaled(2 * POLL_INTERVAL_S + 1)
        while time.monotonic() < deadline:
            check(program.running(), "the program ended without the service's functions")
            time.sleep(0.5)
        check(s.count_windows(BOX_CLASS, visible_only=True) == 0, "a box is shown")
        check(s.tray_state() == "disconnected", "the tray icon is not the disconnected one")
        exit_from_menu(s, program)
    finally:
        shutil.copyfile(s.sim_dll, system32)
    check(len(s.log_lines()) == calls, "the simulated service was called")


CASES = [
    ("with its theme the menu is themed", themed_menu),
    ("theme resource missing: not-found box, then unthemed",
     not_found_then_unthemed("Tarnwick-nostyle", None)),
    ("theme of another name: not-found box, then unthemed",
     not_found_then_unthemed("Tarnwick-otherstyle", glow_with("Name=Glow", "Name=Other"))),
    ("theme with another first line: last-chance box, exit 1",
     damaged_is_fatal("Tarnwick-badheader", glow_with("FWSTYLE 1", "FWSTYLE 2"))),
    ("theme with a broken colour: last-chance box, exit 1",
     damaged_is_fatal("Tarnwick-badcolour", glow_with("MenuText=#E6EDF3", "MenuText=#E6EDG3"))),
    ("theme without a colour: last-chance box, exit 1",
     damaged_is_fatal("Tarnwick-nocolour", glow_with("Border=#435062", "; no border colour"))),
    ("a rasapi32.dll without the service's functions: runs, (none), exit 0", missing_service_functions),
]

if __name__ == "__main__":
    try:
        sys.exit(harness.run("themes", CASES))
    finally:
        for copy in COPIES:
            copy.unlink(missing_ok=True)
