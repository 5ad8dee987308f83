#!/usr/bin/env bash
# The suite on 32-bit ARM Linux (armhf: ARMv7, hard float, glibc) under
# emulation: CPython 3.11 of Debian bookworm, the module built and
# installed with pip inside the chroot.
#
#   tools/arm.sh          # needs root; sets up what it needs (apt, debootstrap)
set -euo pipefail
source "$(dirname "$0")/chroot_lib.sh"
trap leave_mounts EXIT

host_tools
root=$(bookworm_armhf)
enter_mounts "$root"
copy_project "$root"
echo "== $(in_chroot "$root" 'python3 --version') on $(in_chroot "$root" 'uname -m') (emulated): install and test"
in_chroot "$root" 'set -e; cd /tmp/turnwheel; rm -rf /tmp/venv; python3 -m venv /tmp/venv
    /tmp/venv/bin/python -m pip install -q ".[test]"
    /tmp/venv/bin/python -m pytest -q -p no:cacheprovider'
