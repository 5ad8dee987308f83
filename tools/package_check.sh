#!/usr/bin/env bash
# Builds the sdist and the wheel with `python -m build`, checks that the
# sdist holds what building and testing need, and runs the test suite
# against the wheel installed in a fresh virtual environment, away from the
# source tree.
#
#   tools/package_check.sh [python]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=${1:-python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$python" -m venv "$work/build-env"
"$work/build-env/bin/python" -m pip install -q build
"$work/build-env/bin/python" -m build --outdir "$work/dist" "$root" > "$work/build.log" 2>&1 \
    || { tail -n 40 "$work/build.log"; exit 1; }
sdist=$(ls "$work"/dist/*.tar.gz)
wheel=$(ls "$work"/dist/*.whl)
echo "== built $(basename "$sdist") and $(basename "$wheel")"

tar -tzf "$sdist" > "$work/sdist.txt"
for needed in pyproject.toml CMakeLists.txt README.md LICENSE src/module.cpp src/cube3x3/moves.hpp \
              src/cube2x2/render.hpp src/batch/module.cpp stubs/turnwheel-stubs/__init__.pyi \
              stubs/turnwheel_batch-stubs/__init__.pyi tests/test_turns.py tests/test_batch.py tests/conftest.py \
              tests/core/check_core.cpp examples/tour.py; do
    grep -q "^turnwheel-[^/]*/$needed\$" "$work/sdist.txt" || { echo "sdist lacks $needed" >&2; exit 1; }
done
"$python" - "$wheel" <<'PY'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
for module in ("turnwheel", "turnwheel_batch"):
    assert any(n.startswith(module + ".") and n.endswith(".so") for n in names), names
    assert f"{module}-stubs/__init__.pyi" in names, names
PY
echo "== the sdist holds the sources, tests, README and license; the wheel both modules and their stubs"

"$python" -m venv "$work/venv"
"$work/venv/bin/python" -m pip install -q "$wheel[test]"
cp -r "$root/tests" "$work/tests"
cd "$work"
"$work/venv/bin/python" -c "import turnwheel, turnwheel_batch, sys; assert '$root' not in turnwheel.__file__ + turnwheel_batch.__file__; print('== testing', turnwheel.__file__)"
TURNWHEEL_REQUIRE_BATCH=1 "$work/venv/bin/python" -m pytest -q -p no:cacheprovider tests
