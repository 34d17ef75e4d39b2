#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/bootstrap.sh
# The platform-free pieces natively, under the sanitizers and the fuzzer.
scripts/native-tests.sh
# The program and everything that tests it, under Wine.
cmake --preset default >/dev/null
cmake --build --preset default
tools/wine/session.sh build ctest --preset default "$@"
