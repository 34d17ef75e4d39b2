#!/usr/bin/python3
"""The per-machine MSI under Wine's msiexec: a silent install puts Tarnwick.exe into
Program Files with a Start-menu shortcut and an uninstall entry and starts nothing;
the installed program runs; a newer version replaces an older one, an older one is
refused; a silent uninstall leaves nothing that the MSI wrote. msi_running.py uses
the pieces here for what happens while the program runs.

The MSI is made afresh by cpack from this build into the session's folder; the newer
versions by packaging/msi/MakeMsi.cmake from the same source with a higher
ProductVersion (1.3.0 from a marked copy of the exe, to tell which file stays).

msiexec's exit codes reach the shell as their low byte: 1603 (installation failed)
as 67, 3010 (success, restart required) as 194."""

import os
import re
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness
from harness import TRAY_CLASS, check

SOURCE = harness.SOURCE
INSTALL_DIR = r"C:\Program Files\Tarnwick"
INSTALLED_EXE = INSTALL_DIR + r"\Tarnwick.exe"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
PRODUCTS = r"HKLM\Software\Classes\Installer\Products"
PENDING = r"HKLM\System\CurrentControlSet\Control\Session Manager"
DOWNGRADE_MESSAGE = "A newer version of Tarnwick is already installed."
MARK = b"TARNWICK-1.3.0-MARK"
NEWER = ["1.2.0", "1.3.0"]


def exit_code(windows_code):
    return windows_code & 0xFF


SUCCESS = 0
INSTALL_FAILURE = exit_code(1603)
RESTART_REQUIRED = exit_code(3010)

# Folders where Wine and its programs keep scratch files of their own.
SCRATCH = re.compile(r"^(windows/temp|users/[^/]+/AppData/Local/Temp|msi)(/|$)", re.I)

VERSIONS = []  # the package target's and the newer ones, once made
_msis = {}  # version: (its MSI's Windows path, its product code)


def unix_path(s, windows_path):
    drive, rest = windows_path.split(":\\", 1)
    check(drive.upper() == "C", f"not on drive C: {windows_path}")
    return s.prefix / "drive_c" / rest.replace("\\", "/")


def msi_property(s, msi, name):
    table = s.run("msiinfo", "export", msi, "Property", log="msiinfo", check_code=True).out.decode()
    found = re.search(rf"^{name}\t(.*)$", table, re.M)
    check(found, f"{msi.name} has no {name}")
    return found.group(1).strip()


def make_msis(s):
    """Makes the package target's MSI and the two newer ones into C:\\msi (once per
    session); returns the package target's version."""
    if VERSIONS:
        return VERSIONS[0]
    config = s.build / "CPackConfig.cmake"
    out = s.tmp / "packages"
    s.run("cpack", "--config", config, "-B", out, "-G", "External", log="cpack", env=os.environ, timeout=120,
          check_code=True)
    made = sorted(p.name for p in out.iterdir() if p.is_file())
    version = re.search(r'^set\(CPACK_PACKAGE_VERSION "([^"]+)"\)', config.read_text(), re.M).group(1)
    check(made == [f"Tarnwick-{version}-win64.msi"], f"cpack made {made}")
    marked = s.tmp / "Tarnwick-marked.exe"
    marked.write_bytes(s.exe.read_bytes() + MARK)  # an overlay: the loader reads past it
    epoch = subprocess.run([SOURCE / "cmake" / "source-date-epoch.sh", SOURCE], check=True, capture_output=True,
                           text=True).stdout.strip()
    for newer, exe in zip(NEWER, [s.exe, marked]):
        s.run("cmake", f"-DEXE={exe}", f"-DICON={SOURCE / 'resources' / 'Tarnwick.ico'}", f"-DVERSION={newer}",
              f"-DEPOCH={epoch}", f"-DWORK={s.tmp / ('wixl-' + newer)}",
              f"-DOUTPUT={out / f'Tarnwick-{newer}-win64.msi'}", "-P", SOURCE / "packaging" / "msi" / "MakeMsi.cmake",
              log="makemsi", env=os.environ, timeout=120, check_code=True)
    folder = s.prefix / "drive_c" / "msi"
    folder.mkdir(exist_ok=True)
    for v in [version, *NEWER]:
        msi = out / f"Tarnwick-{v}-win64.msi"
        check(msi_property(s, msi, "ProductVersion") == v, f"{msi.name}: not version {v}")
        shutil.copyfile(msi, folder / msi.name)
        _msis[v] = (rf"C:\msi\{msi.name}", msi_property(s, msi, "ProductCode"))
    VERSIONS[:] = [version, *NEWER]
    return version


def msiexec(s, *args, log):
    """Runs msiexec with a verbose log; returns (exit code as the shell sees it, the log's text)."""
    path = s.prefix / "drive_c" / "msi" / f"{log}.log"
    path.unlink(missing_ok=True)
    code = s.wine("msiexec", *args, "/l*v", rf"C:\msi\{log}.log", timeout=120)
    check(path.is_file(), f"msiexec {' '.join(args)} wrote no log (exit code {code})")
    shutil.copyfile(path, s.tmp / f"msiexec-{log}.log")
    return code, path.read_bytes().decode("utf-8", "replace")


def install(s, version, *switches, log="install", expect=SUCCESS):
    code, text = msiexec(s, "/i", _msis[version][0], "/qn", *switches, log=log)
    check(code == expect, f"msiexec /i {version}: exit code {code}, not {expect}")
    return text


def uninstall(s, version, *switches, expect=SUCCESS):
    code, _ = msiexec(s, "/x", _msis[version][0], "/qn", *switches, log="uninstall")
    check(code == expect, f"msiexec /x {version}: exit code {code}, not {expect}")


def entry(s, version):
    """The uninstall entry of that version's product code: {name: data}, or None."""
    key = rf"{UNINSTALL}\{_msis[version][1]}"
    if not s.reg_key_exists(key):
        return None
    return {name: s.reg_value(key, name) for name in ("DisplayName", "DisplayVersion", "Publisher", "InstallLocation")}


def installed_versions(s):
    return [v for v in VERSIONS if entry(s, v) is not None]


def packed(code):
    """A product code as Windows Installer keys its records: each part's hex digits reversed
    in groups (the first three parts whole, the last two byte by byte)."""
    parts = code.strip("{}").split("-")
    return "".join(p[::-1] for p in parts[:3]) + "".join(p[i:i + 2][::-1] for p in parts[3:]
                                                           for i in range(0, len(p), 2))


def files(s):
    root = s.prefix / "drive_c"
    return {str(p.relative_to(root)) for p in root.rglob("*")
            if not SCRATCH.match(str(p.relative_to(root)))}


def registry_mentions(s):
    """Lines of HKLM and HKCU, as reg export writes them, that name Tarnwick or its product codes."""
    codes = [_msis[v][1] for v in VERSIONS]
    needles = ["tarnwick"] + [packed(c).lower() for c in codes] + [c.strip("{}").lower() for c in codes]
    found = []
    for hive in ("HKLM", "HKCU"):
        path = s.prefix / "drive_c" / "msi" / f"{hive}.reg"
        path.unlink(missing_ok=True)
        code = s.wine("reg", "export", hive, rf"C:\msi\{hive}.reg", "/y", timeout=60)
        # reg now and then dies in ld.so after its work (exit 127); the file tells.
        check(path.is_file() and path.stat().st_size > 1000, f"reg export {hive}: exit {code}, no file")
        text = path.read_bytes().decode("utf-16")
        key = ""
        for line in text.splitlines():
            if line.startswith("["):
                key = line
            if any(n in line.lower() for n in needles):
                found.append(f"{key} {line}" if line != key else line)
    return found


def exit_by_menu(s, program):
    s.click_tray("left")
    s.type_into_menu("x")
    code = program.wait_exit(10)
    check(code == 0, f"Tarnwick ended with {code}, not 0")
    s.wait_no_window(TRAY_CLASS, 10)


def no_program_running(s, what):
    running = [c for c in s.windows_processes() if "tarnwick.exe" in c.lower()]
    check(not running, f"{what} started {running}")


def install_run_uninstall(s):
    version = make_msis(s)
    files_before = files(s)

    text = install(s, version)
    # The process that would have been started exists once msiexec has ended.
    no_program_running(s, "the silent install")
    check(unix_path(s, INSTALLED_EXE).read_bytes() == s.exe.read_bytes(), "the installed Tarnwick.exe is not the build's")
    check(sorted(os.listdir(unix_path(s, INSTALL_DIR))) == ["Tarnwick.exe"],
          f"the folder holds {sorted(os.listdir(unix_path(s, INSTALL_DIR)))}")
    got = entry(s, version)
    wanted = {"DisplayName": "Tarnwick", "DisplayVersion": version, "Publisher": "Morvane",
              "InstallLocation": INSTALL_DIR + "\\"}
    check(got == wanted, f"the uninstall entry: {got}, not {wanted}")
    icon = s.reg_value(rf"{PRODUCTS}\{packed(_msis[version][1])}", "ProductIcon")
    check(icon and unix_path(s, icon).read_bytes() == (SOURCE / "resources" / "Tarnwick.ico").read_bytes(),
          f"the product's icon {icon!r} is not the application icon")
    # Windows resolves the Start menu of a per-machine install to the all-users one;
    # Wine 8 to the installing user's. The log says where the shortcut went.
    menu = re.search(r"^Property\(S\): ProgramMenuFolder = (.+?)\r?$", text, re.M)
    check(menu, "the log names no ProgramMenuFolder")
    link = unix_path(s, menu.group(1).rstrip("\\") + r"\Tarnwick.lnk")
    check(link.is_file(), f"no shortcut {link}")
    check(INSTALLED_EXE.encode("utf-16-le") in link.read_bytes() or INSTALLED_EXE.encode() in link.read_bytes(),
          "the shortcut does not lead to the installed Tarnwick.exe")
    check(registry_mentions(s), "the registry export shows nothing of the installed product: the probe is blind")

    program = s.start_ready(exe=INSTALLED_EXE)
    check(any("tarnwick.exe" in c.lower() for c in s.windows_processes()), "the process list misses the program")
    exit_by_menu(s, program)

    uninstall(s, version)
    check(not unix_path(s, INSTALL_DIR).exists(), "the programs folder is still there")
    check(not link.exists(), "the shortcut is still there")
    check(installed_versions(s) == [], "an uninstall entry is left")
    left = registry_mentions(s)
    check(not left, "left in the registry: " + "; ".join(left[:10]))
    # The program's own settings file is no file of the MSI's; all else must be gone.
    # Nor is Windows Installer's own cache folder, there on every Windows.
    added = sorted(p for p in files(s) - files_before
                   if "Morvane" not in p.split("/") and p.lower() != "windows/installer")
    check(not added, f"left on drive C: {added[:20]}")


def upgrade_then_refuse_downgrade(s):
    version = make_msis(s)
    install(s, version)
    install(s, "1.2.0", log="upgrade")
    check(installed_versions(s) == ["1.2.0"], f"installed after the upgrade: {installed_versions(s)}")
    check(unix_path(s, INSTALLED_EXE).read_bytes() == s.exe.read_bytes(), "the upgrade lost Tarnwick.exe")

    text = install(s, version, log="downgrade", expect=INSTALL_FAILURE)
    check(installed_versions(s) == ["1.2.0"], f"installed after the refused downgrade: {installed_versions(s)}")
    check(unix_path(s, INSTALLED_EXE).is_file(), "the refused downgrade removed Tarnwick.exe")
    check(re.search(r"LaunchConditions", text), "the log does not show the launch conditions")
    # Wine's msiexec puts a failed launch condition's text in no log; with the basic
    # user interface it shows it in a box.
    basic = s.start("/i", _msis[version][0], "/qb", exe="msiexec")
    boxes = s.driver("boxes", harness.ms(30), timeout=60)[1]
    check(DOWNGRADE_MESSAGE in boxes, f"the box says {boxes!r}")
    s.driver("click", "OK", harness.ms(10))
    code = basic.wait_exit(60)
    check(code == INSTALL_FAILURE, f"msiexec /i {version} /qb: exit code {code}")
    check(installed_versions(s) == ["1.2.0"], f"installed after the second refusal: {installed_versions(s)}")
    uninstall(s, "1.2.0")
    check(not unix_path(s, INSTALL_DIR).exists(), "the programs folder is still there")


CASES = [
    ("silent install of the package target's MSI: files, shortcut, entry; the program runs; "
     "a silent uninstall leaves nothing", install_run_uninstall),
    ("a newer version replaces the older; the older is refused with its message", upgrade_then_refuse_downgrade),
]

if __name__ == "__main__":
    sys.exit(harness.run("msi", CASES))
