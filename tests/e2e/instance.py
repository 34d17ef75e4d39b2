#!/usr/bin/python3
"""One instance per session: a second start leaves at once; ending the first,
by its menu or by force, lets the next one run. Closed by Restart Manager (an
installer or an update), it ends as by its Exit; a log-off or shutdown only
takes its icon away."""

import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import TRAY_CLASS, check

QUICK_EXIT_S = 10


def second_start_is_refused(s):
    first = s.start_ready()
    began = time.monotonic()
    code = s.start().wait_exit(QUICK_EXIT_S)
    print(f"     second start ended after {time.monotonic() - began:.2f} s")
    check(code == 0, f"second start: exit code {code}, not 0")
    check(first.running(), "the first instance ended")
    check(s.count_windows(TRAY_CLASS) == 1, "not exactly one tray icon window")
    check(s.count_windows("#32770", visible_only=True) == 0, "a dialog is shown")
    shot = s.screenshot("after-second")
    icons = s.tray_icons(shot)
    check([i.state for i in icons] == ["disconnected"], f"not the first instance's icon alone: {icons}")


def exit_from_menu_then_start_again(s):
    first = s.start_ready()
    s.click_tray("left")
    s.type_into_menu("x")
    code = first.wait_exit(10)
    check(code == 0, f"exit from the menu: exit code {code}, not 0")
    s.wait_no_window(TRAY_CLASS, 10)
    s.wait_tray(None, 10)
    again = s.start_ready()
    check(again.running(), "the new instance ended")


def kill_linux_process(s, program):
    program.popen.kill()


def taskkill(s, program):
    code = s.wine("taskkill", "/f", "/im", "Tarnwick.exe")
    check(code == 0, f"taskkill: exit code {code}")


def next_start_after(kill):
    def case(s):
        first = s.start_ready()
        kill(s, first)
        first.wait_exit(10)
        s.wait_no_window(TRAY_CLASS, 10)
        second = s.start_ready()
        # It holds the guard again: one more start is refused.
        check(s.start().wait_exit(QUICK_EXIT_S) == 0, "a third start did not leave with 0")
        check(second.running(), "the new instance ended")
    return case


def end_session(how):
    """WM_QUERYENDSESSION, then WM_ENDSESSION, to each of the program's top-level windows."""
    def case(s):
        program = s.start_ready()
        settings = s.settings_file()
        settings.unlink(missing_ok=True)
        answers = s.driver("end-session", how)[1].splitlines()
        check(answers and all("\tquery=1\t" in a for a in answers),
              f"not every window answered WM_QUERYENDSESSION with 1: {answers}")
        if how == "closeapp":
            code = program.wait_exit(10)
            check(code == 0, f"closed by Restart Manager: exit code {code}, not 0")
            check(settings.is_file(), "the settings were not written at the exit")
        else:
            check(program.running(), f"a {how} ended the program")
        s.wait_tray(None, 10)
        check(program.running() == (how != "closeapp"), "the program's state changed after its icon went")
    return case


CASES = [
    ("a second start exits 0 at once and shows nothing", second_start_is_refused),
    ("Exit from the menu ends with 0, a new start works", exit_from_menu_then_start_again),
    ("after SIGKILL of the process the next start works", next_start_after(kill_linux_process)),
    ("after taskkill /f the next start works", next_start_after(taskkill)),
    ("Restart Manager's close ends with 0, icon gone, settings written", end_session("closeapp")),
    ("a shutdown's end of session takes the icon, the program stays", end_session("shutdown")),
]

if __name__ == "__main__":
    sys.exit(harness.run("instance", CASES))
