"""A short tour of turnwheel: both cubes, turns, move strings and the net."""

import argparse

from turnwheel import Cube2x2, Cube3x3

SCRAMBLE = "R U F' L2 D B!"


def slot_groups(binary: str) -> str:
    """The 24 unused high bits, then slot 7 down to slot 0, five bits each."""
    return " ".join([binary[:24]] + [binary[24 + 5 * i : 29 + 5 * i] for i in range(8)])


def main() -> None:
    description = "A short tour of both cubes: turns, move strings, the corner word and the nets."
    argparse.ArgumentParser(description=description).parse_args()
    cube = Cube3x3()
    print("A new 3x3x3 cube is solved:")
    print(cube, end="")
    print(f"corner word: {cube.corners:#x}")

    cube.do_r_move()
    cube.do_u_move()
    cube.do_r_prime_move()
    cube.do_u_prime_move()
    print(f"after R U R' U' as four method calls: {cube.corners:#x}")

    cube.do_moves("R U R' U' " * 5)
    print(f"five more times as one move string, back home: {cube.corners == Cube3x3().corners}")

    cube.do_moves(SCRAMBLE)
    print(f"after {SCRAMBLE}:")
    print(cube, end="")
    print("corner word in binary: 24 unused bits, then slot 7 down to slot 0, five bits each:")
    print(slot_groups(cube.to_binary()))

    small = Cube2x2()
    print("A new 2x2x2 cube:")
    print(small, end="")
    small.do_moves(SCRAMBLE)
    print("the 2x2x2 cube after the same moves has the same corners:", small.state == cube.corners)
    print(small, end="")


if __name__ == "__main__":
    main()
