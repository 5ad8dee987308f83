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


def test_core_checks_native(tmp_path):
    bits = 8 * struct.calcsize("P")
    assert f"({bits}-bit words)" in build_and_run(tmp_path, [])


def test_core_checks_32_bit(tmp_path):
    if struct.calcsize("P") == 4:
        # On a 32-bit host the native build is the 32-bit one.
        assert "(32-bit words)" in build_and_run(tmp_path, [])
        return
    probe = subprocess.run([compiler(), "-m32", "-x", "c++", "-std=c++20", "-", "-o", str(tmp_path / "probe")],
                           input="#include <cstdint>\nint main() {}\n", capture_output=True, text=True)
    if probe.returncode != 0:
        if os.environ.get("TURNWHEEL_REQUIRE_32BIT"):
            pytest.fail("no 32-bit C++ toolchain: " + probe.stderr[-500:])
        pytest.skip("no 32-bit C++ toolchain (Debian: g++-multilib)")
    assert "(32-bit words)" in build_and_run(tmp_path, ["-m32"])


def test_core_checks_on_a_processor_without_ssse3(tmp_path):
    # qemu's baseline x86-64 processor has SSE2 and nothing newer: the engine
    # check must find the plain version alone, and every check must pass.
    qemu = shutil.which("qemu-x86_64-static")
    if qemu is None or os.uname().machine != "x86_64":
        pytest.skip("needs qemu-x86_64-static on an x86-64 host (Debian: qemu-user-static)")
    build_and_run(tmp_path, [])
    # The checks are a plain program: nothing preloaded into this process
    # (a sanitizer's runtime) belongs in it.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD" and not k.startswith(("ASAN_", "UBSAN_"))}
    result = subprocess.run([qemu, "-cpu", "qemu64", str(tmp_path / "check_core")], capture_output=True, text=True,
                            timeout=600, env=env)
    assert result.returncode == 0, result.stdout + result.stderr
    engines = [line.split()[1] for line in result.stdout.splitlines() if line.startswith("engine ")]
    assert engines == ["plain:"]
    assert "chosen engine: plain\n" in result.stdout


def test_core_checks_on_a_32_bit_processor_without_sse(tmp_path):
    # The i686 wheels assume what Debian's i386 does: an i686, which has no
    # SSE. Built for it, the checks must pass on a Pentium II (qemu's model
    # has MMX and nothing newer), the plain engine chosen; an SSE
    # instruction outside the vector versions would stop them with SIGILL.
    qemu = shutil.which("qemu-i386-static")
    if qemu is None or os.uname().machine != "x86_64":
        pytest.skip("needs qemu-i386-static on an x86-64 host (Debian: qemu-user-static)")
    if struct.calcsize("P") == 4 or subprocess.run(
            [compiler(), "-m32", "-x", "c++", "-std=c++20", "-", "-o", str(tmp_path / "probe")],
            input="int main() {}\n", capture_output=True, text=True).returncode != 0:
        pytest.skip("no 32-bit C++ toolchain (Debian: g++-multilib)")
    binary = tmp_path / "check_core"
    subprocess.run([compiler(), *FLAGS, "-m32", "-march=i686", *map(str, SOURCES), "-o", str(binary)], check=True,
                   timeout=300)
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD" and not k.startswith(("ASAN_", "UBSAN_"))}
    result = subprocess.run([qemu, "-cpu", "pentium2", str(binary)], capture_output=True, text=True, timeout=600,
                            env=env)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "chosen engine: plain\n" in result.stdout and ", 0 failed" in result.stdout
