#!/usr/bin/env bash
# The format check and clang-tidy; fails on any finding.
#   scripts/lint.sh            both
#   scripts/lint.sh --format   the format check alone: every tracked C and C++ file of
#                              the program, its tests and tools (.clang-format)
#   scripts/lint.sh --tidy [FOLDER...]
#                              clang-tidy alone, over the program's code: app, framework,
#                              net_vpn, settings, ui, or the folders named (.clang-tidy)
#   scripts/lint.sh --fix      formats those files in place, and checks nothing
# LINT_JOBS runs that many tools at once (default: one per CPU).
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

usage() { echo "usage: $0 [--format | --tidy [FOLDER...] | --fix]" >&2; exit 2; }
product=(app framework net_vpn settings ui)
format=1 tidy=1 fix=0
case "${1:-}" in
  "") ;;
  --format) tidy=0 ;;
  --tidy) format=0 ;;
  --fix) fix=1 tidy=0 ;;
  *) usage ;;
esac
[ $# -eq 0 ] || shift
if [ $# -gt 0 ]; then
  [ $format -eq 0 ] || usage
  for folder in "$@"; do
    [[ " ${product[*]} " == *" ${folder%/} "* ]] || { echo "lint: $folder is not one of: ${product[*]}" >&2; exit 2; }
  done
  tidied=("${@%/}")
else
  tidied=("${product[@]}")
fi
jobs=${LINT_JOBS:-$(nproc)}
formatted=("${product[@]}" tests tools)

# The release's own clang-format and clang-tidy: 14 on Debian 12, 19 on Debian 13. With
# .clang-format and .clang-tidy as they are, both give the same verdict on the same tree.
for tool in clang-format clang-tidy; do
  command -v "$tool" >/dev/null || { echo "lint: $tool is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }
done

sources() {  # NUL-separated tracked C and C++ files under the given folders
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z -- "${@/%//*.cpp}" "${@/%//*.h}" "${@/%//*.c}" "${@/%//*.hpp}"
  else  # an unpacked source archive: every such file there
    find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.hpp' \) -print0 | sort -z
  fi
}

status=0

if [ $fix -eq 1 ]; then
  sources "${formatted[@]}" | xargs -0 -r -P "$jobs" -n 8 clang-format -i --style=file
  git diff --stat
  exit 0
fi

if [ $format -eq 1 ]; then
  echo "lint: format check"
  if ! sources "${formatted[@]}" | xargs -0 -r -P "$jobs" -n 8 clang-format --dry-run -Werror --style=file; then
    echo "lint: files differ from .clang-format (scripts/lint.sh --fix formats them)" >&2
    status=1
  fi
fi

if [ $tidy -eq 1 ]; then
  echo "lint: clang-tidy"
  build=$root/build-lint
  # The program alone, configured as the release build is, for its compilation database.
  cmake --preset lint >/dev/null
  db=$build/tidy
  mkdir -p "$db"
  # The same commands for clang, which needs to be told where GCC keeps libstdc++
  # (and not to take the host's C and C++ headers instead). Each layer's include
  # root is a folder of links to the layers it may see: clang-tidy gets the source
  # tree instead, so a header's findings carry its real path, once.
  /usr/bin/python3 - "$build/compile_commands.json" "$db/compile_commands.json" "$root" "$build/layers/" \
    "${tidied[@]}" <<'EOF'
import json, shlex, subprocess, sys
source, target, root, layers, *folders = sys.argv[1:]
commands = json.load(open(source))
gcc = shlex.split(commands[0]["command"])[0]
ask = lambda *args: subprocess.run([gcc, *args], check=True, capture_output=True, text=True).stdout.strip()
stdcxx, triple = ask("-print-file-name=include/c++"), ask("-dumpmachine")
clang = ["clang++", "--target=" + triple, "--sysroot=/usr/" + triple, "-nostdinc++",
         "-isystem", stdcxx, "-isystem", stdcxx + "/" + triple, "-isystem", stdcxx + "/backward"]
# GCC's switches clang does not take, or that would turn clang's own warnings into
# compile errors (clang-tidy reports them as findings instead).
drop = {"-Werror"}
entries = []
for entry in commands:
    path = entry["file"]
    if not path.endswith(".cpp") or not any(path.startswith(f"{root}/{f}/") for f in folders):
        continue
    args = []
    for arg in shlex.split(entry["command"])[1:]:
        if arg in drop:
            continue
        if arg.startswith("-I" + layers):
            arg = "-I" + root
        args.append(arg)
    entries.append({"directory": entry["directory"], "file": path, "arguments": clang + args})
json.dump(entries, open(target, "w"), indent=1)
EOF
  out=$db/out
  rm -rf "$out" && mkdir -p "$out"
  # The headers of the folders checked, and no others (.clang-tidy names all five).
  headers="/($(IFS='|'; echo "${tidied[*]}"))/[^/]+\.h\$"
  # One clang-tidy per file, its report in a file of its own; a header's findings
  # come once from every file that includes it, and are counted once.
  /usr/bin/python3 -c 'import json, sys; print("\0".join(e["file"] for e in json.load(open(sys.argv[1]))), end="")' \
    "$db/compile_commands.json" |
    xargs -0 -r -P "$jobs" -I{} sh -c \
      'n=$(echo "$1" | tr / _); clang-tidy -p "$2" --quiet --header-filter="$4" "$1" >"$3/$n.out" 2>"$3/$n.err" || echo "$1" >>"$3/failed"' \
      sh {} "$db" "$out" "$headers"
  findings=$(cat "$out"/*.out | grep -E '^/[^ ]+:[0-9]+:[0-9]+: (warning|error): ' | sort -u || true)
  if [ -n "$findings" ] || [ -f "$out/failed" ]; then
    cat "$out"/*.out
    # A file that failed without a finding failed to compile or to run: say why.
    [ -n "$findings" ] || cat "$out"/*.err >&2
    echo "lint: clang-tidy findings, by folder:" >&2
    echo "$findings" | sed -n "s|^$root/\([^/]*\)/.*|\1|p" | sort | uniq -c >&2
    status=1
  fi
fi

[ $status -eq 0 ] && echo "lint: clean"
exit $status
