#!/usr/bin/env bash
# Fuzzes the pure core (move-string parser, edge 4-cycle, net renderer)
# with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer,
# checking every input against independent reference implementations.
#
#   tools/fuzz.sh [seconds]         # default 60; CI runs the default
#
# Needs clang and its runtime (Debian: clang libclang-rt-14-dev). Starts from
# the corpus in tests/fuzz/corpus; what the run discovers stays in a
# temporary folder unless TURNWHEEL_FUZZ_CORPUS names a folder to keep it in.
# A failing input is written to the current folder as crash-*.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
compiler=${CLANGXX:-$(command -v clang++ || command -v clang++-14 || true)}
if [ -z "$compiler" ]; then
    echo "fuzz.sh: clang++ not found (Debian: apt-get install clang libclang-rt-14-dev)" >&2
    exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corpus=${TURNWHEEL_FUZZ_CORPUS:-$work/corpus}
mkdir -p "$corpus"

"$compiler" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -Wall -Wextra -Werror -I"$root/src" "$root/tests/fuzz/fuzz_core.cpp" "$root"/src/engine/*.cpp -o "$work/fuzz_core"
echo "== fuzzing the core for ${seconds}s"
"$work/fuzz_core" -max_total_time="$seconds" -print_final_stats=1 "$corpus" "$root/tests/fuzz/corpus" \
    > "$work/log" 2>&1 || { tail -n 60 "$work/log"; exit 1; }
grep -E "^Done [0-9]+ runs|stat::number_of_executed_units|stat::new_units_added" "$work/log"
