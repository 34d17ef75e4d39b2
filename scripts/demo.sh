#!/usr/bin/env bash
# Builds Tarnwick and shows it under Wine, in a virtual desktop, with the simulated
# remote-access service and a demo phonebook (VPN entries "Office", connected, and
# "Lab", and the dial-up entry "Modem"). Saves screenshots of the tray and of the open
# menu under build/demo/ and prints where they are.
#
# With a $DISPLAY the Wine desktop is a window on that screen and the program keeps
# running until it is exited from its menu (or Ctrl+C). Without one it runs on a
# private Xvfb, and everything ends after the screenshots.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# TARNWICK_BUILD_DIR picks another build directory than the preset's build/.
build=$(realpath -m "${TARNWICK_BUILD_DIR:-$root/build}")
scripts/bootstrap.sh
cmake --preset default -B "$build" >/dev/null
cmake --build "$build" --target Tarnwick rassim twdriver

. tools/wine/lib.sh
demo=$build/demo
prefix=$demo/prefix
mkdir -p "$demo"

say() { printf 'demo: %s\n' "$*"; }
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }

# A private copy of the build's prefix, kept between runs: copying costs seconds.
wine_ensure_prefix "$build"
if [ ! -f "$demo/prefix.ready" ]; then
  say "copying the build's Wine prefix to $prefix"
  rm -f "$demo/prefix.ready"
  wine_copy_prefix "$build" "$prefix"
  touch "$demo/prefix.ready"
fi
wine_install_sim "$prefix" "$build/tools/rassim/system32/rasapi32.dll"

# Rewritten each run: dialling and hanging up in the program write back to it.
cat >"$demo/phonebook.txt" <<'EOF'
# Demo phonebook of the simulated remote-access service (tools/rassim/README.md).
entry	2	Office
entry	2	Lab
entry	1	Modem
conn	1	connected	Office
EOF
: >"$demo/rassim.log"

XVFB_PID=""
if [ -n "${DISPLAY:-}" ]; then
  mode=display
else
  mode=xvfb
  xvfb_start
fi

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=$WINE_OVERRIDES
export RASSIM_SCENARIO=$demo/phonebook.txt RASSIM_LOG=$demo/rassim.log
program_pid=""
stop() {
  trap - EXIT INT TERM
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  "$WINESERVER_BIN" -k 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  return 0
}
trap stop EXIT
trap 'say "stopped"; exit 0' INT TERM

# A server left by an earlier run would still draw on that run's display: start afresh.
"$WINESERVER_BIN" -k 2>/dev/null || true
"$WINESERVER_BIN" -p

driver() { "$WINE_BIN" "$build/twdriver.exe" "$@" >"$demo/driver.out" 2>"$demo/driver.err"; }

"$WINE_BIN" "$build/Tarnwick.exe" >"$demo/tarnwick.log" 2>&1 &
program_pid=$!
driver wait-window TTrayIcon 30000 || fail "the tray icon did not come: $(cat "$demo/driver.err")"

# On a real screen the desktop is a window there; it may take a moment to map.
window=root
if [ "$mode" = display ]; then
  for _ in $(seq 1 100); do
    window=$(xdotool search --name 'Wine desktop' 2>/dev/null | tail -n 1) && [ -n "$window" ] && break
    window=""
    sleep 0.1
  done
  [ -n "$window" ] || fail "no Wine desktop window on $DISPLAY"
fi
shot() { import -window "$window" "$1"; }

# The icon turns connected at the program's first poll, 5 s after its start.
tray=$demo/shot.png
connected=""
for _ in $(seq 1 60); do
  shot "$tray"
  n=$(/usr/bin/convert "$tray" -crop 16x16+982+682 +repage -depth 8 txt:- | grep -ci '#FFF000' || true)
  if [ "$n" -ge 40 ]; then connected=yes; break; fi
  sleep 0.25
done
[ -n "$connected" ] || say "the icon did not turn connected (see $demo/rassim.log)"
/usr/bin/convert "$tray" -crop 100x20+900+680 +repage -scale 800% "$demo/tray.png"

# The menu opens where the icon is clicked, as a person would do it.
if [ "$mode" = display ]; then
  xdotool mousemove --window "$window" 990 689 click 1
else
  xdotool mousemove 990 689 click 1
fi
driver wait-menu 10000 || fail "the menu did not open: $(cat "$demo/driver.err")"
read -r left top _ _ <"$demo/driver.out"
shot "$demo/desktop-menu.png"
x0=$((left > 16 ? left - 16 : 0))
y0=$((top > 16 ? top - 16 : 0))
/usr/bin/convert "$demo/desktop-menu.png" -crop "$((1000 - x0))x$((700 - y0))+$x0+$y0" +repage -scale 200% "$demo/menu.png"
driver menu-key Escape 5000 && driver wait-no-menu 5000 || true
rm -f "$tray"

say "tray:    $demo/tray.png"
say "menu:    $demo/menu.png"
say "desktop: $demo/desktop-menu.png"

if [ "$mode" = display ]; then
  say "Tarnwick runs in the Wine desktop window; leave it with Exit in its tray menu, or press Ctrl+C"
  set +e
  wait "$program_pid"
  code=$?
  set -e
  program_pid=""
  say "Tarnwick ended with exit code $code"
else
  # Leave the way a user does: Exit from the menu, then the program's own exit code.
  driver tray left 5000 && driver menu-key x 5000 || true
  for _ in $(seq 1 100); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
  done
  set +e
  if kill -0 "$program_pid" 2>/dev/null; then
    say "Tarnwick did not leave by its menu; stopping it"
  else
    wait "$program_pid"
    say "Tarnwick ended with exit code $?"
  fi
  set -e
  program_pid=""
fi
