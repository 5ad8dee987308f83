"""Random arguments of every kind through the module: only the documented
exceptions, a failed call changes nothing, and a successful one matches an
independent reading of the same arguments."""

import re

from hypothesis import given, strategies as st

from conftest import apply_methods
from exercise import Index
from model import SEPARATORS, split_tokens
from turnwheel import Cube2x2, Cube3x3

# The notation's tokens, each as the token apply_methods takes.
TOKENS = {f + s: f + {"!": "'"}.get(s, s) for f in "UDRLFB" for s in ("", "'", "!", "2")}


def observe(cube):
    try:
        net = str(cube)
    except BaseException as error:  # noqa: BLE001 - the panic is an outcome
        assert type(error).__name__ == "PanicException"
        net = error.args
    return cube.corners, net


integers = st.one_of(st.integers(-(2**70), 2**70), st.integers(0, 127), st.sampled_from([0, 2**64 - 1, 2**64, -1]))
arguments = st.one_of(
    integers,
    integers.map(Index),
    st.booleans(),
    st.floats(allow_nan=True),
    st.text(max_size=3),
    st.none(),
    st.builds(Index, st.one_of(st.text(max_size=2), st.floats(), st.none())),
)


@given(st.lists(arguments, min_size=5, max_size=5), st.booleans(), st.sampled_from(["R U", "F2 B'", ""]))
def test_rotate_edges_with_any_arguments(args, prime, start):
    cube = Cube3x3()
    cube.do_moves(start)
    before = observe(cube)
    method = cube.rotate_edges_prime if prime else cube.rotate_edges
    try:
        method(*args)
    except OverflowError as error:
        assert not str(error).startswith("argument")
        assert observe(cube) == before
    except TypeError as error:
        assert re.match(r"argument '(i[0-3]|ori)': ", str(error))
        assert observe(cube) == before
    else:
        values = [a.value if isinstance(a, Index) else a for a in args]
        assert all(isinstance(v, int) and 0 <= v < 2**64 for v in values)
        # Independent reading: only the low six bits of an offset and the
        # low bit of ori count.
        reference = Cube3x3()
        reference.do_moves(start)
        reduced = [v % 64 for v in values[:4]] + [values[4] % 2]
        (reference.rotate_edges_prime if prime else reference.rotate_edges)(*reduced)
        assert observe(cube) == observe(reference)
    cube.do_u_move()  # never left borrowed


text_with_tokens = st.lists(
    st.one_of(st.sampled_from(sorted(TOKENS)), st.text(max_size=3), st.sampled_from(sorted(SEPARATORS))), max_size=25
).map("".join)


@given(text_with_tokens)
def test_do_moves_with_any_text(text):
    for cls in (Cube3x3, Cube2x2):
        cube, reference = cls(), cls()
        try:
            cube.do_moves(text)
        except UnicodeEncodeError:
            assert any(0xD800 <= ord(c) <= 0xDFFF for c in text)
            assert str(cube) == str(cls())
            continue
        apply_methods(reference, [TOKENS[t] for t in split_tokens(text) if t in TOKENS])
        assert str(cube) == str(reference)


@given(st.one_of(st.integers(), st.binary(), st.none(), st.lists(st.text()), st.floats()))
def test_do_moves_with_anything_but_text(value):
    for cls in (Cube3x3, Cube2x2):
        cube = cls()
        try:
            cube.do_moves(value)
        except TypeError as error:
            assert str(error) == f"argument 'moves': '{type(value).__qualname__}' object cannot be cast as 'str'"
        else:
            raise AssertionError("accepted a non-str")
        assert str(cube) == str(cls())
