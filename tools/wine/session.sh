#!/usr/bin/env bash
# Runs a command (ctest, the demo) inside a Wine session of the build:
# its own Xvfb, the build's prefix and a warm wineserver; stops all of them after.
# Usage: session.sh BUILD_DIR command [args...]
set -euo pipefail
build=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

wine_ensure_prefix "$build"
xvfb_start
export WINEPREFIX=$build/wine/prefix
stop() {
  WINEPREFIX=$build/wine/prefix "$WINESERVER_BIN" -k 2>/dev/null || true
  kill "$XVFB_PID" 2>/dev/null || true
  if [ -f "$build/wine/display" ]; then
    kill "$(cut -d' ' -f2 "$build/wine/display")" 2>/dev/null || true
    rm -f "$build/wine/display"
  fi
}
trap stop EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
# A persistent server keeps every test from paying Wine's start-up again.
"$WINESERVER_BIN" -k 2>/dev/null || true
"$WINESERVER_BIN" -p
"$@"
