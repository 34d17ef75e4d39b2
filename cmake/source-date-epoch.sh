#!/bin/sh
# The build's fixed point in time, in seconds since 1970, printed on stdout.
# Usage: source-date-epoch.sh SOURCE_DIR
#
# A SOURCE_DATE_EPOCH already in the environment wins. Otherwise the date of
# the commit the source is checked out at; and where the source is no git
# checkout of its own (an unpacked archive), the newest modification time of
# its files, which an archive made by git sets to the commit's date.
set -eu
src=$(cd "$1" && pwd -P)
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  echo "$SOURCE_DATE_EPOCH"
  exit 0
fi
# Only the source's own repository: an archive unpacked inside another
# checkout must not take that checkout's date.
top=$(git -C "$src" rev-parse --show-toplevel 2>/dev/null || true)
if [ -n "$top" ] && [ "$(cd "$top" && pwd -P)" = "$src" ]; then
  epoch=$(git -C "$src" log -1 --format=%ct 2>/dev/null || true)
  if [ -n "$epoch" ]; then
    echo "$epoch"
    exit 0
  fi
fi
echo "source-date-epoch: $src is no git checkout of its own; the build takes its newest file time" >&2
find "$src/CMakeLists.txt" "$src/CMakePresets.json" "$src/app" "$src/cmake" "$src/framework" \
  "$src/net_vpn" "$src/packaging" "$src/resources" "$src/settings" "$src/ui" \
  -type f -printf '%T@\n' 2>/dev/null | LC_ALL=C sort -n | tail -n 1 | cut -d. -f1
