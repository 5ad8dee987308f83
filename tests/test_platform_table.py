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


@pytest.fixture(scope="module")
def driver():
    sys.path.insert(0, str(ROOT / "tools"))
    try:
        from driver import caches, runner, table
        yield table, runner, caches
    finally:
        sys.path.remove(str(ROOT / "tools"))


@pytest.mark.parametrize("row, refusal", [
    ("manylinux_2_17_s390x s390x-linux-gnu.2.17 - 3.12 headers:pyenv - -",
     "s390x is 64-bit big-endian, and the host's headers (pyenv) are 64-bit little-endian"),
    ("manylinux_2_17_i686 x86-linux-gnu.2.17 i686 3.11 headers:pyenv - -",
     "x86 is 32-bit little-endian, and the host's headers (pyenv) are 64-bit little-endian"),
    ("manylinux_2_36_loongarch64 loongarch64-linux-gnu.2.36 - 3.13 debian:forky qemu -",
     "loongarch64 has no line in arches.txt"),
    ("musllinux_1_2_x86_64 x86_64-linux-musl - 3.9 source native pypi",
     "two rows for cp39-musllinux_x86_64"),
    ("musllinux_1_2_x86_64 x86_64-linux-musl - 3.10 source native debian",
     "NumPy from debian for a row that does not run or has no Debian root"),
    ("manylinux_2_17_x86_64 x86_64-linux-gnu.2.17 - 3.12 headers:pyenv native -",
     "a row runs (native or qemu) if and only if it has interpreters here"),
    ("manylinux_2_17_x86_64 x86_64-linux-gnu.2.17 - 3.12 debian native -", "no such source of interpreters: debian"),
    ("manylinux_2_17_x86_64 x86_64-linux-gnu.2.17 - 3.12 pyenv native", "6 columns, not 7"),
])
def test_the_driver_refuses_a_table_it_would_build_wrongly(tmp_path, driver, row, refusal):
    table = driver[0]
    targets = tmp_path / "targets.txt"
    targets.write_text((ROOT / "tools" / "targets.txt").read_text() + row + "\n")
    with pytest.raises(table.TableError) as refused:
        table.read_table(targets)
    assert refusal in str(refused.value) and row.split()[0] in str(refused.value)
    # The command line says so and stops, before it needs root or any tool.
    shutil.copytree(ROOT / "tools", tmp_path / "tools", ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(targets, tmp_path / "tools" / "targets.txt")
    listed = subprocess.run([sys.executable, str(tmp_path / "tools" / "platforms.py"), "--markdown"],
                            capture_output=True, text=True, timeout=60)
    assert listed.returncode == 2 and refusal in listed.stderr, listed.stderr


def test_rows_are_typed_once_and_selected_by_identifier(driver):
    table = driver[0]
    rows = table.read_table()
    ids = [i for row in rows for i in row.identifiers()]
    assert len(ids) == len(set(ids))
    assert {"cp39-manylinux_x86_64", "cp313t-manylinux_x86_64", "pp311-manylinux_x86_64", "cp311-manylinux_s390x",
            "cp39-musllinux_armv7l", "core-neon-armv7l", "core-best-x86_64"} <= set(ids)
    core = next(row for row in rows if row.identifiers() == ["core-neon-armv7l"])
    assert (core.pythons, core.engine, core.runs, core.cpu) == ((), "neon", "qemu", "generic+v7a+vfp3d16")
    headers = next(row for row in rows if row.source.stage == "headers" and row.source.kind == "debian")
    assert (headers.runs, headers.builds_wheels, str(headers.source)) == (None, True, f"headers:debian:{headers.source.suite}")

    def chosen(*patterns):
        return [i for row in table.select(rows, list(patterns)) for i in row.identifiers()]

    # fnmatch, not substrings: "3.1" is no identifier, and cp31? is not cp313t.
    assert chosen("3.1") == [] and chosen("cp311") == []
    assert chosen("cp311-manylinux_s390x") == ["cp311-manylinux_s390x"]
    assert sorted(chosen("cp31?-manylinux_x86_64")) == ["cp310-manylinux_x86_64", "cp311-manylinux_x86_64",
                                                         "cp312-manylinux_x86_64", "cp313-manylinux_x86_64",
                                                         "cp314-manylinux_x86_64", "cp315-manylinux_x86_64"]
    musl = chosen("*-musllinux_*")
    assert musl and all("-musllinux_" in i for i in musl) and len(musl) == sum("-musllinux_" in i for i in ids)
    assert chosen("core-*", "pp*") == [i for i in ids if i.startswith(("core-", "pp"))]
    # A row keeps only the interpreters chosen, and stays what it was otherwise.
    (row,) = table.select(rows, ["cp312-manylinux_aarch64"])
    assert row.pythons == ("3.12",) and row.source.kind == "pyenv" and row.source.stage == "headers"


class TestRunner:
    """The job runner: needs before what needs them, ranks among the ready, a failure skipping its dependents."""

    def run(self, driver, tmp_path, jobs, slots=1):
        runner_module = driver[1]
        lines = []
        runner = runner_module.Runner(tmp_path / "logs", slots, report=lines.append)
        for job in jobs:
            runner.add(job)
        return runner, runner.run(), lines

    def job(self, driver, name, order, needs=(), rank=0, fails=False):
        runner_module = driver[1]

        def action(log):
            order.append(name)
            log.write(f"{name} at work\n")
            if fails:
                raise RuntimeError(f"{name} broke")
        return runner_module.Job(name, action, tuple(needs), rank)

    def test_order_follows_needs_then_rank(self, driver, tmp_path):
        order = []
        jobs = [self.job(driver, "late", order, rank=5), self.job(driver, "wheel", order, ["tools", "root"], rank=1),
                self.job(driver, "root", order, ["tools"], rank=0), self.job(driver, "tools", order, rank=3),
                self.job(driver, "suite", order, ["wheel"], rank=0),
                self.job(driver, "z first", order, rank=9), self.job(driver, "a second", order, rank=9)]
        runner, ok, lines = self.run(driver, tmp_path, jobs)
        assert ok and runner.failed == []
        # Of equal ranks, the job added first: not the name's order.
        assert order == ["tools", "root", "wheel", "suite", "late", "z first", "a second"]
        assert (tmp_path / "logs" / "suite.log").read_text() == "suite at work\n"
        assert sum(line.startswith("-- done") for line in lines) == 7

    def test_a_failure_skips_what_depends_on_it_and_nothing_else(self, driver, tmp_path):
        order = []
        jobs = [self.job(driver, "root", order, fails=True), self.job(driver, "build", order, ["root"]),
                self.job(driver, "check", order, ["build"]), self.job(driver, "other", order),
                self.job(driver, "after other", order, ["other"])]
        runner, ok, lines = self.run(driver, tmp_path, jobs)
        assert not ok and sorted(runner.failed) == ["build", "check", "root"]
        assert sorted(order) == ["after other", "other", "root"]
        failure = next(line for line in lines if line.startswith("-- FAILED root"))
        assert "root at work" in failure and "FAILED: root broke" in failure
        assert "-- skipped check: what it needs failed" in lines

    def test_a_missing_need_or_a_cycle_starts_nothing_that_depends_on_it(self, driver, tmp_path):
        order = []
        runner, ok, lines = self.run(driver, tmp_path, [self.job(driver, "a", order, ["nowhere"]),
                                                        self.job(driver, "b", order)])
        assert not ok and runner.failed == ["a"] and order == ["b"]
        assert "-- no job nowhere, which others need" in lines
        runner, ok, lines = self.run(driver, tmp_path, [self.job(driver, "a", order, ["b"]),
                                                        self.job(driver, "b", order, ["a"])])
        assert not ok and order == ["b"] and "need each other" in lines[0]
        runner_module = driver[1]
        with pytest.raises(ValueError, match="two jobs named a"):
            runner.add(self.job(driver, "a", order))

    def test_slots_run_side_by_side(self, driver, tmp_path):
        import threading
        runner_module = driver[1]
        both = threading.Barrier(2, timeout=30)  # broken, and failing the jobs, unless two run at once

        def action(log):
            both.wait()
        jobs = [runner_module.Job(name, action) for name in ("x", "y")]
        _, ok, _ = self.run(driver, tmp_path, jobs, slots=2)
        assert ok


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
        subprocess.run([sys.executable, "-c", "from driver import build; build.stage_sources()"], cwd=tmp_path / "tools",
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


def test_zig_object_caches_keep_what_the_last_runs_read(tmp_path, driver):
    import os
    import time
    caches = driver[2]
    cache = tmp_path / "zig-objects" / "build"

    def entry(name):
        (cache / "h").mkdir(parents=True, exist_ok=True)
        (cache / "o" / name).mkdir(parents=True)
        (cache / "h" / name).write_text("manifest")
        (cache / "o" / name / "x.o").write_bytes(b"object" * 100)

    def read(name):  # what a build that finds the entry does
        (cache / "h" / name).read_text()
        (cache / "o" / name / "x.o").read_bytes()

    def present():
        return sorted(p.relative_to(cache).as_posix() for p in cache.glob("[ho]/*"))

    for name in ("old", "hot", "cold"):
        entry(name)
    (cache / "h" / "timestamp").write_text("")
    started = time.time() + 1  # the entries above were made before this run
    time.sleep(1.1)
    # Entries the book has never seen count as used: enabling the prune keeps an existing cache.
    assert caches.prune(cache, started, keep=2).removed == 0
    probe = cache / "o" / "hot" / "x.o"
    before = probe.stat().st_atime
    time.sleep(1.1)
    probe.read_bytes()
    if probe.stat().st_atime <= before:
        pytest.skip("this file system records no reads (noatime)")
    for run in (2, 3):
        started = time.time()
        time.sleep(0.05)
        read("hot")
        if run == 2:
            read("cold")
        else:
            entry("new")  # compiled in this run
        pruned = caches.prune(cache, started, keep=2)
    # "old" was last used in run 1, "cold" in run 2: with two runs kept, only "old" goes, manifest and outputs.
    assert pruned.removed == 2 and pruned.freed == len("manifest") + 600
    assert present() == ["h/cold", "h/hot", "h/new", "h/timestamp", "o/cold", "o/hot", "o/new"]
    started = time.time()
    pruned = caches.prune(cache, started, keep=2)
    assert present() == ["h/hot", "h/new", "h/timestamp", "o/hot", "o/new"] and pruned.kept == 4
    # A lost or damaged book starts counting again, removing nothing.
    (cache / "runs.json").write_text("{")
    assert caches.prune(cache, time.time(), keep=1).removed == 0 and len(present()) == 5
    assert os.path.exists(cache / "runs.json")
