#!/usr/bin/python3
"""The release packages: the portable zip holds the program and its readme; the
per-user installer puts Tarnwick into the user's programs folder (or the folder
/D= names) and starts nothing when silent, and its
uninstaller ends a running copy and takes away what was installed (and the
logon start of that copy), leaving the settings.

The packages are made afresh by cpack from this build into the session's own
folder, so they always hold the Tarnwick.exe under test."""

import os
import pwd
import re
import shutil
import sys
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import TRAY_CLASS, check, wait_until

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwick"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
USER = pwd.getpwuid(os.getuid()).pw_name  # Wine names the profile after the Unix user
INSTALL_DIR = rf"C:\users\{USER}\AppData\Local\Programs\Tarnwick"
INSTALLED_EXE = INSTALL_DIR + r"\Tarnwick.exe"
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


def no_program_running(s):
    # A program the setup started exists by the time the setup has ended.
    running = [c for c in s.windows_processes() if "tarnwick.exe" in c.lower()]
    check(not running, f"the silent setup started {running}")


def install(s):
    code = s.wine(packages(s), "/S", timeout=60)
    check(code == 0, f"the silent setup: exit code {code}")
    no_program_running(s)
    installed = unix_path(s, INSTALLED_EXE)
    check(installed.read_bytes() == s.exe.read_bytes(), "the installed Tarnwick.exe is not the build's")


def write_settings(s):
    path = settings_file(s)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(SETTINGS_TEXT.encode())


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


def upgrade_while_running_then_uninstall(s):
    install(s)
    program = s.start_ready(exe=INSTALLED_EXE)
    install(s)
    code = program.wait_exit(20)
    check(code == 0, f"the setup ended the running Tarnwick with {code}, not 0")

    other = r"C:\Tools\Tarnwick.exe"
    s.reg_set(RUN_KEY, "Tarnwick", "REG_SZ", other)
    program = s.start_ready(exe=INSTALLED_EXE)
    # Run from a copy with _?= it works in place and its exit code is the uninstall's.
    copy = s.tmp / "uninstaller" / "Uninstall.exe"
    copy.parent.mkdir(exist_ok=True)
    shutil.copy2(unix_path(s, INSTALL_DIR + r"\Uninstall.exe"), copy)
    code = s.wine(copy, "/S", f"_?={INSTALL_DIR}")
    check(code == 0, f"the silent uninstall: exit code {code}")
    code = program.wait_exit(10)
    check(code == 0, f"the running Tarnwick ended with {code}, not 0")
    folder = unix_path(s, INSTALL_DIR)
    check(not folder.exists(), f"left in the programs folder: {sorted(os.listdir(folder)) if folder.exists() else ''}")
    check(not s.reg_key_exists(UNINSTALL_KEY), "the uninstall entry is still there")
    got = s.reg_value(RUN_KEY, "Tarnwick")
    check(got == other, f"another copy's Run value became {got!r}")


def silent_install_into_a_folder_with_blanks(s):
    folder = rf"C:\users\{USER}\My Tools\Tarn wick"
    setup = s.prefix / "drive_c" / "setup.exe"
    shutil.copyfile(packages(s), setup)
    # As typed: /D= comes last, unquoted, blanks and all.
    code = s.wine_command_line(r"C:\setup.exe", "/S", f"/D={folder}")
    check(code == 0, f"the silent setup: exit code {code}")
    no_program_running(s)
    check(unix_path(s, folder + r"\Tarnwick.exe").read_bytes() == s.exe.read_bytes(),
          f"Tarnwick.exe is not in {folder}")
    check(not unix_path(s, INSTALL_DIR).exists(), "the setup also installed into the default folder")
    for name, data in [("InstallLocation", folder), ("QuietUninstallString", f'"{folder}\\Uninstall.exe" /S')]:
        got = s.reg_value(UNINSTALL_KEY, name)
        check(got == data, f"uninstall entry {name}: {got!r}, not {data!r}")
    target, link = folder + r"\Tarnwick.exe", shortcut(s).read_bytes()
    check(target.encode("utf-16-le") in link or target.encode() in link, "the shortcut does not lead to the installed exe")

    check(s.wine(unix_path(s, folder + r"\Uninstall.exe"), "/S") == 0, "the uninstaller did not start")
    wait_until("the uninstall entry removed", lambda: not s.reg_key_exists(UNINSTALL_KEY), 30, 0.2)
    check(not unix_path(s, folder).exists(), f"{folder} is still there")
    check(not shortcut(s).exists(), "the Start-menu shortcut is still there")


CASES = [
    ("silent install; the uninstaller ends the running copy and removes all but the settings",
     install_run_and_uninstall),
    ("an upgrade ends the running copy; another copy's logon start outlives the uninstall",
     upgrade_while_running_then_uninstall),
    ("a silent install into a folder with blanks (/D=) starts nothing and uninstalls cleanly",
     silent_install_into_a_folder_with_blanks),
]

if __name__ == "__main__":
    sys.exit(harness.run("installer", CASES))
