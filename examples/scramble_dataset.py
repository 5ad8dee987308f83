"""Makes a data set of random scrambles for learning: each scramble's moves,
the state it leaves, its facelet colours, and its length.

    python3 examples/scramble_dataset.py --count 1000000 --length 20 --out scrambles.npz
    python3 examples/scramble_dataset.py --count 600000 --length 20 --every-length --one-hot

Needs NumPy (pip install ".[batch]"). Scrambles never turn one face twice in
a row, and the same --seed makes the same data set. The file is a NumPy .npz
with the arrays states, codes (-1 past a scramble's end), facelets and
lengths; numpy.load reads it.
"""

from __future__ import annotations

import argparse
import sys
import time

import numpy as np

import turnwheel_batch as tb

CHUNK = 200_000  # scrambles made at a time, and a step of the progress bar


def positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be 1 or more, not {value}")
    return value


class Progress:
    """A progress bar on standard error, for runs longer than a moment."""

    def __init__(self, total: int, quiet: bool) -> None:
        self.total, self.done, self.start, self.quiet = total, 0, time.perf_counter(), quiet

    def advance(self, count: int) -> None:
        self.done += count
        elapsed = time.perf_counter() - self.start
        if self.quiet or elapsed < 0.5:
            return
        filled = int(30 * self.done / self.total)
        rate = self.done / elapsed
        print(f"\r[{'#' * filled}{'.' * (30 - filled)}] {self.done:,}/{self.total:,} scrambles, {rate:,.0f}/s",
              end="", file=sys.stderr, flush=True)

    def close(self) -> None:
        if not self.quiet and time.perf_counter() - self.start >= 0.5:
            print(file=sys.stderr)


def make(count: int, length: int, every_length: bool, size: int, seed: int | None, one_hot: bool,
         quiet: bool = True) -> dict[str, np.ndarray]:
    """The data set: `count` scrambles of `length` moves, or of every length 1 to `length` in turn."""
    words = 2 if size == 3 else 1
    lengths = (np.arange(count) % length + 1 if every_length else np.full(count, length)).astype(np.int8)
    states = np.empty((count, 2) if words == 2 else (count,), dtype=np.uint64)
    codes = np.full((count, length), -1, dtype=np.int8)
    generator = np.random.default_rng(seed)
    progress = Progress(count, quiet)
    for begin in range(0, count, CHUNK):
        end = min(count, begin + CHUNK)
        for scramble_length in np.unique(lengths[begin:end]):
            rows = begin + np.flatnonzero(lengths[begin:end] == scramble_length)
            made, moves = tb.scramble(rows.size, int(scramble_length), size=size, seed=generator)
            states[rows], codes[rows, :scramble_length] = made, moves
        progress.advance(end - begin)
    progress.close()
    return {"states": states, "codes": codes, "facelets": tb.facelets(states, one_hot=one_hot), "lengths": lengths}


def main() -> None:
    parser = argparse.ArgumentParser(description="Make a data set of random scrambles and their facelets (.npz).")
    parser.add_argument("--count", type=positive, default=100_000, help="scrambles (default 100,000)")
    parser.add_argument("--length", type=positive, default=20, help="moves a scramble (default 20)")
    parser.add_argument("--every-length", action="store_true",
                        help="scrambles of every length from 1 to --length, as many of each")
    parser.add_argument("--size", type=int, choices=(2, 3), default=3, help="the cube: 3 (default) or 2")
    parser.add_argument("--one-hot", action="store_true", help="facelets one-hot, (n, 54, 6), for a network's input")
    parser.add_argument("--seed", type=int, help="seed for a repeatable data set")
    parser.add_argument("--out", default="scrambles.npz", help="the file to write (default scrambles.npz)")
    parser.add_argument("--quiet", action="store_true", help="no progress bar")
    args = parser.parse_args()
    start = time.perf_counter()
    data = make(args.count, args.length, args.every_length, args.size, args.seed, args.one_hot, args.quiet)
    np.savez(args.out, states=data["states"], codes=data["codes"], facelets=data["facelets"], lengths=data["lengths"])
    seconds = time.perf_counter() - start
    print(f"{args.count:,} scrambles of {'1 to ' if args.every_length else ''}{args.length} moves in {seconds:.1f} s, "
          f"written to {args.out}: " + ", ".join(f"{name} {array.shape}" for name, array in data.items()))


if __name__ == "__main__":
    main()
