#!/usr/bin/python3
"""wine.env read under the machine's locales: tools/wine/lib.sh (what every script
sources) and tools/wine/wine_env.py (what the end-to-end harness and the benchmarks
import) must take the same values from it under any locale, and refuse the same
lines. A shell's [A-Z] follows the locale's collation, which under Turkish leaves
out I; no reader here may depend on that.

Reads the real file, a file with every letter and digit in its keys and awkward
values, and one file per malformed line; each through both readers, in a process
of its own started under each locale. The locales must be installed
(scripts/bootstrap.sh installs locales-all): where one is missing, bash and Python
would quietly fall back to C, and the test would prove nothing.

Usage: locales.py (exits 1 on any difference)
"""

import locale
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

WINE_DIR = Path(__file__).resolve().parents[1] / "tools" / "wine"
LOCALES = ["C", "tr_TR.UTF-8", "ja_JP.UTF-8", "tr_TR.ISO-8859-9", "ja_JP.EUC-JP"]

GOOD = (
    "# a comment, and a blank line\n"
    "\n"
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ=every capital\n"
    "_0123456789=every digit\n"
    "I=the letter Turkish collation moves\n"
    "EMPTY=\n"
    "EQUALS=a=b=c\n"
    "SPACES=  kept as they stand  \n"
    "NON_ASCII=İı ğ 日本語 ¥\n"
    "HASH=#no comment\n"
    "LAST=no line break"
)
BAD_LINES = ["wine_bin=lower case", "i=x", "ı=x", "İ=x", "WİNE=x", "Ä=x", "1ST=x", "A KEY=x", "NO_EQUALS_SIGN"]

# lib.sh sets these itself (and bash its BASH_REMATCH); everything else it defines came from the file.
LIB_OWN = {"WINE_ENV_FILE", "WINE", "WINE_PREFIX_VERSION", "BASH_REMATCH"}
BASH_READER = r"""
name=
declare -A before=([name]=1)
for name in $(compgen -v); do before[$name]=1; done
. "$1" 2>"$2" || exit 3
for name in $(compgen -v); do
  [ -n "${before[$name]-}" ] || printf '%s=%s\0' "$name" "${!name}"
done
"""
PYTHON_READER = r"""
import sys
from pathlib import Path
sys.dont_write_bytecode = True
sys.path.insert(0, sys.argv[1])
import wine_env
try:
    values = wine_env.read(Path(sys.argv[2]))
except SystemExit as refusal:
    sys.stderr.buffer.write(str(refusal).encode("utf-8"))
    sys.exit(3)
sys.stdout.buffer.write(b"".join(f"{k}={v}\0".encode("utf-8") for k, v in values.items()))
"""


def parse(output):
    """NUL-terminated KEY=value records as a dict of bytes."""
    return dict(record.split(b"=", 1) for record in output.split(b"\0") if record)


def through_bash(lib, loc, work):
    err = work / "bash.err"
    ran = subprocess.run(["/bin/bash", "-c", BASH_READER, "reader", lib, err], capture_output=True,
                         env={"PATH": "/usr/bin:/bin", "LC_ALL": loc})
    if ran.returncode:
        return "refused" if b"not a KEY=value line" in err.read_bytes() else f"failed: {err.read_bytes()!r}"
    return {k: v for k, v in parse(ran.stdout).items() if k.decode() not in LIB_OWN}


def through_python(env_file, loc):
    ran = subprocess.run(["/usr/bin/python3", "-c", PYTHON_READER, WINE_DIR, env_file], capture_output=True,
                         env={"PATH": "/usr/bin:/bin", "LC_ALL": loc})
    if ran.returncode:
        return "refused" if b"not a KEY=value line" in ran.stderr else f"failed: {ran.stderr!r}"
    return parse(ran.stdout)


def installed(loc):
    try:
        locale.setlocale(locale.LC_ALL, loc)
        return True
    except locale.Error:
        return False
    finally:
        locale.setlocale(locale.LC_ALL, "C")


def main():
    missing = [loc for loc in LOCALES if not installed(loc)]
    if missing:
        print(f"locales not installed: {', '.join(missing)} (scripts/bootstrap.sh installs locales-all)")
        return 1

    work = Path(tempfile.mkdtemp(prefix="tarnwick-locales-"))
    try:
        # (what, folder with lib.sh beside the wine.env it reads, whether the readers must refuse it)
        cases = [("the real wine.env", WINE_DIR, False)]
        for i, (what, text, refused) in enumerate(
                [("every letter and digit", GOOD, False)] +
                [(f"the line {line!r}", f"OK=1\n{line}\n", True) for line in BAD_LINES]):
            folder = work / f"case{i}"
            folder.mkdir()
            shutil.copy(WINE_DIR / "lib.sh", folder)
            (folder / "wine.env").write_bytes(text.encode("utf-8"))
            cases.append((what, folder, refused))

        problems = []
        references = {}
        for what, folder, refused in cases:
            # The reference: Python under C.
            want = references[what] = through_python(folder / "wine.env", "C")
            if refused != (want == "refused") or not (refused or isinstance(want, dict)):
                problems.append(f"{what}: Python under C gives {want!r}")
                continue
            for loc in LOCALES:
                for reader, got in (("lib.sh", through_bash(folder / "lib.sh", loc, work)),
                                    ("wine_env.py", through_python(folder / "wine.env", loc))):
                    if got != want:
                        problems.append(f"{what} under {loc}: {reader} gives {got!r}, not {want!r}")
        # And the reference itself is right.
        real, every = references["the real wine.env"], references["every letter and digit"]
        if not isinstance(real, dict) or b"WINE_BIN" not in real:
            problems.append(f"the real wine.env: read as {real!r}")
        if not isinstance(every, dict) or every.get(b"NON_ASCII") != "İı ğ 日本語 ¥".encode("utf-8") or \
                every.get(b"SPACES") != b"  kept as they stand  ":
            problems.append(f"every letter and digit: read as {every!r}")
        for problem in problems:
            print(f"FAIL {problem}")
        print(f"{len(cases)} files x {len(LOCALES)} locales x 2 readers: "
              f"{len(problems)} differences")
        return 1 if problems else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
