#!/usr/bin/env bash
# Runs tw_scale_bench in the build's Wine prefix at a raised priority where that
# is allowed: every simulated service call waits on wineserver round trips, and
# other work on the machine otherwise dominates the spread. Both sides of every
# comparison gain alike. The load before and after tells a reader how quiet the
# run was.
# Usage: run-bench.sh BUILD_DIR tw_scale_bench.exe [benchmark options...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR EXE [options]" >&2; exit 2; }
build=$1 exe=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
runner=$here/../../../tools/wine/run.sh

priority=()
if nice -n -10 true 2>/dev/null; then priority=(nice -n -10); fi
# A wineserver already serving this prefix keeps its own priority.
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores; priority: ${priority[*]:-as inherited}"
rc=0
"${priority[@]}" "$runner" --build "$build" "$exe" "$@" || rc=$?
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $rc
