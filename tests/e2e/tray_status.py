#!/usr/bin/python3
"""The tray icon shows in the desktop's taskbar and follows the connection state."""

import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import DEFAULT_SCENARIO, POLL_INTERVAL_S, TRAY_CLASS, check

# The program polls every 5 s: a deadline for one poll, with room to spare.
POLL_S = 3 * POLL_INTERVAL_S
# The icon shows what a poll found well within this.
DRAWN_S = 10


def icon_appears_disconnected(s):
    program = s.start()
    s.wait_window(TRAY_CLASS, 20)
    took = s.wait_tray("disconnected", 20)
    print(f"     icon drawn {took:.1f} s after its window existed")
    shot = s.screenshot("tray")
    check(len(s.tray_icons(shot)) == 1, "not exactly one icon of ours in the tray")
    check(program.running(), "the program ended")


def connection_changes_the_icon(s):
    s.start_ready()
    for scenario, state in [
        (DEFAULT_SCENARIO + "conn\t1\tconnected\tOffice\n", "connected"),
        (DEFAULT_SCENARIO, "disconnected"),
    ]:
        s.write_scenario(scenario)
        # A change shows by the second poll at the latest: the first to answer may have
        # read the service before the change, the one after it began after it.
        mark = len(s.log_lines())
        for poll in ("first", "second"):
            mark = s.wait_log(f"the {poll} poll after the change",
                              lambda f: f[:2] == ["RasEnumConnectionsW", "first"], POLL_S, mark) + 1
        took = s.wait_tray(state, DRAWN_S)
        print(f"     {state} {took:.1f} s after the second poll")
        if state == "connected":
            # Taken from the service's answer for that connection, not guessed from its listing alone.
            s.wait_log("the status query of connection #1", lambda f: f[:2] == ["RasGetConnectStatusW", "#1"], 1)


CASES = [
    ("the icon appears in the taskbar, disconnected", icon_appears_disconnected),
    ("a connection turns the icon connected, its end back", connection_changes_the_icon),
]

if __name__ == "__main__":
    sys.exit(harness.run("tray_status", CASES))
