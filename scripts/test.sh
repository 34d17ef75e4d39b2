#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default
tools/wine/session.sh build ctest --preset default "$@"
