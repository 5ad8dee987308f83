"""Quarter turns of both cubes, the edge 4-cycle, and their invariants."""

import pytest
from hypothesis import given, strategies as st

from conftest import FACES, METHOD, QUARTER_TURNS, apply_methods, move_lists, snapshot
from turnwheel import Cube2x2, Cube3x3

SOLVED = 0x398A418820

# Corner word after each quarter turn of a solved cube.
AFTER_ONE_TURN = {
    "U": 0x398A410403,
    "U'": 0x398A400C41,
    "D": 0x21CC518820,
    "D'": 0x3148718820,
    "R": 0x3B6241D940,
    "R'": 0x3AAC41C5A0,
    "L": 0x998AF40834,
    "L'": 0xA18A878833,
    "F": 0x748A4BAC20,
    "F'": 0x5DCA493820,
    "B": 0x3999018AA9,
    "B'": 0x3993518A0C,
}

# Offsets of each face's clockwise edge cycle, and whether it flips.
EDGE_CYCLES = {
    "U": ((0, 5, 10, 15), 0),
    "D": ((20, 35, 30, 25), 0),
    "R": ((5, 45, 25, 50), 0),
    "L": ((15, 55, 35, 40), 0),
    "F": ((10, 50, 30, 55), 1),
    "B": ((0, 40, 20, 45), 1),
}


def slots(word):
    """(piece, twist) of each of the eight corner slots."""
    return [((word >> 5 * i) & 7, (word >> 5 * i + 3) & 3) for i in range(8)]


def scrambled(moves, cls=Cube3x3):
    cube = cls()
    apply_methods(cube, moves)
    return cube


def inverse(move):
    return move[0] if move.endswith("'") else move + "'"


class TestSingleTurns:
    @pytest.mark.parametrize("move", QUARTER_TURNS)
    def test_from_solved(self, move):
        whole, corners_only, small = Cube3x3(), Cube3x3(), Cube2x2()
        getattr(whole, METHOD[move])()
        getattr(corners_only, METHOD[move] + "_corners")()
        getattr(small, METHOD[move])()
        assert whole.corners == corners_only.corners == small.state == AFTER_ONE_TURN[move]

    def test_u_turn_by_slot(self):
        cube = Cube3x3()
        cube.do_u_move()
        assert slots(cube.corners) == [(3, 0), (0, 0), (1, 0), (2, 0), (4, 0), (5, 0), (6, 0), (7, 0)]

    @pytest.mark.parametrize("method", ["do_u_move_edges", "do_u_prime_move_edges", "do_d_move_edges",
                                        "do_d_prime_move_edges"])
    def test_edge_only_turns_leave_corners(self, method):
        cube = scrambled(["R", "F'", "L2"])
        before = cube.corners
        getattr(cube, method)()
        assert cube.corners == before
        assert str(cube) != str(scrambled(["R", "F'", "L2"]))


class TestComposition:
    @given(move_lists)
    def test_turn_then_prime_restores(self, moves):
        for cls in (Cube3x3, Cube2x2):
            for move in QUARTER_TURNS:
                cube = scrambled(moves, cls)
                before = snapshot(cube)
                getattr(cube, METHOD[move])()
                getattr(cube, METHOD[inverse(move)])()
                assert snapshot(cube) == before

    @given(move_lists, st.sampled_from(QUARTER_TURNS))
    def test_four_equal_turns_restore(self, moves, move):
        for cls in (Cube3x3, Cube2x2):
            cube = scrambled(moves, cls)
            before = snapshot(cube)
            for _ in range(4):
                getattr(cube, METHOD[move])()
            assert snapshot(cube) == before

    @given(move_lists, st.sampled_from(QUARTER_TURNS))
    def test_corner_only_turn_leaves_edges(self, moves, move):
        # A corner-only turn and the edge cycle of the same face make the
        # whole turn; the edge cycle alone leaves the corner word.
        cube, reference = scrambled(moves), scrambled(moves)
        offsets, ori = EDGE_CYCLES[move[0]]
        getattr(cube, METHOD[move] + "_corners")()
        cycle = cube.rotate_edges_prime if move.endswith("'") else cube.rotate_edges
        corners = cube.corners
        cycle(*offsets, ori)
        assert cube.corners == corners
        getattr(reference, METHOD[move])()
        assert snapshot(cube) == snapshot(reference)

    @given(move_lists)
    def test_u_and_d_halves_make_the_whole_turn(self, moves):
        for face in ("u", "u_prime", "d", "d_prime"):
            halves, whole = scrambled(moves), scrambled(moves)
            getattr(halves, f"do_{face}_move_corners")()
            getattr(halves, f"do_{face}_move_edges")()
            getattr(whole, f"do_{face}_move")()
            assert snapshot(halves) == snapshot(whole)

    def test_sexy_move_has_order_six(self):
        for cls in (Cube3x3, Cube2x2):
            cube = cls()
            states = []
            for _ in range(6):
                apply_methods(cube, ["R", "U", "R'", "U'"])
                states.append(snapshot(cube))
            assert states[0][0] == 0x3C8A41DA01
            assert states[-1] == snapshot(cls())
            assert snapshot(cls()) not in states[:-1]

    @given(move_lists)
    def test_two_cube_sizes_agree_on_corners(self, moves):
        assert scrambled(moves).corners == scrambled(moves, Cube2x2).state


class TestInvariants:
    @given(move_lists)
    def test_corner_word_stays_a_twisted_permutation(self, moves):
        word = scrambled(moves).corners
        assert 0 <= word < 2**40
        pieces = [piece for piece, _ in slots(word)]
        twists = [twist for _, twist in slots(word)]
        assert sorted(pieces) == list(range(8))
        assert all(t in (0, 1, 2) for t in twists)
        assert sum(twists) % 3 == 0

    @given(move_lists)
    def test_every_turn_twists_by_a_multiple_of_three(self, moves):
        cube = scrambled(moves)
        for move in QUARTER_TURNS:
            getattr(cube, METHOD[move] + "_corners")()
            assert sum(t for _, t in slots(cube.corners)) % 3 == 0


class TestEdgeCycle:
    def test_u_cycle_is_the_edge_half_of_u(self):
        cycled, turned = Cube3x3(), Cube3x3()
        cycled.rotate_edges(0, 5, 10, 15, 0)
        turned.do_u_move_edges()
        assert snapshot(cycled) == snapshot(turned)
        cycled.rotate_edges_prime(0, 5, 10, 15, 0)
        assert snapshot(cycled) == snapshot(Cube3x3())

    def test_prime_cycle_runs_the_other_way(self):
        a, b = Cube3x3(), Cube3x3()
        a.rotate_edges_prime(0, 5, 10, 15, 0)
        b.do_u_prime_move_edges()
        assert snapshot(a) == snapshot(b)

    @given(move_lists, st.sampled_from(list(EDGE_CYCLES)), st.integers(0, 3))
    def test_ori_uses_bit_zero_only(self, moves, face, ori):
        offsets, _ = EDGE_CYCLES[face]
        a, b = scrambled(moves), scrambled(moves)
        a.rotate_edges(*offsets, ori)
        b.rotate_edges(*offsets, ori & 1)
        assert snapshot(a) == snapshot(b)

    def test_odd_ori_flips_the_moved_edges(self):
        flipped, plain = Cube3x3(), Cube3x3()
        flipped.rotate_edges(0, 5, 10, 15, 1)
        plain.rotate_edges(0, 5, 10, 15, 0)
        assert flipped.corners == plain.corners
        assert str(flipped) != str(plain)
        # Flipping twice is no flip.
        flipped.rotate_edges(0, 5, 10, 15, 1)
        plain.rotate_edges(0, 5, 10, 15, 0)
        assert snapshot(flipped) == snapshot(plain)

    @given(move_lists, st.sampled_from(list(EDGE_CYCLES)), st.integers(0, 2**58 - 1), st.integers(0, 2**63))
    def test_offsets_are_taken_modulo_64(self, moves, face, multiple, ori):
        offsets, _ = EDGE_CYCLES[face]
        a, b = scrambled(moves), scrambled(moves)
        a.rotate_edges(*(o + 64 * ((multiple >> k) & 0xFF) for k, o in enumerate(offsets)), ori)
        b.rotate_edges(*offsets, ori)
        assert snapshot(a) == snapshot(b)
        a.rotate_edges_prime(64, 69, 74, 79, ori)
        b.rotate_edges_prime(0, 5, 10, 15, ori)
        assert snapshot(a) == snapshot(b)

    @given(move_lists, st.lists(st.integers(0, 11), min_size=4, max_size=4, unique=True), st.integers(0, 1))
    def test_cycle_then_prime_restores(self, moves, slot_numbers, ori):
        offsets = [5 * s for s in slot_numbers]
        cube = scrambled(moves)
        before = snapshot(cube)
        cube.rotate_edges(*offsets, ori)
        cube.rotate_edges_prime(*offsets, ori)
        assert snapshot(cube) == before
        for _ in range(4):
            cube.rotate_edges(*offsets, 0)
        assert snapshot(cube) == before

    @pytest.mark.parametrize("face", FACES)
    def test_every_face_turn_is_its_corner_turn_and_edge_cycle(self, face):
        offsets, ori = EDGE_CYCLES[face]
        for prime in ("", "'"):
            move = face + prime
            built, turned = scrambled(["F", "R2", "U'"]), scrambled(["F", "R2", "U'"])
            getattr(built, METHOD[move] + "_corners")()
            (built.rotate_edges_prime if prime else built.rotate_edges)(*offsets, ori)
            getattr(turned, METHOD[move])()
            assert snapshot(built) == snapshot(turned)

    def test_offsets_off_the_slot_grid_do_not_fail(self):
        cube = Cube3x3()
        for args in [(1, 2, 3, 4, 1), (63, 62, 61, 60, 1), (0, 0, 0, 0, 1), (59, 3, 64, 127, 7)]:
            cube.rotate_edges(*args)
            cube.rotate_edges_prime(*args)
        cube.do_moves("R U F")  # turns carry whatever the word holds
        assert cube.corners == scrambled(["R", "U", "F"]).corners


class TestKnownOrders:
    """Orders of move sequences known from the physical cube."""

    @pytest.mark.parametrize(
        "moves, order_3x3, order_2x2",
        [("R U R' U'", 6, 6), ("R U", 105, 15), ("R U2 D' B D'", 1260, 45), ("F2 B2", 2, 2), ("R L", 4, 4)],
    )
    def test_order(self, moves, order_3x3, order_2x2):
        for cls, order in [(Cube3x3, order_3x3), (Cube2x2, order_2x2)]:
            cube, solved = cls(), str(cls())
            for count in range(1, order + 1):
                cube.do_moves(moves)
                assert (str(cube) == solved) == (count == order)
