#!/usr/bin/python3
"""The MSI while Tarnwick runs from the installed folder. Windows Installer cannot
close a running program: ended first (as the deployment guide says), the upgrade
replaces the file; still running, the new file waits for the next restart and
msiexec says so with 3010. Wine's msiexec then leaves a file in use in place on an
uninstall and reports success."""

import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import TRAY_CLASS, check
from msi import (INSTALLED_EXE, MARK, PENDING, RESTART_REQUIRED, exit_by_menu, install, installed_versions,
                 make_msis, uninstall, unix_path)


def while_running(s):
    version = make_msis(s)
    exe = unix_path(s, INSTALLED_EXE)
    # Ended first, as the guide says: the upgrade replaces the file and needs no restart.
    install(s, version)
    program = s.start_ready(exe=INSTALLED_EXE)
    check(s.wine("taskkill", "/im", "Tarnwick.exe", "/f") == 0, "taskkill failed")
    program.wait_exit(10)
    s.wait_no_window(TRAY_CLASS, 10)
    install(s, "1.3.0", "/norestart", log="upgrade-closed")
    check(exe.read_bytes().endswith(MARK), "the upgrade did not replace the closed program's file")
    uninstall(s, "1.3.0")

    # Running: the file is in use, the new one waits for the next restart.
    install(s, version)
    program = s.start_ready(exe=INSTALLED_EXE)
    install(s, "1.3.0", "/norestart", log="upgrade-running", expect=RESTART_REQUIRED)
    check(program.running(), "the upgrade ended the running program")
    check(exe.read_bytes() == s.exe.read_bytes(), "the running program's file was replaced")
    check(installed_versions(s) == ["1.3.0"], f"installed after the upgrade: {installed_versions(s)}")
    pending = s.reg_value(PENDING, "PendingFileRenameOperations") or ""
    check(INSTALLED_EXE in pending, f"no replacement of the file waits for the restart: {pending!r}")

    # Wine's msiexec leaves a file in use where it is and reports success.
    uninstall(s, "1.3.0", "/norestart")
    check(program.running(), "the uninstall ended the running program")
    check(installed_versions(s) == [], "the uninstall entry is still there")
    check(exe.is_file(), "the running program's file went")
    exit_by_menu(s, program)


CASES = [
    ("a silent upgrade and uninstall while Tarnwick runs", while_running),
]

if __name__ == "__main__":
    sys.exit(harness.run("msi_running", CASES))
