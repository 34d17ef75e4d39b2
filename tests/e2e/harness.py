"""Shared pieces of the end-to-end tests: the real Tarnwick.exe under Wine, on Xvfb.

Every test script runs one Session: its own Xvfb display, its own copy of the
build's clean template prefix (with the simulated remote-access service
installed), its own scenario file and call log, and its own wineserver and
desktop, kept up for the whole script so restarting the program between cases
is cheap and always meets the same shell. The session takes down everything it
started, also when a case fails, the script is interrupted or its time budget
runs out.

Waits are on things that can be observed (a window, a pixel colour, a line in
the service's log, a process exit), each with a deadline; the only sleeps are
short polling intervals. Every program that runs to its end (the driver, Wine's
tools, xdotool, ImageMagick) goes through one runner, Session.run, which puts its
output in files, never a pipe (Wine's background services inherit the descriptors
and would hold a pipe open), gives it a deadline and lists the run in tools.log.

Wine's paths, the DLL overrides, the desktop's geometry and the locale come from
tools/wine/wine.env, which the shell scripts read too. Everything the session
starts runs under that locale, whatever the machine's: the program's Windows
locale, Wine's own messages and the tools' output are the same everywhere.

Cases judge by events (a line in the service's log, a window, a pixel colour),
never by how long something took: a busy machine stretches every step. Every
deadline and quiet spell here and in the scripts is multiplied by one factor,
the environment variable TARNWICK_WAIT_SCALE (default 1), read once below: for a
machine much slower than a loaded two-core one, where the deadlines were
measured. It is no cure for a flaky test. A script has no time budget of its
own; under ctest it gets one (--budget) a minute short of ctest's limit for it,
so it still keeps its evidence and cleans up.
"""

import argparse
import collections
import ctypes
import glob
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import traceback
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
LIB_SH = SOURCE / "tools" / "wine" / "lib.sh"

sys.path[:0] = [str(SOURCE / "tools" / "wine"), str(SOURCE / "tools" / "screen")]
import trayfinder  # noqa: E402
from wine_env import DEBUG, DESKTOP_SIZE, LOCALE, OVERRIDES, WINE, WINESERVER  # noqa: E402

XVFB = "/usr/bin/Xvfb"
XDOTOOL = "/usr/bin/xdotool"
IMPORT = "/usr/bin/import"
CONVERT = "/usr/bin/convert"  # another "convert" may come first on the PATH

TRAY_CLASS = "TTrayIcon"
POLL_INTERVAL_S = 5.0  # how often the program asks the service for connections

XDOTOOL_BUTTONS = {"left": "1", "middle": "2", "right": "3"}

REG_ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER", "HKCR": "HKEY_CLASSES_ROOT",
             "HKU": "HKEY_USERS", "HKCC": "HKEY_CURRENT_CONFIG"}

DEFAULT_SCENARIO = "entry\t2\tOffice\nentry\t2\tLab\nentry\t1\tModem\n"


def held_dial(name, result=0):
    """A scenario line: dialling the entry lasts until Session.release_dial(name), then ends
    with that result. A case that needs a dial to outlast its steps holds it, rather than
    guess how long those steps take on a busy machine."""
    return f"dial\t{result}\thold\t{name}\n"


def lingering(ms):
    """A scenario line: a hung-up connection stays listed, closing, for this many milliseconds
    (600000 at most) before the service deletes it, as a real line takes time to close."""
    return f"linger\t{ms}\n"


def log_index(lines, fields, after=0):
    """Index of the first service log line from `after` on that starts with these fields, or -1."""
    for i, line in enumerate(lines[after:], after):
        if line.split("\t")[:len(fields)] == fields:
            return i
    return -1


def menu_texts(items):
    """The texts of a menu's items (Session.menu_items), separators left out."""
    return [item.text for item in items if not item.separator]


def click_entry(s, position):
    """Opens the tray menu and chooses the VPN entry at this position (0 = the first)."""
    s.click_tray("left")
    s.type_into_menu(*["Down"] * (position + 1), "Return")
    s.wait_no_menu(5)


def exit_at_once(s, program, waiting_for, timeout):
    """Chooses E&xit in the open menu: the program ends within `timeout`, with exit code 0,
    whatever it was still `waiting_for`."""
    s.type_into_menu("x")
    pressed = time.monotonic()
    try:
        code = program.wait_exit(timeout)
    except TestFailure as failure:
        raise TestFailure(f"the exit waited for {waiting_for}: {failure}") from None
    print(f"     exit {time.monotonic() - pressed:.2f} s after E&xit")
    check(code == 0, f"exit code {code}, not 0")


def _wait_scale():
    text = os.environ.get("TARNWICK_WAIT_SCALE", "1")
    try:
        value = float(text)
    except ValueError:
        value = 0
    if not 0 < value < 100:
        raise SystemExit(f"TARNWICK_WAIT_SCALE={text!r}: not a factor between 0 and 100")
    return value


WAIT_SCALE = _wait_scale()


def scaled(seconds):
    """A deadline or quiet spell in seconds, made longer by TARNWICK_WAIT_SCALE."""
    return seconds * WAIT_SCALE


def ms(seconds):
    """scaled(seconds) in milliseconds, for the test tools' time-out arguments."""
    return int(scaled(seconds) * 1000)


class TestFailure(AssertionError):
    pass


Ran = collections.namedtuple("Ran", "code out err")
Ran.__doc__ = "A finished run: its exit code and what it wrote to stdout and stderr (bytes)."


class BudgetExceeded(Exception):
    """The script's --budget ran out: the case it was in fails, and the rest are left out."""


def check(condition, message):
    if not condition:
        raise TestFailure(message)


def wait_until(what, probe, timeout, interval=0.1):
    """Calls probe until it returns something true and returns that; fails at the (scaled) deadline."""
    timeout = scaled(timeout)
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TestFailure(f"{what}: not within {timeout:g} s")
        time.sleep(interval)


_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_us(sig):
    # A test killed from outside (a CI time-out sends SIGKILL) leaves no
    # display or server behind: the kernel signals them when we go.
    def set_signal():
        _libc.prctl(_PR_SET_PDEATHSIG, int(sig), 0, 0, 0)

    return set_signal


KEPT_MARK = ".kept"


def in_locale(env):
    """A copy of the environment under the session's locale (WINE_LOCALE), whatever the
    machine's: other tools than Wine answer by the locale too (makensis, under Turkish,
    no longer knows its own "/IfNDef")."""
    env = dict(env, LC_ALL=LOCALE)
    for name in ("LANGUAGE", "TARNWICK_LOCALE"):
        env.pop(name, None)
    return env


def argument(value):
    """One command-line argument as bytes: a path as the file system has it, text in UTF-8,
    the encoding of the session's locale, whatever the locale this script started under."""
    if isinstance(value, os.PathLike):
        return os.fsencode(value)
    return str(value).encode("utf-8", "surrogateescape")


def run_to_end(args, out=None, err=None, *, env=None, cwd=None, timeout=60):
    """Runs a program to its end with its stdout and stderr in files (None: thrown away)
    and returns a Ran. It dies with us; at the (scaled) deadline it is killed and the
    run fails."""
    args = [argument(a) for a in args]
    with open(out or os.devnull, "wb") as o, open(err or os.devnull, "wb") as e:
        try:
            code = subprocess.run(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=o, stderr=e,
                                  timeout=scaled(timeout), preexec_fn=_die_with_us(signal.SIGKILL)).returncode
        except subprocess.TimeoutExpired:
            raise TestFailure(f"{b' '.join(args).decode('utf-8', 'replace')}: still running after "
                              f"{scaled(timeout):g} s") from None
    return Ran(code, Path(out).read_bytes() if out else b"", Path(err).read_bytes() if err else b"")


def kill_strays(prefix):
    """Kills whatever still runs in the prefix (its wineserver normally takes all with it)."""
    marker = os.fsencode(f"WINEPREFIX={prefix}") + b"\0"
    for environ in glob.glob("/proc/[0-9]*/environ"):
        try:
            with open(environ, "rb") as f:
                if marker not in f.read():
                    continue
            os.kill(int(environ.split("/")[2]), signal.SIGKILL)
        except (OSError, ValueError):
            pass


def server_dirs(prefix):
    """The folders where the prefix's wineserver keeps its socket and lock."""
    try:
        st = os.stat(prefix)
    except OSError:
        return []
    name = f"server-{st.st_dev:x}-{st.st_ino:x}"
    # Upstream keeps them under /tmp/.wine-UID; Debian under a /tmp/wine-XXXXXX of its own.
    return glob.glob(f"/tmp/.wine-{os.getuid()}/{name}") + glob.glob(f"/tmp/wine-*/{name}")


def stop_prefix(prefix):
    """Ends the prefix's wineserver and everything running in the prefix."""
    try:
        run_to_end([WINESERVER, "-k"], env=dict(os.environ, WINEPREFIX=str(prefix)), timeout=20)
    except (TestFailure, OSError):
        pass
    kill_strays(prefix)


def remove_server_dirs(prefix):
    """Wine leaves the folder of an ended server behind, with its lock file."""
    for folder in server_dirs(prefix):
        if not os.path.exists(os.path.join(folder, "socket")):
            shutil.rmtree(folder, ignore_errors=True)


def _guard(tmp):
    """Waits for the test process to end; cleans up after it unless it did so itself."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGHUP, signal.SIG_IGN)
    sys.stdin.buffer.read()
    tmp = Path(tmp)
    if not tmp.is_dir() or (tmp / KEPT_MARK).exists():
        return
    stop_prefix(tmp / "prefix")
    remove_server_dirs(tmp / "prefix")
    try:
        os.kill(int((tmp / "xvfb.pid").read_text()), signal.SIGKILL)
    except (OSError, ValueError):
        pass
    shutil.rmtree(tmp, ignore_errors=True)


# One item of the open popup menu, as read inside the program (twdriver menu-items).
MenuItem = collections.namedtuple("MenuItem", "text separator checked disabled")


def unescape(text):
    """Undoes twdriver's escapes in one-line texts: \\n, \\t, \\r and \\\\."""
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)), text)


class Program:
    """One run of Tarnwick.exe; its exit code is the wine64 process's return code."""

    def __init__(self, popen, out_path):
        self.popen = popen
        self.out_path = out_path

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def wait_exit(self, timeout):
        timeout = scaled(timeout)
        try:
            return self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TestFailure(f"the program (pid {self.pid}) still runs after {timeout:g} s") from None

    def kill(self):
        if self.running():
            self.popen.kill()
        self.popen.wait()


class Session:
    def __init__(self, build, name):
        self.build = Path(build).resolve()
        self.name = name
        self.exe = self.build / "Tarnwick.exe"
        self.driver_exe = self.build / "twdriver.exe"
        self.sim_dll = self.build / "tools" / "rassim" / "system32" / "rasapi32.dll"
        self.holder_exe = self.build / "tools" / "bench" / "tw_traywatch.exe"
        self.artifacts = self.build / "e2e" / name
        self.tmp = None
        self.prefix = None
        self.env = None
        self._guard = None
        self.xvfb = None
        self.server = None
        self.holder = None
        self.display = None
        self.programs = []
        self.last_shot = None
        self._shots = 0

    # ---- set-up and tear-down ----

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _start(self):
        for need in (self.exe, self.driver_exe, self.sim_dll, self.holder_exe):
            if not need.is_file():
                raise TestFailure(f"{need} is missing: build Tarnwick, twdriver, rassim and tw_traywatch first")
        shutil.rmtree(self.artifacts, ignore_errors=True)
        self.tmp = Path(tempfile.mkdtemp(prefix=f"tarnwick-e2e-{self.name}-"))
        self.prefix = self.tmp / "prefix"
        self._start_guard()
        self.scenario = self.tmp / "scenario.txt"
        self.log = self.tmp / "rassim.log"
        # lib.sh makes the build's template once (under a lock) and installs the sim into the copy;
        # a template made from nothing takes Wine's whole first start.
        self.run("bash", "-c", '. "$1" && wine_copy_prefix "$2" "$3"', "copy", LIB_SH, self.build, self.prefix,
                 log="prefix-copy", env=in_locale(os.environ), timeout=300, check_code=True)
        self._start_xvfb()
        self.env = dict(
            in_locale(os.environ),
            DISPLAY=self.display,
            WINEPREFIX=str(self.prefix),
            WINEDEBUG=DEBUG,
            WINEDLLOVERRIDES=OVERRIDES,
            RASSIM_SCENARIO=str(self.scenario),
            RASSIM_LOG=str(self.log),
        )
        self.env.pop("WINESERVER", None)
        self.write_scenario(DEFAULT_SCENARIO)
        self._start_server()
        self._hold_desktop()

    def _start_guard(self):
        # If this process is killed outright, the guard (in a session of its
        # own, so a kill of our process group spares it) sees its stdin close
        # and takes down what is left in our prefix, then the folder.
        self._guard = subprocess.Popen([sys.executable, __file__, "--guard", str(self.tmp)], stdin=subprocess.PIPE,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)

    def _start_xvfb(self):
        # -displayfd lets Xvfb pick a free display itself: no race with parallel tests.
        # -noreset: see xvfb_start in lib.sh; here the server is without clients while
        # restart_server brings up a new desktop.
        read_end, write_end = os.pipe()
        self.xvfb = self._spawn(
            [XVFB, "-displayfd", str(write_end), "-screen", "0", f"{DESKTOP_SIZE[0]}x{DESKTOP_SIZE[1]}x24",
             "-nolisten", "tcp", "-noreset"],
            "xvfb.log", signal.SIGTERM, pass_fds=(write_end,), env=in_locale(os.environ))
        os.close(write_end)
        (self.tmp / "xvfb.pid").write_text(str(self.xvfb.pid))
        number = b""
        deadline = time.monotonic() + scaled(20)
        with os.fdopen(read_end, "rb", buffering=0) as pipe:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read(16)
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit():
            raise TestFailure(f"Xvfb did not start (see {self.tmp / 'xvfb.log'})")
        self.display = ":" + number.decode().strip()

    def _spawn(self, args, log, death_signal, **options):
        """Starts a child that the kernel signals when we die, its output in a file of ours."""
        options.setdefault("env", self.env)
        with open(self.tmp / log, "ab") as out:
            return subprocess.Popen([argument(a) for a in args], cwd=self.tmp, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT, preexec_fn=_die_with_us(death_signal),
                                    **options)

    def _server_listens(self):
        for folder in server_dirs(self.prefix):
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
                try:
                    probe.connect(os.path.join(folder, "socket"))
                    return True
                except OSError:
                    pass
        return False

    def _start_server(self):
        # In the foreground, as our child: it dies with us. Persistent, so the
        # program's restarts between cases find it warm.
        self.server = self._spawn([WINESERVER, "-f", "-p"], "wineserver.log", signal.SIGTERM)
        wait_until("the wineserver", lambda: self._server_listens() or self.server.poll() is not None, 20, 0.02)
        check(self.server.poll() is None, f"wineserver ended at once (see {self.tmp / 'wineserver.log'})")

    def _hold_desktop(self):
        # Wine closes a desktop, and its explorer with the taskbar, a second after
        # its last program has gone; a program started around then races the old
        # explorer's end and the new one's start. A hidden window of another process
        # keeps the desktop and its explorer from the first case to the last.
        base = self.tmp / "desktop"
        ready = Path(f"{base}.ready")
        ready.unlink(missing_ok=True)
        # Wine's own error lines too: the holder is the first to ask for the desktop.
        self.holder = self._spawn([WINE, str(self.holder_exe), "--hold-desktop", "Z:" + str(base).replace("/", "\\")],
                                  "holder.out", signal.SIGKILL, env=dict(self.env, WINEDEBUG="err+all"))
        wait_until("the desktop and its taskbar", lambda: ready.exists() or self.holder.poll() is not None, 30, 0.05)
        if not ready.exists():
            output = (self.tmp / "holder.out").read_text(errors="replace").strip()
            raise TestFailure(f"the desktop did not come up: holder exit {self.holder.poll()}: {output[-3000:]}")

    def close(self):
        if self.holder is not None and self.holder.poll() is None:
            self.holder.kill()
            self.holder.wait()
        for program in self.programs:
            try:
                program.kill()
            except OSError:
                pass
        if self.server is not None:
            stop_prefix(self.prefix)
            try:
                self.server.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
        if self.prefix is not None:
            kill_strays(self.prefix)
            remove_server_dirs(self.prefix)
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        if self.tmp is not None:
            if os.environ.get("TARNWICK_E2E_KEEP"):
                (self.tmp / KEPT_MARK).touch()
                print(f"kept {self.tmp}", flush=True)
            else:
                shutil.rmtree(self.tmp, ignore_errors=True)
        if self._guard is not None:
            self._guard.stdin.close()
            try:
                self._guard.wait(timeout=30)
            except subprocess.TimeoutExpired:
                pass

    # ---- the program ----

    def start(self, *args, exe=None, env=None):
        """Starts Tarnwick.exe, or `exe` (a patched copy, say) in its place; `env` adds to
        the session's environment."""
        out = f"program-{len(self.programs) + 1}.out"
        program = Program(self._spawn([WINE, str(exe or self.exe), *args], out, signal.SIGKILL,
                                      env=dict(self.env, **(env or {}))), self.tmp / out)
        self.programs.append(program)
        return program

    def start_ready(self, state="disconnected", timeout=20, exe=None):
        """Starts the program and waits for its tray icon to be drawn."""
        program = self.start(exe=exe)
        self.wait_window(TRAY_CLASS, timeout)
        self.wait_tray(state, timeout)
        return program

    def settings_file(self):
        """The program's settings file in the prefix (it need not exist)."""
        return next(self.prefix.glob("drive_c/users/*/AppData/Roaming")) / "Morvane" / "Tarnwick" / "Tarnwick.ini"

    def restart_server(self):
        """Ends everything in the prefix and starts a fresh wineserver, for settings
        that Wine's processes read once and share (LogPixels among them)."""
        stop_prefix(self.prefix)
        self.server.wait(timeout=scaled(20))
        self._start_server()
        self._hold_desktop()

    def run(self, *args, log, env=None, timeout=60, check_code=False):
        """Runs a program to its end in the session's folder and environment, its output in
        <log>.out and <log>.err there (each run replaces the last); returns a Ran. Every run
        is listed in tools.log with its exit code, time and errors, for the evidence.
        check_code: a non-zero exit code fails the test, with what the program said."""
        began = time.monotonic()
        ran = run_to_end(args, self.tmp / f"{log}.out", self.tmp / f"{log}.err", env=env or self.env, cwd=self.tmp,
                         timeout=timeout)
        took = time.monotonic() - began
        said = (ran.err or ran.out).decode("utf-8", "replace").strip()
        with open(self.tmp / "tools.log", "a", encoding="utf-8") as listing:
            listing.write(f"{time.strftime('%H:%M:%S')} exit {ran.code} in {took:.2f} s: "
                          f"{' '.join(Path(str(a)).name if i == 0 else str(a) for i, a in enumerate(args))}\n")
            if ran.code != 0 and said:
                listing.write("".join(f"    {line}\n" for line in said[-2000:].splitlines()))
        if check_code and ran.code != 0:
            raise TestFailure(f"{Path(str(args[0])).name} {' '.join(map(str, args[1:]))}: exit {ran.code}: {said[-2000:]}")
        return ran

    def wine(self, *args, timeout=60):
        """Runs a Windows program of the prefix (taskkill, reg) to its end; returns its exit code."""
        return self.run(WINE, *args, log="wine", timeout=timeout).code

    def windows_processes(self):
        """The command lines of the Windows processes running in the prefix now, as Wine
        shows them (the program's Windows path first)."""
        return list(self.windows_process_ids().values())

    def windows_process_ids(self):
        """The Windows processes running in the prefix now: their Linux pids and command lines."""
        marker = f"WINEPREFIX={self.prefix}".encode() + b"\0"
        found = {}
        for environ in glob.glob("/proc/[0-9]*/environ"):
            try:
                with open(environ, "rb") as f:
                    if marker not in f.read():
                        continue
                with open(environ[:-len("environ")] + "cmdline", "rb") as f:
                    found[int(environ.split("/")[2])] = f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
            except (OSError, ValueError):
                pass
        return found

    def wine_command_line(self, *words, timeout=60):
        """Runs a command line as typed into cmd (cmd /c), for programs that read their raw
        command line: NSIS's /D= takes the rest of it, blanks and all, and no quotes, which
        Wine would put around an argument with a blank. The words are split at blanks and
        joined again with one. Returns the exit code, the program's: cmd waits for it."""
        parts = [part for word in map(str, words) for part in word.split(" ") if part]
        check(not any(c in part for part in parts for c in '"\t'), f"no quotes or tabs: {words}")
        return self.run(WINE, "cmd", "/c", *parts, log="wine", timeout=timeout).code

    # ---- the registry ----
    # Wine's reg, like any Wine program, now and then dies in ld.so on its way out, after
    # its work is done and its answer printed ("Inconsistency detected by ld.so:
    # dl-fini.c", exit code 127). So what it printed is the answer and the registry the
    # proof of a change; its exit code only tells a missing key or value (1, with reg's
    # own words) from a failure. Each step runs once: a change that did not happen fails.

    def reg(self, *args):
        """Runs Wine's reg once; returns its exit code and all it printed."""
        ran = self.run(WINE, "reg", *args, log="reg", timeout=30)
        return ran.code, (ran.out + ran.err).decode("utf-8", "replace")

    @staticmethod
    def _reg_missing(code, text):
        return code == 1 and re.search(r"Unable to find the specified registry (key|value)", text)

    def reg_value(self, key, name):
        """The data of a registry value as `reg query` prints it (a DWORD as 0x...), or None
        when the key or the value does not exist."""
        code, text = self.reg("query", key, "/v", name)
        for line in text.splitlines():
            parts = re.split(r"\s{4}", line.strip(), maxsplit=2)
            if len(parts) >= 2 and parts[0].lower() == name.lower() and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        if self._reg_missing(code, text):
            return None
        raise TestFailure(f"reg query {key} /v {name}: exit {code}: {text.strip()[-2000:]}")

    def reg_key_exists(self, key):
        code, text = self.reg("query", key)
        if self._reg_missing(code, text):
            return False
        # reg prints the key with its root spelled out.
        root, _, rest = key.partition("\\")
        full = REG_ROOTS.get(root.upper(), root) + "\\" + rest
        check(full.lower() in text.lower(), f"reg query {key}: exit {code}: {text.strip()[-2000:]}")
        return True

    def reg_set(self, key, name, kind, data):
        """Writes a value (REG_SZ or REG_DWORD) and reads it back."""
        code, text = self.reg("add", key, "/v", name, "/t", kind, "/d", data, "/f")
        got = self.reg_value(key, name)
        wanted = f"0x{int(data):x}" if kind == "REG_DWORD" else str(data)
        check(got is not None and got.lower() == wanted.lower(),
              f"reg add {key} /v {name} /d {data}: {got!r} read back (reg add: exit {code}: {text.strip()[-1000:]})")

    def reg_delete(self, key, name):
        """Deletes a value if it is there and checks that it is gone."""
        code, text = self.reg("delete", key, "/v", name, "/f")
        check(self.reg_value(key, name) is None, f"reg delete {key} /v {name}: still there (exit {code}: {text.strip()})")

    def reset(self):
        """Between cases: no program left, the default phonebook, the pointer out of the way."""
        for program in self.programs:
            program.kill()
        self.wait_no_window(TRAY_CLASS, 15)
        self.write_scenario(DEFAULT_SCENARIO)
        self.pointer(500, 300)

    # ---- the simulated service ----

    def write_scenario(self, text):
        # The service re-reads the file on every call: replace it in one step.
        part = self.scenario.with_suffix(".part")
        part.write_text(text, encoding="utf-8")
        os.replace(part, self.scenario)

    def release_dial(self, name):
        """Lets a held dial of the entry (scenario line "dial <result> hold <name>") end: the
        line goes. Only while the service itself writes nothing: it rewrites the scenario as
        a dial or hang-up ends."""
        def holds(line):
            fields = line.rstrip("\r\n").split("\t")
            return len(fields) == 4 and fields[0] == "dial" and fields[2] == "hold" and fields[3] == name

        lines = self.scenario.read_text(encoding="utf-8").splitlines(keepends=True)
        kept = [line for line in lines if not holds(line)]
        check(len(kept) == len(lines) - 1, f"the scenario holds no single held dial of {name!r}")
        self.write_scenario("".join(kept))

    def log_lines(self):
        try:
            return self.log.read_text(encoding="utf-8").splitlines()
        except FileNotFoundError:
            return []

    def wait_log(self, what, predicate, timeout, after=0):
        """Waits for a log line (from index `after` on) that satisfies predicate; returns its index."""
        def probe():
            for i, line in enumerate(self.log_lines()[after:], after):
                if predicate(line.split("\t")):
                    return i + 1
            return 0
        return wait_until(what, probe, timeout) - 1

    # ---- the driver ----

    def driver(self, *args, check_result=True, timeout=60):
        ran = self.run(WINE, self.driver_exe, *args, log="driver", timeout=timeout, check_code=check_result)
        return ran.code, ran.out.decode("utf-8")

    def wait_window(self, window_class, timeout):
        return self.driver("wait-window", window_class, ms(timeout), timeout=timeout + 30)[1].strip()

    def wait_no_window(self, window_class, timeout):
        self.driver("wait-no-window", window_class, ms(timeout), timeout=timeout + 30)

    def count_windows(self, window_class, visible_only=False):
        args = ["count", window_class] + (["visible"] if visible_only else [])
        return int(self.driver(*args)[1])

    def wait_menu(self, timeout):
        """Waits for the open popup menu; returns its rectangle (left, top, right, bottom)."""
        rect = self.driver("wait-menu", ms(timeout), timeout=timeout + 30)[1].split()
        return tuple(int(v) for v in rect)

    def wait_no_menu(self, timeout):
        self.driver("wait-no-menu", ms(timeout), timeout=timeout + 30)

    def menu_shows_within(self, timeout):
        code, _ = self.driver("wait-menu", ms(timeout), check_result=False, timeout=timeout + 30)
        return code == 0

    def menu_items(self, timeout=10):
        """The open popup menu's items (MenuItem), read inside the program by twmenuhook.dll."""
        items = []
        for line in self.driver("menu-items", ms(timeout), timeout=timeout + 30)[1].splitlines():
            _, kind, state, text, _ = line.split("\t")
            state = state.split(",")
            items.append(MenuItem(unescape(text), "separator" in kind.split(","), "checked" in state, "disabled" in state))
        return items

    def watch_balloons(self, timeout=10):
        """Records the shell's balloon titles and icons from now on, until the next
        restart_server()."""
        self.driver("watch-balloons", ms(timeout), timeout=timeout + 30)

    def wait_balloon(self, text, timeout):
        """Waits for a balloon showing `text`; returns (icon, title). Icon: "1" info,
        "2" warning, "3" error; "?" and an empty title when watch_balloons did not see it."""
        line = self.driver("balloon", ms(timeout), text, timeout=timeout + 30)[1].rstrip("\n")
        icon, title, _ = line.split("\t")
        return icon, unescape(title)

    def no_balloon(self, seconds):
        """Fails as soon as any balloon shows within `seconds`."""
        self.driver("no-balloon", ms(seconds), timeout=seconds + 30)

    def patchres(self, *args):
        """Runs twpatchres (copies with patched resources, window probes); returns its output."""
        tool = self.build / "twpatchres.exe"
        check(tool.is_file(), f"{tool} is missing: build the twpatchres target first")
        return self.run(WINE, tool, *args, log="patchres", check_code=True).out.decode("utf-8")

    def driver_background(self, *args):
        """Starts twdriver for a command that keeps running (hold); returns the process and its output file."""
        out = self.tmp / f"driver-bg-{len(list(self.tmp.glob('driver-bg-*.out'))) + 1}.out"
        return self._spawn([WINE, str(self.driver_exe), *map(str, args)], out.name, signal.SIGKILL), out

    # ---- the screen ----

    def screenshot(self, label="shot"):
        self._shots += 1
        path = self.tmp / f"{self._shots:03d}-{label}.png"
        self.run(IMPORT, "-display", self.display, "-window", "root", path, log="import", timeout=30, check_code=True)
        self.last_shot = path
        return path

    def convert(self, *args):
        """ImageMagick's convert writing to its stdout; returns what it wrote (bytes)."""
        return self.run(CONVERT, *args, log="convert", timeout=30, check_code=True).out

    def colours(self, png, left, top, width, height):
        """The pixel colours of a rectangle of a picture, counted."""
        text = self.convert(png, "-alpha", "off", "-crop", f"{width}x{height}+{left}+{top}", "+repage", "-depth", "8",
                            "txt:-").decode()
        counts = collections.Counter()
        for match in re.finditer(r"#([0-9A-Fa-f]{6})\b", text):
            rgb = bytes.fromhex(match.group(1))
            counts[(rgb[0], rgb[1], rgb[2])] += 1
        return counts

    def tray_icons(self, png=None):
        """The program's tray icons on the screen now (trayfinder.Icon: state and disc box),
        found by their look wherever the shell shows them."""
        return trayfinder.find_in(png or self.screenshot("tray"))

    def tray_state(self, png=None):
        """Which of the program's images its tray icon shows ("disconnected", "connected"),
        or None when none is shown; more than one icon of ours fails the test."""
        icons = self.tray_icons(png)
        check(len(icons) <= 1, f"{len(icons)} icons of ours on the screen: {icons}")
        return icons[0].state if icons else None

    def wait_tray_icon(self, timeout, state=None):
        """Waits for the one tray icon of ours (showing `state`, when given); returns it."""
        seen = []

        def probe():
            icons = self.tray_icons()
            seen.append(icons)
            return len(icons) == 1 and (state is None or icons[0].state == state) and icons[0]
        try:
            return wait_until(f"a tray icon of ours{' showing ' + state if state else ''}", probe, timeout, 0.2)
        except TestFailure as failure:
            raise TestFailure(f"{failure} (last seen: {seen[-1] if seen else 'nothing'})") from None

    def wait_tray(self, state, timeout):
        """Waits until the tray shows `state` (None: no icon of ours); returns the seconds it took."""
        began = time.monotonic()
        if state is None:
            seen = []

            def gone():
                seen.append(self.tray_icons())
                return not seen[-1]
            try:
                wait_until("no tray icon of ours", gone, timeout, 0.2)
            except TestFailure as failure:
                raise TestFailure(f"{failure} (last seen: {seen[-1] if seen else 'nothing'})") from None
        else:
            self.wait_tray_icon(timeout, state)
        return time.monotonic() - began

    # ---- the pointer and the keyboard ----

    def xdotool(self, *args):
        """Runs xdotool on the session's display; returns what it wrote (text)."""
        return self.run(XDOTOOL, *args, log="xdotool", timeout=30, check_code=True).out.decode()

    def pointer(self, x, y):
        self.xdotool("mousemove", x, y)

    def pointer_position(self):
        values = dict(line.split("=", 1) for line in self.xdotool("getmouselocation", "--shell").split())
        return int(values["X"]), int(values["Y"])

    def click(self, x, y, button="left"):
        self.xdotool("mousemove", x, y, "click", XDOTOOL_BUTTONS[button])

    def click_tray(self, button="left", timeout=10):
        """Clicks the middle of the program's tray icon, wherever the shell shows it."""
        self.click(*trayfinder.centre(self.wait_tray_icon(timeout)), button)

    def type_into_menu(self, *keys, timeout=10):
        # Keys typed on the X server go wherever Wine last left the X focus; now
        # and then, under load, a typed key reached no menu at all and the menu
        # stayed open. Posted to the menu window they meet the menu's own loop on
        # the program's thread, as typed keys do. The pointer rests on the menu's
        # frame, where it selects no item.
        left, top, _, _ = self.wait_menu(timeout)
        self.pointer(left + 1, top + 1)
        for key in keys:
            self.driver("menu-key", key, ms(timeout), timeout=timeout + 30)

    # ---- failures ----

    def keep_evidence(self, case):
        """Copies what helps to understand a failed case to <build>/e2e/<script>/<case>/."""
        dest = self.artifacts / re.sub(r"[^A-Za-z0-9_.-]+", "_", case)
        dest.mkdir(parents=True, exist_ok=True)
        try:
            self.screenshot("failure")
        except (TestFailure, OSError):
            pass
        for path in [self.last_shot, self.scenario, self.log, self.tmp / "tools.log",
                     *[p.out_path for p in self.programs]]:
            if path and Path(path).is_file():
                shutil.copy2(path, dest)
        return dest


def _on_signal(signum, _frame):
    raise SystemExit(f"interrupted by signal {signum}")


def run(name, cases):
    """Runs the cases (name, function(session)) in one session; prints one line per case and a summary.

    Returns the exit code for the script: 0 when every case passed.
    """
    parser = argparse.ArgumentParser(description=f"End-to-end tests: {name}")
    parser.add_argument("--build", required=True, help="the build directory")
    parser.add_argument("--budget", type=int, default=0,
                        help="seconds before the script gives up (ctest passes one short of its own limit; "
                             "default: none, every wait has its own deadline)")
    parser.add_argument("-k", dest="only", default=None, help="run only cases whose name contains this")
    args = parser.parse_args()
    # A failure's message may quote the program's Japanese texts: it must reach the log
    # whatever the terminal's encoding.
    for stream in (sys.stdout, sys.stderr):
        stream.reconfigure(errors="backslashreplace")

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, _on_signal)

    def out_of_budget(_signum, _frame):
        raise BudgetExceeded(f"the script ran out of its time budget ({args.budget} s)")
    # Ends (and cleans up) before ctest's own time-out would kill us outright.
    signal.signal(signal.SIGALRM, out_of_budget)
    signal.alarm(args.budget)

    selected = [(n, f) for n, f in cases if not args.only or args.only in n]
    passed = failed = 0
    began = time.monotonic()
    try:
        with Session(args.build, name) as session:
            print(f"session ready in {time.monotonic() - began:.1f} s (display {session.display})", flush=True)
            for i, (case, function) in enumerate(selected):
                t0 = time.monotonic()
                try:
                    if i:
                        session.reset()
                    function(session)
                except Exception as error:  # one broken case must not hide the others
                    failed += 1
                    print(f"FAIL {case} ({time.monotonic() - t0:.1f} s): {error}", flush=True)
                    if not isinstance(error, (TestFailure, BudgetExceeded)):
                        traceback.print_exc()
                    print(f"     evidence in {session.keep_evidence(case)}", flush=True)
                    if isinstance(error, BudgetExceeded):
                        break
                else:
                    passed += 1
                    print(f"ok   {case} ({time.monotonic() - t0:.1f} s)", flush=True)
    except BudgetExceeded as error:
        failed += 1
        print(f"FAIL {error}", flush=True)
    finally:
        signal.alarm(0)
    print(f"{name}: {time.monotonic() - began:.1f} s in all", flush=True)
    print(f"{passed} passed, {failed} failed", flush=True)
    return 0 if failed == 0 and passed == len(selected) else 1


if __name__ == "__main__" and len(sys.argv) == 3 and sys.argv[1] == "--guard":
    _guard(sys.argv[2])
