#!/usr/bin/env bash
# The suite on 32-bit ARM Linux under emulation (qemu), three ways:
#   a. armhf (ARMv7, hard float, glibc), CPython 3.11 of Debian bookworm: the
#      module built and installed with pip inside the chroot;
#   b. armhf, CPython 3.9 of Debian bullseye: the module cross-built on the
#      host with zig (bullseye's g++ 10 has no C++20) and installed as a wheel;
#   c. the shipped target, CPython 3.9 on arm-linux-musleabihf, built from
#      Debian's sources (tools/musl_python.sh): the module cross-built for
#      it and installed as a musllinux wheel, pip and the test tools from
#      wheels fetched on the host;
# and first, the core checks (every engine against the packed reading) built
# with zig as static programs for ARMv7 with and without NEON and for
# AArch64, each run under qemu.
#
#   tools/arm.sh [core|a|b|c ...]      # default: all four; needs root
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/lib.sh"
work=$(mktemp -d)
trap 'leave_mounts; rm -rf "$work"' EXIT
source "$(dirname "$0")/wheel_lib.sh"
parts=("${@:-core a b c}")
parts=(${parts[*]})
arm_cpu=-mcpu=generic+v7a+vfp3d16-neon   # Debian's armhf: ARMv7-A, VFPv3-D16, no NEON
step() { echo "== $* ($(date +%T))"; }

host_tools
for part in "${parts[@]}"; do
    case "$part" in
    core)
        zig=$(zig_python)
        for target in "arm-linux-musleabihf $arm_cpu" "arm-linux-musleabihf -mcpu=generic+v7a+vfp3d16" aarch64-linux-musl; do
            step "core checks for $target"
            set -- $target
            (cd "$project" && "$zig" -m ziglang c++ -target $target -std=c++20 -O2 -static -fno-exceptions \
                -Wall -Wextra -Wpedantic -Werror -Isrc tests/core/check_core.cpp src/engine/*.cpp -o "$work/check_core")
            case "$1" in aarch64*) qemu=qemu-aarch64-static ;; *) qemu=qemu-arm-static ;; esac
            "$qemu" "$work/check_core" | tail -n 4   # pipefail: a failed check fails the step
        done
        ;;
    a)
        root=$(bookworm_armhf)
        enter_mounts "$root"
        copy_project "$root"
        step "$(in_chroot "$root" 'python3 --version') on $(in_chroot "$root" 'uname -m') (emulated, glibc): install and test"
        in_chroot "$root" 'set -e; cd /tmp/turnwheel; rm -rf /tmp/venv; python3 -m venv /tmp/venv
            /tmp/venv/bin/python -m pip install -q ".[test]"
            /tmp/venv/bin/python -m pytest -q -p no:cacheprovider'
        leave_mounts
        ;;
    b)
        root=$(bullseye_armhf)
        step "CPython 3.9 armhf (bullseye, emulated, glibc): build on the host, install and test"
        wheel=$(build_wheel arm-linux-gnueabihf.2.17 "$root/usr/include/python3.9" .cpython-39-arm-linux-gnueabihf.so \
            cp39-cp39-manylinux_2_17_armv7l "$work/wheels" "$arm_cpu")
        enter_mounts "$root"
        test_wheel_in_chroot "$root" python3 "$wheel"
        leave_mounts
        ;;
    c)
        root=$("$(dirname "$0")/musl_python.sh")
        step "CPython 3.9 on arm-linux-musleabihf (emulated, musl): build on the host, install and test"
        wheel=$(build_wheel arm-linux-musleabihf "$root/usr/local/include/python3.9" "$(musl_suffix "$root")" \
            cp39-cp39-musllinux_1_2_armv7l "$work/wheels" "$arm_cpu")
        enter_mounts "$root"
        test_wheel_in_musl_root "$root" "$wheel"
        leave_mounts
        ;;
    *) echo "arm.sh: unknown part $part (a, b or c)" >&2; exit 2 ;;
    esac
done
