#!/bin/bash
# The C++ compiler CMake is given for a build with zig (tools/driver/build.py):
# `zig c++` for compiling, `zig cc` for linking, with the row's target and
# processor from the environment:
#   TURNWHEEL_ZIG        zig's own program
#   TURNWHEEL_ZIG_FLAGS  -target TARGET [-mcpu=CPU] [the ABI's flags]
#   ZIG_LOCAL_CACHE_DIR  the object cache of this build
# Compiled as C++, linked as C: the module needs nothing of the C++ library
# (no exceptions, no RTTI, no allocation through new), and zig would
# otherwise build libc++ for every target first, minutes each.
# zig keeps what it compiles in its cache, by the flags and the contents of
# what it read, but never for a caller that asks for a depfile: ninja's is
# left empty, as a folder is built once.
mode=cc args=()
while [ $# -gt 0 ]; do
    case $1 in
        -c) mode=c++; args+=(-c) ;;
        -MD) ;;
        -MT) shift ;;
        -MF) shift; : > "$1" ;;
        *) args+=("$1") ;;
    esac
    shift
done
# TURNWHEEL_ZIG_FLAGS is split into words on purpose.
# shellcheck disable=SC2086
exec "$TURNWHEEL_ZIG" $mode $TURNWHEEL_ZIG_FLAGS "${args[@]}"
