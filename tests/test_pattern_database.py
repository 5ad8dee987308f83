"""The pattern database example: its tables against the cube's own moves
(every entry one move from the level before), in one process and on Dask
clusters started here on 127.0.0.1 and stopped by the test that started
them; stopped, resumed and interrupted runs; the tables' readers."""

import json
import os
import resource
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

try:
    import distributed  # noqa: F401 - the cluster extra, with numpy and psutil
    import numpy as np
    import psutil
except ImportError:
    pytest.skip("the cluster extra (Dask, NumPy) is not installed", allow_module_level=True)

import turnwheel_batch as tb
from turnwheel import Cube2x2, Cube3x3

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
if not EXAMPLES.is_dir():
    pytest.skip("the examples are not beside the tests", allow_module_level=True)
sys.path.insert(0, str(EXAMPLES))
import pattern_database  # noqa: E402
import patterndb  # noqa: E402

CORNERS = [1, 18, 243, 2874, 28000, 205416, 1168516, 5402628, 20776176, 45391616, 15139616, 64736]


def build(folder, pattern, depth=None, threads=2, resume=False):
    """A search in this process, as --no-cluster runs it."""
    runner = pattern_database.Threads(threads)
    try:
        return pattern_database.search(runner, folder, patterndb.pattern(pattern), depth, resume, quiet=True)
    finally:
        runner.close()


def states_at(pattern, positions):
    """Cubes with the pattern's pieces where the positions put them."""
    if pattern.name == "corners":
        return tb.corner_words(positions)
    states = tb.solved(len(positions))
    states[:, 1] = tb.edge_words(positions, pattern.spec)
    return states


def check_consistent(table, positions):
    """Every position at d > 0 has a neighbour at d - 1, and none has one below d - 1."""
    for chunk in np.array_split(positions, max(1, len(positions) // 100_000)):
        own = patterndb.distances(table, chunk).astype(np.int64)
        assert (own < patterndb.UNKNOWN).all()
        children = tb.children(states_at(table.pattern, chunk))
        near = patterndb.lookup(table, children.reshape(-1, *children.shape[2:])).reshape(len(chunk), -1)
        nearest = near.astype(np.int64).min(axis=1)
        assert (nearest >= own - 1).all()
        assert (nearest[own > 0] == own[own > 0] - 1).all()


def manifest(folder, name):
    return json.loads((folder / name).read_text())


class TestTables:
    def test_a_small_pattern_is_consistent_in_full(self, tmp_path):
        counts, complete = build(tmp_path, "edges:4")
        assert complete and sum(counts) == tb.pattern_size(4) == 12 * 11 * 10 * 9 * 16
        table = patterndb.load(tmp_path, "edges:4")
        check_consistent(table, np.arange(table.pattern.size))
        assert manifest(tmp_path, "edges-4.json") == {"pattern": "edges:4", "counts": counts, "complete": True}

    def test_the_corner_table_has_the_published_distribution(self, tmp_path):
        counts, complete = build(tmp_path, "corners")
        assert counts == CORNERS and complete
        table = patterndb.load(tmp_path / "corners.bin")
        rng = np.random.default_rng(5)
        check_consistent(table, rng.integers(0, table.pattern.size, 20_000))
        # The 2x2's corners are the same pattern, read from the classes as well as from arrays.
        for moves in ["", "R", "R U R' U'", "F2 L' D B2 R U'"]:
            big, small = Cube3x3(), Cube2x2()
            big.do_moves(moves)
            small.do_moves(moves)
            assert patterndb.lookup(table, big) == patterndb.lookup(table, small) <= len(moves.split())

    def test_the_lower_bound_never_exceeds_a_scramble(self, tmp_path):
        build(tmp_path, "corners", depth=6)
        build(tmp_path, "edges:5")
        tables = [patterndb.load(tmp_path, "corners"), patterndb.load(tmp_path, "edges:5")]
        assert tables[0].depth == 6 and not tables[0].complete and tables[1].complete
        for length in range(0, 15):
            states, _ = tb.scramble(300, length, seed=length)
            bound = patterndb.lower_bound(states, tables)
            assert (bound <= length).all()
            # Past the corner table's depth a position it has not reached counts as one further.
            assert (bound >= patterndb.lookup(tables[1], states)).all()
        assert (patterndb.lower_bound(tb.solved(3), tables) == 0).all()
        with pytest.raises(TypeError, match="corners only"):
            patterndb.lookup(tables[1], Cube3x3())

    def test_a_search_stopped_and_resumed_makes_the_same_table(self, tmp_path):
        build(tmp_path / "resumed", "edges:5", depth=4)
        assert manifest(tmp_path / "resumed", "edges-5.json")["complete"] is False
        # What a search stopped in the middle of a level wrote of it is forgotten, and a level whose pages
        # did not all reach the disk (the machine stopped) is made again.
        table = np.memmap(tmp_path / "resumed" / "edges-5.bin", np.uint8, "r+")
        table[table == 0xFF] = 0x55
        lost = np.flatnonzero((table & 15) == 3)[:40]
        table[lost] |= 15
        table.flush()
        del table
        build(tmp_path / "resumed", "edges:5", resume=True)
        build(tmp_path / "fresh", "edges:5", threads=1)
        assert (tmp_path / "resumed" / "edges-5.bin").read_bytes() == (tmp_path / "fresh" / "edges-5.bin").read_bytes()


# --- the command, on clusters ------------------------------------------------------------------------------


def distribution(stdout):
    lines = stdout.splitlines()
    start = lines.index("distance  positions") + 1
    rows = [line.split() for line in lines[start:] if line.split()[0].isdigit()]
    return [int(count.replace(",", "")) for _, count in rows]


def command(*args, **options):
    return [sys.executable, str(EXAMPLES / "pattern_database.py"), "--quiet", *map(str, args)]


def cli(*args, timeout=300, **options):
    return subprocess.run(command(*args), capture_output=True, text=True, timeout=timeout, **options)


def stop(process):
    """Ends a process and everything it started."""
    try:
        family = [process] + psutil.Process(process.pid).children(recursive=True)
    except psutil.NoSuchProcess:
        family = [process]
    for member in family:
        try:
            member.terminate()
        except (psutil.NoSuchProcess, ProcessLookupError):
            pass
    for member in family:
        try:
            member.wait(timeout=20)
        except (psutil.TimeoutExpired, subprocess.TimeoutExpired):
            member.kill()
        except psutil.NoSuchProcess:
            pass


class TestCommand:
    def test_the_6_edge_table_on_two_workers_is_the_one_of_one_process(self, tmp_path):
        cluster = cli("--pattern", "edges:6", "--workers", 2, "--out", tmp_path / "cluster")
        alone = cli("--pattern", "edges:6", "--no-cluster", "--workers", 1, "--out", tmp_path / "alone")
        assert cluster.returncode == 0 and alone.returncode == 0, cluster.stderr + alone.stderr
        assert "cluster: 2 workers at tcp://127.0.0.1:" in cluster.stderr
        counts = distribution(cluster.stdout)
        assert counts == distribution(alone.stdout) and sum(counts) == tb.pattern_size(6)
        assert (tmp_path / "cluster" / "edges-6.bin").read_bytes() == (tmp_path / "alone" / "edges-6.bin").read_bytes()
        table = patterndb.load(tmp_path / "cluster" / "edges-6.bin")
        check_consistent(table, np.random.default_rng(6).integers(0, table.pattern.size, 50_000))

    def test_a_run_resumed_on_a_cluster_and_a_second_run_refused(self, tmp_path):
        first = cli("--workers", 2, "--depth", 3, "--out", tmp_path)
        assert first.returncode == 0, first.stderr
        assert distribution(first.stdout) == CORNERS[:4]
        again = cli("--depth", 5, "--no-cluster", "--out", tmp_path)
        assert again.returncode == 2 and "--resume continues it" in again.stderr
        resumed = cli("--workers", 2, "--depth", 5, "--out", tmp_path, "--resume")
        assert resumed.returncode == 0, resumed.stderr
        assert distribution(resumed.stdout) == CORNERS[:6]

    def test_a_cluster_started_apart_is_sent_the_bitmaps(self, tmp_path):
        # The workers run elsewhere, with nothing of the examples on their path: the tasks reach them by
        # upload_file, and the bitmaps by broadcast, as they cannot map this machine's files.
        where = tmp_path / "workers"
        where.mkdir()
        env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
        address_file = tmp_path / "scheduler.json"
        dask = [sys.executable, "-m", "dask"]
        started = [subprocess.Popen([*dask, "scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                                     "--scheduler-file", address_file], cwd=where, env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
        try:
            deadline = time.monotonic() + 60
            while not address_file.exists() and time.monotonic() < deadline:
                time.sleep(0.2)
            address = json.loads(address_file.read_text())["address"]
            assert address.startswith("tcp://127.0.0.1:")
            for _ in range(2):
                started.append(subprocess.Popen([*dask, "worker", address, "--host", "127.0.0.1", "--nthreads", "1",
                                                 "--no-dashboard", "--local-directory", where], cwd=where, env=env,
                                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            from distributed import Client

            with Client(address, timeout=60) as client:
                client.wait_for_workers(2, timeout=60)
            result = cli("--scheduler", address, "--pattern", "edges:5", "--out", tmp_path / "out")
            assert result.returncode == 0, result.stderr
            assert "cluster: 2 workers" in result.stderr
        finally:
            for process in started:
                stop(process)
        build(tmp_path / "here", "edges:5")
        assert (tmp_path / "out" / "edges-5.bin").read_bytes() == (tmp_path / "here" / "edges-5.bin").read_bytes()

    def test_a_worker_killed_in_the_middle_of_a_level_loses_nothing(self, tmp_path):
        run = subprocess.Popen(command("--pattern", "edges:7", "--workers", 2, "--out", tmp_path),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            deadline = time.monotonic() + 240
            while time.monotonic() < deadline:
                saved = tmp_path / "edges-7.json"
                if saved.exists() and len(json.loads(saved.read_text())["counts"]) >= 8:
                    break  # distance 7 is saved: the largest levels are under way
                time.sleep(0.05)
            else:
                pytest.fail("the run never reached distance 7")
            workers = [p for p in psutil.Process(run.pid).children(recursive=True)
                       if "resource_tracker" not in " ".join(p.cmdline()) and "nanny" not in " ".join(p.cmdline())]
            workers = [p for p in workers if p.children() == []]  # the worker processes, not their nannies
            assert len(workers) == 2
            workers[0].send_signal(signal.SIGKILL)
            stdout, stderr = run.communicate(timeout=400)
        finally:
            stop(run)
        assert run.returncode == 0, stderr
        assert "the workers changed during" in stdout and "their tasks ran again on the others" in stdout
        assert sum(distribution(stdout)) == tb.pattern_size(7)
        table = patterndb.load(tmp_path, "edges:7")
        check_consistent(table, np.random.default_rng(7).integers(0, table.pattern.size, 20_000))


class TestFailures:
    def test_an_out_that_cannot_be_written_is_reported_once(self, tmp_path):
        (tmp_path / "file").write_text("")
        result = cli("--no-cluster", "--out", tmp_path / "file" / "below")
        assert result.returncode == 1 and result.stderr.count("cannot write") == 1
        assert "Traceback" not in result.stderr

    def test_a_full_disk_is_reported_once(self, tmp_path):
        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past the limit fails, as on a full disk
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))

        result = cli("--no-cluster", "--out", tmp_path, preexec_fn=small_files)
        assert result.returncode == 1 and result.stderr.count("cannot write") == 1, result.stderr
        assert "File too large" in result.stderr and "Traceback" not in result.stderr

    def test_a_cluster_that_cannot_start_says_why(self, monkeypatch):
        import distributed

        def refuse(**options):
            raise OSError("no port to listen on")

        monkeypatch.setattr(distributed, "LocalCluster", refuse)
        with pytest.raises(pattern_database.ClusterError,
                           match="cannot start a cluster of 2 workers on 127.0.0.1: OSError: no port to listen on"):
            pattern_database.Cluster(2, None)

    @pytest.mark.parametrize("text", ["edges", "edges:0", "edges:9", "corner"])
    def test_a_pattern_is_corners_or_up_to_8_edges(self, text):
        with pytest.raises(ValueError, match='"corners" or "edges:K" with K from 1 to 8'):
            patterndb.pattern(text)
