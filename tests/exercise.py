"""Runs every member of both classes, every error path and every re-entrance
case once per round, and every function of turnwheel_batch with its error
paths where NumPy is there. Used by the leak tests and by tools/valgrind.sh."""

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


def round_of_batch_calls(rows: int = 3) -> None:
    import numpy as np
    import turnwheel_batch as tb

    big, small = tb.solved(rows), tb.solved(rows, 2)
    for states in (big, small):
        tb.apply(states, "R U2 F' x")
        tb.apply(states, [0, 5, 17], out=states.copy(), threads=1)
        tb.step(states, np.arange(rows) % 18)
        tb.children(states)
        tb.children(states, "R U", out=np.empty((rows, 2, *states.shape[1:]), np.int64))
        tb.inverse(states, out=states.copy())
        tb.facelets(states, one_hot=True)
        tb.is_solved(states)
        tb.corner_index(states)
        tb.apply(np.repeat(states, 2, axis=0)[::2], "R")  # strided: copied once
        tb.apply(states.astype(np.int64), "L")
        expect(TypeError, lambda: tb.apply(states.astype(float), "R"))
        expect(ValueError, lambda: tb.step(states, [18] * rows))
        expect(UnicodeEncodeError, lambda: tb.apply(states, "R \ud800"))
    read_only = big.copy()
    read_only.flags.writeable = False
    expect(ValueError, lambda: tb.apply(read_only, "R", out=read_only))
    expect(ValueError, lambda: tb.inverse(np.array([[0x398A418820, 0]], np.uint64)))
    expect(ValueError, lambda: tb.corner_words([-1]))
    expect(ValueError, lambda: tb.edge_index(big, (0, 0)))
    expect(TypeError, lambda: tb.apply(big))
    expect(TypeError, lambda: tb.apply(big, "R", threads=1, nothing=2))
    expect(TypeError, lambda: tb.apply("not an array", "R"))
    tb.edge_index(big, (0, 1, 2))
    tb.edge_words([0, 5], 3)
    tb.corner_words([0, 7])
    tb.scramble(rows, 5, seed=1)
    tb.scramble(rows, 4, size=2, seed=np.random.default_rng(1))
    tb.move_codes("R U F!")
    tb.move_text([0, 1])


def main() -> None:
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    try:
        import numpy  # noqa: F401
    except ImportError:
        batch = False
    else:
        batch = True
    for _ in range(rounds):
        round_of_calls()
        if batch:
            round_of_batch_calls()
    if batch:  # once, split over threads
        round_of_batch_calls(rows=40000)
    print(f"{rounds} rounds of every member and error path: done{' (and turnwheel_batch)' if batch else ''}")


if __name__ == "__main__":
    main()
