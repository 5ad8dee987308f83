#!/usr/bin/env bash
# CPython built from Debian's source packages, for interpreters that no
# Debian release or pyenv gives us. Made once, kept in the cache folder;
# prints the folder.
#
#   tools/source_python.sh VERSION TARGET
#
# VERSION  3.9 (bullseye's python3.9), 3.13 (forky's python3.13), or either
#          with a "t" (3.13t): free-threaded, configured --disable-gil.
# TARGET   host       built with the machine's gcc into a prefix that runs
#                     here directly (bin/python3.13t);
#          host-tsan  the same with ThreadSanitizer (--with-thread-sanitizer),
#                     without pip and with the standard library's top level
#                     alone byte-compiled (the rest would take most of the time);
#          a zig musl triple (x86_64-linux-musl, aarch64-linux-musl,
#                     arm-linux-musleabihf): cross-built with zig into a small
#                     root that a chroot enters (under qemu for another
#                     processor): the interpreter in /usr/local, musl's loader
#                     from trixie's musl package (1.2.5) for that processor where
#                     the interpreter looks for it, and the C library under
#                     the name musl systems (Alpine) give it, which is what
#                     musllinux wheels need. zlib is built static from
#                     bookworm's source so that pip can read wheels.
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/lib.sh"
version=$1 target=$2
minor=${version%t}
folder="$chroots/python-$version-$target"
log="$folder.log"

case "$minor" in
    3.9) source_package=python3.9/bullseye ;;
    3.13) source_package=python3.13/forky ;;
    *) echo "source_python.sh: no Debian source known for CPython $minor" >&2; exit 2 ;;
esac
configure_flags=()
[ "$version" != "$minor" ] && configure_flags+=(--disable-gil)
case "$target" in
    host) ;;
    host-tsan) configure_flags+=(--with-thread-sanitizer --without-ensurepip) ;;
    *-linux-musl*)
        arch=${target%%-*}
        musl_arch=$(arch_field "$arch" musl) && alpine_arch=$(arch_field "$arch" alpine) \
            && deb_arch=$(arch_field "$arch" debian) \
            || { echo "source_python.sh: $arch has no line in tools/arches.txt" >&2; exit 2; }
        cpu=
        # Debian's armhf baseline: no NEON.
        [ "$arch" = arm ] && cpu=-mcpu=generic+v7a+vfp3d16-neon ;;
    *) echo "source_python.sh: unknown target $target" >&2; exit 2 ;;
esac
# One build of a folder at a time: the cross builds of 3.13 need the host's.
mkdir -p "$chroots"
exec {lock}> "$folder.lock"
flock "$lock"
# The way a folder is made: one made another way is made again. musllinux
# wheels may carry libraries with packed relative relocations (DT_RELR, as
# NumPy's vendored libstdc++ and libgcc have), which musl's loader applies
# from 1.2.4 on; bookworm's 1.2.3 left them undone and jumped to an offset.
case "$target" in
    host*) recipe= ;;
    *) recipe="2: musl 1.2.5's loader" ;;
esac
[ -e "$folder/.complete" ] && [ "$(cat "$folder/.complete")" = "$recipe" ] && { echo "$folder"; exit 0; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > "$log"
step() { echo "== CPython $version for $target: $* ($(date +%T))" >&2; }
failed() { tail -n 40 "$log" >&2; exit 1; }

step "sources"
lines=("deb-src MIRROR ${source_package#*/} main")
[ -n "${deb_arch:-}" ] && lines+=("deb-src MIRROR bookworm main" "deb [arch=$deb_arch] MIRROR trixie main")
fetch=(source --download-only "$source_package")
debian_fetch "$work/src" "${lines[@]}" -- "${fetch[@]}" >> "$log" 2>&1 || failed
if [ -n "${deb_arch:-}" ]; then
    debian_fetch "$work/src" "${lines[@]}" -- source --download-only zlib/bookworm >> "$log" 2>&1 || failed
    debian_fetch "$work/src" "${lines[@]}" -- download "musl:$deb_arch" >> "$log" 2>&1 || failed
fi
mkdir -p "$work/python"
tar -xJf "$work"/src/python"$minor"_*.orig.tar.xz -C "$work/python" --strip-components=1

if [[ "$target" == host* ]]; then
    # Installed under a scratch root and moved into place, so that a failed
    # build never leaves a half-made interpreter where a finished one goes.
    step "configure"
    (cd "$work/python" && ./configure --prefix="$folder" "${configure_flags[@]}") >> "$log" 2>&1 || failed
    step "build"
    (cd "$work/python" && make -j2 && make install DESTDIR="$work/dest" COMPILEALL_OPTS="-j0 -l") \
        >> "$log" 2>&1 || failed
    rm -rf "$folder"
    mv "$work/dest$folder" "$folder"
    # The interpreter's own list of the races ThreadSanitizer must not report.
    mkdir -p "$folder/share/tsan"
    cp "$work"/python/Tools/tsan/*.txt "$folder/share/tsan/" 2>/dev/null || true
    "$folder/bin/python$version" -c 'import zlib, ssl' >> "$log" 2>&1 || [ "$target" = host-tsan ] || failed
    echo "$recipe" > "$folder/.complete"
    echo "$folder"
    exit 0
fi

# A cross build runs its own tools with a CPython of the same version: for
# 3.9 pyenv's; for 3.13 the same source built for this machine (the tools
# run the new standard library, which pyenv's older 3.13 cannot). Found
# before the cross compiler is set up: the host's build must not see it.
if [ "$minor" = 3.9 ]; then
    build_python=$("$(dirname "$0")/pyenv_python.sh" 3.9)
else
    build_python="$("$(dirname "$0")/source_python.sh" "${minor}t" host)/bin/python${minor}t"
fi
step "compiler"
zig=$(zig_binary)
mkdir -p "$work/bin"
# Every compile needs -dynamic: without it zig's musl start files give the
# interpreter copy relocations that put environ, stdin and stdout at one
# address. zig makes -Wdate-time an error.
for tool in cc c++; do
    printf '#!/bin/sh\nexec %s %s -target %s %s -dynamic -Wno-date-time "$@"\n' "$zig" "$tool" "$target" "$cpu" \
        > "$work/bin/$target-$tool"
done
for tool in ar ranlib; do printf '#!/bin/sh\nexec %s %s "$@"\n' "$zig" "$tool" > "$work/bin/$target-$tool"; done
chmod +x "$work/bin"/*
export PATH="$work/bin:$PATH" CC=$target-cc CXX=$target-c++ AR=$target-ar RANLIB=$target-ranlib
# Nothing of the build machine's libraries may be found.
mkdir -p "$work/deps/lib/pkgconfig"
export PKG_CONFIG_LIBDIR="$work/deps/lib/pkgconfig" PKG_CONFIG_PATH=

step "zlib"
mkdir -p "$work/zlib"
tar -xjf "$work"/src/zlib_*.orig.tar.bz2 -C "$work/zlib" --strip-components=1
(cd "$work/zlib" && CFLAGS="-O2 -fPIC" CHOST=$target ./configure --static --prefix="$work/deps" \
    && make -j2 && make install) >> "$log" 2>&1 || failed

step "configure"
# configure tells musl by a definition of musl's own <stdarg.h>, but zig's
# compiler brings its own, and the module suffix would lose its platform
# (.cpython-313.so instead of .cpython-313-x86_64-linux-musl.so).
if [ -e "$work/python/Misc/platform_triplet.c" ]; then
    sed -i 's|^#  ifdef __DEFINED_va_list$|#  if 1 /* musl, built with zig */|' "$work/python/Misc/platform_triplet.c"
    grep -q "musl, built with zig" "$work/python/Misc/platform_triplet.c" || failed
fi
if [ "$minor" = 3.9 ]; then
    # setup.py adds the build machine's /usr/include to a cross build's
    # search path, and the extension modules would then see glibc's headers.
    python3 - "$work/python/setup.py" <<'PY'
import sys
path = sys.argv[1]
text = open(path).read()
marker = "    def add_cross_compiling_paths(self):\n"
assert marker in text
open(path, "w").write(text.replace(marker, marker + "        return\n", 1))
PY
fi
# zig's musl may be newer than the loader the root gets: leave out what the
# older one lacks, and answer what configure cannot run to find out.
cat > "$work/config.site" <<'SITE'
ac_cv_file__dev_ptmx=no
ac_cv_file__dev_ptc=no
ac_cv_buggy_getaddrinfo=no
ac_cv_func_preadv2=no
ac_cv_func_pwritev2=no
SITE
(cd "$work/python" && PATH="$(dirname "$build_python"):$PATH" CONFIG_SITE="$work/config.site" \
    READELF="$(command -v readelf)" CPPFLAGS="-I$work/deps/include" LDFLAGS="-L$work/deps/lib" \
    ./configure --build=x86_64-pc-linux-gnu --host="$target" --prefix=/usr/local --with-build-python="$build_python" \
        --disable-ipv6 --without-ensurepip "${configure_flags[@]}") >> "$log" 2>&1 || failed

step "build"
unmount_below "$folder.partial"
rm -rf --one-file-system "$folder.partial"
(cd "$work/python" && PATH="$(dirname "$build_python"):$PATH" make -j2 && \
    PATH="$(dirname "$build_python"):$PATH" make install DESTDIR="$folder.partial" COMPILEALL_OPTS="-j0 -l") \
    >> "$log" 2>&1 || failed

step "root"
dpkg-deb -x "$work"/src/musl_*_"$deb_arch".deb "$work/musl"
mkdir -p "$folder.partial/lib" "$folder.partial/tmp" "$folder.partial/dev" "$folder.partial/proc" \
    "$folder.partial/etc/ssl/certs"
cp -L "$work/musl/usr/lib/ld-musl-$musl_arch.so.1" "$folder.partial/lib/"
ln -sf "ld-musl-$musl_arch.so.1" "$folder.partial/lib/libc.musl-$alpine_arch.so.1"
chmod 1777 "$folder.partial/tmp"
# What pip and the suite need must have been built, or the root is no good.
chroot_exec "$folder.partial" "/usr/local/bin/python$version" -c \
    'import zlib, _socket, _json, _struct, _datetime, _posixsubprocess, select, math, _random, binascii, hashlib' \
    >> "$log" 2>&1 || failed
unmount_below "$folder"
rm -rf --one-file-system "$folder"
mv "$folder.partial" "$folder"
echo "$recipe" > "$folder/.complete"
echo "$folder"
