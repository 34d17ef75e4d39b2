#!/usr/bin/python3
"""Builds the current commit twice, from two clones in different folders at
different times, and compares what a user downloads: Tarnwick.exe, the
installer, the portable zip and the MSI. Prints their SHA-256 hashes and exits 0 only
when both builds are identical byte for byte and the program's PE header
carries the commit's date with a valid checksum.

Uncommitted changes take no part: the clones have the commit alone.
Exit codes: 0 identical, 1 a difference or a failed step, 77 nothing to
compare (the source is no git checkout).
"""

import argparse
import array
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
SKIP = 77
VERSION_FILE = "CMakeLists.txt"


def git(*args, cwd=SOURCE):
    return subprocess.run(["git", "-C", str(cwd), *args], check=True, capture_output=True,
                          text=True).stdout.strip()


def project_version():
    for line in (SOURCE / VERSION_FILE).read_text().splitlines():
        if line.startswith("project(") and " VERSION " in line:
            return line.split(" VERSION ")[1].split()[0]
    raise SystemExit(f"no project version in {VERSION_FILE}")


def products(version):
    return ["Tarnwick.exe", f"Tarnwick-{version}-win64-setup.exe", f"Tarnwick-{version}-win64-portable.zip",
            f"Tarnwick-{version}-win64.msi"]


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def pe_header(data):
    """(time stamp, stored checksum, checksum computed as the loader's image
    helper does: 16-bit words with the checksum field left out, carries folded,
    plus the file's length)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    stamp = struct.unpack_from("<I", data, pe + 8)[0]
    field = pe + 24 + 64  # the optional header's CheckSum, the same place in PE32 and PE32+
    stored = struct.unpack_from("<I", data, field)[0]
    body = bytearray(data)
    body[field:field + 4] = b"\0\0\0\0"
    if len(body) % 2:
        body.append(0)
    total = sum(array.array("H", bytes(body)))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return stamp, stored, (total + len(data)) & 0xFFFFFFFF


def clone(origin, commit, folder):
    folder.parent.mkdir(parents=True, exist_ok=True)
    # Shared objects: the commit need not be on any branch, and nothing is copied.
    subprocess.run(["git", "clone", "--quiet", "--shared", "--no-checkout", str(origin), str(folder)], check=True)
    subprocess.run(["git", "-C", str(folder), "checkout", "--quiet", "--detach", commit], check=True)


def build(folder, env, full, log):
    """The README's build; the lean one leaves the test tree out (BUILD_TESTING=OFF), which
    makes the same program and packages without configuring or building the tests."""
    began = time.monotonic()
    configure = ["cmake", "--preset", "default"]
    if not full:
        configure.append("-DBUILD_TESTING=OFF")
    steps = [configure, ["cmake", "--build", "--preset", "default", "--target", "package"]]
    with open(log, "ab") as out:
        for step in steps:
            out.write(f"$ {' '.join(step)}\n".encode())
            out.flush()
            code = subprocess.run(step, cwd=folder, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT).returncode
            if code != 0:
                raise SystemExit(f"build in {folder} failed at '{' '.join(step)}' (exit {code}); see {log}")
    return time.monotonic() - began


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--full", action="store_true",
                        help="build everything, tests included (cmake --build --preset default --target package), "
                             "not only the program and its packages")
    parser.add_argument("--work", help="folder for the two clones (default: a new temporary one, removed after)")
    parser.add_argument("--keep", action="store_true", help="keep the clones and their builds")
    args = parser.parse_args()

    try:
        top = Path(git("rev-parse", "--show-toplevel")).resolve()
    except (subprocess.CalledProcessError, FileNotFoundError):
        top = None
    if top != SOURCE:
        print(f"{SOURCE} is no git checkout of its own: nothing to clone, nothing compared")
        return SKIP
    commit = git("rev-parse", "HEAD")
    epoch = int(git("log", "-1", "--format=%ct"))
    origin = Path(git("rev-parse", "--path-format=absolute", "--git-common-dir"))
    if git("status", "--porcelain", "--untracked-files=no"):
        print("note: the work tree has uncommitted changes; the clones build the commit alone")
    print(f"commit {commit}, dated {time.strftime('%Y-%m-%d %H:%M:%S UTC', time.gmtime(epoch))} ({epoch})",
          flush=True)

    work = Path(args.work).resolve() if args.work else Path(tempfile.mkdtemp(prefix="tarnwick-repro-"))
    # Folders of different depth and name length, so no path can hide in the output.
    folders = [work / "one" / "Tarnwick", work / "second-clone" / "elsewhere" / "tw"]
    base = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    # The second build runs later, in another time zone and with another umask.
    envs = [dict(base, TZ="UTC"), dict(base, TZ="Asia/Tokyo")]
    umasks = [0o022, 0o002]
    names = products(project_version())
    try:
        for n, (folder, env, mask) in enumerate(zip(folders, envs, umasks), 1):
            clone(origin, commit, folder)
            old = os.umask(mask)
            try:
                seconds = build(folder, env, args.full, work / f"build-{n}.log")
            finally:
                os.umask(old)
            print(f"build {n}: {folder} (TZ={env['TZ']}, umask {mask:03o}) in {seconds:.0f} s", flush=True)

        failures = []
        print(f"{'file':<36} {'sha256 (build 1)':<64}  build 2")
        for name in names:
            one, two = (folder / "build" / name for folder in folders)
            if not one.is_file() or not two.is_file():
                failures.append(f"{name}: not made by both builds")
                continue
            a, b = one.read_bytes(), two.read_bytes()
            same = a == b
            print(f"{name:<36} {sha256(one)}  {'identical' if same else sha256(two)}")
            if not same:
                failures.append(f"{name}: differs from byte {first_difference(a, b)} on "
                                f"({len(a)} and {len(b)} bytes)")

        exe = (folders[0] / "build" / names[0]).read_bytes()
        stamp, stored, computed = pe_header(exe)
        print(f"Tarnwick.exe PE time stamp {stamp} ({time.strftime('%Y-%m-%d %H:%M:%S UTC', time.gmtime(stamp))}), "
              f"checksum 0x{stored:08X} (computed 0x{computed:08X})")
        if stamp != epoch:
            failures.append(f"the PE time stamp {stamp} is not the commit's date {epoch}")
        if stored != computed:
            failures.append(f"the PE checksum 0x{stored:08X} is not the file's 0x{computed:08X}")
    finally:
        if args.keep:
            print(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print(f"DIFFERENT: {failure}")
    print("identical" if not failures else f"{len(failures)} difference(s)")
    return 0 if not failures else 1


if __name__ == "__main__":
    sys.exit(main())
