# Wheels built on the host with zig and checked where they run. Sourced
# after chroot_lib.sh, with $work set to a scratch folder.

tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wheel_tools=${TURNWHEEL_WHEEL_TOOLS:-/var/cache/turnwheel/wheel-tools}

# The sdist's PKG-INFO, which every wheel carries as its METADATA; made once.
pkg_info() {
    if [ ! -e "$work/PKG-INFO" ]; then
        if ! "$wheel_tools/bin/python" -c 'import build, auditwheel' >/dev/null 2>&1; then
            rm -rf "$wheel_tools"
            python3 -m venv "$wheel_tools"
            "$wheel_tools/bin/python" -m pip install -q build auditwheel
        fi
        "$wheel_tools/bin/python" -m build --sdist --outdir "$work/sdist" "$project" > "$work/sdist.log" 2>&1 \
            || { tail -n 30 "$work/sdist.log" >&2; return 1; }
        tar -xzf "$work"/sdist/turnwheel-*.tar.gz --wildcards -O '*/PKG-INFO' > "$work/PKG-INFO"
    fi
    echo "$work/PKG-INFO"
}

# build_wheel TARGET INCLUDE SUFFIX TAG OUTDIR [flag...]: prints the wheel's path.
build_wheel() {
    local target=$1 include=$2 suffix=$3 tag=$4 outdir=$5
    shift 5
    local info
    info=$(pkg_info) || return 1
    rm -f "$work/module.so"
    "$tools/cross_build.sh" "$target" "$include" "$work/module.so" "$@" >&2 || return 1
    python3 "$tools/make_wheel.py" --module "$work/module.so" --suffix "$suffix" --tag "$tag" --pkg-info "$info" \
        --outdir "$outdir"
}

audit_wheel() {
    "$wheel_tools/bin/auditwheel" show "$1" | tr '\n' ' ' | grep -o 'is consistent with the following platform tag: "[^"]*"' \
        || { "$wheel_tools/bin/auditwheel" show "$1"; return 1; }
}

# The suite against the installed wheel, away from the source tree, in a
# fresh environment of the given interpreter.
test_wheel_natively() {
    local python=$1 wheel=$2 place
    place=$(mktemp -d "$work/test.XXXX")
    "$python" -m venv "$place/venv"
    "$place/venv/bin/python" -m pip install -q "$wheel" pytest hypothesis
    cp -r "$project/tests" "$place/tests"
    (cd "$place" && TURNWHEEL_INSTALLED_WHEEL="$wheel" "$place/venv/bin/python" -m pytest -q -p no:cacheprovider tests)
}

# The same inside a chroot (entered with enter_mounts), with its interpreter.
test_wheel_in_chroot() {
    local root=$1 python=$2 wheel=$3
    rm -rf "$root/tmp/wheel-test"
    mkdir -p "$root/tmp/wheel-test"
    cp "$wheel" "$root/tmp/wheel-test/"
    cp -r "$project/tests" "$root/tmp/wheel-test/tests"
    local name
    name=$(basename "$wheel")
    in_chroot "$root" "set -e; cd /tmp/wheel-test; rm -rf venv; $python -m venv venv
        venv/bin/python -m pip install -q ./$name pytest hypothesis
        TURNWHEEL_INSTALLED_WHEEL=$name venv/bin/python -m pytest -q -p no:cacheprovider tests"
}
