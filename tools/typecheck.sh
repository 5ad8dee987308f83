#!/usr/bin/env bash
# Checks the installed type stubs: stubtest against the module, the examples
# under mypy --strict, and a probe file under mypy and pyright, which must
# both find the stubs and report exactly the lines marked "error".
#
#   python3 -m pip install ".[typing]" && tools/typecheck.sh [python]
set -euo pipefail
cd "$(dirname "$0")/.."
python=${1:-python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== stubtest"
"$python" -m mypy.stubtest turnwheel turnwheel_batch
echo "== mypy --strict examples"
examples=(examples/*.py)
if ! "$python" -c 'import numpy, distributed, rich' >/dev/null 2>&1; then
    # The pattern database example needs the cluster extra to be checked.
    echo "   without the cluster extra: the pattern database example is left out"
    examples=($(printf '%s\n' examples/*.py | grep -v -E '/pattern(db|_database)\.py$'))
fi
"$python" -m mypy --strict --no-incremental --cache-dir "$work/mypy" "${examples[@]}"

executable=$("$python" -c 'import sys; print(sys.executable)')
expected=$(grep -n "# error" tests/typing/probe.py | cut -d: -f1 | tr '\n' ' ')
# Run from an empty folder so that nothing but the installed stubs is found.
cp tests/typing/probe.py "$work/probe.py"
cd "$work"
mypy_lines=$("$python" -m mypy --no-incremental --cache-dir "$work/mypy" probe.py 2>&1 \
    | sed -n 's/^probe\.py:\([0-9]*\): error.*/\1/p' | sort -nu | tr '\n' ' ' || true)
# pyright looks for the packages of whichever python is first on PATH unless told.
pyright_lines=$("$python" -m pyright --pythonpath "$executable" probe.py 2>&1 \
    | sed -n 's/^.*probe\.py:\([0-9]*\):[0-9]* - error.*/\1/p' | sort -nu | tr '\n' ' ' || true)
echo "== probe: expected errors on lines: $expected"
echo "   mypy reported:    $mypy_lines"
echo "   pyright reported: $pyright_lines"
if [ "$mypy_lines" != "$expected" ] || [ "$pyright_lines" != "$expected" ]; then
    echo "the checkers do not report exactly the lines marked error" >&2
    exit 1
fi
echo "both checkers use the stubs"
