"""Prints a random scramble of face turns and the net it leaves.

    python3 examples/scramble.py [--seed SEED] [length]
"""

import argparse
import random

from turnwheel import Cube3x3

FACES = "UDRLFB"
SUFFIXES = ("", "'", "2")


def scramble(length: int, rng: random.Random) -> str:
    """A scramble that never turns the same face twice in a row."""
    moves: list[str] = []
    last = ""
    for _ in range(length):
        face = rng.choice([f for f in FACES if f != last])
        moves.append(face + rng.choice(SUFFIXES))
        last = face
    return " ".join(moves)


def count(text: str) -> int:
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be 0 or more, not {value}")
    return value


def main() -> None:
    parser = argparse.ArgumentParser(description="Print a random scramble of face turns and the net it leaves.")
    parser.add_argument("length", nargs="?", type=count, default=20, help="number of face turns (default 20)")
    parser.add_argument("--seed", type=int, help="seed for a repeatable scramble")
    args = parser.parse_args()
    moves = scramble(args.length, random.Random(args.seed))
    cube = Cube3x3()
    cube.do_moves(moves)
    print(moves)
    print(cube, end="")


if __name__ == "__main__":
    main()
