#!/usr/bin/env bash
# Builds the platform-free sources for the host with clang under ASan/UBSan,
# TSan and libFuzzer (tests/native), and runs them through ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-native"
cmake -S "$root/tests/native" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build"
cd "$build"
ctest --output-on-failure "$@"
