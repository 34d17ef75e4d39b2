# Shared helpers for running Windows programs of this build under Wine.
# Sourced by run.sh, session.sh, the end-to-end tests and the demo.

# Wine's paths, the DLL overrides and the desktop's name and geometry: one file, which
# the Python harness and benchmarks read too. Values as they stand, no quoting.
WINE_ENV_FILE=$(dirname "${BASH_SOURCE[0]}")/wine.env
_wine_env_read() {
  # In the C locale: elsewhere a range such as [A-Z] follows the locale's collation, and
  # under tr_TR.UTF-8 it leaves out I. Bash restores the caller's locale on return.
  local LC_ALL=C line
  while IFS= read -r line || [ -n "$line" ]; do
    case $line in '' | '#'*) continue ;; esac
    if ! [[ ${line%%=*} =~ ^[A-Z_][A-Z0-9_]*$ ]] || [ "${line#*=}" = "$line" ]; then
      echo "$WINE_ENV_FILE: not a KEY=value line: $line" >&2
      return 1
    fi
    printf -v "${line%%=*}" '%s' "${line#*=}"
  done <"$WINE_ENV_FILE"
}
_wine_env_read || return 1
unset -f _wine_env_read
# What runs a Windows program: Wine's loader at fixed addresses (see the script).
WINE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine

# What a ready prefix holds; raise it whenever wine_make_template changes, so
# every prefix made by an older recipe is made again.
WINE_PREFIX_VERSION=3

# wine_prefix_mark: the ready mark of a prefix made by this recipe for this desktop.
wine_prefix_mark() {
  printf '%s %s %sx%s\n' "$WINE_PREFIX_VERSION" "$DESKTOP_NAME" "$DESKTOP_WIDTH" "$DESKTOP_HEIGHT"
}

# wine_prefix_ready PREFIX: whether the prefix was made completely, by this recipe.
wine_prefix_ready() {
  [ "$(cat "$1/.tarnwick-ready" 2>/dev/null)" = "$(wine_prefix_mark)" ]
}

# wine_make_template PREFIX: a fresh prefix with one shared virtual desktop (wine.env),
# where Japanese text draws in a Japanese font.
wine_make_template() {
  local prefix=$1
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=$WINE_BOOT_OVERRIDES "$WINE" wineboot -i >/dev/null 2>&1 || return
  local reg=(
    "HKCU\\Software\\Wine\\Explorer|Desktop|REG_SZ|$DESKTOP_NAME"
    "HKCU\\Software\\Wine\\Explorer\\Desktops|$DESKTOP_NAME|REG_SZ|${DESKTOP_WIDTH}x$DESKTOP_HEIGHT"
    'HKCU\Software\Wine\WineDbg|ShowCrashDialog|REG_DWORD|0'
    # Without Windows' fonts Wine draws its UI fonts (MS Shell Dlg, Tahoma) in DejaVu
    # Sans, which has no Japanese: link it to IPAGothic for the glyphs it lacks, and
    # Latin text keeps its look. Links go by face, so the bold of captions needs its
    # own. (Calling IPAGothic "MS UI Gothic" instead would make it the stand-in for
    # the missing Tahoma, Latin text and all, and draw every backslash as a yen sign.)
    'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink|DejaVu Sans|REG_MULTI_SZ|ipag.ttf,IPAGothic'
    'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink|DejaVu Sans Bold|REG_MULTI_SZ|ipag.ttf,IPAGothic'
  )
  local r key name type data
  for r in "${reg[@]}"; do
    IFS='|' read -r key name type data <<<"$r"
    WINEPREFIX=$prefix WINEDEBUG=-all "$WINE" reg add "$key" /v "$name" /t "$type" /d "$data" /f >/dev/null 2>&1 ||
      return
  done
  # Everything written to disk before anyone copies it; nothing runs in it again.
  WINEPREFIX=$prefix "$WINESERVER_BIN" -w || return
  wine_prefix_mark >"$prefix/.tarnwick-ready"
}

# wine_install_sim PREFIX DLL: put the simulated service into system32, keeping Wine's own aside.
wine_install_sim() {
  local sys32=$1/drive_c/windows/system32 dll=$2
  [ -f "$dll" ] || return 0
  if [ -f "$sys32/rasapi32.dll" ] && ! [ -f "$sys32/rasapi32.dll.wine" ]; then
    cp -p "$sys32/rasapi32.dll" "$sys32/rasapi32.dll.wine"
  fi
  cmp -s "$dll" "$sys32/rasapi32.dll" || cp "$dll" "$sys32/rasapi32.dll"
}

# wine_template BUILD: where the build's template prefix is. It is made once and
# never run in: every prefix of the build is a copy of it, so none inherits the
# settings files, registry values or server state that another one's tests left.
wine_template() {
  printf '%s\n' "$1/wine/template"
}

# wine_ensure_template BUILD: makes the template unless it is ready. Needs the build's lock.
wine_ensure_template() {
  local template
  template=$(wine_template "$1")
  wine_prefix_ready "$template" || wine_make_template "$template"
}

# wine_copy_template BUILD DEST: DEST becomes a fresh copy of the ready template, with
# the simulated service installed. Needs the build's lock, shared at least.
wine_copy_template() {
  rm -rf "$2"
  mkdir -p "$(dirname "$2")"
  # The ready mark goes last, so a copy cut short is never taken for a ready one.
  cp -a --reflink=auto "$(wine_template "$1")" "$2" || return
  rm -f "$2/.tarnwick-ready"
  wine_install_sim "$2" "$1/tools/rassim/system32/rasapi32.dll" || return
  wine_prefix_mark >"$2/.tarnwick-ready"
}

# wine_ensure_prefix BUILD: the build's prefix for the unit tests, a copy of the
# template made once (again when the recipe changed), the sim up to date.
wine_ensure_prefix() {
  local build prefix
  build=$(realpath -m "$1")
  prefix=$build/wine/prefix
  mkdir -p "$build/wine" || return
  (
    flock 9 || exit
    if wine_prefix_ready "$prefix"; then
      wine_install_sim "$prefix" "$build/tools/rassim/system32/rasapi32.dll"
    else
      # A prefix of the older recipe may still have its server running.
      WINEPREFIX=$prefix "$WINESERVER_BIN" -k >/dev/null 2>&1 || true
      wine_ensure_template "$build" && wine_copy_template "$build" "$prefix"
    fi
  ) 9>"$build/wine/.lock"
}

# wine_copy_prefix BUILD DEST: a private copy of the template for one test or the demo.
wine_copy_prefix() {
  local build dest
  build=$(realpath -m "$1")
  dest=$(realpath -m "$2")
  mkdir -p "$build/wine" || return
  (
    flock 9 && wine_ensure_template "$build" || exit
    # Copies may run side by side; only the making of the template may not.
    flock -s 9 && wine_copy_template "$build" "$dest"
  ) 9>"$build/wine/.lock"
}

# xvfb_start: starts Xvfb, as large as the desktop, on a display it picks itself
# (-displayfd: no race with other users of the machine); sets XVFB_PID and DISPLAY.
# -noreset: by default the X server resets whenever its last client leaves, and a
# client connecting meanwhile fails to open the display (a Wine program then ends at
# once with exit code 1); each test program may be the only client for a moment.
xvfb_start() {
  local number i
  number=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${DESKTOP_WIDTH}x${DESKTOP_HEIGHT}x24" -nolisten tcp -noreset 3>"$number" >/dev/null 2>&1 &
  XVFB_PID=$!
  # It writes the number once it accepts clients; 20 s, as the end-to-end harness allows,
  # is far beyond a start on a loaded machine. The loop ends at once if Xvfb dies.
  for i in $(seq 1 400); do
    if [ "$(wc -l <"$number")" -ge 1 ]; then
      DISPLAY=":$(head -n 1 "$number")"
      export DISPLAY
      rm -f "$number"
      return 0
    fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.05
  done
  rm -f "$number"
  kill "$XVFB_PID" 2>/dev/null || true
  echo "xvfb_start: Xvfb did not start" >&2
  return 1
}
