"""turnwheel_batch's figures, and its peer: the usual NumPy way of many cubes,
an (n, 54) uint8 array of facelet colours turned by fancy indexing with each
move's permutation of the 54 facelets."""

from __future__ import annotations

import sys
import time
import timeit
from pathlib import Path
from typing import Callable

from figures import Row, at_least, at_most

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))


def permutations(moves: tuple[str, ...]):
    """P[m][k]: the facelet whose sticker move m brings to facelet k, facelets in the order str()
    prints them; from the tests' 3-D sticker model, each sticker labelled with where it starts."""
    import numpy as np
    from model import CubeModel

    def labelled() -> CubeModel:
        model = CubeModel()
        model.stickers = {key: key for key in model.stickers}
        return model

    def printed(model: CubeModel) -> list:
        faces = model.net()
        order = [label for row in faces["U"] for label in row]
        order += [label for r in range(3) for name in "LFRB" for label in faces[name][r]]
        return order + [label for row in faces["D"] for label in row]

    start = {label: k for k, label in enumerate(printed(labelled()))}
    table = np.empty((len(moves), 54), dtype=np.intp)
    for m, move in enumerate(moves):
        model = labelled()
        model.apply([move])
        table[m] = [start[label] for label in printed(model)]
    return table


def best_seconds(call: Callable[[], object], rounds: int) -> float:
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def batch_rows(scale: float, rounds: int) -> list[Row]:
    try:
        import numpy as np
        import turnwheel_batch as tb
    except ImportError:
        return [Row("turnwheel_batch", "NumPy not installed", "-", None)]
    n = max(10_000, int(1_000_000 * scale))
    rows: list[Row] = []
    states, _ = tb.scramble(n, 20, seed=1)
    text = tb.move_text(np.random.default_rng(2).integers(0, 18, 20))
    codes = np.random.default_rng(3).integers(0, 18, n).astype(np.int8)
    out = np.empty_like(states)
    children = np.empty((n, 18, 2), dtype=np.uint64)
    speed = {}
    for threads in (1, 2):
        speed["apply", threads] = n / best_seconds(lambda: tb.apply(states, text, out=out, threads=threads), rounds)
        speed["step", threads] = n / best_seconds(lambda: tb.step(states, codes, out=out, threads=threads), rounds)
        speed["children", threads] = 18 * n / best_seconds(lambda: tb.children(states, out=children, threads=threads),
                                                           max(2, rounds // 2))
    rows.append(at_least(f"batch: apply of a 20-move string, {n:,} states", speed["apply", 1] / 1e6, 100, "M/s"))
    rows.append(at_least("batch: step, one random move a state", speed["step", 1] / 1e6, 200, "M/s"))
    walks = n / best_seconds(lambda: tb.scramble(n, 20, seed=1, threads=1), rounds)
    rows.append(at_least("batch: scramble(n, 20), new arrays", walks / 1e6, 40, "M/s"))
    rows.append(at_least("batch: children, all 18", speed["children", 1] / 1e6, 300, "M/s"))
    rows.append(at_least("batch: step, 2 threads / 1", speed["step", 2] / speed["step", 1], 1.7, "x"))
    rows.append(at_least("batch: children, 2 threads / 1", speed["children", 2] / speed["children", 1], 1.7, "x"))
    corner = n / best_seconds(lambda: tb.corner_index(states, threads=1), rounds)
    edge = n / best_seconds(lambda: tb.edge_index(states, 7, threads=1), rounds)
    rows.append(at_least("batch: corner_index, new array", corner / 1e6, 100, "M/s"))
    rows.append(at_least("batch: edge_index(7), new array", edge / 1e6, 50, "M/s"))

    # The peer, on the same states as facelet colours.
    table = permutations(tb.MOVES)
    facelets = tb.facelets(states)
    assert np.array_equal(facelets[:, table[codes[0]]][0], tb.facelets(tb.apply(states[:1], tb.MOVES[codes[0]]))[0])
    rows_index = np.arange(n)[:, None]
    peer_step = n / best_seconds(lambda: facelets[rows_index, table[codes]], max(2, rounds // 3))
    peer_children = 18 * n / best_seconds(lambda: facelets[:, table.ravel()], max(2, rounds // 3))
    rows.append(Row("NumPy facelets: one move a state (facelets[rows, P[codes]])", f"{1e9 / peer_step:.0f} ns a state",
                    "-", None))
    rows.append(at_least("batch: step / NumPy's per-row fancy index", speed["step", 1] / peer_step, 30, "x"))
    rows.append(Row("NumPy facelets: all 18 children (facelets[:, P.ravel()])", f"{1e9 / peer_children:.1f} ns a child",
                    "-", None))
    rows.append(at_least("batch: children / NumPy's fancy index", speed["children", 1] / peer_children, 10, "x"))

    one = states[:1].copy()
    call = min(timeit.repeat(lambda: tb.apply(one, "R U"), number=max(1000, int(100_000 * scale)), repeat=rounds))
    rows.append(at_most("batch: one state through apply", call / max(1000, int(100_000 * scale)) * 1e6, 1, " us"))
    rows.append(memory_row(tb, np, states, text))
    return rows


def memory_row(tb, np, states, text: str) -> Row:
    """What apply allocates beyond its result, traced."""
    try:
        import tracemalloc
    except ImportError:  # PyPy
        return Row("batch: apply's peak memory / its result", "not measured here", "-", None)
    tracemalloc.start()
    try:
        result = tb.apply(states, text)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    return at_most("batch: apply's peak memory / its result", peak / result.nbytes, 1.01, "x")
