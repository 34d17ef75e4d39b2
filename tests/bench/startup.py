#!/usr/bin/python3
"""Start-up benchmark: Tarnwick.exe against a minimal tray program under Wine.

Both programs are started alternately by tw_traywatch in one Wine session (own
Xvfb display, own copy of the build's prefix, warm wineserver). It times each
from just before CreateProcess to its first NIM_ADD, waits until the program is
idle and quiet, and reads its memory; meanwhile this script reads the same
process's /proc status (cross-check), thread CPU times and image sizes. Prints
medians and Tarnwick/baseline ratios; asserts nothing about time.

Usage: /usr/bin/python3 tests/bench/startup.py --build DIR [--runs N] [--exe PATH ...]
"""

import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
LIB_SH = REPO / "tools" / "wine" / "lib.sh"
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, str(REPO / "tools" / "wine"))
from wine_env import DESKTOP_SIZE, OVERRIDES, WINE, WINESERVER  # noqa: E402
STRIP = "x86_64-w64-mingw32-strip"

# Two VPN entries: the program enumerates and queries both while starting.
SCENARIO = "entry\tvpn\tOffice VPN\nentry\tvpn\tLab VPN\n"

MIB = 1024 * 1024


class BenchError(Exception):
    pass


def log(msg):
    print(msg, file=sys.stderr, flush=True)


def winpath(path):
    return "Z:" + str(path).replace("/", "\\")


def start_xvfb(workdir):
    """Starts Xvfb on a display it picks itself; returns (process, display).

    -displayfd: Xvfb takes the first free display and writes its number once it
    accepts clients, so no other user of the machine can race us for it."""
    read_end, write_end = os.pipe()
    with open(workdir / "xvfb.log", "w") as out:
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{DESKTOP_SIZE[0]}x{DESKTOP_SIZE[1]}x24",
             "-nolisten", "tcp", "-noreset"],
            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, pass_fds=(write_end,))
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb", buffering=0) as pipe:
        # Ends at the newline, or at end of file if Xvfb gives up.
        while not number.endswith(b"\n"):
            chunk = pipe.read(16)
            if not chunk:
                break
            number += chunk
    if not number.strip().isdigit():
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        raise BenchError(f"Xvfb did not start; see {workdir / 'xvfb.log'}")
    return proc, ":" + number.decode().strip()


def read_proc_status(pid):
    fields = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                parts = value.split()
                if len(parts) == 2 and parts[1] == "kB":
                    fields[key] = int(parts[0]) * 1024
    except OSError:
        return None
    return fields


def cpu_ns(pid):
    """CPU time of the live threads of pid, in ns (schedstat is ns-exact, unlike stat's ticks)."""
    total = 0
    try:
        for tid in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return None
    return total


def cpu_counters():
    """(busy, steal, total) jiffies of all CPUs, from /proc/stat."""
    with open("/proc/stat") as f:
        values = [int(v) for v in f.readline().split()[1:]]
    idle = values[3] + values[4]  # idle + iowait
    steal = values[7] if len(values) > 7 else 0
    total = sum(values[:8])
    return total - idle - steal, steal, total


def size_of_image(path):
    """SizeOfImage from a PE file's optional header."""
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    if head[pe:pe + 4] != b"PE\0\0":
        raise BenchError(f"{path} is not a PE file")
    return int.from_bytes(head[pe + 24 + 56:pe + 24 + 60], "little")


def image_rss(pid, images):
    """Resident bytes of each PE image {path: size} in pid's address space. Wine
    maps the header page from the file and, for images whose sections are not
    page-aligned in the file (MinGW's default), reads the rest into anonymous
    memory, so the image is found by its header's address, not by name."""
    regions = []
    try:
        with open(f"/proc/{pid}/smaps") as f:
            for line in f:
                head = line.split(maxsplit=5)
                if "-" in head[0] and not head[0].endswith(":"):
                    lo, hi = (int(x, 16) for x in head[0].split("-"))
                    regions.append([lo, hi, head[5].strip() if len(head) > 5 else "", int(head[2], 16), 0])
                elif head[0] == "Rss:":
                    regions[-1][4] = int(head[1]) * 1024
    except (OSError, ValueError, IndexError):
        return {}
    found = {}
    for path, size in images.items():
        bases = [r[0] for r in regions if r[2] == str(path) and r[3] == 0]
        if bases:
            found[path] = sum(r[4] for r in regions if bases[0] <= r[0] < bases[0] + size)
    return found


def find_wine_processes(prefix, exe_name):
    """Unix pids of processes of this prefix whose command is exe_name."""
    found = []
    want = f"WINEPREFIX={prefix}".encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv0 = f.read().split(b"\0")[0].decode(errors="replace")
            with open(f"/proc/{entry}/environ", "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if re.split(r"[\\/]", argv0)[-1].lower() == exe_name.lower() and want in env:
            found.append(int(entry))
    return found


class Session:
    """One Wine session: prefix copy, Xvfb, persistent wineserver; all torn down by close()."""

    def __init__(self, build, workdir, watcher):
        self.build = build
        self.watcher = watcher
        self.holder = None
        self.holder_go = None
        self.explorers = set()
        self.workdir = workdir
        self.prefix = workdir / "prefix"
        self.xvfb = None
        self.env = None
        self.server_started = False

    def open(self):
        t = time.monotonic()
        with open(self.workdir / "prefix.log", "w") as out:
            # lib.sh makes the build's clean template once and copies it, with the simulated service.
            subprocess.run(
                ["bash", "-c", '. "$1" && wine_copy_prefix "$2" "$3"', "_", str(LIB_SH), str(self.build),
                 str(self.prefix)],
                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, check=True, timeout=300)
        log(f"prefix copied in {time.monotonic() - t:.1f} s")
        self.xvfb, display = start_xvfb(self.workdir)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("WINE", "RASSIM_"))}
        env.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all", DISPLAY=display,
                   WINEDLLOVERRIDES=OVERRIDES)
        self.env = env
        # A persistent server stays warm for every run, so no run pays Wine's own start-up.
        subprocess.run([WINESERVER, "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        subprocess.run([WINESERVER, "-p"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=30)
        self.server_started = True
        self.hold_desktop()

    def hold_desktop(self):
        """Keeps the desktop and its explorer up for the whole session (see tw_traywatch)."""
        base = self.workdir / "desktop"
        with open(self.workdir / "holder.out", "w") as out:
            self.holder = subprocess.Popen([WINE, str(self.watcher), "--hold-desktop", winpath(base)], env=self.env,
                                           stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        self.holder_go = Path(f"{base}.go")
        deadline = time.monotonic() + 60
        while not Path(f"{base}.ready").exists():
            if self.holder.poll() is not None or time.monotonic() > deadline:
                raise BenchError(f"desktop holder did not start; see {self.workdir / 'holder.out'}")
            time.sleep(0.02)
        self.explorers = set(find_wine_processes(self.prefix, "explorer.exe"))

    def explorer_restarted(self):
        return set(find_wine_processes(self.prefix, "explorer.exe")) != self.explorers

    def close(self):
        if self.holder and self.holder.poll() is None:
            self.holder_go.touch()
            try:
                self.holder.wait(10)
            except subprocess.TimeoutExpired:
                self.holder.kill()
                self.holder.wait()
        if self.server_started:
            subprocess.run([WINESERVER, "-k"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            subprocess.run([WINESERVER, "-w"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            self.server_started = False
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()


def parse_watch_line(text):
    for line in text.splitlines():
        if line.startswith("traywatch "):
            fields = dict(kv.split("=", 1) for kv in line.split()[1:] if "=" in kv)
            fields["status"] = line.split()[1]
            return fields
    return None


def measure(session, watcher, exe, tag, settle_ms, extra_env=None, images=None):
    """One start of exe under tw_traywatch; returns a dict of figures."""
    work = session.workdir
    base = work / f"hs-{tag}"
    out_path, err_path = work / f"{tag}.out", work / f"{tag}.err"
    env = dict(session.env, **(extra_env or {}))
    cmd = [WINE, str(watcher), "--settle-ms", str(settle_ms), "--timeout-ms", "30000",
           "--handshake", winpath(base), winpath(exe)]
    proc_fig = None
    with open(out_path, "w") as out, open(err_path, "w") as err:
        watch = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
    ready, go = Path(f"{base}.ready"), Path(f"{base}.go")
    deadline = time.monotonic() + 60
    try:
        while watch.poll() is None:
            if time.monotonic() > deadline:
                raise BenchError(f"{tag}: tw_traywatch did not finish in time")
            if ready.exists() and not go.exists():
                pids = find_wine_processes(session.prefix, exe.name)
                if len(pids) == 1:
                    proc_fig = read_proc_status(pids[0])
                    if proc_fig is not None:
                        proc_fig["cpu_ns"] = cpu_ns(pids[0])
                        proc_fig["images"] = image_rss(pids[0], images or {})
                go.touch()
            time.sleep(0.005)
    finally:
        if watch.poll() is None:
            watch.kill()
            watch.wait()
    fields = parse_watch_line(out_path.read_text(errors="replace"))
    if not fields or fields["status"] != "ok":
        raise BenchError(f"{tag}: {fields or 'no output'} (see {out_path}, {err_path})")
    # Single instance per session: the next start must not meet this one.
    leftover_deadline = time.monotonic() + 10
    while find_wine_processes(session.prefix, exe.name):
        if time.monotonic() > leftover_deadline:
            raise BenchError(f"{tag}: {exe.name} still running after tw_traywatch ended")
        time.sleep(0.02)
    fig = {
        "tray_ms": float(fields["tray_ms"]),
        "idle_ms": float(fields["idle_ms"]),
        "ws": int(fields["ws"]),
        "pagefile": int(fields["pagefile"]),
        "private": int(fields["private"]),
        "exit": fields["exit"],
        "deletes": int(fields["deletes"]),
    }
    if proc_fig:
        fig["VmRSS"] = proc_fig.get("VmRSS")
        fig["RssAnon"] = proc_fig.get("RssAnon")
        fig["RssFile"] = proc_fig.get("RssFile")
        fig["cpu_ns"] = proc_fig.get("cpu_ns")
        fig["images"] = proc_fig.get("images", {})
    return fig


def stripped_size(exe, workdir):
    copy = workdir / ("stripped-" + exe.name)
    shutil.copy2(exe, copy)
    if shutil.which(STRIP):
        subprocess.run([STRIP, str(copy)], check=True, stdin=subprocess.DEVNULL)
    return copy.stat().st_size


def summarize(values):
    return statistics.median(values), min(values), max(values)


def quartiles(values):
    q = statistics.quantiles(values, n=4, method="inclusive") if len(values) > 1 else [values[0]] * 3
    return q[0], q[2]


def fmt_row(label, t_vals, b_vals, scale, digits, paired):
    tm, tlo, thi = summarize([v / scale for v in t_vals])
    bm, blo, bhi = summarize([v / scale for v in b_vals])
    ratios = [t / b for t, b in paired if b]
    pr = statistics.median(ratios)
    p25, p75 = quartiles(ratios)
    f = f"{{:.{digits}f}}"
    t = f"{f.format(tm)} ({f.format(tlo)}-{f.format(thi)})"
    b = f"{f.format(bm)} ({f.format(blo)}-{f.format(bhi)})"
    return f"{label:<30} {t:>26} {b:>26} {tm / bm:>6.3f}  {pr:.3f} ({p25:.2f}-{p75:.2f})"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default=str(REPO / "build"), help="build directory (default: %(default)s)")
    ap.add_argument("--runs", type=int, default=10, help="measured starts of each program (default: %(default)s)")
    ap.add_argument("--settle-ms", type=int, default=500,
                    help="quiet spell after input idle before memory is read (default: %(default)s)")
    ap.add_argument("--exe", action="append",
                    help="measure this build of the program instead of the build's Tarnwick.exe; repeat it to "
                         "measure several builds in one session, interleaved, against the same baseline starts")
    ap.add_argument("--keep", action="store_true", help="keep the work directory (prefix copy, outputs)")
    args = ap.parse_args()
    if args.runs < 1:
        ap.error("--runs must be at least 1")

    build = Path(args.build).resolve()
    builds = [Path(p).resolve() for p in args.exe] if args.exe else [build / "Tarnwick.exe"]
    baseline = build / "tools" / "bench" / "tw_baseline.exe"
    watcher = build / "tools" / "bench" / "tw_traywatch.exe"
    sim = build / "tools" / "rassim" / "system32" / "rasapi32.dll"
    missing = [p for p in (*builds, baseline, watcher, sim) if not p.is_file()]
    if missing:
        log("missing: " + ", ".join(map(str, missing)))
        log("build them: cmake --build --preset default --target Tarnwick rassim tw_baseline tw_traywatch")
        return 2

    args.cpu_before = cpu_counters()
    args.load_before = os.getloadavg()
    workdir = Path(tempfile.mkdtemp(prefix="tw-bench-"))
    # Terminal signals unwind through the finally below, so nothing is left running.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))
    session = None
    started = time.monotonic()
    try:
        bindir = workdir / "bin"
        bindir.mkdir()
        # Every program from one directory, so file-system effects hit them alike.
        labels = build_labels(builds)
        progs = {label: copy_as(path, bindir, label) for label, path in zip(labels, builds)}
        progs["baseline"] = Path(shutil.copy2(baseline, bindir))
        watch = Path(shutil.copy2(watcher, bindir))
        # The recorder of the programs' tray calls, which the watcher loads from beside itself.
        shutil.copy2(watcher.with_name("tw_trayrec.dll"), bindir)
        scenario = workdir / "scenario.txt"
        scenario.write_text(SCENARIO)
        session = Session(build, workdir, watch)
        session.open()
        sim_env = {"RASSIM_SCENARIO": str(scenario)}
        service = session.prefix / "drive_c" / "windows" / "system32" / "rasapi32.dll"
        images = {p: size_of_image(p) for p in (*progs.values(), service)}

        # Warm-up, discarded: the first start of each pays for explorer, font and
        # file caches. Each build's also logs the service calls to prove it did its work.
        for label in labels:
            ras_log = workdir / f"rassim-{label}.log"
            measure(session, watch, progs[label], f"warmup-{label}", args.settle_ms,
                    dict(sim_env, RASSIM_LOG=str(ras_log)))
            calls = ras_log.read_text(errors="replace") if ras_log.exists() else ""
            if "RasEnumEntriesW\tsecond\t0" not in calls or calls.count("RasGetEntryPropertiesW\trecord") < 2:
                raise BenchError(f"{label} did not query the simulated service as expected; see {ras_log}")
        measure(session, watch, progs["baseline"], "warmup-baseline", args.settle_ms)

        names = [*labels, "baseline"]
        results = {name: [] for name in names}
        for i in range(args.runs):
            # Rotate which goes first, so drift and order effects fall on all alike.
            shift = i % len(names)
            for name in names[shift:] + names[:shift]:
                extra = sim_env if name != "baseline" else None
                results[name].append(
                    measure(session, watch, progs[name], f"{i:02d}-{name}", args.settle_ms, extra, images))
            log(f"run {i + 1}/{args.runs}: tray " + " / ".join(f"{results[n][-1]['tray_ms']:.1f}" for n in names)
                + " ms")
        if session.explorer_restarted():
            log("note: the desktop's explorer restarted during the runs; figures may include its start")
        print(f"Start-up against the baseline tray program: {args.runs} interleaved runs each (after one warm-up "
              f"each), {wine_version(workdir)}, {time.monotonic() - started:.0f} s")
        for label, path in zip(labels, builds):
            report(label, path, results[label], results["baseline"], baseline, workdir,
                   (progs[label], progs["baseline"], service))
        if len(labels) > 1:
            summary(labels, builds, results, workdir)
        report_machine(args)
        return 0
    except BenchError as e:
        log(f"error: {e}")
        # The outputs named in the error stay; the prefix copy is large and goes.
        args.keep = args.keep or "failed"
        return 1
    finally:
        if session:
            session.close()
        if args.keep == "failed":
            shutil.rmtree(workdir / "prefix", ignore_errors=True)
        if args.keep:
            log(f"kept {workdir}")
        else:
            shutil.rmtree(workdir, ignore_errors=True)


def build_labels(builds):
    """A short unique name per build: its file name, or its folder's and file name when those clash."""
    stems = [p.stem for p in builds]
    labels = [s if stems.count(s) == 1 else f"{p.parent.name}-{s}" for p, s in zip(builds, stems)]
    return [lab if labels.count(lab) == 1 else f"{lab}-{i + 1}" for i, lab in enumerate(labels)]


def copy_as(path, bindir, label):
    # A single build keeps its own name; several are told apart by their labels.
    return Path(shutil.copy2(path, bindir / f"{label}{path.suffix}"))


def paired(t, b, key):
    ratios = [x[key] / y[key] for x, y in zip(t, b) if y[key]]
    if not ratios:
        return "-"
    p25, p75 = quartiles(ratios)
    return f"{statistics.median(ratios):.3f} ({p25:.2f}-{p75:.2f})"


def summary(labels, builds, results, workdir):
    """One line per build: the paired ratios and the memory above the baseline, and the time to tray icon
    against the first build's start of the same round."""
    b, first = results["baseline"], results[labels[0]]
    print()
    print(f"{'build':<24} {'tray icon':>17} {'input idle':>17} {'CPU':>17} {'resident':>9} {'private':>8} "
          f"{'size':>9}  {'tray icon vs ' + labels[0]}")
    for label, path in zip(labels, builds):
        t = results[label]
        mem = [statistics.median(r[k] for r in t) - statistics.median(r[k] for r in b) for k in ("ws", "pagefile")]
        cpu = paired(t, b, "cpu_ns") if all(r.get("cpu_ns") for r in t + b) else "(not available)"
        print(f"{label:<24} {paired(t, b, 'tray_ms'):>17} {paired(t, b, 'idle_ms'):>17} {cpu:>17} "
              f"{mem[0] / MIB:>+9.2f} {mem[1] / MIB:>+8.2f} {stripped_size(path, workdir) / MIB:>8.3f}M  "
              f"{paired(t, first, 'tray_ms') if label != labels[0] else ''}")
    print("paired ratios to the baseline (last column: to the first build): median (p25-p75); resident and "
          "private: MiB above the baseline's medians; size: stripped, MiB.")


def report(label, tarnwick, t, b, baseline, workdir, image_paths):
    rows = [
        ("time to tray icon (ms)", "tray_ms", 1, 1),
        ("time to input idle (ms)", "idle_ms", 1, 1),
        ("CPU time until settled (ms)", "cpu_ns", 1e6, 1),
        ("resident memory idle (MiB)", "ws", MIB, 2),
        ("  private, anonymous (MiB)", "pagefile", MIB, 2),
        ("  file-backed (MiB)", "RssFile", MIB, 2),
    ]
    print()
    print(f"{label}: {tarnwick}")
    print(f"{'':<30} {label + ' median (min-max)':>26} {'baseline median (min-max)':>26} "
          f"{'ratio':>6}  paired (p25-p75)")
    for row, key, scale, digits in rows:
        if any(r.get(key) is None for r in t + b):
            print(f"{row:<30} {'(not available)':>26}")
            continue
        print(fmt_row(row, [r[key] for r in t], [r[key] for r in b], scale, digits,
                      [(x[key], y[key]) for x, y in zip(t, b)]))
    size = stripped_size(tarnwick, workdir)
    bsize = stripped_size(baseline, workdir)
    how = "stripped" if shutil.which(STRIP) else f"as built ({STRIP} not found)"
    print(f"{tarnwick.name + ' ' + how:<30} {size} bytes = {size / MIB:.2f} MiB "
          f"(as built {tarnwick.stat().st_size} bytes; tw_baseline.exe {bsize} bytes)")
    print("ratio = median(program) / median(baseline); paired = median (and quartiles) of the per-run ratios.")
    t_img, b_img, service_img = image_paths

    def image_mib(runs, path):
        values = [r["images"][path] for r in runs if path in r.get("images", {})]
        return f"{statistics.median(values) / MIB:.2f} MiB" if values else "?"

    print(f"resident images: {tarnwick.name} {image_mib(t, t_img)}, simulated rasapi32.dll {image_mib(t, service_img)} "
          f"(in Tarnwick's figures; a stand-in, not shipped), tw_baseline.exe {image_mib(b, b_img)}")
    seen = [r for r in t + b if r.get("VmRSS")]
    if seen:
        worst = max(abs(r["ws"] - r["VmRSS"]) / r["VmRSS"] for r in seen)
        private = "0, not filled in by Wine" if all(r["private"] == 0 for r in t + b) else "non-zero"
        print(f"cross-check with /proc ({len(seen)}/{len(t + b)} starts): WorkingSetSize vs VmRSS differ by at most "
              f"{worst * 100:.1f}%; PrivateUsage is {private}.")
    else:
        print("note: the /proc cross-check found no program process")
    unclean = [r for r in t + b if r["exit"] != "clean" or r["deletes"] < 1]
    if unclean:
        print(f"note: {len(unclean)} starts did not end on their own or did not remove their icon")


def report_machine(args):
    busy0, steal0, total0 = args.cpu_before
    busy1, steal1, total1 = cpu_counters()
    span = max(total1 - total0, 1)
    load0, load1 = args.load_before[0], os.getloadavg()[0]
    print(f"machine during the run: {100 * (busy1 - busy0) / span:.0f}% of {os.cpu_count()} CPUs busy (this run "
          f"included), {100 * (steal1 - steal0) / span:.0f}% stolen by the host, load average {load0:.1f} at the "
          f"start and {load1:.1f} at the end; contention widens the time figures, not the memory ones.")


def wine_version(workdir):
    # Through a file: Wine's output never goes into a pipe.
    path = workdir / "wine-version.txt"
    try:
        with open(path, "w") as out:
            subprocess.run([WINE, "--version"], stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                           timeout=30)
        return path.read_text().strip() or "?"
    except (OSError, subprocess.TimeoutExpired):
        return "?"


if __name__ == "__main__":
    sys.exit(main())
