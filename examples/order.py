"""How many repetitions of a move sequence bring the cube back to where it
started: the order of the sequence, found by turning until the net repeats.

    python3 examples/order.py "R U R' U'"     # 6
"""

import argparse
from typing import Union

from turnwheel import Cube2x2, Cube3x3

Cube = Union[Cube2x2, Cube3x3]
EXAMPLES = ["R U R' U'", "R U", "R U2 D' B D'", "F"]


def order(moves: str, cube: Cube, limit: int = 10_000) -> int:
    """Repetitions of `moves` that restore `cube`; the net shows the whole state."""
    start = str(cube)
    for count in range(1, limit + 1):
        cube.do_moves(moves)
        if str(cube) == start:
            return count
    raise ValueError(f"{moves!r} has no order up to {limit}")


def main() -> None:
    parser = argparse.ArgumentParser(description="Print the order of move sequences on both cubes.")
    parser.add_argument("sequences", nargs="*", metavar="MOVES", help="a move string such as \"R U R' U'\"")
    args = parser.parse_args()
    for moves in args.sequences or EXAMPLES:
        print(f"{moves!r}: order {order(moves, Cube3x3())} on the 3x3x3, {order(moves, Cube2x2())} on the 2x2x2")


if __name__ == "__main__":
    main()
