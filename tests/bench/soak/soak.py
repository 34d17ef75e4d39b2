#!/usr/bin/python3
"""Soak: one Tarnwick through hundreds of cycles of use, under Wine.

Starts the real Tarnwick.exe in an end-to-end session (own Xvfb, prefix copy,
simulated remote-access service with a short dial delay) and runs tw_soak.exe
beside it: each cycle connects and disconnects an entry from the tray menu,
opens and closes the menu once more, and every few cycles changes the DPI
(WM_DPICHANGED delivered inside the program). Readings of the program's
handles, GDI and USER objects, windows, threads and memory are taken inside
its process after a warm-up cycle and every --report-every cycles.

Prints the readings, the change from the reading after the first 50 cycles to
the last against the goals, and how long the soak took. It asserts nothing
about the figures; it fails (exit 1) only when the soak itself could not run
(a step that did not happen, a wrong result, the program not ending cleanly).
"""

import argparse
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "e2e"))
import harness  # noqa: E402
from harness import DEFAULT_SCENARIO, check  # noqa: E402

ENTRY = "Office"
# Names the recorder's window for the program (tools/common/TrayRecord.h).
RECORDER_VARIABLE = "TW_TRAYREC_WINDOW"
KIB = 1024
# Goals for the change between the reading after the first 50 cycles and the last.
GOAL_COUNT = 3
GOAL_PRIVATE = 1024 * KIB

COLUMNS = [
    # key, heading, scale
    ("handles", "handles (own count)", 1),
    ("handles_table", "handles (system table)", 1),
    ("gdi", "GDI", 1),
    ("user", "USER", 1),
    ("gdi_table", "GDI (handle table)", 1),
    ("windows", "windows", 1),
    ("threads", "threads", 1),
    ("private", "private KiB", KIB),
    ("pagefile", "pagefile KiB", KIB),
    ("working_set", "working set KiB", KIB),
]


def parse_reading(line):
    fields = dict(part.split("=", 1) for part in line.split("\t")[1:])
    return fields


def number(value):
    try:
        return int(value)
    except (TypeError, ValueError):
        return None


def cell(value, scale):
    n = number(value)
    if n is None:
        return value or "?"
    return str(n // scale) if scale > 1 else str(n)


def change(first, last, key):
    a, b = number(first.get(key)), number(last.get(key))
    return None if a is None or b is None else b - a


def verdict(delta, limit):
    if delta is None:
        return "n/a (not reported here)"
    return f"{delta:+d} ({'within' if abs(delta) <= limit else 'OUTSIDE'} the goal of ±{limit})"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the build directory")
    parser.add_argument("--cycles", type=int, default=500, help="connect/disconnect cycles, each with a menu opening")
    parser.add_argument("--dpi-every", type=int, default=5, help="one DPI change every this many cycles")
    parser.add_argument("--report-every", type=int, default=50, help="a reading every this many cycles")
    parser.add_argument("--dial-ms", type=int, default=10, help="the simulated dial's delay")
    args = parser.parse_args()
    build = Path(args.build).resolve()
    soak_exe = build / "tw_soak.exe"
    check(soak_exe.is_file(), f"{soak_exe} is missing: build the bench_soak target (or tw_soak) first")

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, lambda signum, _frame: sys.exit(f"interrupted by signal {signum}"))
    began = time.monotonic()
    with harness.Session(build, "soak") as s:
        print(f"session ready in {time.monotonic() - began:.1f} s (display {s.display})", flush=True)
        s.write_scenario(DEFAULT_SCENARIO + f"dial\t0\t{args.dial_ms}\t{ENTRY}\n")

        # tw_soak records the program's tray calls: its recorder is up before the program starts.
        out = s.tmp / "soak.out"
        ready = s.tmp / "soak.ready"
        soak_began = time.monotonic()
        with open(out, "wb") as o:
            soak = subprocess.Popen(
                [harness.WINE, str(soak_exe), "--cycles", str(args.cycles), "--dpi-every", str(args.dpi_every),
                 "--report-every", str(args.report_every), "--ready", "Z:" + str(s.tmp / "soak").replace("/", "\\")],
                env=s.env, cwd=s.tmp, stdin=subprocess.DEVNULL, stdout=o, stderr=subprocess.STDOUT)
        try:
            harness.wait_until("tw_soak's recorder", lambda: ready.exists() or soak.poll() is not None, 30)
            check(ready.exists(), f"tw_soak ended before its recorder was up: {out.read_text(errors='replace')}")
            program = s.start(env={RECORDER_VARIABLE: ready.read_text()})
            s.wait_tray("disconnected", 20)
            code = soak.wait(timeout=args.cycles * 10 + 300)
        finally:
            if soak.poll() is None:
                soak.kill()
                soak.wait()
        soak_seconds = time.monotonic() - soak_began
        lines = out.read_text(encoding="utf-8", errors="replace").splitlines()
        readings = [parse_reading(line) for line in lines if line.startswith("reading\t")]
        summary = next((line for line in lines if line.startswith("soak ")), "")
        if code != 0 or not summary.startswith("soak ok"):
            s.keep_evidence("soak")
            sys.exit(f"tw_soak failed (exit {code}): {summary or lines[-5:]}")

        # Every cycle reached the service: the warm-up's dial and hang-up, then one of each per cycle.
        log = s.log_lines()
        dials = sum(1 for line in log if line.split("\t") == ["RasDialW", ENTRY, "0"])
        hangups = sum(1 for line in log if line.split("\t")[:1] == ["RasHangUpW"] and line.endswith("\t0"))
        check(dials == args.cycles + 1, f"{dials} successful dials for {args.cycles} cycles and the warm-up")
        check(hangups == args.cycles + 1, f"{hangups} successful hang-ups for {args.cycles} cycles and the warm-up")

        # The program still ends as a user ends it, with exit code 0.
        s.driver("tray", "left")
        s.driver("menu-key", "x")
        exit_code = program.wait_exit(15)
        check(exit_code == 0, f"the program ended with exit code {exit_code} after E&xit")

    print(f"{summary.split(' ', 1)[1]}; {dials} dials and {hangups} hang-ups reached the simulated service "
          f"(dial delay {args.dial_ms} ms); the program then ended with exit code 0")
    headings = ["cycle"] + [heading for _, heading, _ in COLUMNS] + ["seconds"]
    widths = [max(len(h), 7) for h in headings]
    print("  ".join(h.rjust(w) for h, w in zip(headings, widths)))
    for r in readings:
        label = {"start": "start", "warm": "warm-up"}.get(r.get("phase"), r.get("cycle", "?"))
        row = [label] + [cell(r.get(key), scale) for key, _, scale in COLUMNS] + [r.get("seconds", "?")]
        print("  ".join(v.rjust(w) for v, w in zip(row, widths)))

    first = next((r for r in readings
                  if r.get("phase") == "cycles" and number(r.get("cycle")) == min(args.report_every, args.cycles)), None)
    last = readings[-1] if readings else None
    if first and last and first is not last:
        print(f"from cycle {first['cycle']} to cycle {last['cycle']}:")
        own = change(first, last, "handles")
        if own is not None and number(last.get("handles")):
            print(f"  handles         {verdict(own, GOAL_COUNT)}")
        else:
            print(f"  handles         {verdict(change(first, last, 'handles_table'), GOAL_COUNT)} "
                  "(the system's handle table: the program's own count answers 0 here)")
        gdi = change(first, last, "gdi")
        print(f"  GDI objects     {verdict(gdi, GOAL_COUNT)}" + (
            "" if gdi is not None else
            f"; the GDI handle table: {verdict(change(first, last, 'gdi_table'), GOAL_COUNT)}"))
        user = change(first, last, "user")
        print(f"  USER objects    {verdict(user, GOAL_COUNT)}" + (
            "" if user is not None else f"; windows: {verdict(change(first, last, 'windows'), GOAL_COUNT)}"))
        private_key = "private" if number(last.get("private")) else "pagefile"
        private = change(first, last, private_key)
        if private is None:
            print("  private bytes   n/a (not reported here)")
        else:
            print(f"  private bytes   {private:+d} ({private / KIB:+.0f} KiB, "
                  f"{'within' if abs(private) < GOAL_PRIVATE else 'OUTSIDE'} the goal of 1 MiB; "
                  f"{'PrivateUsage' if private_key == 'private' else 'PagefileUsage, as Wine leaves PrivateUsage at 0'})")
        ws = change(first, last, "working_set")
        if ws is not None:
            print(f"  working set     {ws:+d} ({ws / KIB:+.0f} KiB)")
    print(f"soak: {soak_seconds:.0f} s for the cycles, {time.monotonic() - began:.0f} s in all")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except harness.TestFailure as failure:
        sys.exit(f"soak failed: {failure}")
