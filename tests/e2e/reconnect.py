#!/usr/bin/python3
"""Hanging up takes the service a while: the line stays listed, closing, and dialling the
same entry meanwhile fails with 602. The program waits until the old handle is gone before
it dials or reports, and still ends at once when told to exit while it waits."""

import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import (DEFAULT_SCENARIO, TestFailure, check, click_entry, exit_at_once, lingering, log_index,
                     menu_texts)

OFFICE_UP = "conn\t1\tconnected\tOffice\n"
# How long a hung-up line takes to close: longer than the test takes to choose the entry
# again once the menu offers it, well within how long the program waits for a line.
CLOSING_MS = 3000
# A line that does not close within the test.
NEVER_CLOSES_MS = 600000
# The menu offers the entries again once the line has closed and the result is in.
OFFERED_S = 20
# A dial waiting for the old line ends within this.
DIAL_S = 20
# Wine's shell shows a balloon about 2 s after it is asked to.
BALLOON_S = 10
# Exit ends the program within this, a request waiting or not.
EXIT_S = 5


def start(s, scenario):
    """Starts the program with Office connected on this phonebook, notifications on."""
    s.settings_file().unlink(missing_ok=True)
    s.write_scenario(scenario)
    program = s.start_ready("connected")
    s.watch_balloons()
    return program


def choose_once_offered(s, name, position):
    """Opens the menu until it offers the entry again (it hides the entries while a request
    runs), then chooses it."""
    def offered():
        s.click_tray("left")
        if name in menu_texts(s.menu_items()):
            s.type_into_menu(*["Down"] * (position + 1), "Return")
            s.wait_no_menu(5)
            return True
        s.type_into_menu("Escape")
        s.wait_no_menu(5)
        return False
    harness.wait_until(f"the menu offering {name} again", offered, OFFERED_S)


def reconnect_at_once(s):
    start(s, DEFAULT_SCENARIO + OFFICE_UP + lingering(CLOSING_MS))
    mark = len(s.log_lines())
    click_entry(s, 0)
    hangup = s.wait_log("the hang-up", lambda f: f == ["RasHangUpW", "#1", "0"], 10, mark)
    seen = time.monotonic()
    choose_once_offered(s, "Office", 0)
    print(f"     Office chosen again {time.monotonic() - seen:.1f} s after the hang-up")
    dial = s.wait_log("the new dial's end", lambda f: f[:2] == ["RasDialW", "Office"], DIAL_S, hangup)
    code = s.log_lines()[dial].split("\t")[2]
    try:
        s.wait_balloon("Office: Connected", BALLOON_S)
    except TestFailure as failure:
        raise TestFailure(f"{failure}; the dial answered {code}"
                          f"{' (port still open: the old line was closing)' if code == '602' else ''}") from None


def switch_waits_for_the_old_line(s):
    start(s, DEFAULT_SCENARIO + OFFICE_UP + lingering(CLOSING_MS))
    mark = len(s.log_lines())
    click_entry(s, 1)
    s.wait_log("Lab's dial's end", lambda f: f[:2] == ["RasDialW", "Lab"], DIAL_S, mark)
    lines = s.log_lines()
    hangup = log_index(lines, ["RasHangUpW", "#1", "0"], mark)
    check(hangup >= 0, f"Office's connection #1 was not hung up: {lines[mark:]}")
    closing = log_index(lines, ["RasGetConnectStatusW", "#1", "0"], hangup)
    gone = log_index(lines, ["RasGetConnectStatusW", "#1", "6"], hangup)
    dial = log_index(lines, ["RasDialW-begin", "Lab"], hangup)
    check(0 <= gone < dial, f"Lab's dial began (line {dial}) before the old handle #1 answered 6 (line {gone}): "
                            f"{lines[hangup:dial + 1][-8:]}")
    # Otherwise the service closed the line at once and the order proves nothing.
    check(0 <= closing < gone, "the old line was never seen closing")
    s.wait_balloon("Lab: Connected", BALLOON_S)


def exit_while_waiting_for_the_line(s):
    program = start(s, DEFAULT_SCENARIO + OFFICE_UP + lingering(NEVER_CLOSES_MS))
    mark = len(s.log_lines())
    click_entry(s, 0)
    s.wait_log("the hang-up", lambda f: f == ["RasHangUpW", "#1", "0"], 10, mark)
    s.click_tray("left")
    texts = menu_texts(s.menu_items())
    check(texts[:1] == ["Disconnecting..."], f"no request waits for the line: the menu starts {texts[:2]}")
    exit_at_once(s, program, "the line", EXIT_S)


CASES = [
    ("disconnected, then connected again at once: the dial waits for the old line and connects", reconnect_at_once),
    ("switching entries: the new dial begins only after the old handle is gone", switch_waits_for_the_old_line),
    ("Exit while a request waits for a line ends the program at once", exit_while_waiting_for_the_line),
]

if __name__ == "__main__":
    sys.exit(harness.run("reconnect", CASES))
