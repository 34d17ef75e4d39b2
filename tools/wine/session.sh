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
  [ -z "${holder_base:-}" ] || touch "$holder_base.go"
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
# Wine closes a desktop, and its explorer, a second after the desktop's last program
# has gone; a test program started around then races the old explorer's end and the
# new one's start. A hidden window of a process of our own holds the desktop from the
# first test to the last. The holder is built with the tests: before the first build
# there is nothing to hold.
holder=$build/tools/bench/tw_traywatch.exe
if [ -f "$holder" ]; then
  holder_base=$build/wine/desktop
  rm -f "$holder_base.ready" "$holder_base.go"
  WINEDEBUG=-all,err+all "$WINE" "$holder" --hold-desktop "Z:${holder_base//\//\\}" \
    >"$build/wine/holder.out" 2>&1 </dev/null &
  holder_pid=$!
  # Explorer's first start in a fresh prefix takes seconds; 30 s, as the end-to-end
  # harness allows, scaled like every wait of the suite.
  deadline=$(LC_ALL=C awk -v s="${TARNWICK_WAIT_SCALE:-1}" -v now="$(date +%s)" 'BEGIN { print int(now + 30 * s + 1) }')
  while [ "$(date +%s)" -le "$deadline" ]; do
    [ -f "$holder_base.ready" ] && break
    kill -0 "$holder_pid" 2>/dev/null || break
    sleep 0.05
  done
  if ! [ -f "$holder_base.ready" ]; then
    echo "session.sh: the desktop did not come up:" >&2
    cat "$build/wine/holder.out" >&2
    exit 1
  fi
fi
"$@"
