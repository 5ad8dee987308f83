"""Move strings: separators, tokens, skipping and order."""

import pytest
from hypothesis import given, strategies as st

from conftest import PYPY, apply_methods, move_lists, snapshot
from model import SEPARATORS
from turnwheel import Cube2x2, Cube3x3

CUBES = [Cube3x3, Cube2x2]

# Characters that look like white space, or that str.split() splits on, but
# do not have the property.
NOT_SEPARATORS = ["\x1c", "\x1d", "\x1e", "\x1f", "\u200b", "\u180e", "\u2060", "\ufeff", "\x00", "_", ","]


def after(cls, moves):
    cube = cls()
    cube.do_moves(moves)
    return snapshot(cube)


def by_methods(cls, moves):
    cube = cls()
    apply_methods(cube, moves)
    return snapshot(cube)


def test_separator_list_matches_python():
    # Independent check of the list above against the interpreter's tables.
    import unicodedata

    assert len(SEPARATORS) == 25
    for c in SEPARATORS:
        assert c.isspace() or unicodedata.category(c) == "Cc"


@pytest.mark.parametrize("cls", CUBES)
class TestSeparators:
    def test_empty_and_blank_strings_change_nothing(self, cls):
        for moves in ["", " \t\n", "".join(SEPARATORS) * 3]:
            cube = cls()
            assert cube.do_moves(moves) is None
            assert snapshot(cube) == snapshot(cls())

    @pytest.mark.parametrize("separator", SEPARATORS, ids=lambda c: f"U+{ord(c):04X}")
    def test_each_separator_splits(self, cls, separator):
        assert after(cls, f"U{separator}U") == after(cls, "U2")
        assert after(cls, f"{separator}R{separator * 3}U{separator}") == by_methods(cls, ["R", "U"])

    @pytest.mark.parametrize("other", NOT_SEPARATORS, ids=lambda c: f"U+{ord(c):04X}")
    def test_other_characters_do_not_split(self, cls, other):
        # "U?U" is one unknown token, skipped whole.
        assert after(cls, f"U{other}U") == snapshot(cls())
        assert after(cls, f"R U{other}U F") == by_methods(cls, ["R", "F"])

    def test_runs_and_ends(self, cls):
        for moves in [" U ", "U\n", "\tU", "\r\nU\r\n"]:
            assert after(cls, moves) == after(cls, "U")
        for moves in ["U  U", "U\tU", "U\r\nU", "U\u00a0U", "U\u3000U", "U \u2028\u3000 U"]:
            assert after(cls, moves) == after(cls, "U2")


@pytest.mark.parametrize("cls", CUBES)
class TestTokens:
    @pytest.mark.parametrize("face", "UDRLFB")
    def test_suffixes(self, cls, face):
        assert after(cls, face) == by_methods(cls, [face])
        assert after(cls, face + "'") == after(cls, face + "!") == by_methods(cls, [face + "'"])
        assert after(cls, face + "2") == after(cls, f"{face} {face}") == by_methods(cls, [face, face])
        for undo in [f"{face}2 {face}2", f"{face} {face} {face} {face}", f"{face}' {face}", f"{face}! {face}"]:
            assert after(cls, undo) == snapshot(cls())

    @pytest.mark.parametrize(
        "token", ["u", "x", "M", "E", "S", "Rw", "r", "UU", "U3", "U2'", "U'2", "2U", "U\u2019", "U'!", "'", "2",
                  "U\x00", "\x00U", "R\u0301", "ＵＤ", "Ｕ", "U''"]
    )
    def test_unknown_tokens_are_skipped(self, cls, token):
        assert after(cls, token) == snapshot(cls())
        assert after(cls, f"R {token} U") == by_methods(cls, ["R", "U"])

    def test_order_is_left_to_right(self, cls):
        assert after(cls, "R U") == by_methods(cls, ["R", "U"])
        assert after(cls, "R U") != after(cls, "U R")

    def test_sexy_move(self, cls):
        assert after(cls, "R U R' U'")[0] == 0x3C8A41DA01
        assert after(cls, "R U R' U' " * 6) == snapshot(cls())

    def test_applies_in_place_on_the_current_state(self, cls):
        cube = cls()
        cube.do_moves("R")
        cube.do_moves("U")
        assert snapshot(cube) == after(cls, "R U")


class TestAgainstMethodCalls:
    @given(move_lists, st.lists(st.sampled_from(SEPARATORS), min_size=1, max_size=3))
    def test_move_string_equals_method_calls(self, moves, separators):
        text = "".join(m + separators[i % len(separators)] for i, m in enumerate(moves))
        for cls in CUBES:
            assert after(cls, text) == by_methods(cls, moves)

    def test_long_string(self):
        moves = ["R", "U", "R'", "U'"] * 25_002 + ["F2"]  # order 6 divides 25,002
        for cls in CUBES:
            assert after(cls, " ".join(moves)) == after(cls, "F2")


# Pieces of text for long strings: tokens, skipped tokens, NUL and characters
# of every width, so that strings of each storage width are read.
PIECES = ["U", "D'", "R2", "L!", "F", "B2", "x", "U3", "R2'", "\x00", "U\x00", "\u00e9", "U\u2019", "Ｕ",
          "\U0001F600", "LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL"]


def reference_tokens(text):
    """Tokens by the White_Space list, the slow way."""
    tokens, current = [], ""
    for c in text + " ":
        if c in SEPARATORS:
            if current:
                tokens.append(current)
            current = ""
        else:
            current += c
    return [t for t in tokens if len(t) in (1, 2) and t[0] in "UDRLFB" and t[1:] in ("", "'", "!", "2")]


class TestLongStrings:
    """Strings long enough for the block-wise reading, checked against method calls."""

    @given(st.lists(st.one_of(st.sampled_from(PIECES), st.sampled_from(SEPARATORS)), max_size=120),
           st.integers(0, 70))
    def test_tokens_across_block_edges(self, pieces, pad):
        # Leading spaces shift every token across the 16-, 32- and 64-character edges.
        text = " " * pad + "".join(p + (" " if i % 3 else "") for i, p in enumerate(pieces))
        moves = [t.replace("!", "'") for t in reference_tokens(text)]
        for cls in CUBES:
            assert after(cls, text) == by_methods(cls, moves)

    @pytest.mark.parametrize("cls", CUBES)
    @pytest.mark.parametrize("position", [20, 63, 64, 65, 200])
    def test_surrogate_far_in_refuses_the_whole_string(self, cls, position):
        text = ("R U " * 60)[:position] + "\ud83d" + " F" * 10
        cube = cls()
        with pytest.raises(UnicodeEncodeError) as error:
            cube.do_moves(text)
        with pytest.raises(UnicodeEncodeError) as encoded:
            text.encode()
        assert str(error.value) == str(encoded.value)
        assert snapshot(cube) == snapshot(cls())

    @pytest.mark.skipif(PYPY, reason="PyPy has no sys.getsizeof")
    @pytest.mark.parametrize("separator", ["\u3000", "\u00a0", "\U0001F600 "])
    def test_no_copy_of_the_text_is_kept(self, separator):
        import sys

        text = separator.join(["R", "U", "R'", "U'"] * 2_500)
        before = sys.getsizeof(text)
        Cube3x3().do_moves(text)
        assert sys.getsizeof(text) == before
