"""Runs every member of both classes, every error path and every re-entrance
case once per round. Used by the leak tests and by tools/valgrind.sh."""

from __future__ import annotations

import sys

from turnwheel import Cube2x2, Cube3x3


class Index:
    def __init__(self, value: object, action=None) -> None:
        self.value, self.action = value, action

    def __index__(self):
        if self.action is not None:
            self.action()
        return self.value


def expect(error: type[BaseException], call) -> None:
    try:
        call()
    except error:
        return
    raise AssertionError(f"{call} did not raise {error.__name__}")


def round_of_calls(text: str = "R U R' U' F2 B! L\u3000D2 x") -> None:
    big, small = Cube3x3(), Cube2x2()
    for cube in (big, small):
        for name in dir(cube):
            if name.startswith("do_") and name != "do_moves":
                getattr(cube, name)()
        cube.do_moves(text)
        cube.do_moves(moves=text)
        cube.to_binary()
        str(cube)
        expect(TypeError, lambda: cube.do_moves(5))
        expect(TypeError, lambda: cube.do_moves(b"U"))
        expect(TypeError, lambda: cube.do_moves("U", moves="R"))
        expect(TypeError, lambda: cube.do_moves())
        expect(TypeError, lambda: cube.do_moves(x="U"))
        expect(UnicodeEncodeError, lambda: cube.do_moves("U \ud800"))
        expect(TypeError, lambda: cube.do_u_move(1))
        expect(TypeError, lambda: type(cube)(1))
        expect(TypeError, lambda: type(cube)(x=1))
        expect(AttributeError, lambda: setattr(cube, "x", 1))
    big.corners
    small.state
    big.rotate_edges(0, 5, 10, 15, 1)
    big.rotate_edges_prime(i0=Index(0), i1=5, i2=10, i3=15, ori=True)
    expect(TypeError, lambda: big.rotate_edges(0, 5, 10, 15))
    expect(TypeError, lambda: big.rotate_edges(0, 5, 10, 15, 0, 1))
    expect(TypeError, lambda: big.rotate_edges(0, 5, 10, 15, 0, i0=1))
    expect(TypeError, lambda: big.rotate_edges(0, 5, 10, 15, z=1))
    expect(TypeError, lambda: big.rotate_edges(0, 5, 10, 1.5, 0))
    expect(TypeError, lambda: big.rotate_edges(0, 5, Index("x"), 15, 0))
    expect(OverflowError, lambda: big.rotate_edges(0, -1, 10, 15, 0))
    expect(OverflowError, lambda: big.rotate_edges_prime(0, 5, 10, 15, 2**64))
    expect(RuntimeError, lambda: big.rotate_edges(0, 5, Index(10, big.do_u_move), 15, 0))
    expect(RuntimeError, lambda: big.rotate_edges(0, 5, Index(10, lambda: big.corners), 15, 0))
    expect(RuntimeError, lambda: big.rotate_edges(0, 5, Index(10, lambda: str(big)), 15, 0))
    expect(ValueError, lambda: big.rotate_edges(Index(0, lambda: int("x")), 5, 10, 15, 0))
    broken = Cube3x3()
    broken.rotate_edges(29, 0, 5, 10, 0)
    expect(BaseException, lambda: str(broken))
    broken.do_moves("R U")


def main() -> None:
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    for _ in range(rounds):
        round_of_calls()
    print(f"{rounds} rounds of every member and error path: done")


if __name__ == "__main__":
    main()
