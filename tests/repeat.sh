#!/usr/bin/env bash
# Runs the whole ctest suite N times in a row and tells how many runs passed: a suite
# that fails without a fault shows here, and flakes show best on a busy machine.
#
#   tests/repeat.sh [--load N] RUNS [ctest arguments...]
#
#   --load N   keeps N busy loops running during the runs (default 0), on top of
#              whatever else the machine does
#
# Builds first (cmake --build --preset default), then runs
# `tools/wine/session.sh build ctest --preset default [ctest arguments]` RUNS times,
# exactly as scripts/test.sh does: a fresh display and wineserver each time. Prints one
# line per run and "K of N runs passed" at the end; exits 0 only if every run passed.
# A failed run's ctest output, ctest's LastTest.log and the end-to-end evidence
# (build/e2e/) are kept under build/repeat/<start time>/run-NN/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

usage() { sed -n '2,16s/^# \{0,1\}//p' "$0"; }
# matches TEXT REGEX: in the C locale, where [0-9] means those ten digits whatever the
# caller's locale (ranges follow its collation elsewhere).
matches() { local LC_ALL=C; [[ $1 =~ $2 ]]; }
load=0
while [ $# -gt 0 ]; do
  case $1 in
    --load) [ $# -ge 2 ] && matches "$2" '^[0-9]+$' || { usage >&2; exit 2; }; load=$2; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] && matches "$1" '^[1-9][0-9]*$' || { usage >&2; exit 2; }
runs=$1
shift

build=$root/build
logs=$build/repeat/$(date +%Y%m%d-%H%M%S)
mkdir -p "$logs"
if ! { cmake --preset default && cmake --build --preset default; } >"$logs/build.out" 2>&1; then
  cat "$logs/build.out" >&2
  exit 1
fi
rm -f "$logs/build.out"

hogs=()
stop_hogs() {
  local pid
  for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${hogs[@]}"; do wait "$pid" 2>/dev/null || true; done
  hogs=()
}
trap stop_hogs EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
for _ in $(seq 1 "$load"); do
  (while :; do :; done) &
  hogs+=($!)
done

loadavg() { cut -d' ' -f1 /proc/loadavg; }
passed=0
began=$SECONDS
for i in $(seq 1 "$runs"); do
  run=$(printf 'run-%02d' "$i")
  out=$logs/$run.out
  t0=$SECONDS
  rc=0
  tools/wine/session.sh build ctest --preset default "$@" >"$out" 2>&1 </dev/null || rc=$?
  took=$((SECONDS - t0))
  if [ "$rc" -eq 0 ]; then
    passed=$((passed + 1))
    rm -f "$out"
    printf '%s/%d: passed in %d s (load average %s)\n' "$run" "$runs" "$took" "$(loadavg)"
  else
    # Only this run's evidence: the next run's scripts clear build/e2e/ as they start.
    mkdir -p "$logs/$run"
    mv "$out" "$logs/$run/ctest.out"
    cp -p "$build/Testing/Temporary/LastTest.log" "$logs/$run/" 2>/dev/null || true
    [ -d "$build/e2e" ] && cp -a "$build/e2e" "$logs/$run/e2e"
    failed=$(LC_ALL=C sed -n '/tests FAILED:/,$s/^[[:space:]]*[0-9]* - \([^ ]*\).*/\1/p' "$logs/$run/ctest.out" |
      tr '\n' ' ')
    printf '%s/%d: FAILED in %d s (load average %s, exit %d): %s-> %s\n' "$run" "$runs" "$took" "$(loadavg)" \
      "$rc" "${failed:-no test named }" "$logs/$run/"
  fi
done
rmdir "$logs" 2>/dev/null || true
printf '%d of %d runs passed (%d s in all, %d busy loops added)\n' "$passed" "$runs" "$((SECONDS - began))" "$load"
[ "$passed" -eq "$runs" ]
