#!/usr/bin/env bash
# Runs a Windows executable of this build under Wine, in the build's own prefix.
# Usage: run.sh --build BUILD_DIR program.exe [args...]
# ctest uses it as the cross-compiling emulator.
set -euo pipefail
[ "${1:-}" = --build ] || { echo "usage: $0 --build DIR exe [args]" >&2; exit 2; }
build=$(realpath -m "$2")
shift 2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
wine_ensure_prefix "$build"
if [ -z "${DISPLAY:-}" ]; then
  # No display and no session around us: use the build's own Xvfb, started once.
  if [ -f "$build/wine/display" ] && kill -0 "$(cut -d' ' -f2 "$build/wine/display")" 2>/dev/null; then
    DISPLAY=$(cut -d' ' -f1 "$build/wine/display"); export DISPLAY
  else
    xvfb_start
    echo "$DISPLAY $XVFB_PID" >"$build/wine/display"
  fi
fi
export WINEPREFIX=$build/wine/prefix WINEDEBUG=${WINEDEBUG:-$WINE_DEBUG} WINEDLLOVERRIDES=$WINE_OVERRIDES
# Wine's background services may inherit our output handles and outlive the
# program; a pipe to the caller would then never close. Go through files.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
rc=0
"$WINE" "$@" >"$out" 2>"$err" </dev/null || rc=$?
cat "$out"
cat "$err" >&2
# Wine says why it gave up on a program; a status without a word from anyone is still a clue.
if [ $rc -ne 0 ] && ! [ -s "$out" ] && ! [ -s "$err" ]; then
  echo "run.sh: $1 ended with status $rc and printed nothing" >&2
fi
exit $rc
