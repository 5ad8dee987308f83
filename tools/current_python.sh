#!/usr/bin/env bash
# The suite and the type checks on the newest CPython releases, 3.14 and
# 3.15, from Debian forky (x86-64, no emulation), each built with forky's
# compiler.
#
#   tools/current_python.sh      # needs root; sets up what it needs
set -euo pipefail
source "$(dirname "$0")/lib.sh"
trap leave_mounts EXIT

host_tools
root=$(forky_amd64)
enter_mounts "$root"
copy_project "$root"
for minor in 3.14 3.15; do
    echo "== $(in_chroot "$root" "python$minor --version"): install, test and type checks"
    in_chroot "$root" "set -e; cd /tmp/turnwheel; rm -rf /tmp/venv-$minor; python$minor -m venv /tmp/venv-$minor
        /tmp/venv-$minor/bin/python -m pip install -q '.[test,typing]'
        /tmp/venv-$minor/bin/python -m pytest -q -p no:cacheprovider
        PATH=/tmp/venv-$minor/bin:\$PATH tools/typecheck.sh /tmp/venv-$minor/bin/python"
done
