#!/usr/bin/python3
"""Start-up trace: what Tarnwick.exe loads and creates before its tray icon, beside the baseline.

Starts Tarnwick.exe and tw_baseline.exe alternately under tw_traywatch in one Wine session (the
start-up benchmark's), traced with WINEDEBUG=+timestamp,+pid,+loaddll,+win,+systray, and prints
for each program, in the order they happen: every DLL load and unload, every window created, and
the first Shell_NotifyIconW call (the NIM_ADD), with the median time in ms after the program's
image was mapped. Then it lists the DLLs the program loads that the baseline does not, and why:
an import chain from the executable (read from the import tables of the executable and of Wine's
own DLLs), or a load at run time. With --relay, Wine's relay trace also shows the named calls,
and a run-time load is put down to the call it happened in.

Tracing slows every start, relay tracing very much: read the order and the larger steps, not
ratios. startup.py measures the untraced start.

Usage: /usr/bin/python3 tests/bench/starttrace.py --build DIR [--runs N] [--exe PATH]
                                                  [--relay FUNC;FUNC...]
"""

import argparse
import re
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
from collections import defaultdict
from pathlib import Path

from startup import (BenchError, SCENARIO, WINE, Session, log, measure)

WINE_DLLS = Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")
CHANNELS = "+timestamp,+pid,+loaddll,+win,+systray"
# A relay trace of these, with --relay and no list: calls that load DLLs or start subsystems.
DEFAULT_RELAY = ("LoadLibraryA;LoadLibraryW;LoadLibraryExA;LoadLibraryExW;CoInitialize;CoInitializeEx;"
                 "CoCreateInstance;CryptAcquireContextA;CryptAcquireContextW;BCryptGenRandom;SHGetFolderPathW;"
                 "ShellExecuteW;LoadIconW;LoadImageW;CreateWindowExW;Shell_NotifyIconW")

LINE = re.compile(r"^(\d+\.\d+):([0-9a-f]+):([0-9a-f]+):(.*)$")
LOADED = re.compile(r'trace:loaddll:\w+ Loaded L"([^"]+)" at \w+: (\w+)')
UNLOADED = re.compile(r'trace:loaddll:\w+ Unloaded module L"([^"]+)"')
WINDOW = re.compile(r'trace:win:WIN_CreateWindowEx (?:L"(?:[^"\\]|\\.)*"|\(null\)) (L"([^"]*)"|\S+) ex=(\w+) '
                    r'style=(\w+) .*parent=(\w+)')
TRAY = re.compile(r"trace:systray:Shell_NotifyIconW")
CALL = re.compile(r"^(Call|Ret) +(\w+)\.(\w+)\(")

WS_CHILD = 0x40000000
HWND_MESSAGE = 0xFFFFFFFFFFFFFFFD


def dll_name(path):
    return re.split(r"[\\/]", path)[-1].lower()


def window_kind(style, parent):
    if int(parent, 16) == HWND_MESSAGE:
        return "message-only"
    return "child" if int(style, 16) & WS_CHILD else "top-level"


def parse_trace(text, exe_name):
    """Events of the process that maps exe_name: (ms after the mapping, kind, name)."""
    pid, t0, events = None, None, []
    for line in text.splitlines():
        m = LINE.match(line)
        if not m:
            continue
        t, p, rest = float(m.group(1)) * 1000, m.group(2), m.group(4)
        if pid is None:
            loaded = LOADED.search(rest)
            if loaded and dll_name(loaded.group(1)) == exe_name.lower():
                pid, t0 = p, t
            continue
        if p != pid:
            continue
        if m := LOADED.search(rest):
            events.append((t - t0, "load", dll_name(m.group(1))))
        elif m := UNLOADED.search(rest):
            events.append((t - t0, "unload", dll_name(m.group(1))))
        elif m := WINDOW.search(rest):
            cls = m.group(2) if m.group(2) is not None else m.group(1)
            events.append((t - t0, "window", f"{cls} ({window_kind(m.group(4), m.group(5))})"))
        elif TRAY.search(rest):
            events.append((t - t0, "tray", "Shell_NotifyIconW"))
        elif m := CALL.match(rest):
            events.append((t - t0, "call" if m.group(1) == "Call" else "return", f"{m.group(2)}.{m.group(3)}"))
    if pid is None:
        raise BenchError(f"no trace of {exe_name} loading; is this Wine's loaddll channel?")
    # Up to the tray icon; what follows is not the start any more.
    first_tray = next((i for i, e in enumerate(events) if e[1] == "tray"), None)
    if first_tray is None:
        raise BenchError(f"no Shell_NotifyIconW in the trace of {exe_name}")
    return events[:first_tray + 1]


def numbered(events):
    """Keys that tell repeated events apart (the second LoadImageW, the third window...)."""
    seen = defaultdict(int)
    out = []
    for t, kind, name in events:
        seen[(kind, name)] += 1
        n = seen[(kind, name)]
        out.append((t, kind, name if n == 1 else f"{name} #{n}"))
    return out


def timeline(runs):
    """Median time of each event seen in every run, in order."""
    times = defaultdict(list)
    for events in runs:
        for t, kind, name in numbered(events):
            times[(kind, name)].append(t)
    common = {key: statistics.median(v) for key, v in times.items() if len(v) == len(runs)}
    return sorted(((t, kind, name) for (kind, name), t in common.items()), key=lambda e: e[0])


def pe_imports(path):
    """Names of the DLLs a PE file imports at load time (not its delay imports)."""
    data = Path(path).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return []
    sections_count, opt_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (112 if magic == 0x20B else 96)
    rva, size = struct.unpack_from("<II", data, dirs + 8)
    sections = []
    for i in range(sections_count):
        s = opt + opt_size + 40 * i
        vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, s + 8)
        sections.append((vaddr, max(vsize, rsize), raw))

    def offset(r):
        for vaddr, length, raw in sections:
            if vaddr <= r < vaddr + length:
                return r - vaddr + raw
        raise ValueError(f"RVA {r:#x} outside the sections of {path}")

    names = []
    if not rva or not size:
        return names
    at = offset(rva)
    while True:
        desc = struct.unpack_from("<IIIII", data, at)
        if not any(desc):
            break
        name_at = offset(desc[3])
        names.append(data[name_at:data.index(b"\0", name_at)].decode("ascii", "replace").lower())
        at += 20
    return names


def import_chains(exe):
    """For each DLL the executable loads through imports: the chain that brings it in."""
    chains = {}
    queue = [(name, [exe.name.lower(), name]) for name in pe_imports(exe)]
    while queue:
        name, chain = queue.pop(0)
        if name in chains or name.startswith(("api-ms-", "ext-ms-")):
            continue
        chains[name] = chain
        builtin = WINE_DLLS / name
        if builtin.is_file():
            queue += [(dep, chain + [dep]) for dep in pe_imports(builtin)]
    return chains


def why_loaded(dll, runs, chains):
    if dll in chains:
        return "imported: " + " -> ".join(chains[dll])
    callers = []
    for events in runs:
        # Relay calls nest: the innermost one still open when the DLL loads made it load.
        open_calls = []
        for _, kind, name in events:
            if kind == "call":
                open_calls.append(name)
            elif kind == "return" and name in open_calls:
                del open_calls[len(open_calls) - 1 - open_calls[::-1].index(name):]
            elif kind == "load" and name == dll:
                callers.append(open_calls[-1] if open_calls else None)
                break
    named = [c for c in callers if c]
    if named:
        return "loaded at run time, inside " + statistics.mode(named)
    return "loaded at run time" + ("" if any(k == "call" for e in runs for _, k, _ in e) else
                                   " (--relay names the call)")


def print_timeline(label, events, baseline_dlls=None):
    print(f"{label}:")
    for t, kind, name in events:
        if kind == "return":
            continue
        extra = ""
        if baseline_dlls is not None and kind == "load" and name.split(" #")[0] not in baseline_dlls:
            extra = "  <- not loaded by the baseline"
        print(f"  {t:8.1f}  {kind:<7} {name}{extra}")
    windows = [name for _, kind, name in events if kind == "window"]
    top = sum("(top-level)" in w for w in windows)
    print(f"  windows created before the tray icon: {len(windows)}, {top} of them top-level "
          f"(the default IME window Wine adds is not counted)")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default=str(Path(__file__).resolve().parents[2] / "build"),
                    help="build directory (default: %(default)s)")
    ap.add_argument("--runs", type=int, default=5, help="traced starts of each program (default: %(default)s)")
    ap.add_argument("--exe", help="trace this build of the program instead of the build's Tarnwick.exe")
    ap.add_argument("--relay", nargs="?", const=DEFAULT_RELAY,
                    help="also trace these calls (;-separated; default: calls that load DLLs or create windows)")
    ap.add_argument("--keep", action="store_true", help="keep the work directory (prefix copy, traces)")
    args = ap.parse_args()
    if args.runs < 1:
        ap.error("--runs must be at least 1")

    build = Path(args.build).resolve()
    program = Path(args.exe).resolve() if args.exe else build / "Tarnwick.exe"
    baseline = build / "tools" / "bench" / "tw_baseline.exe"
    watcher = build / "tools" / "bench" / "tw_traywatch.exe"
    missing = [p for p in (program, baseline, watcher, build / "tools" / "rassim" / "system32" / "rasapi32.dll")
               if not p.is_file()]
    if missing:
        log("missing: " + ", ".join(map(str, missing)))
        log("build them: cmake --build --preset default --target Tarnwick rassim tw_baseline tw_traywatch")
        return 2
    if not WINE_DLLS.is_dir():
        log(f"note: {WINE_DLLS} not found; import chains stop at the executable's own imports")

    workdir = Path(tempfile.mkdtemp(prefix="tw-trace-"))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))
    session = None
    try:
        bindir = workdir / "bin"
        bindir.mkdir()
        progs = {"program": Path(shutil.copy2(program, bindir)), "baseline": Path(shutil.copy2(baseline, bindir))}
        watch = Path(shutil.copy2(watcher, bindir))
        scenario = workdir / "scenario.txt"
        scenario.write_text(SCENARIO)
        session = Session(build, workdir, watch)
        session.open()
        channels = CHANNELS
        if args.relay:
            # The session's own prefix copy: the setting goes with it.
            with open(workdir / "reg.log", "w") as out:
                subprocess.run([WINE, "reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t",
                                "REG_SZ", "/d", args.relay, "/f"], env=session.env, stdin=subprocess.DEVNULL,
                               stdout=out, stderr=subprocess.STDOUT, check=True, timeout=60)
            channels += ",+relay"
        sim_env = {"RASSIM_SCENARIO": str(scenario)}
        # The first start of each pays for caches; it is not traced.
        for name in ("program", "baseline"):
            measure(session, watch, progs[name], f"warmup-{name}", 200, sim_env)
        traces = {"program": [], "baseline": []}
        for i in range(args.runs):
            for name in ("program", "baseline") if i % 2 == 0 else ("baseline", "program"):
                tag = f"{i:02d}-{name}"
                measure(session, watch, progs[name], tag, 200, dict(sim_env, WINEDEBUG=channels))
                text = (workdir / f"{tag}.err").read_text(errors="replace")
                traces[name].append(parse_trace(text, progs[name].name))
            log(f"traced run {i + 1}/{args.runs}")

        print(f"Traced starts ({args.runs} of each, {channels}); ms after the program's image was mapped, "
              f"median of the starts; tracing slows them.")
        base_events = timeline(traces["baseline"])
        base_dlls = {name.split(" #")[0] for _, kind, name in base_events if kind == "load"}
        prog_events = timeline(traces["program"])
        print_timeline(f"{program.name}", prog_events, base_dlls)
        print_timeline(f"{baseline.name}", base_events)

        chains = import_chains(progs["program"])
        extra = sorted({name.split(" #")[0] for _, kind, name in prog_events if kind == "load"} - base_dlls)
        unloaded = {name.split(" #")[0] for _, kind, name in prog_events if kind == "unload"}
        print(f"DLLs {program.name} loads before its tray icon that {baseline.name} does not:")
        for dll in extra:
            gone = ", unloaded again" if dll in unloaded else ""
            print(f"  {dll:<16} {why_loaded(dll, traces['program'], chains)}{gone}")
        if not extra:
            print("  none")
        return 0
    except BenchError as e:
        log(f"error: {e}")
        args.keep = True
        return 1
    finally:
        if session:
            session.close()
        shutil.rmtree(workdir / "prefix", ignore_errors=True)
        if args.keep:
            log(f"kept {workdir}")
        else:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
