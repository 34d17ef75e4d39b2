#!/usr/bin/python3
"""The settings file: made on a first run, a foreign encoding stops the start,
and a file another program holds open fails a save without losing the setting."""

import re
import shutil
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import TRAY_CLASS, check, held_dial, ms, scaled, unescape, wait_until

FIRST_RUN_BYTES = b"\xef\xbb\xbf[system]\r\nenable_notification=1\r\n\r\n"
NOTIFICATIONS_OFF_BYTES = b"\xef\xbb\xbf[system]\r\nenable_notification=0\r\n\r\n"
ERROR_SHARING_VIOLATION = 32
# The Glow theme's window background and button face.
THEME_WINDOW = (0x1F, 0x26, 0x30)
THEME_BUTTON_FACE = (0x2C, 0x35, 0x42)
BOX_S = 10
# Far beyond the case; "release" ends the hold early.
HOLD_MAX_S = 60
# A worker that ran into freed memory ends the process within milliseconds.
CRASH_QUIET_S = 1.0


def roaming(s):
    return next(s.prefix.glob("drive_c/users/*/AppData/Roaming"))


def settings_folder(s):
    return roaming(s) / "Morvane" / "Tarnwick"


def settings_windows_path(s):
    user = roaming(s).parent.parent.name
    return f"C:\\users\\{user}\\AppData\\Roaming\\Morvane\\Tarnwick\\Tarnwick.ini"


def box(s):
    """The visible dialog's title and message text."""
    lines = s.driver("boxes", ms(BOX_S), timeout=BOX_S + 30)[1].splitlines()
    check(len(lines) >= 2, f"a box without a message: {lines}")
    return unescape(lines[0]), unescape(lines[1])


def box_colours(s, label):
    """The visible dialog's colours on screen, counted; its picture is kept as evidence."""
    for line in s.driver("list")[1].splitlines():
        fields = line.split("\t")
        if fields[2] == "visible" and fields[4] == "#32770":
            left, top, right, bottom = (int(v) for v in fields[3].split())
            break
    else:
        raise harness.TestFailure("no visible box to look at")
    shot = s.screenshot(label)
    s.artifacts.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(shot, s.artifacts / f"{label}.png")
    return s.colours(shot, left, top, right - left, bottom - top)


def exit_from_menu(s, program):
    s.click_tray("left")
    s.type_into_menu("x")
    code = program.wait_exit(10)
    check(code == 0, f"exit code {code}, not 0")


def first_run_makes_folder_then_file(s):
    vendor = settings_folder(s).parent
    shutil.rmtree(vendor, ignore_errors=True)
    program = s.start_ready()
    check(settings_folder(s).is_dir(), "no settings folder after the start")
    check(not (settings_folder(s) / "Tarnwick.ini").exists(), "the settings file exists before the exit")
    exit_from_menu(s, program)
    written = [p.name for p in settings_folder(s).iterdir()]
    check(written == ["Tarnwick.ini"], f"the settings folder holds {written}")
    data = (settings_folder(s) / "Tarnwick.ini").read_bytes()
    check(data == FIRST_RUN_BYTES, f"the first run wrote {data!r}")


def utf16_file_stops_the_start(s):
    folder = settings_folder(s)
    folder.mkdir(parents=True, exist_ok=True)
    content = "\ufeff[system]\r\nenable_notification=0\r\n".encode("utf-16-le")
    (folder / "Tarnwick.ini").write_bytes(content)
    program = s.start()
    title, text = box(s)
    check(title == "Error", f"box title {title!r}")
    check(re.fullmatch(r"Runtime error 217 at [0-9A-F]{16}", text), f"box text {text!r}")
    check(s.count_windows(TRAY_CLASS) == 0, "the tray icon's window exists")
    check(s.tray_state() is None, "an icon sits in the tray")
    s.driver("click", "OK", ms(5))
    code = program.wait_exit(10)
    check(code == 217, f"exit code {code}, not 217")
    check((folder / "Tarnwick.ini").read_bytes() == content, "the settings file was changed")


def save_while_held_fails_then_succeeds(s):
    folder = settings_folder(s)
    folder.mkdir(parents=True, exist_ok=True)
    settings = folder / "Tarnwick.ini"
    settings.write_bytes(FIRST_RUN_BYTES)
    path = settings_windows_path(s)
    program = s.start_ready()

    holder, held = s.driver_background("hold", path, ms(HOLD_MAX_S))
    wait_until("the hold", lambda: "held" in held.read_text() or holder.poll() is not None, 10)
    check(holder.poll() is None, f"hold ended: {held.read_text()!r}")
    s.click_tray("left")
    s.type_into_menu("n")
    title, text = box(s)
    reason = s.driver("sysmsg", ERROR_SHARING_VIOLATION)[1].rstrip("\n")
    expected = f"ファイル {path} は開けません。 {reason} "
    # A full stop is added only after characters that sort above it.
    if expected[-1] > ".":
        expected += "."
    check(title == "Tarnwick", f"box title {title!r}")
    check(text == expected, f"box text {text!r}, expected {expected!r}")
    # The box is in the theme: its background and its button.
    colours = box_colours(s, "themed-box")
    background, _ = colours.most_common(1)[0]
    check(background == THEME_WINDOW, f"the box's background is {background}, not the theme's {THEME_WINDOW}")
    check(colours[THEME_BUTTON_FACE] > 200, f"the box's button is not in the theme ({colours[THEME_BUTTON_FACE]} px)")
    s.driver("click", "OK", ms(5))
    s.driver("wait-no-box", ms(5))
    check(program.running(), "the program ended after the box")
    check(settings.read_bytes() == FIRST_RUN_BYTES, "the held file was changed")

    s.click_tray("left")
    items = s.menu_items()
    notification = [i for i in items if i.text == "Enable &Notification"]
    check(len(notification) == 1 and not notification[0].checked, "Enable Notification lost its new state")
    s.type_into_menu("Escape")
    s.wait_no_menu(5)

    s.driver("release")
    check(holder.wait(10) == 0 and "released" in held.read_text(), "the hold did not end by release")
    exit_from_menu(s, program)
    data = settings.read_bytes()
    check(data == NOTIFICATIONS_OFF_BYTES, f"the save at exit wrote {data!r}")


def exit_during_a_dial_whose_save_fails(s):
    """The dial returns while the last-chance box is up: its worker must find
    nothing freed under it and stay put until the process ends."""
    folder = settings_folder(s)
    folder.mkdir(parents=True, exist_ok=True)
    settings = folder / "Tarnwick.ini"
    settings.write_bytes(NOTIFICATIONS_OFF_BYTES)
    # The dial runs until the exit's box is up, and returns under it.
    s.write_scenario(harness.DEFAULT_SCENARIO + held_dial("Office"))
    program = s.start_ready()
    mark = len(s.log_lines())
    s.click_tray("left")
    s.type_into_menu("Down", "Return")
    s.wait_log("the dial", lambda f: f[:2] == ["RasDialW-begin", "Office"], 10, mark)

    holder, held = s.driver_background("hold", settings_windows_path(s), ms(HOLD_MAX_S))
    wait_until("the hold", lambda: "held" in held.read_text() or holder.poll() is not None, 10)
    check(holder.poll() is None, f"hold ended: {held.read_text()!r}")
    s.click_tray("left")
    s.type_into_menu("x")
    title, _ = box(s)
    check(title == "アプリケーションエラー", f"box title {title!r}")
    check(not any(line.split("\t")[0] == "RasDialW" for line in s.log_lines()[mark:]), "the dial ended before the box")
    s.release_dial("Office")
    s.wait_log("the dial's end", lambda f: f == ["RasDialW", "Office", "0"], 10, mark)
    # A worker that touched what the exit freed would end the process at once.
    quiet_until = time.monotonic() + scaled(CRASH_QUIET_S)
    while time.monotonic() < quiet_until:
        check(program.running(), f"the program ended with {program.popen.returncode} when the dial returned")
        time.sleep(0.1)
    title, _ = box(s)
    check(title == "アプリケーションエラー", "the last-chance box went away by itself")
    s.driver("click", "OK", ms(5))
    code = program.wait_exit(10)
    check(code == 1, f"exit code {code}, not 1")
    s.driver("release")
    holder.wait(10)
    check(settings.read_bytes() == NOTIFICATIONS_OFF_BYTES, "the held settings file was changed")


CASES = [
    ("a first run makes the folder at start and the file at exit", first_run_makes_folder_then_file),
    ("a UTF-16 settings file stops the start with runtime error 217", utf16_file_stops_the_start),
    ("a save while another program holds the file fails, the next one writes", save_while_held_fails_then_succeeds),
    ("an exit during a dial whose save fails ends with code 1 when the dial returns", exit_during_a_dial_whose_save_fails),
]

if __name__ == "__main__":
    sys.exit(harness.run("settings_file", CASES))
