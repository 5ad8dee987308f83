"""Prints a random scramble of face turns and the net it leaves.

    python3 examples/scramble.py [length] [seed]
"""

import random
import sys

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


def main() -> None:
    length = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    rng = random.Random(int(sys.argv[2])) if len(sys.argv) > 2 else random.Random()
    moves = scramble(length, rng)
    cube = Cube3x3()
    cube.do_moves(moves)
    print(moves)
    print(cube, end="")


if __name__ == "__main__":
    main()
