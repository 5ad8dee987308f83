"""to_binary: the corner word as 64 binary digits."""

import pytest
from hypothesis import given

from conftest import apply_methods, move_lists
from turnwheel import Cube2x2, Cube3x3

CUBES = [Cube3x3, Cube2x2]


def word(cube):
    return cube.corners if isinstance(cube, Cube3x3) else cube.state


@pytest.mark.parametrize("cls", CUBES)
def test_known_values(cls):
    cube = cls()
    assert cube.to_binary() == "0000000000000000000000000011100110001010010000011000100000100000"
    # Read in groups of five from the right: piece i in slot i, untwisted.
    groups = [cube.to_binary()[64 - 5 * (i + 1) : 64 - 5 * i] for i in range(8)]
    assert groups == [format(i, "05b") for i in range(8)]
    cube.do_u_move()
    assert cube.to_binary() == "0000000000000000000000000011100110001010010000010000010000000011"


@given(move_lists)
def test_equals_python_format(moves):
    for cls in CUBES:
        cube = cls()
        apply_methods(cube, moves)
        text = cube.to_binary()
        assert type(text) is str and len(text) == 64
        assert text == format(word(cube), "064b")
        assert int(text, 2) == word(cube)
        assert text[:24] == "0" * 24
        assert cube.to_binary() == text  # reading does not change the cube


def test_edge_only_turns_leave_it_unchanged():
    cube = Cube3x3()
    cube.do_moves("R F")
    before = cube.to_binary()
    for method in ("do_u_move_edges", "do_u_prime_move_edges", "do_d_move_edges", "do_d_prime_move_edges"):
        getattr(cube, method)()
        assert cube.to_binary() == before
