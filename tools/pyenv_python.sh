#!/usr/bin/env bash
# pyenv_python.sh MINOR: the interpreter of the newest patch release of
# CPython MINOR (3.9, 3.13) that pyenv has; fails, saying so, if it has none.
# The one place that picks a pyenv version: the driver, the source builds
# and CI all ask here.
set -euo pipefail
minor=$1
version=$(pyenv versions --bare 2>/dev/null | grep -E "^${minor//./\\.}(\.[0-9]+)?$" | sort -V | tail -n1) || true
if [ -z "$version" ]; then
    echo "no CPython $minor from pyenv" >&2
    exit 1
fi
echo "$(pyenv prefix "$version")/bin/python$minor"
