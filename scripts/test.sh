#!/usr/bin/env bash
# Sets up a fresh Debian 12 or 13 machine, builds everything and runs every test and the lint.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/bootstrap.sh
# The format check and clang-tidy. A finding fails the run, but only at the end:
# the tests still run and report.
lint=0
scripts/lint.sh || lint=$?
# The platform-free pieces natively, under the sanitizers and the fuzzer.
scripts/native-tests.sh
# The program and everything that tests it, under Wine.
cmake --preset default >/dev/null
cmake --build --preset default
tools/wine/session.sh build ctest --preset default "$@"
[ $lint -eq 0 ] || { echo "test: the tests passed, the lint did not (above)" >&2; exit $lint; }
