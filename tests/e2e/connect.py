#!/usr/bin/python3
"""Connecting and disconnecting from the menu: the calls to the service and their
order, the busy menu while a request runs, the tray icon and the result balloons."""

import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import (DEFAULT_SCENARIO, POLL_INTERVAL_S, check, click_entry, exit_at_once, held_dial,
                     log_index, menu_texts)

INFO, WARNING = "1", "2"
TITLE = "VPN Information"
# Wine's shell shows a balloon about 2 s after it is asked to.
BALLOON_S = 10
BALLOON_QUIET_S = 4.0
# The icon shows a result well within this once the service has answered.
RESULT_S = 5
# Two connection polls and the icon drawn, with room to spare (a held dial waits meanwhile).
POLLED_S = 3 * POLL_INTERVAL_S
# A held dial ends within this once it is let go.
RELEASE_S = 10
# Exit ends the program within this, a dial running or not.
EXIT_S = 5


def item(items, text):
    found = [i for i in items if i.text == text]
    check(len(found) == 1, f"menu item {text!r}: {len(found)} found in {menu_texts(items)}")
    return found[0]


def connect_first_entry(s):
    """Chooses Office, whose dial answers at once, and waits for the result on the icon."""
    mark = len(s.log_lines())
    click_entry(s, 0)
    s.wait_log("the dial's end", lambda f: f == ["RasDialW", "Office", "0"], 10, mark)
    s.wait_tray("connected", RESULT_S)


def start(s, scenario, state, fresh_settings=True):
    """Starts the program on this phonebook, notifications on unless kept from before."""
    if fresh_settings:
        s.settings_file().unlink(missing_ok=True)
    s.write_scenario(scenario)
    program = s.start_ready(state)
    s.watch_balloons()
    return program


def connect_hangs_up_all_then_dials(s):
    start(s, DEFAULT_SCENARIO + "conn\t1\tconnected\tLab\nconn\t2\tconnected\tModem\n" + held_dial("Office"),
          "connected")
    s.click_tray("left")
    items = s.menu_items()
    check(menu_texts(items)[:2] == ["Office", "Lab"], f"the menu starts {menu_texts(items)[:2]}")
    check(not items[0].checked and items[1].checked, "Office should be unchecked and Lab checked")
    mark = len(s.log_lines())
    s.type_into_menu("Down", "Return")
    s.wait_log("the dial", lambda f: f[:2] == ["RasDialW-begin", "Office"], 10, mark)

    lines = s.log_lines()
    params = log_index(lines, ["RasGetEntryDialParamsW", "Office", "0"], mark)
    hangups = [log_index(lines, ["RasHangUpW", f"#{n}", "0"], mark) for n in (1, 2)]
    dial = log_index(lines, ["RasDialW-begin", "Office"], mark)
    check(params >= 0, "no dial-parameter query for Office")
    check(all(params < h < dial for h in hangups),
          f"want dial parameters, both hang-ups, then the dial; got lines {params}, {hangups}, {dial}: "
          f"{lines[mark:dial + 1]}")

    # Both connections are gone while the dial runs, so a poll shows the
    # icon disconnected; only the result turns it connected again.
    s.wait_tray("disconnected", POLLED_S)
    s.release_dial("Office")
    done = s.wait_log("the dial's end", lambda f: f == ["RasDialW", "Office", "0"], RELEASE_S, mark)
    s.wait_tray("connected", RESULT_S)
    icon, title = s.wait_balloon("Office: Connected", BALLOON_S)
    check((icon, title) == (INFO, TITLE), f"balloon icon {icon}, title {title!r}")
    check(log_index(s.log_lines(), ["RasHangUpW"], done) < 0, "a hang-up after a successful dial")

    s.pointer(500, 300)
    s.click_tray("left")
    items = s.menu_items()
    check(menu_texts(items)[:2] == ["Office", "Lab"], f"after the result the menu starts {menu_texts(items)[:2]}")
    check(items[0].checked and not items[1].checked, "Office should be checked now, Lab not")
    s.type_into_menu("Escape")


def busy_menu_during_a_long_dial(s):
    # The dial lasts until the end of the case: Exit must not wait for it.
    program = start(s, DEFAULT_SCENARIO + held_dial("Office"), "disconnected")
    mark = len(s.log_lines())
    click_entry(s, 0)
    s.wait_log("the dial", lambda f: f[:2] == ["RasDialW-begin", "Office"], 10, mark)

    def busy_menu(notification_checked):
        s.click_tray("left")
        items = s.menu_items()
        texts = menu_texts(items)
        check(texts[0] == "Connecting..." and items[0].disabled, f"the menu starts {texts[:1]}, not a disabled Connecting...")
        for hidden in ("Office", "Lab", "Disconnecting..."):
            check(hidden not in texts, f"{hidden} shows while dialling: {texts}")
        check(item(items, "Enable &Notification").checked == notification_checked,
              f"Enable Notification should be {'checked' if notification_checked else 'unchecked'}")

    busy_menu(True)
    s.type_into_menu("n")
    s.wait_no_menu(5)
    busy_menu(False)
    # Nothing answers that address here; what counts is that the program goes on.
    s.type_into_menu("o")
    s.wait_no_menu(5)
    check(program.running(), "Open VPN Setting ended the program")
    check(s.count_windows("#32770", visible_only=True) == 0, "a dialog shows after Open VPN Setting")
    busy_menu(False)
    exit_at_once(s, program, "the dial", EXIT_S)
    check(log_index(s.log_lines(), ["RasDialW", "Office"], mark) < 0, "the dial had finished before the exit")


def results_and_their_balloons(s):
    start(s, DEFAULT_SCENARIO + "dial\t691\t0\tOffice\n", "disconnected")

    mark = len(s.log_lines())
    click_entry(s, 0)
    icon, _ = s.wait_balloon("Office: Connected failed", BALLOON_S)
    check(icon == WARNING, f"failed dial: balloon icon {icon}, not warning")
    s.wait_tray("disconnected", RESULT_S)
    lines = s.log_lines()
    failed = log_index(lines, ["RasDialW", "Office", "691"], mark)
    check(failed >= 0 and log_index(lines, ["RasHangUpW", "#1", "0"], failed) > failed,
          "the handle of the failed dial was not hung up")

    s.write_scenario(DEFAULT_SCENARIO)
    connect_first_entry(s)
    s.wait_balloon("Office: Connected", BALLOON_S)
    click_entry(s, 0)
    icon, _ = s.wait_balloon("Office: Disconnected", BALLOON_S)
    check(icon == INFO, f"disconnect: balloon icon {icon}, not info")
    s.wait_tray("disconnected", RESULT_S)
    check(not any(line.startswith("conn\t") for line in s.scenario.read_text().splitlines()),
          "the connection is still up in the service")

    connect_first_entry(s)
    s.wait_balloon("Office: Connected", BALLOON_S)
    s.write_scenario(s.scenario.read_text() + "fail\tRasHangUpW\t6\n")
    mark = len(s.log_lines())
    click_entry(s, 0)
    icon, _ = s.wait_balloon("Office: Disconnected failed", BALLOON_S)
    check(icon == WARNING, f"refused hang-up: balloon icon {icon}, not warning")
    check(log_index(s.log_lines(), ["RasHangUpW"], mark) >= 0, "no hang-up was asked for")
    check(s.tray_state() == "connected", "the icon left connected although the hang-up was refused")


def no_balloon_once_notifications_are_off(s):
    program = start(s, DEFAULT_SCENARIO, "disconnected")
    s.click_tray("left")
    check(item(s.menu_items(), "Enable &Notification").checked, "Enable Notification starts unchecked")
    s.type_into_menu("n")
    s.wait_no_menu(5)
    s.click_tray("left")
    s.type_into_menu("x")
    check(program.wait_exit(10) == 0, "the exit failed")
    s.wait_no_window(harness.TRAY_CLASS, 10)

    start(s, DEFAULT_SCENARIO, "disconnected", fresh_settings=False)
    s.click_tray("left")
    check(not item(s.menu_items(), "Enable &Notification").checked, "Enable Notification starts checked again")
    s.type_into_menu("Down", "Return")
    s.wait_log("the dial", lambda f: f == ["RasDialW", "Office", "0"], 10)
    s.wait_tray("connected", RESULT_S)
    s.no_balloon(BALLOON_QUIET_S)


CASES = [
    ("connecting asks for the dial parameters, hangs up every connection, then dials", connect_hangs_up_all_then_dials),
    ("during a long dial the menu is busy, still works, and Exit ends at once", busy_menu_during_a_long_dial),
    ("failed dial, disconnect and refused hang-up: balloons and icon", results_and_their_balloons),
    ("with notifications off, also after a restart, a result shows no balloon", no_balloon_once_notifications_are_off),
]

if __name__ == "__main__":
    sys.exit(harness.run("connect", CASES))
