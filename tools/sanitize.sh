#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer
# into a fresh virtual environment and runs the whole test suite under them.
#
#   tools/sanitize.sh [python [pytest arguments]]      # default: python3
#
# The ASan runtime is preloaded into the (uninstrumented) interpreter, and
# PYTHONMALLOC=malloc routes every Python object, cubes included, through the
# sanitizer's allocator so that it sees them. Leak detection is off: the
# interpreter keeps much of its memory until exit by design, and the module
# allocates only Python objects, whose balance the reference-count and
# traced-memory tests check. Any report aborts the run and fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
python=${1:-python3}
[ $# -gt 0 ] && shift   # the rest goes to pytest
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$python" -m venv "$work/venv"
"$work/venv/bin/python" -m pip install -q --upgrade pip
"$work/venv/bin/python" -m pip install -q \
    -C cmake.define.TURNWHEEL_SANITIZE=address,undefined -C cmake.build-type=RelWithDebInfo -C build-dir="$work/build" \
    ".[test]"

runtime=$(g++ -print-file-name=libasan.so)
export LD_PRELOAD="$runtime"
export PYTHONMALLOC=malloc
export TURNWHEEL_SANITIZED=1   # tests that measure resident memory step aside
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== sanitizers: $("$work/venv/bin/python" --version), ASan runtime $runtime"
for module in turnwheel turnwheel_batch; do
    so=$("$work/venv/bin/python" -c "import $module; print($module.__file__)")
    # grep reads all of nm's output: with -q it would stop at the first match
    # and, under pipefail, nm's broken pipe would fail the test
    if ! nm -D "$so" | grep -c __asan_report >/dev/null; then echo "$module is not instrumented" >&2; exit 1; fi
done
export TURNWHEEL_REQUIRE_BATCH=1 OPENBLAS_NUM_THREADS=1
"$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$@" 2>&1 | tail -n 40
exit "${PIPESTATUS[0]}"
