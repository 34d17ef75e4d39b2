#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, on Debian 12
# or 13: every name below is known to both.
# Idempotent and non-interactive: it asks apt only for what is missing.
set -euo pipefail

packages=(
  cmake ninja-build nsis
  # the MSI (wixl, msibuild; faketime fixes the time wixl writes into it)
  wixl msitools faketime
  # signing and its test, which takes the exe out of the installer as the README does
  osslsigncode openssl p7zip-full
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  googletest
  wine wine64
  xvfb xdotool x11-utils imagemagick
  # Wine's stand-in for the Windows UI font, and the Japanese font linked to it
  fonts-dejavu-core fonts-ipafont-gothic
  python3
  # Every locale, Turkish and Japanese among them, as a developer's machine may have: the
  # scripts and the tests must behave the same under any of them (tests/locales.py)
  locales-all
  # scripts/native-tests.sh: clang and its sanitizers' runtime, by the names Debian 12
  # and 13 both know (each release's own version of clang)
  clang libclang-rt-dev
  # scripts/lint.sh
  clang-format clang-tidy
)

missing=()
for p in "${packages[@]}"; do
  if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != installed ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
