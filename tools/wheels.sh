#!/usr/bin/env bash
# Binary wheels, built with zig from PyPI and needing no compiler to install:
#   manylinux_2_17_x86_64  CPython 3.9 to 3.15
#   manylinux_2_17_armv7l  CPython 3.9 and 3.11 (32-bit ARM, hard float)
#   musllinux_1_2_armv7l   CPython 3.9, the shipped target (tools/musl_python.sh)
# Each is checked by `auditwheel show`, then installed with pip into a fresh
# environment of its interpreter (natively, or in a Debian chroot: forky for
# 3.14 and 3.15, bullseye and bookworm armhf under qemu) where the whole
# suite runs against it, away from the source tree (the musl wheel in the
# root of tools/musl_python.sh under qemu).
#
#   tools/wheels.sh OUTDIR [--no-check]     # needs root; sets up what it needs
set -euo pipefail
shopt -s inherit_errexit   # a failure inside $(...) stops the script too
outdir=$(mkdir -p "$1" && cd "$1" && pwd)
check=${2:-}
source "$(dirname "$0")/lib.sh"
work=$(mktemp -d)
trap 'leave_mounts; rm -rf "$work"' EXIT
source "$(dirname "$0")/wheel_lib.sh"

host_tools
x86_tags=manylinux_2_17_x86_64.manylinux2014_x86_64
arm_tags=manylinux_2_17_armv7l.manylinux2014_armv7l
arm_cpu=-mcpu=generic+v7a+vfp3d16-neon   # Debian's armhf: ARMv7-A, VFPv3-D16, no NEON
built=()    # "wheel|where|python": where is "native", a chroot, or "musl:" and the musl root

step() { echo "== $* ($(date +%T))"; }

# add_wheel MINOR TARGET INCLUDE SUFFIX PLATFORMS WHERE PYTHON [flag...]
add_wheel() {
    local minor=$1 target=$2 include=$3 suffix=$4 platforms=$5 where=$6 python=$7 wheel
    shift 7
    local cp=cp${minor/./}
    step "build $cp $platforms"
    wheel=$(build_wheel "$target" "$include" "$suffix" "$cp-$cp-$platforms" "$outdir" "$@")
    built+=("$wheel|$where|$python")
}

for minor in 3.9 3.10 3.11 3.12 3.13; do
    version=$(pyenv versions --bare 2>/dev/null | grep -E "^${minor//./\\.}(\.[0-9]+)?$" | sort -V | tail -n1 || true)
    [ -n "$version" ] || { echo "wheels.sh: no CPython $minor from pyenv" >&2; exit 1; }
    prefix=$(pyenv prefix "$version")
    add_wheel "$minor" x86_64-linux-gnu.2.17 "$prefix/include/python$minor" ".cpython-${minor/./}-x86_64-linux-gnu.so" \
        "$x86_tags" native "$prefix/bin/python$minor"
done

forky=$(forky_amd64)
for minor in 3.14 3.15; do
    add_wheel "$minor" x86_64-linux-gnu.2.17 "$forky/usr/include/python$minor" ".cpython-${minor/./}-x86_64-linux-gnu.so" \
        "$x86_tags" "$forky" "python$minor"
done

for pair in "3.9|$(bullseye_armhf)" "3.11|$(bookworm_armhf)"; do
    minor=${pair%%|*} root=${pair#*|}
    add_wheel "$minor" arm-linux-gnueabihf.2.17 "$root/usr/include/python$minor" \
        ".cpython-${minor/./}-arm-linux-gnueabihf.so" "$arm_tags" "$root" "python$minor" "$arm_cpu"
done

musl=$("$(dirname "$0")/musl_python.sh")
add_wheel 3.9 arm-linux-musleabihf "$musl/usr/local/include/python3.9" "$(musl_suffix "$musl")" \
    musllinux_1_2_armv7l "musl:$musl" python3.9 "$arm_cpu"

[ "$check" = "--no-check" ] && { ls -l "$outdir"; exit 0; }

for entry in "${built[@]}"; do
    IFS='|' read -r wheel where python <<< "$entry"
    step "check $(basename "$wheel") ($(du -k "$wheel" | cut -f1) kB)"
    if [[ "$where" == musl:* ]]; then audit_wheel "$wheel" "${where#musl:}/lib"; else audit_wheel "$wheel"; fi
    if [ "$where" = native ]; then
        test_wheel_natively "$python" "$wheel"
    elif [[ "$where" == musl:* ]]; then
        enter_mounts "${where#musl:}"
        test_wheel_in_musl_root "${where#musl:}" "$wheel"
        leave_mounts
    else
        enter_mounts "$where"
        test_wheel_in_chroot "$where" "$python" "$wheel"
        leave_mounts
    fi
done
step "all wheels built and checked"
