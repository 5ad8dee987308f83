#!/usr/bin/env bash
# ThreadSanitizer on the free-threaded build: a CPython 3.13t built with
# --with-thread-sanitizer (tools/source_python.sh), the module built with
# -fsanitize=thread against it, and the threads tests run under it with
# CPython's own list of the interpreter's known races. Any report fails.
#
#   tools/tsan.sh [pytest arguments]      # default: the threads tests of both modules; needs root
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
source tools/lib.sh
tsan_root=$(tools/source_python.sh 3.13t host-tsan)
ft_root=$(tools/source_python.sh 3.13t host)
python="$tsan_root/bin/python3.13t"
tools_python=$(zig_python)   # CMake and ninja
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== the module with -fsanitize=thread for $("$python" --version)"
PATH="$(dirname "$tools_python"):$PATH" cmake -S . -B "$work/build" -G Ninja -DPython_EXECUTABLE="$python" \
    -DTURNWHEEL_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$work/build.log" 2>&1 \
    && PATH="$(dirname "$tools_python"):$PATH" cmake --build "$work/build" >> "$work/build.log" 2>&1 \
    || { tail -n 40 "$work/build.log"; exit 1; }
for so in "$work"/build/turnwheel*.so; do
    nm -D "$so" | grep -c __tsan_ >/dev/null || { echo "$so is not instrumented" >&2; exit 1; }
done

# The test tools, and NumPy: installed by the uninstrumented 3.13t, beside
# the module, so that pip itself does not run under the sanitizer. NumPy is
# not instrumented (what it does is not checked), the batch module is.
# A binary wheel where there is one: an index may offer a newer NumPy as
# source alone, ten minutes of compiling on a cold run.
"$ft_root/bin/python3.13t" -m pip install -q --prefer-binary --target "$work/site" $(python3 -c '
import tomllib; print(*tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["test"])')

echo "== the threads tests under ThreadSanitizer"
# Reports go to files: pytest holds the standard error of a running test.
export TSAN_OPTIONS="suppressions=$tsan_root/share/tsan/suppressions_free_threading.txt log_path=$work/tsan second_deadlock_stack=1"
status=0
[ $# -gt 0 ] || set -- tests/test_threads.py tests/test_batch.py::TestThreads
PYTHONPATH="$work/build:$work/site" OPENBLAS_NUM_THREADS=1 TURNWHEEL_REQUIRE_BATCH=1 \
    "$python" -m pytest -q -p no:cacheprovider "$@" || status=$?
if compgen -G "$work/tsan.*" > /dev/null; then
    head -n 60 "$work"/tsan.*
    echo "ThreadSanitizer reported $(cat "$work"/tsan.* | grep -c 'WARNING: ThreadSanitizer') races" >&2
    exit 1
fi
[ "$status" = 0 ] && echo "ThreadSanitizer: no reports"
exit "$status"
