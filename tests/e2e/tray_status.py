#!/usr/bin/python3
"""The tray icon shows in the desktop's taskbar and follows the connection state."""

import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import DEFAULT_SCENARIO, POLL_INTERVAL_S, TRAY_CLASS, check

# The program polls every 5 s: a change shows by the second poll at the latest,
# plus a second for drawing and the screenshot.
STATUS_DEADLINE_S = 2 * POLL_INTERVAL_S + 1


def icon_appears_disconnected(s):
    program = s.start()
    s.wait_window(TRAY_CLASS, 20)
    took = s.wait_tray("disconnected", 20)
    print(f"     icon drawn {took:.1f} s after its window existed")
    shot = s.screenshot("tray")
    check(s.tray_state(1, shot) is None, "a second icon sits in the tray")
    check(program.running(), "the program ended")


def connection_changes_the_icon(s):
    s.start_ready()
    for scenario, state in [
        (DEFAULT_SCENARIO + "conn\t1\tconnected\tOffice\n", "connected"),
        (DEFAULT_SCENARIO, "disconnected"),
    ]:
        s.write_scenario(scenario)
        took = s.wait_tray(state, STATUS_DEADLINE_S)
        print(f"     {state} {took:.1f} s after the scenario changed")
        if state == "connected":
            # Taken from the service's answer for that connection, not guessed from its listing alone.
            s.wait_log("the status query of connection #1", lambda f: f[:2] == ["RasGetConnectStatusW", "#1"], 1)


CASES = [
    ("the icon appears in the taskbar, disconnected", icon_appears_disconnected),
    ("a connection turns the icon connected, its end back", connection_changes_the_icon),
]

if __name__ == "__main__":
    sys.exit(harness.run("tray_status", CASES))
