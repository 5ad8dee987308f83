"""Counts the positions of the 2x2x2 cube by their distance from solved, a
breadth-first search over the turns of U, R and F (quarter and half turns,
each one move), which keep the corner between D, B and L in place.

    python3 examples/census.py [--threads N] [--depth D]

Each position is reached by a move string, and a child's position is read
back through `state` from its parent's string plus one move. With several
threads each level's frontier is shared out among them; on a free-threaded
CPython they run at once. The threads share nothing while they expand: each
keeps its own cubes, strings and results, and each owns one shard of the
positions seen, which it alone merges its share of the new level into.
"""

from __future__ import annotations

import argparse
import time
from concurrent.futures import ThreadPoolExecutor

from turnwheel import Cube2x2

MOVES = [face + suffix for face in "URF" for suffix in ("", "'", "2")]
UNDO = {move: move[0] + {"": "'", "'": "", "2": "2"}[move[1:]] for move in MOVES}
# Positions are shared out by their word modulo a prime, then modulo the
# number of shards: the low bits of a word are one slot's piece, far from
# uniform, and the prime mixes every slot in.
PRIME = 1_000_003


def expand(paths: list[str], seen: list[dict[int, int]]) -> list[dict[int, str]]:
    """The children of `paths` not seen before, by shard, each with one string that reaches it."""
    # On a free-threaded build an object that threads share has its reference
    # count contended (every load of it counts, a method looked up on an
    # object included): each thread makes its own strings, cubes and
    # results, and calls through bound methods of its own. A new cube holds
    # a reference to its class, which all threads share, so one cube serves
    # all nine children of a parent.
    steps = [(" " + move, " " + UNDO[move]) for move in MOVES]
    known = [shard.__contains__ for shard in seen]
    shards, prime = len(seen), int(str(PRIME))  # this thread's own copy
    found: list[dict[int, str]] = [{} for _ in range(shards)]
    for path in paths:
        cube = Cube2x2()
        apply = cube.do_moves
        apply(path)
        for move, undo in steps:
            apply(move)
            state = cube.state
            shard = state % prime % shards
            part = found[shard]
            if state not in part and not known[shard](state):
                part[state] = path + move
            apply(undo)
    return found


def merge(found: list[dict[int, str]], seen: dict[int, int], distance: int) -> list[str]:
    """Adds one shard's new positions from every thread to `seen`; returns their strings."""
    level = []
    for part in found:
        for state, path in part.items():
            if state not in seen:
                seen[state] = distance
                level.append(path)
    return level


def census(threads: int = 1, depth: int | None = None) -> list[int]:
    """How many positions lie at each distance, up to `depth` (all of them by default)."""
    seen: list[dict[int, int]] = [{} for _ in range(threads)]
    solved = Cube2x2().state
    seen[solved % PRIME % threads][solved] = 0
    frontier, counts = [""], [1]
    with ThreadPoolExecutor(max_workers=threads) as pool:
        while frontier and (depth is None or len(counts) <= depth):
            chunks = [frontier[i::threads] for i in range(threads)]
            found = list(pool.map(expand, chunks, [seen] * threads))
            distance = len(counts)
            levels = pool.map(merge, ([part[k] for part in found] for k in range(threads)), seen, [distance] * threads)
            frontier = [path for level in levels for path in level]
            if frontier:
                counts.append(len(frontier))
    return counts


def positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be 1 or more, not {value}")
    return value


def main() -> None:
    parser = argparse.ArgumentParser(description="Count the 2x2x2 positions by distance from solved (U, R, F turns).")
    parser.add_argument("--threads", type=positive, default=1, help="threads to share each level among (default 1)")
    parser.add_argument("--depth", type=positive, help="stop after this distance (default: every position)")
    args = parser.parse_args()
    start = time.perf_counter()
    counts = census(args.threads, args.depth)
    seconds = time.perf_counter() - start
    print("distance  positions")
    for distance, count in enumerate(counts):
        print(f"{distance:8}  {count:9,}")
    print(f"total {sum(counts):,} positions in {seconds:.2f} s with {args.threads} thread{'s' * (args.threads > 1)}")


if __name__ == "__main__":
    main()
