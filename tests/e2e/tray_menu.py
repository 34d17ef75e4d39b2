#!/usr/bin/python3
"""Left and right clicks on the tray icon open the menu at the pointer; the middle button does not."""

import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import check, ms

# A menu shows some 0.1-0.3 s after a click here; this long without one means none is coming.
NO_MENU_QUIET_S = 2.0
# Wine moves a menu that would leave the screen or cover the taskbar; it stays next to the pointer.
NEAR_POINTER_PX = 24


def menu_opens_by(open_menu):
    def case(s):
        program = s.start_ready()
        open_menu(s)
        left, top, right, bottom = s.wait_menu(10)
        x, y = s.pointer_position()
        check(left - NEAR_POINTER_PX <= x <= right + NEAR_POINTER_PX and
              top - NEAR_POINTER_PX <= y <= bottom + NEAR_POINTER_PX,
              f"menu at {left},{top}-{right},{bottom} is not at the pointer {x},{y}")
        s.type_into_menu("Escape")
        s.wait_no_menu(10)
        check(program.running(), "closing the menu ended the program")
    return case


def middle_button_opens_nothing(s):
    program = s.start_ready()
    s.click_tray("middle")
    check(not s.menu_shows_within(NO_MENU_QUIET_S), "the middle button opened a menu")
    check(program.running(), "the middle button ended the program")
    # The click was taken and ignored, not lost in a stuck program: the left button still works.
    s.click_tray("left")
    s.wait_menu(10)
    s.type_into_menu("Escape")
    s.wait_no_menu(10)


CASES = [
    ("a left click opens the menu", menu_opens_by(lambda s: s.click_tray("left"))),
    ("a right click opens the menu", menu_opens_by(lambda s: s.click_tray("right"))),
    ("a posted left-button callback opens the menu", menu_opens_by(lambda s: s.driver("tray", "left", ms(10)))),
    ("the middle button opens nothing", middle_button_opens_nothing),
]

if __name__ == "__main__":
    sys.exit(harness.run("tray_menu", CASES))
