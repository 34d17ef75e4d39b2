#!/usr/bin/env bash
# Runs a command of this checkout in a fresh Debian root of the release named, as on a
# newly set-up machine of that release: nothing installed but the minimal base system,
# this checkout's files copied in, the command run as root from the copy's top folder.
#
#   scripts/in-fresh-debian.sh [--keep] RELEASE COMMAND [ARGS...]
#
#   RELEASE   12 (bookworm) or 13 (trixie); "other" is the one this machine does not run
#   --keep    leave the root in place afterwards (its path is printed), e.g. to look at
#             the pictures of scripts/demo.sh under <root>/src/build/demo/
#
# For instance: scripts/in-fresh-debian.sh 13 scripts/test.sh
#
# The root is made with debootstrap (installed here first if missing) from
# TARNWICK_DEBIAN_MIRROR (default http://deb.debian.org/debian), under build-fresh/ in this
# checkout; /proc, /sys, /dev and /dev/pts are bound into it and /dev/shm is a tmpfs of
# its own. The copy is of the files git tracks and the new ones it does not ignore, as
# they are now, without the build folders; the build takes the last commit's date
# (SOURCE_DATE_EPOCH), as in this checkout. Needs root (or sudo) and the network to the
# mirror. Exits with the command's exit code; 1 when the root cannot be made.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

keep=""
if [ "${1:-}" = --keep ]; then
  keep=yes
  shift
fi
[ $# -ge 2 ] || { sed -n '2,12s/^# \{0,1\}//p' "$0" >&2; exit 2; }
release=$1
shift

this=$(. /etc/os-release && echo "${VERSION_ID:-}")
if [ "$release" = other ]; then
  case $this in
    12) release=13 ;;
    13) release=12 ;;
    *) echo "in-fresh-debian: this machine runs neither Debian 12 nor 13 (VERSION_ID ${this:-unknown})" >&2; exit 2 ;;
  esac
fi
case $release in
  12 | bookworm) release=12 suite=bookworm ;;
  13 | trixie) release=13 suite=trixie ;;
  *) echo "in-fresh-debian: the release is 12, 13 or other, not $release" >&2; exit 2 ;;
esac

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
say() { printf 'in-fresh-debian: %s\n' "$*"; }

if ! command -v debootstrap >/dev/null && ! [ -x /usr/sbin/debootstrap ]; then
  say "installing debootstrap"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi

mirror=${TARNWICK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
fresh=$root/build-fresh/debian-$release
mounts=(proc sys dev dev/pts dev/shm)

# Everything still running in the root, then the mounts, newest first; the root itself
# goes unless --keep. rm stays on the root's own file system, so a mount that would not
# come off is never emptied.
cleanup() {
  local code=$? pid m
  trap - EXIT INT TERM
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$($sudo readlink "/proc/$pid/root" 2>/dev/null)" = "$fresh" ] && $sudo kill -9 "$pid" 2>/dev/null
  done
  for ((m = ${#mounts[@]} - 1; m >= 0; m--)); do
    if mountpoint -q "$fresh/${mounts[m]}"; then
      $sudo umount "$fresh/${mounts[m]}" 2>/dev/null || $sudo umount -l "$fresh/${mounts[m]}"
    fi
  done
  if [ -z "$keep" ] && [ -d "$fresh" ]; then
    $sudo rm -rf --one-file-system "$fresh"
  elif [ -n "$keep" ]; then
    say "the root stays at $fresh"
  fi
  exit "$code"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A root left by an earlier run is not fresh.
if [ -d "$fresh" ]; then
  say "removing the root an earlier run left at $fresh"
  for ((m = ${#mounts[@]} - 1; m >= 0; m--)); do
    ! mountpoint -q "$fresh/${mounts[m]}" || $sudo umount -l "$fresh/${mounts[m]}"
  done
  $sudo rm -rf --one-file-system "$fresh"
fi
mkdir -p "$(dirname "$fresh")"

began=$SECONDS
say "making a fresh Debian $release ($suite) root at $fresh from $mirror"
if ! $sudo debootstrap --variant=minbase "$suite" "$fresh" "$mirror" >"$root/build-fresh/debootstrap-$release.log" 2>&1; then
  tail -n 20 "$root/build-fresh/debootstrap-$release.log" >&2
  say "could not make the root (see $root/build-fresh/debootstrap-$release.log)" >&2
  exit 1
fi
say "root made in $((SECONDS - began)) s"

for m in proc sys dev dev/pts; do $sudo mount --bind "/$m" "$fresh/$m"; done
$sudo mount -t tmpfs -o mode=1777 shm "$fresh/dev/shm"
$sudo cp /etc/resolv.conf "$fresh/etc/resolv.conf"

# This checkout's files as they are now, with their times (the build takes its date from
# them outside a git checkout), owned by root as the rest of the root is.
$sudo mkdir "$fresh/src"
(
  cd "$root"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done
  else  # an unpacked source archive: all of it but the build folders
    find . -mindepth 1 \( -path './build' -o -path './build-*' \) -prune -o ! -type d -printf '%P\0'
  fi
) | (cd "$root" && tar --null -T - -cf -) | $sudo tar -xf - -C "$fresh/src" --no-same-owner

say "running $* in the Debian $release root"
began=$SECONDS
status=0
# A clean environment, as a new user's login shell has it. Passed on: the test suite's
# own wait scale, and the build's date, which the copy (no git checkout) cannot tell: the
# last commit's, as a build in this checkout takes it, unless SOURCE_DATE_EPOCH says.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)}
$sudo chroot "$fresh" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  ${TARNWICK_WAIT_SCALE:+TARNWICK_WAIT_SCALE=$TARNWICK_WAIT_SCALE} \
  ${epoch:+SOURCE_DATE_EPOCH=$epoch} \
  /bin/bash -c 'cd /src && exec "$@"' in-fresh-debian "$@" || status=$?
say "$* ended with exit code $status after $((SECONDS - began)) s in the Debian $release root"
exit "$status"
