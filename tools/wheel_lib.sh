# Wheels built on the host with zig and checked where they run. Sourced
# after lib.sh, with $work set to a scratch folder.

tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wheel_tools=${TURNWHEEL_WHEEL_TOOLS:-$chroots/wheel-tools}

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

# auditwheel must find the wheel within the policy its name claims: the
# newest policy it reports consistent may be no newer than that.
# A musl wheel's C library is looked for in the musl root given as LDPATHS.
audit_wheel() {
    local wheel=$1 ldpaths=${2:-} report found claimed
    report=$("$wheel_tools/bin/auditwheel" show ${ldpaths:+--ldpaths "$ldpaths"} "$wheel" 2>&1 | tr '\n' ' ') \
        || { echo "auditwheel failed: $report" >&2; return 1; }
    found=$(grep -o 'consistent with the following platform tag: "[^"]*"' <<< "$report" | grep -o '"[^"]*"' | tr -d '"') \
        || { echo "$report" >&2; return 1; }
    claimed=$(basename "$wheel" .whl | awk -F- '{print $NF}' | cut -d. -f1)
    echo "auditwheel: consistent with $found; the wheel claims $claimed"
    python3 - "$found" "$claimed" <<'PY'
import re, sys
found, claimed = (re.match(r"(many|musl)linux_(\d+)_(\d+)_(\w+)", tag).groups() for tag in sys.argv[1:])
assert found[0] == claimed[0] and found[3] == claimed[3], (found, claimed)
assert (int(found[1]), int(found[2])) <= (int(claimed[1]), int(claimed[2])), (found, claimed)
PY
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

# The module file suffix that the musl interpreter looks for: CPython 3.9
# names its platform arm-linux-gnueabihf even on musl, so it is asked.
musl_suffix() {
    chroot_exec "$1" /usr/local/bin/python3.9 -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))'
}

# The same in the musl root of tools/musl_python.sh, which has no shell and
# no network of its own: pip (new enough to know musllinux tags), pytest and
# hypothesis come as wheels fetched by the host.
test_wheel_in_musl_root() {
    local root=$1 wheel=$2 place=/tmp/wheel-test
    rm -rf "$root$place"
    mkdir -p "$root$place/wheels" "$root/root"
    local host39
    host39="$(pyenv prefix "$(pyenv versions --bare | grep -E '^3\.9(\.[0-9]+)?$' | sort -V | tail -n1)")/bin/python3.9"
    "$host39" -m pip download -q --only-binary=:all: -d "$root$place/wheels" pip pytest hypothesis
    cp "$wheel" "$root$place/wheels/"
    cp -r "$project/tests" "$root$place/tests"
    local pip name
    pip=$(basename "$(ls "$root$place"/wheels/pip-*.whl)")
    name=$(basename "$wheel")
    chroot_exec "$root" /usr/local/bin/python3.9 -m venv --without-pip "$place/venv"
    chroot_exec "$root" "$place/venv/bin/python" "$place/wheels/$pip/pip" install -q --no-index \
        --find-links "$place/wheels" pip pytest hypothesis "$place/wheels/$name"
    chroot_exec "$root" TURNWHEEL_INSTALLED_WHEEL="$name" "$place/venv/bin/python" -m pytest -q \
        -p no:cacheprovider --rootdir "$place" "$place/tests"
}
