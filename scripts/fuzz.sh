#!/usr/bin/env bash
# Fuzzes a reader: scripts/fuzz.sh [seconds] [ini|text] (default 600 s, ini:
# the settings file parser; text: the UTF-8/UTF-16 text unit).
# Starts from the committed corpus (tests/fuzz/corpus or tests/fuzz/text-corpus,
# read only) and keeps what it finds in build-native/<target>-corpus, which later
# runs reuse. A failing input is saved in build-native/<target>-artifacts/.
set -euo pipefail
seconds=${1:-600}
which=${2:-ini}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-native"
case "$which" in
  ini) corpus="$root/tests/fuzz/corpus" dict="$root/tests/fuzz/ini.dict" ;;
  text) corpus="$root/tests/fuzz/text-corpus" dict="$root/tests/fuzz/text.dict" ;;
  *) echo "fuzz: unknown target '$which' (ini or text)" >&2; exit 2 ;;
esac
target="${which}_fuzz"
cmake -S "$root/tests/native" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" --target "$target"
# The settings fuzzer's own folders keep their earlier names, so a corpus grown
# by earlier runs is reused.
if [ "$which" = ini ]; then work_corpus="$build/fuzz-corpus" artifacts="$build/fuzz-artifacts" log="$build/fuzz.log"
else work_corpus="$build/$target-corpus" artifacts="$build/$target-artifacts" log="$build/$target.log"; fi
mkdir -p "$work_corpus" "$artifacts"
echo "fuzz $target: ${seconds}s, log in $log"
status=0
"$build/$target" "$work_corpus" "$corpus" \
  -dict="$dict" \
  -max_total_time="$seconds" \
  -artifact_prefix="$artifacts/" \
  -print_final_stats=1 >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "fuzz $target: FAILED (exit $status); reproducer in $artifacts/"
  exit "$status"
fi
grep -E '^(Done |stat::)' "$log"
echo "fuzz $target: corpus now $(find "$work_corpus" -type f | wc -l) new inputs in $work_corpus"
