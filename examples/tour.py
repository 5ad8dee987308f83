"""A short tour of turnwheel: both cubes, turns, move strings and the net."""

from turnwheel import Cube2x2, Cube3x3


def main() -> None:
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

    cube.do_moves("F2 B' L R! D U2")
    print("after F2 B' L R' D U2:")
    print(cube, end="")
    print("corner word in binary, slot 7 to slot 0 in groups of five from bit 39:")
    print(cube.to_binary())

    small = Cube2x2()
    print("A new 2x2x2 cube:")
    print(small, end="")
    small.do_moves("F2 B' L R! D U2")
    print("the 2x2x2 cube after the same moves has the same corners:", small.state == cube.corners)
    print(small, end="")


if __name__ == "__main__":
    main()
