"""Argument matching, conversion and borrowing, through the members that take
arguments (rotate_edges, rotate_edges_prime, do_moves)."""

import operator

import pytest

from conftest import snapshot
from exercise import Index
from turnwheel import Cube2x2, Cube3x3

CUBES = [Cube2x2, Cube3x3]
CYCLE_METHODS = ["rotate_edges", "rotate_edges_prime"]


class TestArgumentMatching:
    @pytest.mark.parametrize("method", CYCLE_METHODS)
    @pytest.mark.parametrize(
        "args, kwargs, message",
        [
            ((0, 5, 10, 15), {}, "missing 1 required positional argument: 'ori'"),
            ((0, 5, 10), {}, "missing 2 required positional arguments: 'i3' and 'ori'"),
            ((0, 5), {}, "missing 3 required positional arguments: 'i2', 'i3', and 'ori'"),
            ((), {}, "missing 5 required positional arguments: 'i0', 'i1', 'i2', 'i3', and 'ori'"),
            ((0, 5, 10, 15, 0, 1), {}, "takes 5 positional arguments but 6 were given"),
            ((0, 5, 10, 15, 0), {"x": 1}, "got an unexpected keyword argument 'x'"),
            ((0, 5, 10, 15), {"i0": 1}, "got multiple values for argument 'i0'"),
            ((0, 5), {"ori": 0, "j": 1}, "got an unexpected keyword argument 'j'"),
            ((0,), {"i2": 0, "i0": 3}, "got multiple values for argument 'i0'"),
            ((0,), {"ori": 1}, "missing 3 required positional arguments: 'i1', 'i2', and 'i3'"),
        ],
    )
    def test_rotate_edges_messages(self, method, args, kwargs, message):
        cube = Cube3x3()
        with pytest.raises(TypeError) as error:
            getattr(cube, method)(*args, **kwargs)
        assert str(error.value) == f"Cube3x3.{method}() {message}"
        assert snapshot(cube) == snapshot(Cube3x3())

    @pytest.mark.parametrize("cls", CUBES)
    def test_do_moves_messages(self, cls):
        cube = cls()
        name = f"{cls.__name__}.do_moves()"
        cases = [
            (("U",), {"moves": "R"}, f"{name} got multiple values for argument 'moves'"),
            ((), {}, f"{name} missing 1 required positional argument: 'moves'"),
            (("U", "R"), {}, f"{name} takes 1 positional arguments but 2 were given"),
            ((), {"move": "U"}, f"{name} got an unexpected keyword argument 'move'"),
        ]
        for args, kwargs, message in cases:
            with pytest.raises(TypeError) as error:
                cube.do_moves(*args, **kwargs)
            assert str(error.value) == message
        assert snapshot(cube) == snapshot(cls())

    def test_keywords_in_any_order(self):
        by_position, by_keyword = Cube3x3(), Cube3x3()
        by_position.rotate_edges(10, 50, 30, 55, 1)
        by_keyword.rotate_edges(ori=1, i3=55, i2=30, i0=10, i1=50)
        assert snapshot(by_position) == snapshot(by_keyword)
        mixed = Cube3x3()
        mixed.rotate_edges(10, 50, ori=1, i3=55, i2=30)
        assert snapshot(mixed) == snapshot(by_position)

    @pytest.mark.parametrize("cls", CUBES)
    def test_do_moves_by_keyword(self, cls):
        a, b = cls(), cls()
        a.do_moves("R U")
        b.do_moves(moves="R U")
        assert snapshot(a) == snapshot(b)

    @pytest.mark.parametrize("cls", CUBES)
    def test_no_argument_methods_refuse_arguments(self, cls):
        cube = cls()
        for call in (lambda: cube.do_u_move(1), lambda: cube.to_binary(0), lambda: cube.do_r_move(x=1)):
            with pytest.raises(TypeError):
                call()
        assert snapshot(cube) == snapshot(cls())


class TestIntegerConversion:
    def test_bool_and_index_objects_are_accepted(self):
        a, b = Cube3x3(), Cube3x3()
        a.rotate_edges(0, 5, 10, 15, True)
        b.rotate_edges(Index(0), Index(5), Index(10), Index(15), Index(1))
        assert snapshot(a) == snapshot(b)

    def test_int_subclass_is_taken_as_its_value(self):
        class Offset(int):
            def __index__(self):  # not consulted for an int subclass
                raise AssertionError("__index__ called")

        a, b = Cube3x3(), Cube3x3()
        a.rotate_edges(Offset(0), Offset(5), Offset(10), Offset(15), Offset(0))
        b.rotate_edges(0, 5, 10, 15, 0)
        assert snapshot(a) == snapshot(b)

    @pytest.mark.parametrize("bad", [-1, 2**64, -(2**70), 2**100])
    @pytest.mark.parametrize("position", range(5))
    def test_out_of_range_raises_overflow_unchanged(self, bad, position):
        args = [0, 5, 10, 15, 1]
        args[position] = bad
        cube = Cube3x3()
        cube.do_r_move()
        before = snapshot(cube)
        with pytest.raises(OverflowError) as error:
            cube.rotate_edges(*args)
        # The interpreter's own message, with no argument prefix.
        assert str(error.value) and not str(error.value).startswith("argument")
        assert snapshot(cube) == before
        cube.do_r_prime_move()  # not left borrowed
        assert snapshot(cube) == snapshot(Cube3x3())

    def test_largest_value_is_accepted(self):
        a, b = Cube3x3(), Cube3x3()
        a.rotate_edges(2**64 - 64, 5, 10, 15, 2**64 - 1)  # low six bits 0; odd ori
        b.rotate_edges(0, 5, 10, 15, 1)
        assert snapshot(a) == snapshot(b)

    @pytest.mark.parametrize(
        "bad, cause",
        [
            (1.5, "'float' object cannot be interpreted as an integer"),
            ("0", "'str' object cannot be interpreted as an integer"),
            (None, "'NoneType' object cannot be interpreted as an integer"),
        ],
    )
    @pytest.mark.parametrize("method", CYCLE_METHODS)
    def test_type_errors_name_the_argument(self, method, bad, cause):
        for position, name in enumerate(["i0", "i1", "i2", "i3", "ori"]):
            args = [0, 5, 10, 15, 0]
            args[position] = bad
            cube = Cube3x3()
            with pytest.raises(TypeError) as error:
                getattr(cube, method)(*args)
            assert str(error.value) == f"argument '{name}': {cause}"
            assert type(error.value.__cause__) is TypeError
            assert str(error.value.__cause__) == cause
            assert snapshot(cube) == snapshot(Cube3x3())

    def test_first_bad_argument_is_reported(self):
        with pytest.raises(TypeError, match="^argument 'i1': "):
            Cube3x3().rotate_edges(0, 1.5, -1, "x", 0)

    def test_index_returning_a_non_int(self):
        # The prefix is the module's; the rest is the interpreter's own
        # message, whose words change between versions.
        with pytest.raises(TypeError) as own:
            operator.index(Index("x"))
        with pytest.raises(TypeError) as error:
            Cube3x3().rotate_edges(0, 5, Index("x"), 15, 0)
        assert str(error.value) == f"argument 'i2': {own.value}"

    def test_exceptions_from_index_pass_unchanged(self):
        def fail():
            raise ValueError("no offset")

        cube = Cube3x3()
        with pytest.raises(ValueError, match="^no offset$"):
            cube.rotate_edges(0, 5, 10, Index(15, fail), 0)
        assert snapshot(cube) == snapshot(Cube3x3())

    def test_type_error_subclass_passes_unchanged(self):
        class Special(TypeError):
            pass

        def fail():
            raise Special("special")

        with pytest.raises(Special, match="^special$"):
            Cube3x3().rotate_edges(0, 5, 10, 15, Index(0, fail))


class TestTextConversion:
    @pytest.mark.parametrize("cls", CUBES)
    @pytest.mark.parametrize("bad, name", [(5, "int"), (b"U", "bytes"), (None, "NoneType"), (["U"], "list")])
    def test_non_str_is_refused(self, cls, bad, name):
        cube = cls()
        cube.do_f_move()
        before = snapshot(cube)
        with pytest.raises(TypeError) as error:
            cube.do_moves(bad)
        assert str(error.value) == f"argument 'moves': '{name}' object cannot be cast as 'str'"
        assert type(error.value.__cause__) is TypeError
        assert snapshot(cube) == before

    @pytest.mark.parametrize("cls", CUBES)
    def test_lone_surrogate_raises_before_any_turn(self, cls):
        cube = cls()
        with pytest.raises(UnicodeEncodeError):
            cube.do_moves("R U \ud800 F")
        assert snapshot(cube) == snapshot(cls())
        cube.do_moves("R")  # usable afterwards
        assert snapshot(cube) != snapshot(cls())

    @pytest.mark.parametrize("cls", CUBES)
    def test_str_subclass_is_accepted(self, cls):
        class Moves(str):
            pass

        a, b = cls(), cls()
        a.do_moves(Moves("R U R'"))
        b.do_moves("R U R'")
        assert snapshot(a) == snapshot(b)


class TestReentrance:
    """An __index__ method runs while rotate_edges holds the cube."""

    @pytest.mark.parametrize(
        "touch, message",
        [
            (lambda c: c.do_u_move(), "Already borrowed"),
            (lambda c: c.do_u_move_edges(), "Already borrowed"),
            (lambda c: c.rotate_edges(0, 5, 10, 15, 0), "Already borrowed"),
            (lambda c: c.do_moves("R"), "Already borrowed"),
            (lambda c: c.corners, "Already mutably borrowed"),
            (lambda c: c.to_binary(), "Already mutably borrowed"),
            (lambda c: str(c), "Already mutably borrowed"),
        ],
    )
    @pytest.mark.parametrize("method", CYCLE_METHODS)
    def test_same_cube_is_refused(self, method, touch, message):
        cube = Cube3x3()
        seen = []

        def action():
            try:
                touch(cube)
            except RuntimeError as error:
                seen.append(str(error))
                raise

        with pytest.raises(RuntimeError) as error:
            getattr(cube, method)(0, 5, Index(10, action), 15, 0)
        assert str(error.value) == message and seen == [message]
        assert snapshot(cube) == snapshot(Cube3x3())
        cube.do_u_move()
        getattr(cube, method)(0, 5, 10, 15, 0)
        assert cube.corners != Cube3x3().corners

    def test_refusal_swallowed_by_index_still_rotates(self):
        cube = Cube3x3()

        def action():
            with pytest.raises(RuntimeError, match="Already borrowed"):
                cube.do_u_move()

        cube.rotate_edges(0, 5, 10, 15, Index(0, action))
        reference = Cube3x3()
        reference.rotate_edges(0, 5, 10, 15, 0)
        assert snapshot(cube) == snapshot(reference)

    def test_other_cubes_are_free(self):
        cube, other = Cube3x3(), Cube3x3()

        def action():
            other.do_moves("R U")

        cube.rotate_edges(0, 5, 10, 15, Index(0, action))
        reference = Cube3x3()
        reference.do_moves("R U")
        assert snapshot(other) == snapshot(reference)
