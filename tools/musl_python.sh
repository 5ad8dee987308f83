#!/usr/bin/env bash
# CPython 3.9 for arm-linux-musleabihf, the shipped target, built from
# Debian's sources with zig (from PyPI) as the cross compiler, into a small
# root folder that runs under qemu: the interpreter in /usr/local, musl's
# loader where the interpreter looks for it. Made once and kept; prints the
# root's path.
#
#   tools/musl_python.sh        # needs root
#
# Sources: python3.9 of Debian bullseye (upstream 3.9.2), zlib of bookworm
# (built static, so that pip can read wheels) and musl's loader from
# bookworm's armhf package, all fetched and checked by apt.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root="$chroots/musl-armhf-py39"
# Where musllinux modules look for the C library: Alpine's name for it, a
# link to musl's loader, which is the C library.
alpine_libc() { ln -sf ld-musl-armhf.so.1 "$1/lib/libc.musl-armv7.so.1"; }
[ -e "$root/.complete" ] && { alpine_libc "$root"; echo "$root"; exit 0; }

host_tools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log="$chroots/musl-armhf-py39.log"
: > "$log"
step() { echo "== musl CPython 3.9: $* ($(date +%T))" >&2; }

step "sources"
apt_dir="$work/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$work/src"
m=$(mirror)
printf 'deb-src %s bullseye main\ndeb-src %s bookworm main\ndeb [arch=armhf] %s bookworm main\n' "$m" "$m" "$m" \
    > "$apt_dir/sources.list"
apt_opts=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
          -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" -o Debug::NoLocking=1
          -o APT::Architectures::=amd64 -o APT::Architectures::=armhf)
(cd "$work/src" && apt-get "${apt_opts[@]}" update -qq && apt-get "${apt_opts[@]}" source --download-only python3.9/bullseye \
    && apt-get "${apt_opts[@]}" source --download-only zlib/bookworm && apt-get "${apt_opts[@]}" download musl:armhf) \
    >> "$log" 2>&1 || { tail -n 20 "$log" >&2; exit 1; }

step "compiler"
zig=$(zig_python)
# The wrappers run zig itself, not through the interpreter of zig's venv: the
# build runs them with its own PYTHONPATH set, which that interpreter must
# not see.
zig_binary=$("$zig" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
mkdir -p "$work/bin"
# Every compile needs -dynamic: without it zig's musl start files give the
# interpreter copy relocations that put environ, stdin and stdout at one
# address. zig makes -Wdate-time an error.
for tool in cc c++; do
    printf '#!/bin/sh\nexec %s %s -target arm-linux-musleabihf -mcpu=generic+v7a+vfp3d16-neon -dynamic -Wno-date-time "$@"\n' \
        "$zig_binary" "$tool" > "$work/bin/arm-linux-musleabihf-$tool"
done
for tool in ar ranlib; do
    printf '#!/bin/sh\nexec %s %s "$@"\n' "$zig_binary" "$tool" > "$work/bin/arm-linux-musleabihf-$tool"
done
chmod +x "$work/bin"/*
export PATH="$work/bin:$PATH"
export CC=arm-linux-musleabihf-cc CXX=arm-linux-musleabihf-c++ AR=arm-linux-musleabihf-ar RANLIB=arm-linux-musleabihf-ranlib

step "zlib"
mkdir -p "$work/zlib" "$work/deps"
tar -xjf "$work"/src/zlib_*.orig.tar.bz2 -C "$work/zlib" --strip-components=1
(cd "$work/zlib" && CFLAGS="-O2 -fPIC" CHOST=arm-linux-musleabihf ./configure --static --prefix="$work/deps" \
    && make -j2 && make install) >> "$log" 2>&1 || { tail -n 30 "$log" >&2; exit 1; }

step "configure"
mkdir -p "$work/python"
tar -xJf "$work"/src/python3.9_*.orig.tar.xz -C "$work/python" --strip-components=1
# setup.py adds the build machine's /usr/include to a cross build's search
# path, and the extension modules would then see glibc's headers.
python3 - "$work/python/setup.py" <<'PY'
import sys
path = sys.argv[1]
text = open(path).read()
marker = "    def add_cross_compiling_paths(self):\n"
assert marker in text
open(path, "w").write(text.replace(marker, marker + "        return\n", 1))
PY
# zig's musl is newer than the loader the target has: leave out what the
# older one lacks, and answer what configure cannot run to find out.
cat > "$work/config.site" <<'SITE'
ac_cv_file__dev_ptmx=no
ac_cv_file__dev_ptc=no
ac_cv_buggy_getaddrinfo=no
ac_cv_func_preadv2=no
ac_cv_func_pwritev2=no
SITE
# The build needs a CPython 3.9 of the build machine to run its own tools.
build_python="$(pyenv prefix "$(pyenv versions --bare | grep -E '^3\.9(\.[0-9]+)?$' | sort -V | tail -n1)")/bin/python3.9"
(cd "$work/python" && PATH="$(dirname "$build_python"):$PATH" CONFIG_SITE="$work/config.site" READELF="$(command -v readelf)" \
    CPPFLAGS="-I$work/deps/include" LDFLAGS="-L$work/deps/lib" \
    ./configure --build=x86_64-pc-linux-gnu --host=arm-linux-musleabihf --prefix=/usr/local \
        --disable-ipv6 --without-ensurepip) >> "$log" 2>&1 || { tail -n 30 "$log" >&2; exit 1; }

step "build"
(cd "$work/python" && PATH="$(dirname "$build_python"):$PATH" make -j2 && \
    PATH="$(dirname "$build_python"):$PATH" make install DESTDIR="$root.partial") >> "$log" 2>&1 \
    || { tail -n 40 "$log" >&2; exit 1; }

step "root"
dpkg-deb -x "$work"/src/musl_*_armhf.deb "$work/musl"
mkdir -p "$root.partial/lib" "$root.partial/tmp" "$root.partial/dev" "$root.partial/proc" "$root.partial/etc/ssl/certs"
cp -L "$work/musl/lib/ld-musl-armhf.so.1" "$root.partial/lib/"
alpine_libc "$root.partial"
chmod 1777 "$root.partial/tmp"
# What pip and the suite need must have been built, or the root is no good.
chroot_exec "$root.partial" /usr/local/bin/python3.9 -c \
    'import zlib, _socket, _json, _struct, _datetime, _posixsubprocess, select, math, _sha256, _random, binascii' \
    >> "$log" 2>&1 || { tail -n 20 "$log" >&2; exit 1; }
rm -rf "$root"
mv "$root.partial" "$root"
touch "$root/.complete"
echo "$root"
