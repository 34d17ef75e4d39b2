#!/usr/bin/env bash
# Builds Tarnwick and shows it under Wine, in a virtual desktop, with the simulated
# remote-access service and a demo phonebook (VPN entries "Office", connected, and
# "Lab", and the dial-up entry "Modem"). Then uses it as a person would and saves
# pictures under build/demo/: the icon with its tip, the open menu, the version
# dialog, the balloon after connecting Lab, and an error box in the theme (the
# settings file held by another program). Prints where they are.
#
#   scripts/demo.sh [--update-docs]
#
#   --update-docs   also copies the pictures to docs/images/, where the README shows them
#
# With a $DISPLAY the Wine desktop is a window on that screen and the program keeps
# running until it is exited from its menu (or Ctrl+C). Without one it runs on a
# private Xvfb, and everything ends after the pictures.
# TARNWICK_BUILD_DIR picks another build directory than the preset's build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

update_docs=""
for arg in "$@"; do
  case $arg in
    --update-docs) update_docs=yes ;;
    -h | --help) sed -n '2,15s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) printf 'demo: unknown argument %s (see --help)\n' "$arg" >&2; exit 2 ;;
  esac
done

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

# A private copy of the build's clean template prefix, kept between runs: copying
# costs seconds. A half-made or removed copy, or one made by an older recipe (before
# Japanese text had a font, say), is made again.
if ! wine_prefix_ready "$prefix"; then
  say "copying the build's Wine prefix to $prefix"
  wine_copy_prefix "$build" "$prefix"
fi
wine_install_sim "$prefix" "$build/tools/rassim/system32/rasapi32.dll"

# Rewritten each run: dialling and hanging up in the program write back to it.
cat >"$demo/phonebook.txt" <<'EOF'
# Demo phonebook of the simulated remote-access service (tools/rassim/README.md).
entry	2	Office
entry	2	Lab
entry	1	Modem
conn	1	connected	Office
# As on Windows, a hung-up line takes a while to close before its entry can be dialled again.
linger	1500
EOF
: >"$demo/rassim.log"
# As an earlier run leaves it: notifications on (step 5 holds this file open).
user=$(ls "$prefix/drive_c/users" | grep -vx Public | head -n 1)
mkdir -p "$prefix/drive_c/users/$user/AppData/Roaming/Morvane/Tarnwick"
printf '\xef\xbb\xbf[system]\r\nenable_notification=1\r\n\r\n' \
  >"$prefix/drive_c/users/$user/AppData/Roaming/Morvane/Tarnwick/Tarnwick.ini"
# No picture of an earlier run may pass for one of this run.
pictures=(tray menu version balloon box)
for p in "${pictures[@]}"; do rm -f "$demo/$p.png"; done
rm -f "$demo"/shot-*.png "$demo/desktop-menu.png"

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

driver() { "$WINE" "$build/twdriver.exe" "$@" >"$demo/driver.out" 2>"$demo/driver.err"; }

began=$SECONDS
"$WINE" "$build/Tarnwick.exe" >"$demo/tarnwick.log" 2>&1 &
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

# The desktop, as every script here has it (wine.env). The tray icon is found on it by
# its look (find_icon), wherever this Wine's shell shows it.
width=$DESKTOP_WIDTH height=$DESKTOP_HEIGHT
# Where the pointer waits while pictures are taken: bare desktop, away from all they show.
rest_x=300 rest_y=200

# Desktop coordinates; on a real screen they are relative to the desktop's window.
pointer() {
  if [ "$mode" = display ]; then xdotool mousemove --window "$window" "$1" "$2"; else xdotool mousemove "$1" "$2"; fi
}
shot() { /usr/bin/import -window "$window" "$1"; }

# visible_rect CLASS [TEXT]: "left top right bottom" of a visible top-level window of
# the class (and with that text); fails if there is none.
visible_rect() {
  driver list || return 1
  awk -F'\t' -v class="$1" -v text="${2-}" '
    $3 == "visible" && $5 == class && (text == "" || $6 == text) { print $4; found = 1; exit }
    END { exit !found }' "$demo/driver.out"
}

# wait_rect SECONDS CLASS [TEXT]: polls for such a window until the deadline; prints its
# rectangle once two readings agree (a window may show in the middle of a reading and
# be listed with its place from before).
wait_rect() {
  local deadline=$((SECONDS + $1)) rect last=""
  shift
  while :; do
    if rect=$(visible_rect "$@"); then
      [ "$rect" = "$last" ] && break
      last=$rect
    else
      last=""
      sleep 0.1
    fi
    [ "$SECONDS" -lt "$deadline" ] || return 1
  done
  printf '%s\n' "$rect"
}

# wait_gone SECONDS CLASS [TEXT]: polls until no such window is visible.
wait_gone() {
  local deadline=$((SECONDS + $1))
  shift
  while visible_rect "$@" >/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# crop SRC DEST SCALE LEFT TOP RIGHT BOTTOM: that part of the desktop, kept inside it and
# enlarged by whole pixels, which keeps text and icons crisp.
crop() {
  local l=$(($4 < 0 ? 0 : $4)) t=$(($5 < 0 ? 0 : $5))
  local r=$(($6 > width ? width : $6)) b=$(($7 > height ? height : $7))
  /usr/bin/convert "$1" -crop "$((r - l))x$((b - t))+$l+$t" +repage -scale "$3" -strip "$2"
}

# crop_with_icon SRC DEST SCALE MARGIN LEFT TOP RIGHT BOTTOM: that box and the tray icon,
# wherever the shell shows it, with MARGIN pixels beside them and 10 above and below.
crop_with_icon() {
  local l=$(($5 < icon_left ? $5 : icon_left)) t=$(($6 < icon_top ? $6 : icon_top))
  local r=$(($7 > icon_right ? $7 : icon_right)) b=$(($8 > icon_bottom ? $8 : icon_bottom))
  crop "$1" "$2" "$3" $((l - $4)) $((t - 10)) $((r + $4)) $((b + 10))
}

# The pointer moves away after the click: the driver sends the keys to the menu, and a
# hovering pointer would highlight an item in the pictures.
open_menu() {
  pointer "$icon_x" "$icon_y"
  xdotool click 1
  driver wait-menu 10000 || fail "the menu did not open: $(cat "$demo/driver.err")"
  read -r menu_left menu_top menu_right menu_bottom <"$demo/driver.out"
  pointer "$rest_x" "$rest_y"
}

# find_icon: takes a picture and finds Tarnwick's one tray icon in it; sets icon_state
# ("connected" or "disconnected"), the box of its disc (icon_left, icon_top, icon_right,
# icon_bottom) and its middle (icon_x, icon_y). Fails unless exactly one shows.
find_icon() {
  local found
  shot "$demo/shot-icon.png" || return 1
  found=$(/usr/bin/python3 tools/screen/trayfinder.py "$demo/shot-icon.png") || return 1
  [ -n "$found" ] && [ "$(wc -l <<<"$found")" -eq 1 ] || return 1
  read -r icon_state icon_left icon_top icon_right icon_bottom <<<"$found"
  icon_x=$(((icon_left + icon_right) / 2)) icon_y=$(((icon_top + icon_bottom) / 2))
}

# connected: whether the icon shows the connected image (a yellow disc).
connected() {
  find_icon && [ "$icon_state" = connected ]
}

# 1. The icon and its tip. At start-up the last entry's state (Lab's) stands, until the
# program's first poll, 5 s after its start, turns the icon connected. Nothing is clicked
# before: a click while the program still adds its entries opens a menu without them.
# Two readings in a row, as the icon shows Office's state for a moment while they are added.
deadline=$((SECONDS + 20))
seen=0
while [ "$seen" -lt 2 ]; do
  if connected; then seen=$((seen + 1)); else seen=0; fi
  [ "$SECONDS" -lt "$deadline" ] || fail "the icon did not turn connected (see $demo/rassim.log)"
  [ "$seen" -lt 2 ] && sleep 0.2
done
pointer "$icon_x" "$icon_y"
rect=$(wait_rect 10 tooltips_class32 Office) || fail "the icon's tip did not show"
read -r left top right bottom <<<"$rect"
shot "$demo/shot-tray.png"
crop_with_icon "$demo/shot-tray.png" "$demo/tray.png" 400% 16 "$left" "$top" "$right" "$bottom"
pointer "$rest_x" "$rest_y"
wait_gone 10 tooltips_class32 Office || fail "the icon's tip stays after the pointer left"

# 2. The menu, with the icon it came from. Opening it asks every entry afresh: Office is checked.
open_menu
# The pointer rested on the icon for the click: its tip may have come up meanwhile.
wait_gone 10 tooltips_class32 Office || fail "the icon's tip stays over the open menu"
shot "$demo/shot-menu.png"
crop_with_icon "$demo/shot-menu.png" "$demo/menu.png" 200% 10 "$menu_left" "$menu_top" "$menu_right" "$menu_bottom"
driver menu-key Escape 5000 && driver wait-no-menu 5000 || fail "the menu did not close"

# 3. The version dialog, by the menu's access key.
open_menu
driver menu-key v 5000 || fail "no menu to choose Version Info from"
rect=$(wait_rect 10 TfrmVersion) || fail "the version dialog did not open"
read -r left top right bottom <<<"$rect"
shot "$demo/shot-version.png"
crop "$demo/shot-version.png" "$demo/version.png" 100% "$left" "$top" "$right" "$bottom"
# Keys go to the window under the pointer: rest it on the dialog's logo.
pointer $((left + 60)) $((top + 80))
xdotool key Escape
if ! driver wait-no-window TfrmVersion 3000; then
  say "Escape did not close the version dialog; pressing Close"
  driver click Close 5000 TfrmVersion && driver wait-no-window TfrmVersion 5000 || fail "the version dialog stays open"
fi
pointer "$rest_x" "$rest_y"

# 4. Connect Lab (the menu's second item, after Office) and catch the result's balloon.
open_menu
driver menu-key Down 5000 && driver menu-key Down 5000 && driver menu-key Return 5000 || fail "could not choose Lab"
rect=$(wait_rect 15 tooltips_class32 "Lab: Connected") || fail "no balloon \"Lab: Connected\" (see $demo/rassim.log)"
read -r left top right bottom <<<"$rect"
shot "$demo/shot-balloon.png"
crop_with_icon "$demo/shot-balloon.png" "$demo/balloon.png" 200% 10 "$left" "$top" "$right" "$bottom"

# 5. A box in the theme: another program holds the settings file, so storing the
# notification toggle fails and says so. The toggle goes back once the file is free.
settings="C:\\users\\$user\\AppData\\Roaming\\Morvane\\Tarnwick\\Tarnwick.ini"
"$WINE" "$build/twdriver.exe" hold "$settings" 60000 >"$demo/hold.out" 2>&1 &
holder=$!
for _ in $(seq 1 100); do grep -q held "$demo/hold.out" && break; sleep 0.1; done
grep -q held "$demo/hold.out" || fail "could not hold the settings file: $(cat "$demo/hold.out")"
open_menu
driver menu-key n 5000 || fail "no menu to choose Enable Notification from"
rect=$(wait_rect 10 '#32770' Tarnwick) || fail "no box about the held settings file"
read -r left top right bottom <<<"$rect"
shot "$demo/shot-box.png"
crop "$demo/shot-box.png" "$demo/box.png" 100% $((left - 10)) $((top - 10)) $((right + 10)) $((bottom + 10))
driver click OK 5000 && driver wait-no-box 5000 || fail "the box stays open"
driver release || true
wait "$holder" 2>/dev/null || true
open_menu
driver menu-key n 5000 && driver wait-no-menu 5000 || fail "could not turn notifications on again"
rm -f "$demo"/shot-*.png
say "pictures taken in $((SECONDS - began)) s"

for p in "${pictures[@]}"; do say "$(printf '%-8s %s' "$p:" "$demo/$p.png")"; done
if [ -n "$update_docs" ]; then
  mkdir -p docs/images
  for p in "${pictures[@]}"; do cp "$demo/$p.png" "docs/images/$p.png"; done
  say "copied them to $root/docs/images/"
fi

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
  pointer "$icon_x" "$icon_y"
  xdotool click 1
  driver wait-menu 10000 && driver menu-key x 5000 || true
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
