#!/usr/bin/env bash
# Runs tests/exercise.py (every member, every error path, every re-entrance
# case) under valgrind's memcheck with the installed module. PYTHONMALLOC=malloc
# lets memcheck see every Python object; any error fails the run.
#
#   tools/valgrind.sh [python] [rounds]     # defaults: python3, 3
set -euo pipefail
cd "$(dirname "$0")/.."
python=${1:-python3}
rounds=${2:-3}
# The interpreter itself, not a launcher script (pyenv's shims are scripts).
python=$("$python" -c 'import sys; print(sys.executable)')
PYTHONMALLOC=malloc valgrind --tool=memcheck --error-exitcode=99 --leak-check=no --track-origins=yes \
    --quiet "$python" tests/exercise.py "$rounds"
echo "valgrind memcheck: no errors"
