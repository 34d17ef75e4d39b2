# Shared helpers for running Windows programs of this build under Wine.
# Sourced by run.sh, session.sh, the end-to-end tests and the demo.

WINE_BIN=/usr/lib/wine/wine64
WINESERVER_BIN=/usr/lib/wine/wineserver
# rasapi32=n: the simulated service replaces Wine's stub; mscoree/mshtml off so
# wineboot never stops to offer engines nobody here needs.
WINE_OVERRIDES="rasapi32=n;mscoree,mshtml="

# wine_make_prefix PREFIX: a fresh prefix with one shared 1000x700 virtual desktop.
wine_make_prefix() {
  local prefix=$1
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE_BIN" wineboot -i >/dev/null 2>&1
  local reg=(
    'HKCU\Software\Wine\Explorer|Desktop|REG_SZ|Default'
    'HKCU\Software\Wine\Explorer\Desktops|Default|REG_SZ|1000x700'
    'HKCU\Software\Wine\WineDbg|ShowCrashDialog|REG_DWORD|0'
  )
  local r key name type data
  for r in "${reg[@]}"; do
    IFS='|' read -r key name type data <<<"$r"
    WINEPREFIX=$prefix WINEDEBUG=-all "$WINE_BIN" reg add "$key" /v "$name" /t "$type" /d "$data" /f >/dev/null 2>&1
  done
  WINEPREFIX=$prefix "$WINESERVER_BIN" -w
  touch "$prefix/.tarnwick-ready"
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

# wine_ensure_prefix BUILD: the build's own prefix, made once, sim up to date.
wine_ensure_prefix() {
  local build=$1 prefix=$1/wine/prefix
  mkdir -p "$build/wine"
  (
    flock 9
    [ -f "$prefix/.tarnwick-ready" ] || wine_make_prefix "$prefix"
    wine_install_sim "$prefix" "$build/tools/rassim/system32/rasapi32.dll"
  ) 9>"$build/wine/.lock"
}

# wine_copy_prefix BUILD DEST: a private copy of the build's prefix for one test.
wine_copy_prefix() {
  wine_ensure_prefix "$1"
  rm -rf "$2"
  mkdir -p "$(dirname "$2")"
  cp -a "$1/wine/prefix" "$2"
}

# xvfb_start [WxH]: starts Xvfb on a free display; sets XVFB_PID and DISPLAY.
xvfb_start() {
  local size=${1:-1000x700} n
  for n in $(seq 90 199); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then export DISPLAY=":$n"; return 0; fi
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.05
    done
  done
  echo "xvfb_start: no free display" >&2
  return 1
}
