"""The corner database example: its kernels against a plain breadth-first
search, its rank, its reader, and its runs on real Dask clusters (started
here on 127.0.0.1 and stopped by the test that started them)."""

import json
import os
import random
import signal
import subprocess
import sys
import time
from itertools import permutations
from pathlib import Path

import pytest

from turnwheel import Cube2x2, Cube3x3

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
pytestmark = pytest.mark.skipif(not EXAMPLES.is_dir(), reason="the examples are not beside the tests")
pytest.importorskip("distributed")  # the cluster extra; checked first, as numpy dies on some processors
np = pytest.importorskip("numpy")
psutil = pytest.importorskip("psutil")
sys.path.insert(0, str(EXAMPLES))
import cornerdb  # noqa: E402
import corner_database  # noqa: E402

MOVES = {faces: [f + s for f in faces for s in ("", "2", "'")] for faces in ("UDRLFB", "URF")}
SOLVED = Cube2x2().state


def plain_bfs(faces, depth):
    """The corner words at each distance, found with move strings alone."""
    seen, levels = {SOLVED: ""}, [{SOLVED: ""}]
    for _ in range(depth):
        level = {}
        for path in levels[-1].values():
            for move in MOVES[faces]:
                cube = Cube2x2()
                cube.do_moves(f"{path} {move}")
                if cube.state not in seen:
                    seen[cube.state] = level[cube.state] = f"{path} {move}"
        levels.append(level)
    return [set(level) for level in levels]


def saved_levels(folder):
    manifest = json.loads((folder / "manifest.json").read_text())
    store = corner_database.Store(folder)
    rows = [np.concatenate([np.load(store.part(d, p)) for p in range(manifest["partitions"])])
            for d in range(len(manifest["counts"]))]
    return manifest, rows


@pytest.mark.parametrize("faces, depth, partitions, chunk", [("UDRLFB", 4, 3, 700), ("URF", 6, 5, 37)])
def test_kernels_find_each_level_of_a_plain_search(tmp_path, faces, depth, partitions, chunk):
    expected = plain_bfs(faces, depth)
    counts, complete, _ = corner_database.search(corner_database.InProcess(), corner_database.Store(tmp_path),
                                                 faces, partitions, depth, chunk, resume=False, quiet=True)
    assert counts == [len(level) for level in expected] and not complete
    manifest, rows = saved_levels(tmp_path)
    assert manifest["counts"] == counts
    for distance, level in enumerate(rows):
        assert set(level[:, 0].tolist()) == expected[distance]
        for word, path in random.Random(distance).sample(level.tolist(), min(50, len(level))):
            text = cornerdb.path_text(path)
            cube = Cube2x2()
            cube.do_moves(text)
            assert cube.state == word and len(text.split()) == distance
            assert {move[0] for move in text.split()} <= set(faces)


def test_a_search_that_runs_out_of_positions_is_complete(tmp_path):
    # Only U turns: four positions, then nothing new.
    counts, complete, _ = corner_database.search(corner_database.InProcess(), corner_database.Store(tmp_path),
                                                 "U", 2, None, 10, resume=False, quiet=True)
    assert counts == [1, 3] and complete
    assert sorted(p.name for p in (tmp_path / "levels").iterdir()) == ["00", "01"]


def random_corner_word(rng):
    pieces = rng.sample(range(8), 8)
    twists = [rng.randrange(3) for _ in range(7)]
    twists.append(-sum(twists) % 3)
    return sum((p | t << 3) << 5 * i for i, (p, t) in enumerate(zip(pieces, twists)))


def test_rank_is_a_bijection_onto_the_group():
    assert cornerdb.rank(SOLVED) == 0
    # Permutations alone take every lexicographic rank once, in order.
    perms = list(permutations(range(8)))
    words = np.array([sum(p << 5 * i for i, p in enumerate(perm)) for perm in perms], np.uint64)
    assert (cornerdb.ranks(words) == np.arange(40320, dtype=np.uint32) * 2187).all()
    # Twists alone take every value of the base-3 number once.
    twisted = [sum((i | t << 3) << 5 * i for i, t in enumerate(tw + (-sum(tw) % 3,)))
               for tw in np.ndindex(*[3] * 7)]
    assert sorted(cornerdb.ranks(np.array(twisted, np.uint64)).tolist()) == list(range(2187))
    rng = random.Random(7)
    sample = list({random_corner_word(rng) for _ in range(20000)})
    fast = cornerdb.ranks(np.array(sample, np.uint64)).tolist()
    assert fast == [cornerdb.rank(word) for word in sample]
    assert len(set(fast)) == len(sample) and max(fast) < cornerdb.GROUP_SIZE == 88_179_840


@pytest.mark.parametrize("word", [SOLVED + 1, SOLVED | 3 << 3, SOLVED + (1 << 3), 1 << 40, -1])
def test_rank_refuses_what_is_not_a_corner_arrangement(word):
    with pytest.raises(ValueError, match="not a corner word"):
        cornerdb.rank(word)


def test_lookup_reads_the_distances_of_both_cube_classes(tmp_path):
    depth = 4
    levels = plain_bfs("UDRLFB", depth)
    with pytest.raises(ValueError, match="cover every position"):
        cornerdb.write_database([(d, [np.array(sorted(level), np.uint64)]) for d, level in enumerate(levels)],
                                tmp_path / "distances.bin")
    # A table of the first levels only, the rest marked 15, in the documented layout.
    table = np.full(cornerdb.DATABASE_BYTES, 0xFF, np.uint8)
    for distance, level in enumerate(levels):
        for word in level:
            index = cornerdb.rank(word)
            table[index // 2] &= ~np.uint8(0xF << 4 * (index % 2)) | np.uint8(distance << 4 * (index % 2))
    table.tofile(tmp_path / "distances.bin")
    rng = random.Random(3)
    for _ in range(200):
        moves = " ".join(rng.choice(MOVES["UDRLFB"]) for _ in range(rng.randrange(depth + 1)))
        small, big = Cube2x2(), Cube3x3()
        small.do_moves(moves)
        big.do_moves(moves)
        distance = next(d for d, level in enumerate(levels) if small.state in level)
        assert cornerdb.lookup(small.state, tmp_path) == distance == cornerdb.lookup(big.corners, tmp_path)
    (tmp_path / "short.bin").write_bytes(b"\0" * 10)
    with pytest.raises(ValueError, match="not the 44,089,920 of a corner database"):
        cornerdb.lookup(SOLVED, tmp_path / "short.bin")


# --- runs on clusters ------------------------------------------------------------------------------------------

COUNTS = [1, 18, 243, 2874, 28000, 205416, 1168516]


def table(stdout):
    lines = stdout.splitlines()
    start = lines.index("distance  positions") + 1
    rows = [line.split() for line in lines[start:] if line.split()[0].isdigit()]
    return [int(count.replace(",", "")) for _, count in rows]


def cli(*args, timeout=180, **kw):
    return subprocess.run([sys.executable, str(EXAMPLES / "corner_database.py"), "--quiet", *map(str, args)],
                          capture_output=True, text=True, timeout=timeout, **kw)


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


def test_a_local_cluster_of_two_workers_and_a_resumed_run(tmp_path):
    first = cli("--workers", 2, "--depth", 3, "--out", tmp_path / "run")
    assert first.returncode == 0, first.stderr
    assert table(first.stdout) == COUNTS[:4] and "cluster: 2 workers at tcp://127.0.0.1:" in first.stderr
    again = cli("--workers", 2, "--depth", 5, "--out", tmp_path / "run")
    assert again.returncode == 2 and "--resume" in again.stderr
    resumed = cli("--workers", 2, "--depth", 5, "--out", tmp_path / "run", "--resume")
    fresh = cli("--no-cluster", "--depth", 5, "--out", tmp_path / "fresh", "--partitions", 16)
    assert resumed.returncode == 0 and fresh.returncode == 0, resumed.stderr + fresh.stderr
    assert table(resumed.stdout) == table(fresh.stdout) == COUNTS[:6]
    for distance in range(6):
        name = f"levels/{distance:02}/0003.npy"
        assert (tmp_path / "run" / name).read_bytes() == (tmp_path / "fresh" / name).read_bytes()


def test_a_cluster_started_apart_runs_the_tasks_it_is_sent(tmp_path):
    # The workers run elsewhere, with nothing of the examples on their path:
    # the task functions reach them by upload_file.
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
        result = cli("--scheduler", address, "--moves", "URF", "--depth", 6, "--out", tmp_path / "out")
        assert result.returncode == 0, result.stderr
        assert table(result.stdout) == [len(level) for level in plain_bfs("URF", 6)]
        assert "cluster: 2 workers" in result.stderr
    finally:
        for process in started:
            stop(process)


def test_a_worker_killed_in_the_middle_of_a_level_loses_nothing(tmp_path):
    out = tmp_path / "out"
    run = subprocess.Popen([sys.executable, str(EXAMPLES / "corner_database.py"), "--quiet", "--workers", "2",
                            "--depth", "6", "--chunk", "4000", "--out", str(out)],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            manifest = out / "manifest.json"
            if manifest.exists() and len(json.loads(manifest.read_text())["counts"]) >= 6:
                break  # distance 5 is saved: distance 6 is under way
            time.sleep(0.05)
        else:
            pytest.fail("the run never reached distance 5")
        workers = [p for p in psutil.Process(run.pid).children(recursive=True)
                   if "resource_tracker" not in " ".join(p.cmdline())]
        assert len(workers) == 2
        workers[0].send_signal(signal.SIGKILL)
        stdout, stderr = run.communicate(timeout=240)
    finally:
        stop(run)
    assert run.returncode == 0, stderr
    assert table(stdout) == COUNTS
