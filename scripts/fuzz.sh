#!/usr/bin/env bash
# Fuzzes the settings file parser: scripts/fuzz.sh [seconds] (default 600).
# Starts from the committed corpus (tests/fuzz/corpus, read only) and keeps
# what it finds in build-native/fuzz-corpus, which later runs reuse. A failing
# input is saved in build-native/fuzz-artifacts/.
set -euo pipefail
seconds=${1:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-native"
cmake -S "$root/tests/native" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" --target ini_fuzz
mkdir -p "$build/fuzz-corpus" "$build/fuzz-artifacts"
log="$build/fuzz.log"
echo "fuzz: ${seconds}s, log in $log"
status=0
"$build/ini_fuzz" "$build/fuzz-corpus" "$root/tests/fuzz/corpus" \
  -dict="$root/tests/fuzz/ini.dict" \
  -max_total_time="$seconds" \
  -artifact_prefix="$build/fuzz-artifacts/" \
  -print_final_stats=1 >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "fuzz: FAILED (exit $status); reproducer in $build/fuzz-artifacts/"
  exit "$status"
fi
grep -E '^(Done |stat::)' "$log"
echo "fuzz: corpus now $(find "$build/fuzz-corpus" -type f | wc -l) new inputs in $build/fuzz-corpus"
