"""Threads sharing cubes: every call is atomic under the interpreter lock."""

import sys
import threading
import time

import pytest

from turnwheel import Cube2x2, Cube3x3

from exercise import Index

SOLVED = 0x398A418820


@pytest.fixture(autouse=True)
def frequent_switches():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def run_threads(*targets):
    errors = []

    def guard(target):
        try:
            target()
        except BaseException as error:  # noqa: BLE001 - reported below
            errors.append(error)

    threads = [threading.Thread(target=guard, args=(t,)) for t in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


def valid_corner_word(word):
    slots = [((word >> 5 * i) & 7, (word >> 5 * i + 3) & 3) for i in range(8)]
    return word < 2**40 and sorted(p for p, _ in slots) == list(range(8)) and sum(t for _, t in slots) % 3 == 0


@pytest.mark.parametrize("cls", [Cube3x3, Cube2x2])
def test_one_cube_many_threads(cls):
    cube = cls()
    # Each move string is the identity, so whatever the order of the calls
    # the cube ends solved, unless a call were ever seen half applied.
    identities = ["R U R' U' " * 6, "F2 B2 " * 2, "L D L' D' " * 6, "U D' " * 4]
    seen = []

    def writer(moves):
        return lambda: [cube.do_moves(moves) for _ in range(2000)]

    def reader():
        for _ in range(2000):
            word = cube.corners if cls is Cube3x3 else cube.state
            seen.append(word)
            assert valid_corner_word(word)
            assert str(cube).count("\n") == (9 if cls is Cube3x3 else 6)
            assert valid_corner_word(int(cube.to_binary(), 2))

    run_threads(*(writer(m) for m in identities), reader)
    assert (cube.corners if cls is Cube3x3 else cube.state) == SOLVED
    assert str(cube) == str(cls())
    assert seen


def test_commuting_turns_from_two_threads():
    cube = Cube3x3()
    run_threads(lambda: [cube.do_u_move() for _ in range(4000)], lambda: [cube.do_d_prime_move() for _ in range(4000)])
    assert str(cube) == str(Cube3x3())


def test_separate_cubes_compose_as_in_one_thread():
    sequences = ["R U F' L2 D B!", "F R U R' U' F'", "L' B2 D U2 R", "B F' U D' L R'"]
    cubes = [Cube3x3() for _ in sequences]
    small = [Cube2x2() for _ in sequences]

    def work(i):
        return lambda: [(cubes[i].do_moves(sequences[i]), small[i].do_moves(sequences[i])) for _ in range(500)]

    run_threads(*(work(i) for i in range(len(sequences))))
    for i, moves in enumerate(sequences):
        reference = Cube3x3()
        reference.do_moves((moves + " ") * 500)
        assert (cubes[i].corners, str(cubes[i])) == (reference.corners, str(reference))
        assert small[i].state == reference.corners


def test_four_threads_take_turns_and_the_borrow_refuses_overlap():
    # U turns, D turns and cycles of the four middle-layer edges all commute,
    # so the cube must end at U^u D^d C^c for the calls that succeeded, and
    # every state a reader sees is one of those 64. The edge cycle's
    # __index__ sleeps: while it does the cube is borrowed, and the others'
    # calls in that time are refused, not queued.
    cube = Cube3x3()
    done = threading.Event()
    applied = {"u": 0, "d": 0, "c": 0}
    refused = []

    def expected(u, d, c):
        reference = Cube3x3()
        for _ in range(u % 4):
            reference.do_u_move()
        reference.do_moves("D " * (d % 4))
        for _ in range(c % 4):
            reference.rotate_edges(40, 45, 50, 55, 0)
        return str(reference), reference.corners

    reachable = {expected(u, d, c) for u in range(4) for d in range(4) for c in range(4)}
    nets, words = {net for net, _ in reachable}, {word for _, word in reachable}

    def attempt(call):
        try:
            call()
            return True
        except RuntimeError as error:
            refused.append(str(error))
            return False

    def turner():
        while not done.is_set():
            applied["u"] += attempt(cube.do_u_move)

    def mover():
        while not done.is_set():
            applied["d"] += attempt(lambda: cube.do_moves("D D' D"))

    def reader():
        while not done.is_set():
            attempt(lambda: seen.append(str(cube)))
            attempt(lambda: seen.append(cube.corners))
            if len(seen) > 1000:
                assert set(seen) <= nets | words
                seen.clear()

    def cycler():
        try:
            for i in range(600):
                pause = Index(50, lambda: time.sleep(0.0002))
                if i % 3 == 2:
                    applied["c"] -= attempt(lambda: cube.rotate_edges_prime(40, 45, pause, 55, 0))
                else:
                    applied["c"] += attempt(lambda: cube.rotate_edges(40, 45, pause, 55, 0))
        finally:
            done.set()

    seen = []
    run_threads(turner, mover, reader, cycler)
    assert set(seen) <= nets | words
    assert (str(cube), cube.corners) == expected(applied["u"], applied["d"], applied["c"])
    assert refused and set(refused) <= {"Already borrowed", "Already mutably borrowed"}
    assert applied["c"] == 200  # the cycler's own calls never overlap each other
