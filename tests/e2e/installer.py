#!/usr/bin/python3
"""The release packages: the portable zip holds the program and its readme; the
per-user installer puts Tarnwick into the user's programs folder (or the folder
/D= names); silent, it starts nothing on a first install and brings back the copy
it closed on an update; its uninstaller ends a running copy and takes away what
was installed (and the logon start of that copy), leaving the settings. Installed
into a folder with blanks, the logon start it registers runs the installed exe,
and a switch-off in Task Manager shows in the version dialog.

The packages are made afresh by cpack from this build into the session's own
folder, so they always hold the Tarnwick.exe under test."""

import os
import pwd
import re
import shutil
import sys
import zipfile
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
import version_dialog
from harness import TRAY_CLASS, check, ms, wait_until

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwick"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
APPROVED_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
USER = pwd.getpwuid(os.getuid()).pw_name  # Wine names the profile after the Unix user
INSTALL_DIR = rf"C:\users\{USER}\AppData\Local\Programs\Tarnwick"
INSTALLED_EXE = INSTALL_DIR + r"\Tarnwick.exe"
BLANKS_DIR = rf"C:\users\{USER}\My Tools\Tarn wick"
SETTINGS_TEXT = "[system]\r\nenable_notification=0\r\n"

_packages = {}


def unix_path(s, windows_path):
    drive, rest = windows_path.split(":\\", 1)
    check(drive.upper() == "C", f"not on drive C: {windows_path}")
    return s.prefix / "drive_c" / rest.replace("\\", "/")


def shortcut(s):
    return unix_path(s, rf"C:\users\{USER}\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\Tarnwick.lnk")


def settings_file(s):
    return unix_path(s, rf"C:\users\{USER}\AppData\Roaming\Morvane\Tarnwick\Tarnwick.ini")


def packages(s):
    """Makes the two packages with cpack (once per session), checks what is in them, returns the setup."""
    if _packages:
        return _packages["setup"]
    check(shutil.which("makensis"), "makensis is missing (scripts/bootstrap.sh installs the nsis package)")
    config = s.build / "CPackConfig.cmake"
    check(config.is_file(), f"{config} is missing: the build does not include packaging/Packaging.cmake")
    out = s.tmp / "packages"
    s.run("cpack", "--config", config, "-B", out, log="cpack", env=harness.in_locale(os.environ), timeout=120,
          check_code=True)
    version = re.search(r'^set\(CPACK_PACKAGE_VERSION "([^"]+)"\)', config.read_text(), re.M).group(1)
    setup = out / f"Tarnwick-{version}-win64-setup.exe"
    portable = out / f"Tarnwick-{version}-win64-portable.zip"
    made = sorted(p.name for p in out.iterdir() if p.is_file())
    msi = out / f"Tarnwick-{version}-win64.msi"  # tested in msi.py
    check(made == sorted([setup.name, portable.name, msi.name]), f"cpack made {made}")

    with zipfile.ZipFile(portable) as z:
        names = sorted(z.namelist())
        check(names == ["README.txt", "Tarnwick.exe"], f"the zip holds {names}")
        check(z.read("Tarnwick.exe") == s.exe.read_bytes(), "the zip's Tarnwick.exe is not the build's")
        readme = z.read("README.txt").decode("utf-8")
        check(r"%APPDATA%\Morvane\Tarnwick\Tarnwick.ini" in readme, "the readme does not say where the settings are")

    data = setup.read_bytes()
    pe = int.from_bytes(data[0x3C:0x40], "little")
    check(data[:2] == b"MZ" and data[pe:pe + 4] == b"PE\0\0", "the setup is no Windows executable")
    check(int.from_bytes(data[pe + 4:pe + 6], "little") == 0x8664, "the setup is not a 64-bit executable")
    check(b"NullsoftInst" in data, "the setup carries no installer data")
    print(f"     setup {len(data)} bytes, zip {portable.stat().st_size} bytes", flush=True)
    _packages.update(setup=setup, version=version)
    return setup


def running_copies(s):
    """The pids of the Tarnwick.exe processes running in the prefix now."""
    return [pid for pid, line in s.windows_process_ids().items() if "tarnwick.exe" in line.lower()]


def no_program_running(s):
    # A program the setup started exists by the time the setup has ended.
    running = running_copies(s)
    check(not running, f"the silent setup started Tarnwick (pids {running})")


def install(s):
    """A silent install; it must start nothing (a first install, or no copy running)."""
    code = s.wine(packages(s), "/S", timeout=60)
    check(code == 0, f"the silent setup: exit code {code}")
    no_program_running(s)
    installed = unix_path(s, INSTALLED_EXE)
    check(installed.read_bytes() == s.exe.read_bytes(), "the installed Tarnwick.exe is not the build's")


def update_over(s, old):
    """A silent install over the running copy `old` (a Program): it closes that copy and
    starts the installed one again. Returns the pid of the one copy then running."""
    code = s.wine(packages(s), "/S", timeout=60)
    check(code == 0, f"the silent setup: exit code {code}")
    check(not old.running(), "the setup left the old copy running")
    code = old.wait_exit(1)
    check(code == 0, f"the setup ended the running Tarnwick with {code}, not 0 (not closed but killed?)")
    installed = unix_path(s, INSTALLED_EXE)
    check(installed.read_bytes() == s.exe.read_bytes(), "the installed Tarnwick.exe is not the build's")
    # Started before the setup ended, as its last step.
    running = running_copies(s)
    check(len(running) == 1, f"{len(running)} copies of Tarnwick run after the update, not 1")
    # The new file, not the old one, is what that process runs: Wine maps the exe it started.
    maps = Path(f"/proc/{running[0]}/maps").read_text(errors="replace")
    mapped = {line.split()[4] for line in maps.splitlines()
              if line.rstrip().endswith("/Tarnwick.exe") and len(line.split()) >= 6}
    check(mapped == {str(installed.stat().st_ino)}, f"the running copy maps another Tarnwick.exe (inodes {mapped})")
    s.wait_window(TRAY_CLASS, 20)
    s.wait_tray("disconnected", 20)
    return running[0]


def write_settings(s):
    path = settings_file(s)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(SETTINGS_TEXT.encode())


def read_settings(s):
    path = settings_file(s)
    return path.read_text(encoding="utf-8-sig") if path.is_file() else ""


def first_token(command):
    """The program a command line starts, by CommandLineToArgvW's rule for its first
    argument, which is what Windows' logon start runs: a quoted one up to the next
    quote, otherwise up to the first blank or tab."""
    if command.startswith('"'):
        end = command.find('"', 1)
        return command[1:] if end < 0 else command[1:end]
    return re.split(r"[ \t]", command, maxsplit=1)[0]


def install_into(s, folder):
    """A silent install into the folder, named as typed: /D= last, unquoted, blanks and all."""
    setup = s.prefix / "drive_c" / "setup.exe"
    shutil.copyfile(packages(s), setup)
    code = s.wine_command_line(r"C:\setup.exe", "/S", f"/D={folder}")
    check(code == 0, f"the silent setup: exit code {code}")
    no_program_running(s)
    check(unix_path(s, folder + r"\Tarnwick.exe").read_bytes() == s.exe.read_bytes(),
          f"Tarnwick.exe is not in {folder}")


def uninstall_from(s, folder):
    check(s.wine(unix_path(s, folder + r"\Uninstall.exe"), "/S") == 0, "the uninstaller did not start")
    wait_until("the uninstall entry removed", lambda: not s.reg_key_exists(UNINSTALL_KEY), 30, 0.2)
    check(not unix_path(s, folder).exists(), f"{folder} is still there")


def install_run_and_uninstall(s):
    install(s)
    for what, path in [("Uninstall.exe", unix_path(s, INSTALL_DIR + r"\Uninstall.exe")), ("the shortcut", shortcut(s))]:
        check(path.is_file(), f"{what} is missing: {path}")
    expected = {
        "DisplayName": "Tarnwick", "DisplayVersion": _packages["version"], "Publisher": "Morvane",
        "DisplayIcon": INSTALLED_EXE + ",0", "InstallLocation": INSTALL_DIR,
        "UninstallString": f'"{INSTALL_DIR}\\Uninstall.exe"',
        "QuietUninstallString": f'"{INSTALL_DIR}\\Uninstall.exe" /S',
        "NoModify": "0x1", "NoRepair": "0x1",
    }
    for name, data in expected.items():
        got = s.reg_value(UNINSTALL_KEY, name)
        check(got == data, f"uninstall entry {name}: {got!r}, not {data!r}")

    write_settings(s)
    program = s.start_ready(exe=INSTALLED_EXE)
    # Registered as the program does it, the path in another case.
    s.reg_set(RUN_KEY, "Tarnwick", "REG_SZ", INSTALLED_EXE.upper())

    # The way Add/Remove Programs runs it: this copy hands over to one in %TEMP% and returns at once.
    quiet = s.reg_value(UNINSTALL_KEY, "QuietUninstallString")
    uninstaller, switch = re.fullmatch(r'"([^"]+)" (/S)', quiet).groups()
    check(s.wine(uninstaller, switch) == 0, "the uninstaller did not start")
    code = program.wait_exit(20)
    check(code == 0, f"the running Tarnwick ended with {code}, not 0 (not closed but killed?)")
    # The entry goes last, so its removal says the uninstaller is done.
    wait_until("the uninstall entry removed", lambda: not s.reg_key_exists(UNINSTALL_KEY), 30, 0.2)

    folder = unix_path(s, INSTALL_DIR)
    check(not folder.exists(), f"left in the programs folder: {sorted(os.listdir(folder)) if folder.exists() else ''}")
    check(not shortcut(s).exists(), "the Start-menu shortcut is still there")
    check(s.reg_value(RUN_KEY, "Tarnwick") is None, "the Run value of the installed copy is still there")
    # The program rewrites the file as it ends; the user's choice must survive.
    path = settings_file(s)
    check(path.is_file(), "the settings file was removed")
    check(re.search(r"^enable_notification=0\r?$", path.read_text(encoding="utf-8-sig"), re.M),
          f"the settings lost their value: {path.read_bytes()!r}")
    s.wait_no_window(TRAY_CLASS, 10)
    s.wait_tray(None, 10)


def update_while_running_then_uninstall(s):
    install(s)
    # The copy running before the update is told apart by its file: one without a version resource.
    old_exe = unix_path(s, INSTALLED_EXE)
    s.patchres(s.exe, s.tmp / "old.exe", "delete", 16, 1)
    shutil.copyfile(s.tmp / "old.exe", old_exe)
    settings_file(s).unlink(missing_ok=True)
    old = s.start_ready(exe=INSTALLED_EXE)
    # The user's choice, stored by the old copy itself: notifications off.
    s.click_tray("left")
    s.type_into_menu("n")
    s.wait_no_menu(10)
    wait_until("the toggle stored", lambda: re.search(r"^enable_notification=0\r?$", read_settings(s), re.M), 10)
    update_over(s, old)
    check(re.search(r"^enable_notification=0\r?$", read_settings(s), re.M),
          f"the update lost the settings: {read_settings(s)!r}")

    other = r"C:\Tools\Tarnwick.exe"
    s.reg_set(RUN_KEY, "Tarnwick", "REG_SZ", other)
    # Run from a copy with _?= it works in place and its exit code is the uninstall's.
    copy = s.tmp / "uninstaller" / "Uninstall.exe"
    copy.parent.mkdir(exist_ok=True)
    shutil.copy2(unix_path(s, INSTALL_DIR + r"\Uninstall.exe"), copy)
    code = s.wine(copy, "/S", f"_?={INSTALL_DIR}")
    check(code == 0, f"the silent uninstall: exit code {code}")
    # The uninstaller ended the copy the update started, and started none.
    wait_until("the running copy ended", lambda: not running_copies(s), 10, 0.2)
    s.wait_no_window(TRAY_CLASS, 10)
    folder = unix_path(s, INSTALL_DIR)
    check(not folder.exists(), f"left in the programs folder: {sorted(os.listdir(folder)) if folder.exists() else ''}")
    check(not s.reg_key_exists(UNINSTALL_KEY), "the uninstall entry is still there")
    got = s.reg_value(RUN_KEY, "Tarnwick")
    check(got == other, f"another copy's Run value became {got!r}")


def silent_install_into_a_folder_with_blanks(s):
    folder = BLANKS_DIR
    install_into(s, folder)
    check(not unix_path(s, INSTALL_DIR).exists(), "the setup also installed into the default folder")
    for name, data in [("InstallLocation", folder), ("QuietUninstallString", f'"{folder}\\Uninstall.exe" /S')]:
        got = s.reg_value(UNINSTALL_KEY, name)
        check(got == data, f"uninstall entry {name}: {got!r}, not {data!r}")
    target, link = folder + r"\Tarnwick.exe", shortcut(s).read_bytes()
    check(target.encode("utf-16-le") in link or target.encode() in link, "the shortcut does not lead to the installed exe")

    uninstall_from(s, folder)
    check(not shortcut(s).exists(), "the Start-menu shortcut is still there")


def open_version_dialog(s):
    s.click_tray("left")
    s.type_into_menu("v")
    s.wait_no_menu(10)
    return version_dialog.Dialog(s)


def close_version_dialog(s):
    s.driver("click", "&Close", ms(5), version_dialog.DIALOG)
    version_dialog.wait_closed(s)


def logon_start_from_a_folder_with_blanks(s):
    folder = BLANKS_DIR
    exe = folder + r"\Tarnwick.exe"
    check(first_token(exe) != exe, "the folder has no blank that an unquoted value would be split at")
    install_into(s, folder)
    s.reg_delete(RUN_KEY, "Tarnwick")
    s.reg("delete", APPROVED_KEY, "/v", "Tarnwick", "/f")
    program = s.start_ready(exe=exe)

    # Ticking the box: the logon start runs the installed exe.
    open_version_dialog(s)
    check(version_dialog.check_state(s) == 0, "the box is ticked without a Run value")
    version_dialog.toggle_check_box(s, 1)
    close_version_dialog(s)
    value = s.reg_value(RUN_KEY, "Tarnwick")
    check(value is not None and value.lower() == f'"{exe}"'.lower(), f"the Run value is {value!r}, not the quoted path")
    check(first_token(value).lower() == exe.lower(), f"the logon start would run {first_token(value)!r}")

    # Switched off in Task Manager: the box shows it, and ticking it switches the start on again.
    off, on = "03" + "00" * 11, "02" + "00" * 11
    s.reg("add", APPROVED_KEY, "/v", "Tarnwick", "/t", "REG_BINARY", "/d", off, "/f")
    check((s.reg_value(APPROVED_KEY, "Tarnwick") or "").upper() == off, "the switch-off was not written")
    open_version_dialog(s)
    check(version_dialog.check_state(s) == 0, "the box is ticked although Task Manager switched the start off")
    version_dialog.toggle_check_box(s, 1)
    close_version_dialog(s)
    got = (s.reg_value(APPROVED_KEY, "Tarnwick") or "").upper()
    check(got == on, f"the startup switch reads {got!r}, not {on!r} (on, as Task Manager writes it)")
    open_version_dialog(s)
    check(version_dialog.check_state(s) == 1, "the box is not ticked after ticking it")
    close_version_dialog(s)

    uninstall_from(s, folder)
    check(program.wait_exit(10) == 0, "the uninstaller did not close the running copy")
    check(s.reg_value(RUN_KEY, "Tarnwick") is None, "the quoted Run value of the uninstalled copy is still there")


CASES = [
    ("silent install; the uninstaller ends the running copy and removes all but the settings",
     install_run_and_uninstall),
    ("a silent update brings back the one copy it closed, the new one, with the settings it left",
     update_while_running_then_uninstall),
    ("a silent install into a folder with blanks (/D=) starts nothing and uninstalls cleanly",
     silent_install_into_a_folder_with_blanks),
    ("from a folder with blanks the logon start runs the installed exe; Task Manager's switch counts",
     logon_start_from_a_folder_with_blanks),
]

if __name__ == "__main__":
    sys.exit(harness.run("installer", CASES))
