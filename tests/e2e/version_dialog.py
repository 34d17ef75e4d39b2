#!/usr/bin/python3
"""The version dialog, opened from the tray menu: its layout at 96 and 144 DPI
read from the screen, also after it was told its monitor changed from 96 to 144,
the autorun check box and the Run value, and the version text when there is
none to show.

Labels are painted, not windows: their places are read from the ink on a
screenshot and compared with where twpatchres says the same text in the same
font leaves ink. Screenshots of the dialog stay in <build>/e2e/version_dialog/.
"""

import shutil
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import TestFailure, check, ms, wait_until

DIALOG = "TfrmVersion"
# The system's controls, as the tools name them.
BUTTON_CONTROL = "Button:push"
CHECK_BOX_CONTROL = "Button:checkbox"
# The check box's own text: what it is called, though the label beside it is what shows.
AUTORUN_NAME = "Launch automatically when Windows starts"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
RUN_VALUE = "Tarnwick"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
WM_SYSCOMMAND, SC_CLOSE = 0x0112, 0xF060
WM_DPICHANGED = 0x02E0
BM_GETCHECK, BM_CLICK = 0x00F0, 0x00F5
HTCLOSE = 20

# The layout at 96 DPI, client coordinates.
CLIENT = (624, 251)
BUTTON = (221, 188, 181, 47)  # left, top, width, height
CHECK_BOX = (8, 145, 337, 26)
VERSION_TEXT = "Version 1.1.0"
NO_VERSION_TEXT = "lblVersion"
TEXT_RIGHT = 605  # where the right-aligned labels end
TASKBAR_TOP = 680  # windows are placed above the desktop's taskbar
# Painted labels: text, left (None: right-aligned to TEXT_RIGHT), top, font height, bold.
LABELS = {
    "title": ("Tarn Wick", 142, -8, 64, True),
    "version": (VERSION_TEXT, None, 70, 21, False),
    "copyright": ("\u00A9 2026 Morvane. All rights reserved.", None, 109, 16, False),
    "autorun caption": ("Launch automatically when Windows starts", 29, 145, 16, False),
    "built with": ("Built with C++20", 62, 202, 16, False),
}
# At 150 % the autorun caption sits 1 px higher than its scaled place.
CAPTION_NUDGE = {96: 0, 144: 1}
INK_TOLERANCE = 2
# Ink is searched this far around where it is expected; the nearest other ink is farther.
SEARCH_MARGIN = 5

THEME_TEXT = (0xE6, 0xED, 0xF3)
THEME_WINDOW = (0x1F, 0x26, 0x30)
FOCUS_FRAME = (0x00, 0xB7, 0xEE)  # the focused button's frame
BORDER = (0x43, 0x50, 0x62)  # the check box's frame

COPIES = []  # removed when the script ends


def muldiv(value, multiplier, divisor=96):
    """MulDiv: value * multiplier / divisor rounded, halves away from zero."""
    q, r = divmod(abs(value) * multiplier, divisor)
    q += 2 * r >= divisor
    return q if value >= 0 else -q


# ---- tools ----

def patchres(s, *args):
    return s.patchres(*args)


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def set_run_value(s, kind):
    """The Run value before the program starts: None (absent), "path" (this exe) or "dword"."""
    s.reg_delete(RUN_KEY, RUN_VALUE)
    if kind == "path":
        s.reg_set(RUN_KEY, RUN_VALUE, "REG_SZ", windows_path(s.exe))
    elif kind == "dword":
        s.reg_set(RUN_KEY, RUN_VALUE, "REG_DWORD", 1)


def run_value(s):
    """The Run value's data as wine reg shows it, or None."""
    return s.reg_value(RUN_KEY, RUN_VALUE)


CURRENT_DPI = [96]  # the prefix's LogPixels; a fresh prefix has none, which Wine takes as 96


def use_dpi(s, dpi):
    # A program started after the change already scales, but the desktop keeps
    # the DPI it started with (its taskbar, and GetDpiForWindow asked from
    # another process): a fresh wineserver takes the desktop down with it.
    if CURRENT_DPI[0] == dpi:
        return
    s.reg_set(DESKTOP_KEY, "LogPixels", "REG_DWORD", dpi)
    s.restart_server()
    CURRENT_DPI[0] = dpi


# ---- the dialog ----

class Dialog:
    """The open version dialog: its client area on the screen and its child windows.
    dpi: the DPI it was told its monitor has, where Wine answers 96 for its window."""

    def __init__(self, s, timeout=10, dpi=None):
        lines = patchres(s, "rects", DIALOG, ms(timeout)).splitlines()
        fields = {}
        self.children = {}
        for line in lines:
            name, *values = line.split()
            if name in ("client", "dpi"):
                fields[name] = [int(v) for v in values]
            else:
                self.children[name] = tuple(int(v) for v in values)
        self.left, self.top, self.right, self.bottom = fields["client"]
        self.dpi = dpi or fields["dpi"][0]

    def screen(self, x, y):
        return self.left + x, self.top + y


def open_dialog(s, exe=None):
    program = s.start_ready(exe=exe)
    s.click_tray("left")
    s.type_into_menu("v")
    s.wait_no_menu(10)
    dialog = Dialog(s)
    # Away from the copyright line (it changes colour under the pointer) and the button.
    s.pointer(*dialog.screen(muldiv(600, dialog.dpi), muldiv(240, dialog.dpi)))
    return program, dialog


def window_rect(s, window_class):
    """The outer rectangle (left, top, right, bottom) of the visible top-level window of the class."""
    for line in s.driver("list")[1].splitlines():
        _, _, shown, rect, cls, *_ = line.split("\t")
        if shown == "visible" and cls == window_class:
            return tuple(int(v) for v in rect.split())
    raise TestFailure(f"no visible {window_class} window")


def check_state(s):
    return int(patchres(s, "send", f"{DIALOG}/{CHECK_BOX_CONTROL}", BM_GETCHECK, 0, 0).strip())


def toggle_check_box(s, now):
    patchres(s, "post", f"{DIALOG}/{CHECK_BOX_CONTROL}", BM_CLICK, 0, 0)
    wait_until("the check box toggled", lambda: check_state(s) == now, 5)


def wait_closed(s):
    s.driver("wait-no-box", ms(10), DIALOG)


# ---- the screen ----

class Picture:
    def __init__(self, s, png):
        self.png = png
        self.width = harness.DESKTOP_SIZE[0]
        self.raw = s.convert(png, "-alpha", "off", "-depth", "8", "rgb:-")

    def bounds(self, region, predicate):
        """The bounding box (left top right bottom, right and bottom exclusive) of the matching pixels, or None."""
        left, top, right, bottom = region
        found = None
        for y in range(max(top, 0), bottom):
            row = self.raw[y * self.width * 3:(y + 1) * self.width * 3]
            for x in range(max(left, 0), right):
                if predicate(row[x * 3], row[x * 3 + 1], row[x * 3 + 2]):
                    found = (x, y, x + 1, y + 1) if found is None else (
                        min(found[0], x), min(found[1], y), max(found[2], x + 1), max(found[3], y + 1))
        return found


def near(colour, tolerance=8):
    return lambda r, g, b: max(abs(r - colour[0]), abs(g - colour[1]), abs(b - colour[2])) <= tolerance


# Text ink: brighter than halfway from the dialog's background to the theme's text colour.
INK_LEVEL = (sum(THEME_WINDOW) + sum(THEME_TEXT)) // 2


def bright(r, g, b):
    return r + g + b >= INK_LEVEL


def expected_ink(s, dialog, label, text=None):
    """Where the label's ink must be on the screen: (left, top, right, bottom)."""
    caption, left, top, height, bold = LABELS[label]
    caption = text or caption
    dpi = dialog.dpi
    out = patchres(s, "ink", muldiv(height, dpi), "bold" if bold else "normal", caption).split()
    extent_w = int(out[1])
    ink = [int(v) for v in out[4:8]]
    x = muldiv(left, dpi) if left is not None else muldiv(TEXT_RIGHT, dpi) - extent_w
    y = muldiv(top, dpi) - (CAPTION_NUDGE[dpi] if label == "autorun caption" else 0)
    return (dialog.left + x + ink[0], dialog.top + y + ink[1], dialog.left + x + ink[2], dialog.top + y + ink[3])


def ink_at(picture, dialog, expected):
    """The bounding box of the text ink around where it is expected, inside the client area."""
    left, top, right, bottom = expected
    return picture.bounds((max(left - SEARCH_MARGIN, dialog.left), max(top - SEARCH_MARGIN, dialog.top),
                           min(right + SEARCH_MARGIN, dialog.right), min(bottom + SEARCH_MARGIN, dialog.bottom)),
                          bright)


def within(found, expected, tolerance):
    return found is not None and all(abs(a - b) <= tolerance for a, b in zip(found, expected))


def dialog_picture(s, dialog, label):
    """A screenshot once the dialog is painted: every window of it has painted (the check box
    may paint after the button is on the screen), and its focused button's frame is on the screen."""
    patchres(s, "painted", DIALOG, ms(10))
    left, top, width, height = (muldiv(v, dialog.dpi) for v in BUTTON)
    frame = (dialog.left + left, dialog.top + top, dialog.left + left + width, dialog.top + top + height)
    pictures = []

    def painted():
        pictures.append(Picture(s, s.screenshot(label)))
        return pictures[-1].bounds(frame, near(FOCUS_FRAME)) is not None
    wait_until("the dialog painted", painted, 10, 0.2)
    s.artifacts.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(pictures[-1].png, s.artifacts / f"{label}.png")
    return pictures[-1]


def version_ink(s, dialog, picture):
    """Which of the two version texts the version label shows, by where its ink is."""
    found = {}
    for text in (VERSION_TEXT, NO_VERSION_TEXT):
        expected = expected_ink(s, dialog, "version", text)
        found[text] = ink_at(picture, dialog, expected)
        if within(found[text], expected, INK_TOLERANCE):
            return text
    raise TestFailure(f"the version label's ink is neither text's: {found}")


# ---- cases ----

def check_layout(s, dialog, shot):
    """The dialog is laid out for its DPI, on the screen: windows, frames and ink.
    The screenshot is kept as <shot>.png."""
    dpi = dialog.dpi
    picture = dialog_picture(s, dialog, shot)
    problems = []

    # Windows: exactly the scaled layout.
    size = (dialog.right - dialog.left, dialog.bottom - dialog.top)
    want = (muldiv(CLIENT[0], dpi), muldiv(CLIENT[1], dpi))
    if size != want:
        problems.append(f"client size {size}, not {want}")
    for cls, (left, top, width, height) in ((BUTTON_CONTROL, BUTTON), (CHECK_BOX_CONTROL, CHECK_BOX)):
        l, t = muldiv(left, dpi), muldiv(top, dpi)
        want = (l, t, l + muldiv(width, dpi), t + muldiv(height, dpi))
        if dialog.children.get(cls) != want:
            problems.append(f"{cls} at {dialog.children.get(cls)}, not {want}")

    # Pixels: the focused button's frame and the check box's square.
    left, top, width, height = (muldiv(v, dpi) for v in BUTTON)
    want = (dialog.left + left, dialog.top + top, dialog.left + left + width, dialog.top + top + height)
    found = picture.bounds((want[0] - 8, want[1] - 8, want[2] + 8, want[3] + 8), near(FOCUS_FRAME))
    if not within(found, want, INK_TOLERANCE):
        problems.append(f"the button's frame is at {found}, not {want}")
    left, top, width, height = (muldiv(v, dpi) for v in CHECK_BOX)
    # The square is 13/26 of the box's height, 13 px at least, centred in it.
    square = max(13, muldiv(height, 13, 26))
    box_top = top + (height - square) // 2
    want = (dialog.left + left + 1, dialog.top + box_top, dialog.left + left + 1 + square,
            dialog.top + box_top + square)
    found = picture.bounds((want[0] - 6, want[1] - 6, want[2] + 6, want[3] + 6), near(BORDER))
    if not within(found, want, INK_TOLERANCE):
        problems.append(f"the check box's square is at {found}, not {want}")

    # Ink: every label where its text in its font leaves ink.
    inks = {}
    for label in LABELS:
        want = expected_ink(s, dialog, label)
        inks[label] = found = ink_at(picture, dialog, want)
        if not within(found, want, INK_TOLERANCE):
            problems.append(f"{label}: ink at {found}, not {want}")
    # The caption's nudge is one pixel, inside the tolerance: measure it against
    # the label of the same font that is not nudged.
    if inks["autorun caption"] and inks["built with"]:
        rise = inks["autorun caption"][1] - inks["built with"][1]
        want = muldiv(LABELS["autorun caption"][2], dpi) - CAPTION_NUDGE[dpi] - muldiv(LABELS["built with"][2], dpi)
        if rise != want:
            problems.append(f"the autorun caption's ink is {rise} px from the next label's, not {want}")

    check(not problems, "; ".join(problems))
    check(version_ink(s, dialog, picture) == VERSION_TEXT, "the version label does not show the version")


def layout_at(dpi):
    def case(s):
        use_dpi(s, dpi)
        program, dialog = open_dialog(s)
        check(dialog.dpi == dpi, f"the dialog's DPI is {dialog.dpi}, not {dpi}")
        check_layout(s, dialog, f"dialog-{dpi}dpi")
        s.driver("click", "&Close", ms(5), DIALOG)
        wait_closed(s)
        check(program.running(), "closing the dialog ended the program")
    return case


def dpi_change(dpi):
    """Opened at 96 DPI, then told its monitor is at `dpi`, as Windows tells a window moved to a
    monitor of another scale (Wine never does): it takes the suggested rectangle and is laid out
    as one opened at that DPI, its check box still ticked and its button still focused."""
    def case(s):
        use_dpi(s, 96)
        set_run_value(s, "path")
        program, dialog = open_dialog(s)
        window = window_rect(s, DIALOG)
        # Suggested as Windows does: the frame around the scaled client area (Wine's frame
        # stays as it is), placed on the new monitor; here centred above the taskbar.
        width = muldiv(CLIENT[0], dpi) + (window[2] - window[0]) - (dialog.right - dialog.left)
        height = muldiv(CLIENT[1], dpi) + (window[3] - window[1]) - (dialog.bottom - dialog.top)
        left, top = (harness.DESKTOP_SIZE[0] - width) // 2, (TASKBAR_TOP - height) // 2
        suggested = (left, top, left + width, top + height)
        s.driver("send-rect", DIALOG, WM_DPICHANGED, (dpi << 16) | dpi, *suggested, ms(5))
        now = window_rect(s, DIALOG)
        check(now == suggested, f"the window is at {now}, not at the suggested {suggested}")
        dialog = Dialog(s, dpi=dpi)
        s.pointer(*dialog.screen(muldiv(600, dpi), muldiv(240, dpi)))
        check_layout(s, dialog, f"dialog-96-to-{dpi}dpi")
        check(check_state(s) == 1, "the check box lost its tick")
        s.driver("click", "&Close", ms(5), DIALOG)
        wait_closed(s)
        check(program.running(), "closing the dialog ended the program")
    return case


def close_by_escape(s, dialog):
    s.xdotool("key", "Escape")


def close_by_button(s, dialog):
    left, top, width, height = (muldiv(v, dialog.dpi) for v in BUTTON)
    s.click(*dialog.screen(left + width // 2, top + height // 2))


def close_by_close_box(s, dialog):
    x, y = patchres(s, "hit", DIALOG, HTCLOSE, ms(5)).split()[:2]
    s.click(int(x), int(y))


def close_by_sc_close(s, dialog):
    patchres(s, "post", DIALOG, WM_SYSCOMMAND, SC_CLOSE, 0)


def controls(s):
    """The dialog's windowed controls as assistive technology finds them: class, text, kind, check state."""
    found = []
    for line in s.driver("children", DIALOG)[1].splitlines():
        _, _, _, cls, text, control, state = line.split("\t")
        found.append((cls, harness.unescape(text), control, state))
    return sorted(found)


def autorun(registered, close, applied):
    """Toggles the check box from the state the Run value gives it, closes the dialog, reads the value."""
    def case(s):
        use_dpi(s, 96)
        set_run_value(s, "path" if registered else None)
        program, dialog = open_dialog(s)
        want = sorted([("Button", "&Close", BUTTON_CONTROL, "-"),
                       ("Button", AUTORUN_NAME, CHECK_BOX_CONTROL, "checked" if registered else "unchecked")])
        found = controls(s)
        check(found == want, f"the dialog's controls read {found}, not {want}")
        toggle_check_box(s, int(not registered))
        close(s, dialog)
        wait_closed(s)
        value = run_value(s)
        now_registered = registered != applied
        if now_registered:
            # Written by the dialog: in quotes; kept: as set before, bare as earlier versions wrote it.
            want = f'"{windows_path(s.exe)}"' if applied else windows_path(s.exe)
            check(value is not None and value.lower() == want.lower(), f"the Run value is {value!r}, not {want!r}")
        else:
            check(value is None, f"the Run value is still there: {value!r}")
        check(program.running(), "closing the dialog ended the program")
    return case


def wrong_value_type(s):
    use_dpi(s, 96)
    set_run_value(s, "dword")
    program = s.start_ready()
    s.click_tray("left")
    s.type_into_menu("v")
    lines = s.driver("boxes", ms(10))[1].splitlines()
    check(lines[:2] == ["Tarnwick", "'Tarnwick' のデータ型が不正です."], f"the box shows {lines[:2]}")
    check(s.count_windows(DIALOG, visible_only=True) == 0, "the dialog shows before the box is closed")
    s.driver("click", "OK", ms(5))
    dialog = Dialog(s)
    s.pointer(*dialog.screen(muldiv(600, dialog.dpi), muldiv(240, dialog.dpi)))
    picture = dialog_picture(s, dialog, "dialog-wrong-value-type")
    check(version_ink(s, dialog, picture) == NO_VERSION_TEXT, "the version label does not show lblVersion")
    check(check_state(s) == 0, "the check box is checked")
    close_by_sc_close(s, dialog)
    wait_closed(s)
    check(program.running(), "the program ended")


def no_version_resource(s):
    use_dpi(s, 96)
    set_run_value(s, None)
    exe = s.build / "Tarnwick-noversion.exe"
    COPIES.append(exe)
    patchres(s, s.exe, exe, "delete", 16, 1)
    program, dialog = open_dialog(s, exe=exe)
    picture = dialog_picture(s, dialog, "dialog-no-version-resource")
    check(version_ink(s, dialog, picture) == NO_VERSION_TEXT, "the version label does not show lblVersion")
    s.driver("click", "&Close", ms(5), DIALOG)
    wait_closed(s)
    check(program.running(), "the program ended")


CASES = [
    ("layout at 96 DPI", layout_at(96)),
    ("moved from a 96 to a 144 DPI monitor: laid out as at 144", dpi_change(144)),
    ("Esc after unchecking removes the Run value", autorun(True, close_by_escape, True)),
    ("the Close button after checking registers the executable", autorun(False, close_by_button, True)),
    ("the close box after unchecking keeps the Run value", autorun(True, close_by_close_box, False)),
    ("SC_CLOSE after unchecking keeps the Run value", autorun(True, close_by_sc_close, False)),
    ("a REG_DWORD Run value: error box, then lblVersion", wrong_value_type),
    ("no version resource: lblVersion", no_version_resource),
    ("layout at 144 DPI", layout_at(144)),
]

if __name__ == "__main__":
    try:
        sys.exit(harness.run("version_dialog", CASES))
    finally:
        for copy in COPIES:
            copy.unlink(missing_ok=True)
