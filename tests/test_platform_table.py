"""The README shows the table of platforms as the driver that builds them reads it."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
DRIVER = ROOT / "tools" / "platforms.py"
pytestmark = pytest.mark.skipif(not DRIVER.exists(), reason="the tools are not beside the tests")


def test_readme_shows_the_table_of_targets():
    table = subprocess.run([sys.executable, str(DRIVER), "--markdown"], capture_output=True, text=True, check=True,
                           timeout=60).stdout
    assert table.count("\n") == 2 + sum(1 for line in (ROOT / "tools" / "targets.txt").read_text().splitlines()
                                         if line.strip() and not line.startswith("#"))
    assert table in (ROOT / "README.md").read_text()


@pytest.mark.parametrize("row, refusal", [
    ("manylinux_2_17_s390x s390x-linux-gnu.2.17 - 3.12 headers:pyenv - -",
     "s390x is 64-bit big-endian, and the host's headers (pyenv) are 64-bit little-endian"),
    ("manylinux_2_17_i686 x86-linux-gnu.2.17 i686 3.11 headers:pyenv - -",
     "x86 is 32-bit little-endian, and the host's headers (pyenv) are 64-bit little-endian"),
    ("manylinux_2_36_loongarch64 loongarch64-linux-gnu.2.36 - 3.13 debian:forky qemu -",
     "loongarch64 has no line in arches.txt"),
    ("musllinux_1_2_x86_64 x86_64-linux-musl - 3.9 source native pypi",
     "two jobs named build musllinux_1_2_x86_64-3.9"),
    ("musllinux_1_2_x86_64 x86_64-linux-musl - 3.10 source native debian",
     "NumPy from debian for a row that does not run or has no Debian root"),
])
def test_the_driver_refuses_a_table_it_would_build_wrongly(tmp_path, row, refusal):
    shutil.copytree(ROOT / "tools", tmp_path / "tools", ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(ROOT / "pyproject.toml", tmp_path)
    with open(tmp_path / "tools" / "targets.txt", "a") as targets:
        targets.write(row + "\n")
    listed = subprocess.run([sys.executable, str(tmp_path / "tools" / "platforms.py"), str(tmp_path / "out"), "--list"],
                            capture_output=True, text=True, timeout=60)
    assert listed.returncode != 0 and refusal in listed.stderr, listed.stderr


def test_staged_sources_change_only_where_the_checkout_did(tmp_path):
    # zig finds what it compiled only while the files it read stay the same files: a new checkout of the
    # same sources must leave the staged copy untouched, and a changed one must reach it.
    shutil.copytree(ROOT / "tools", tmp_path / "tools", ignore=shutil.ignore_patterns("__pycache__"))
    files = {"CMakeLists.txt": "project(x)\n", "src/a.cpp": "int a;\n", "src/b.hpp": "#pragma once\n",
             "stubs/s.pyi": "x: int\n", "tests/core/check.cpp": "int main() {}\n"}
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text)
    staged = tmp_path / "cache" / "sources"

    def stage():
        subprocess.run([sys.executable, "-c", "import platforms; platforms.stage_sources()"], cwd=tmp_path / "tools",
                       env={"TURNWHEEL_CHROOTS": str(tmp_path / "cache"), "PATH": "/usr/bin:/bin"}, check=True,
                       timeout=60)
        return {path.relative_to(staged).as_posix(): path.stat() for path in staged.rglob("*") if path.is_file()}

    first = stage()
    assert sorted(first) == sorted(files)
    (tmp_path / "src" / "a.cpp").write_text("int a = 1;\n")
    (tmp_path / "src" / "b.hpp").unlink()
    second = stage()
    assert sorted(second) == sorted(set(files) - {"src/b.hpp"})
    assert (staged / "src" / "a.cpp").read_text() == "int a = 1;\n"
    for name in set(second) - {"src/a.cpp"}:
        assert (second[name].st_ino, second[name].st_mtime_ns) == (first[name].st_ino, first[name].st_mtime_ns), name
