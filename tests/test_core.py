"""Builds and runs the checks of the pure C++ core (tests/core)."""

import os
import shutil
import struct
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SOURCES = [ROOT / "tests" / "core" / "check_core.cpp", *sorted((ROOT / "src" / "engine").glob("*.cpp"))]
FLAGS = ["-std=c++20", "-O2", "-Wall", "-Wextra", "-Wpedantic", "-Werror", f"-I{ROOT / 'src'}"]


def compiler():
    found = os.environ.get("CXX") or shutil.which("g++") or shutil.which("c++")
    if not found or not (ROOT / "src").is_dir():
        pytest.skip("needs a C++ compiler and the source tree")
    return found


def build_and_run(tmp_path, extra):
    binary = tmp_path / "check_core"
    subprocess.run([compiler(), *FLAGS, *extra, *map(str, SOURCES), "-o", str(binary)], check=True, timeout=300)
    result = subprocess.run([str(binary)], capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert ", 0 failed" in result.stdout
    return result.stdout


@pytest.fixture(scope="module")
def native_checks(tmp_path_factory):
    """The checks built for this machine, and what they print here: built once for the tests that need them."""
    folder = tmp_path_factory.mktemp("native")
    return folder / "check_core", build_and_run(folder, [])


def test_core_checks_native(native_checks):
    bits = 8 * struct.calcsize("P")
    assert f"({bits}-bit words)" in native_checks[1]


def require_32_bit_toolchain(tmp_path):
    """Skips (or, where CI requires it, fails) without a compiler for 32-bit x86."""
    probe = subprocess.run([compiler(), "-m32", "-x", "c++", "-std=c++20", "-", "-o", str(tmp_path / "probe")],
                           input="#include <cstdint>\nint main() {}\n", capture_output=True, text=True)
    if probe.returncode != 0:
        if os.environ.get("TURNWHEEL_REQUIRE_32BIT"):
            pytest.fail("no 32-bit C++ toolchain: " + probe.stderr[-500:])
        pytest.skip("no 32-bit C++ toolchain (Debian: g++-multilib)")


def run_emulated(qemu_name, cpu, binary):
    """The checks on an emulated processor; skips where that qemu is missing."""
    qemu = shutil.which(qemu_name)
    if qemu is None or os.uname().machine != "x86_64":
        pytest.skip(f"needs {qemu_name} on an x86-64 host (Debian: qemu-user-static)")
    # The checks are a plain program: nothing preloaded into this process
    # (a sanitizer's runtime) belongs in it.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD" and not k.startswith(("ASAN_", "UBSAN_"))}
    result = subprocess.run([qemu, "-cpu", cpu, str(binary)], capture_output=True, text=True, timeout=600, env=env)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


def test_core_checks_32_bit(tmp_path):
    if struct.calcsize("P") == 4:
        # On a 32-bit host the native build is the 32-bit one.
        assert "(32-bit words)" in build_and_run(tmp_path, [])
        return
    require_32_bit_toolchain(tmp_path)
    assert "(32-bit words)" in build_and_run(tmp_path, ["-m32"])


def test_core_checks_on_a_processor_without_ssse3(native_checks):
    # qemu's baseline x86-64 processor has SSE2 and nothing newer: the engine
    # check must find the plain version alone, and every check must pass.
    if shutil.which("qemu-x86_64-static") is None or os.uname().machine != "x86_64":
        pytest.skip("needs qemu-x86_64-static on an x86-64 host (Debian: qemu-user-static)")
    out = run_emulated("qemu-x86_64-static", "qemu64", native_checks[0])
    engines = [line.split()[1] for line in out.splitlines() if line.startswith("engine ")]
    assert engines == ["plain:"]
    assert "chosen engine: plain\n" in out


def test_core_checks_on_a_32_bit_processor_without_sse(tmp_path):
    # The i686 wheels assume what Debian's i386 does: an i686, which has no
    # SSE. Built for it, the checks must pass on a Pentium II (qemu's model
    # has MMX and nothing newer), the plain engine chosen; an SSE
    # instruction outside the vector versions would stop them with SIGILL.
    if shutil.which("qemu-i386-static") is None or os.uname().machine != "x86_64" or struct.calcsize("P") == 4:
        pytest.skip("needs qemu-i386-static on an x86-64 host (Debian: qemu-user-static)")
    require_32_bit_toolchain(tmp_path)
    binary = tmp_path / "check_core"
    subprocess.run([compiler(), *FLAGS, "-m32", "-march=i686", *map(str, SOURCES), "-o", str(binary)], check=True,
                   timeout=300)
    out = run_emulated("qemu-i386-static", "pentium2", binary)
    assert "chosen engine: plain\n" in out and ", 0 failed" in out


# ---- The versions of the move engine at link time ---------------------------------------------

ENGINE = ROOT / "src" / "engine"
# Each version's files: its reading of move strings and its kernels for many cubes.
VERSIONS = {name: [name, f"{name}_batch"] for name in ["plain", "ssse3", "avx2", "neon"]}


@pytest.fixture(scope="module")
def unoptimised_objects(tmp_path_factory):
    """The core checks and every file of the engine compiled at -O0, where nothing is inlined: every inline
    function a file uses is then a weak symbol in its object, and the linker keeps one copy of each name."""
    if os.uname().machine != "x86_64" or shutil.which("objdump") is None:
        pytest.skip("reads x86-64 objects with binutils (Debian: binutils)")
    folder = tmp_path_factory.mktemp("O0")
    objects = {}
    for source in SOURCES:
        objects[source.stem] = folder / f"{source.stem}.o"
        subprocess.run([compiler(), *FLAGS, "-O0", "-c", str(source), "-o", str(objects[source.stem])], check=True,
                       timeout=300)
    return objects


# Instructions by the least x86-64 extension that has them: VEX-encoded ones need AVX; these SSSE3 or SSE4.
NEWER_THAN_SSE2 = {"pshufb", "pmaddubsw", "palignr", "phaddw", "phaddd", "phsubw", "phsubd", "pabsb", "pabsw",
                   "pabsd", "psignb", "psignw", "psignd", "pmulhrsw", "ptest", "pblendvb", "pblendw", "pminsb",
                   "pminsd", "pminuw", "pminud", "pmaxsb", "pmaxsd", "pmaxuw", "pmaxud", "pmulld", "pextrb",
                   "pextrd", "pextrq", "pinsrb", "pinsrd", "pinsrq", "packusdw", "pcmpeqq", "pcmpgtq", "popcnt"}


def extension_level(mnemonics):
    """0 for SSE2 and older, 1 for SSSE3 and SSE4, 2 for AVX and newer."""
    if any(m.startswith("v") and m != "verr" for m in mnemonics):
        return 2
    return 1 if any(m.startswith(("pmovzx", "pmovsx")) or m in NEWER_THAN_SSE2 for m in mnemonics) else 0


def defined_functions(obj):
    """The functions an object defines, by mangled name: {name: has external linkage (strong or weak)}."""
    out = subprocess.run(["nm", "--defined-only", str(obj)], capture_output=True, text=True, check=True).stdout
    return {fields[2]: fields[1] in "TW" for fields in map(str.split, out.splitlines())
            if len(fields) == 3 and fields[1] in "TWtw"}


def mnemonics_of(obj, symbol):
    out = subprocess.run(["objdump", "-d", "--no-show-raw-insn", f"--disassemble={symbol}", str(obj)],
                         capture_output=True, text=True, check=True).stdout
    return {line.split("\t")[1].split()[0] for line in out.splitlines() if line.count("\t") >= 1 and ":\t" in line}


def test_no_two_versions_of_the_engine_share_a_function_built_differently(unoptimised_objects):
    # A name defined in two versions' objects is one function to the linker, which keeps either copy: each
    # must then be the same code, as the generic headers' functions (built outside every target region) are.
    functions, levels = {}, {}
    for name, files in VERSIONS.items():
        functions[name], levels[name] = {}, {}
        for file in files:
            found = defined_functions(unoptimised_objects[file])
            functions[name].update(found)
            levels[name].update({symbol: extension_level(mnemonics_of(unoptimised_objects[file], symbol))
                                 for symbol in found})
    # The reading of instructions finds what each version is built for.
    assert max(levels["avx2"].values()) == 2 and max(levels["ssse3"].values()) == 1
    assert max(levels["plain"].values()) == 0
    defined = {name: {symbol for symbol, external in found.items() if external} for name, found in functions.items()}
    shared = {symbol for a in VERSIONS for b in VERSIONS if a < b for symbol in defined[a] & defined[b]}
    assert any("scan_moves" in s for s in defined["avx2"]), defined["avx2"]  # the entries are seen
    differing = {symbol: {name: levels[name][symbol] for name in VERSIONS if symbol in defined[name]}
                 for symbol in shared}
    differing = {symbol: found for symbol, found in differing.items() if len(set(found.values())) > 1}
    assert not differing, differing


def test_core_checks_at_O0_with_avx2_linked_first_on_a_processor_without_avx(unoptimised_objects, tmp_path):
    # The order most likely to let AVX2's copy of a shared name stand in for SSSE3's; a Nehalem has SSSE3 and
    # SSE4.2 but no AVX, so any such copy stops the checks with SIGILL once the SSSE3 version is chosen.
    if shutil.which("qemu-x86_64-static") is None:
        pytest.skip("needs qemu-x86_64-static (Debian: qemu-user-static)")
    order = ["check_core", *VERSIONS["avx2"], *VERSIONS["ssse3"]]
    first = [unoptimised_objects[name] for name in order]
    rest = [obj for name, obj in unoptimised_objects.items() if name not in order]
    binary = tmp_path / "check_core_O0"
    subprocess.run([compiler(), *map(str, first + rest), "-o", str(binary)], check=True, timeout=300)
    out = run_emulated("qemu-x86_64-static", "Nehalem", binary)
    assert "chosen engine: ssse3\n" in out and ", 0 failed" in out
