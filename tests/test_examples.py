"""The example programs run, take --help, and refuse bad arguments cleanly."""

import subprocess
import sys
from pathlib import Path

import pytest

from model import CubeModel

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
pytestmark = pytest.mark.skipif(not EXAMPLES.is_dir(), reason="the examples are not beside the tests")


def run(*args):
    return subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, timeout=120)


@pytest.mark.parametrize("name", ["tour.py", "scramble.py", "order.py", "census.py", "scramble_dataset.py"])
def test_help_is_a_usage_not_a_run(name):
    if name == "scramble_dataset.py":
        pytest.importorskip("numpy")  # the batch module's example
    result = run(EXAMPLES / name, "--help")
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("usage: ")


def test_order_of_one_sequence():
    result = run(EXAMPLES / "order.py", "R U")
    assert result.returncode == 0, result.stderr
    assert result.stdout == "'R U': order 105 on the 3x3x3, 15 on the 2x2x2\n"


def test_scramble_is_repeatable_and_checks_its_length():
    first, second = run(EXAMPLES / "scramble.py", "--seed", 5, 12), run(EXAMPLES / "scramble.py", "--seed", 5, 12)
    assert first.returncode == 0 and first.stdout == second.stdout
    assert len(first.stdout.splitlines()[0].split()) == 12
    bad = run(EXAMPLES / "scramble.py", "many")
    assert bad.returncode == 2 and "Traceback" not in bad.stderr and "usage:" in bad.stderr


def test_tour_prints_the_binary_in_slot_groups():
    result = run(EXAMPLES / "tour.py")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    groups = lines[lines.index(next(l for l in lines if l.startswith("corner word in binary"))) + 1].split()
    assert [len(g) for g in groups] == [24] + [5] * 8


def model_census(depth):
    """Positions by distance under U, R and F, counted on the sticker model."""
    key = lambda model: frozenset(model.stickers.items())  # noqa: E731
    solved = CubeModel(2)
    seen, frontier, counts = {key(solved)}, [solved], [1]
    for _ in range(depth):
        level = []
        for parent in frontier:
            for face in "URF":
                for quarter_turns in (1, 2, 3):
                    child = CubeModel(2)
                    child.stickers = dict(parent.stickers)
                    child.turn(face, quarter_turns)
                    if key(child) not in seen:
                        seen.add(key(child))
                        level.append(child)
        frontier = level
        counts.append(len(level))
    return counts


@pytest.mark.parametrize("threads", [1, 3])
def test_census_counts_the_first_levels(threads):
    result = run(EXAMPLES / "census.py", "--depth", 4, "--threads", threads)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    counts = [int(line.split()[1].replace(",", "")) for line in lines[1:-1]]
    assert counts == model_census(4)
    assert lines[-1].startswith(f"total {sum(counts):,} positions in ")


def test_scramble_dataset_writes_consistent_scrambles(tmp_path):
    np = pytest.importorskip("numpy")
    import turnwheel_batch as tb

    out = tmp_path / "set.npz"
    result = run(EXAMPLES / "scramble_dataset.py", "--count", 300, "--length", 6, "--every-length", "--seed", 4,
                 "--out", out)
    assert result.returncode == 0, result.stderr
    data = np.load(out)
    assert data["lengths"].tolist()[:7] == [1, 2, 3, 4, 5, 6, 1]
    for state, codes, length in zip(data["states"], data["codes"], data["lengths"]):
        assert (codes[length:] == -1).all() and (codes[:length] >= 0).all()
        assert np.array_equal(tb.apply(tb.solved(1), codes[:length])[0], state)
    assert np.array_equal(data["facelets"], tb.facelets(data["states"]))
    again = tmp_path / "again.npz"
    run(EXAMPLES / "scramble_dataset.py", "--count", 300, "--length", 6, "--every-length", "--seed", 4, "--out", again)
    assert np.array_equal(np.load(again)["codes"], data["codes"])
    assert run(EXAMPLES / "scramble_dataset.py", "--count", 0).returncode == 2
