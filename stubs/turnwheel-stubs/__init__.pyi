"""Exact, fast simulation of the 3x3x3 and the 2x2x2 cube in packed 64-bit words.

Move strings (``do_moves``): tokens separated by Unicode white space; a face
letter ``U``, ``D``, ``R``, ``L``, ``F`` or ``B`` alone is a clockwise quarter
turn, followed by ``'`` or ``!`` the counter-clockwise one, followed by ``2`` a
half turn. Every other token is skipped silently.
"""

from typing import SupportsIndex, final

__all__ = ["Cube2x2", "Cube3x3"]

@final
class Cube3x3:
    """A 3x3x3 cube, solved when created.

    The state is two packed words: ``corners`` (eight 5-bit slots: piece id in
    bits 0-2, twist in bits 3-4) and an edge word (twelve 5-bit slots: piece id
    in bits 0-3, flip in bit 4) that Python sees only through ``str()``.
    ``str(cube)`` is a nine-line net of colour letters with ANSI colours.
    """

    def __new__(cls) -> "Cube3x3":
        """A new cube in the solved state. Takes no arguments."""

    @property
    def corners(self) -> int:
        """The corner word: slot i in bits 5i to 5i+4; solved 0x398a418820."""

    def __str__(self) -> str:
        """The coloured net: U on top, L F R B side by side, D below.

        Raises PanicException (a BaseException) if ``rotate_edges`` left an
        edge piece id of 12 to 15 in the edge word.
        """

    def rotate_edges(self, i0: SupportsIndex, i1: SupportsIndex, i2: SupportsIndex, i3: SupportsIndex,
                     ori: SupportsIndex) -> None:
        """Cycle four 5-bit fields of the edge word: i0 -> i1 -> i2 -> i3 -> i0.

        The offsets are bit offsets (slot k is at 5k), taken modulo 64; an odd
        ``ori`` flips the four moved edges. Raises OverflowError for a value
        outside 0 to 2**64-1 and TypeError for a non-integer.
        """

    def rotate_edges_prime(self, i0: SupportsIndex, i1: SupportsIndex, i2: SupportsIndex, i3: SupportsIndex,
                           ori: SupportsIndex) -> None:
        """The inverse cycle of ``rotate_edges``: i3 -> i2 -> i1 -> i0 -> i3."""

    def do_u_move_corners(self) -> None:
        """U (clockwise) on the corners only."""
    def do_u_move_edges(self) -> None:
        """U (clockwise) on the edges only."""
    def do_u_move(self) -> None:
        """U: clockwise quarter turn of the up face."""
    def do_u_prime_move_corners(self) -> None:
        """U' on the corners only."""
    def do_u_prime_move_edges(self) -> None:
        """U' on the edges only."""
    def do_u_prime_move(self) -> None:
        """U': counter-clockwise quarter turn of the up face."""
    def do_d_move_corners(self) -> None:
        """D (clockwise) on the corners only."""
    def do_d_move_edges(self) -> None:
        """D (clockwise) on the edges only."""
    def do_d_move(self) -> None:
        """D: clockwise quarter turn of the down face."""
    def do_d_prime_move_corners(self) -> None:
        """D' on the corners only."""
    def do_d_prime_move_edges(self) -> None:
        """D' on the edges only."""
    def do_d_prime_move(self) -> None:
        """D': counter-clockwise quarter turn of the down face."""
    def do_r_move_corners(self) -> None:
        """R (clockwise) on the corners only."""
    def do_r_move(self) -> None:
        """R: clockwise quarter turn of the right face."""
    def do_r_prime_move_corners(self) -> None:
        """R' on the corners only."""
    def do_r_prime_move(self) -> None:
        """R': counter-clockwise quarter turn of the right face."""
    def do_l_move_corners(self) -> None:
        """L (clockwise) on the corners only."""
    def do_l_move(self) -> None:
        """L: clockwise quarter turn of the left face."""
    def do_l_prime_move_corners(self) -> None:
        """L' on the corners only."""
    def do_l_prime_move(self) -> None:
        """L': counter-clockwise quarter turn of the left face."""
    def do_f_move_corners(self) -> None:
        """F (clockwise) on the corners only."""
    def do_f_move(self) -> None:
        """F: clockwise quarter turn of the front face."""
    def do_f_prime_move_corners(self) -> None:
        """F' on the corners only."""
    def do_f_prime_move(self) -> None:
        """F': counter-clockwise quarter turn of the front face."""
    def do_b_move_corners(self) -> None:
        """B (clockwise) on the corners only."""
    def do_b_move(self) -> None:
        """B: clockwise quarter turn of the back face."""
    def do_b_prime_move_corners(self) -> None:
        """B' on the corners only."""
    def do_b_prime_move(self) -> None:
        """B': counter-clockwise quarter turn of the back face."""

    def to_binary(self) -> str:
        """The corner word as 64 characters "0"/"1", most significant bit first."""

    def do_moves(self, moves: str) -> None:
        """Apply a move string such as "R U R' U'" in place, left to right.

        Tokens are separated by Unicode white space; U D R L F B alone turn
        clockwise, with ' or ! counter-clockwise, with 2 a half turn; any other
        token is skipped. Raises TypeError if ``moves`` is not a str and
        UnicodeEncodeError for a lone surrogate, before any turn.
        """

@final
class Cube2x2:
    """A 2x2x2 cube, solved when created: one corner word, the same layout
    and turns as the corners of ``Cube3x3``. ``str(cube)`` is a six-line net."""

    def __new__(cls) -> "Cube2x2":
        """A new cube in the solved state. Takes no arguments."""

    @property
    def state(self) -> int:
        """The corner word: slot i in bits 5i to 5i+4; solved 0x398a418820."""

    def __str__(self) -> str:
        """The coloured net: U on top, L F R B side by side, D below."""

    def do_u_move(self) -> None:
        """U: clockwise quarter turn of the up face."""
    def do_u_prime_move(self) -> None:
        """U': counter-clockwise quarter turn of the up face."""
    def do_d_move(self) -> None:
        """D: clockwise quarter turn of the down face."""
    def do_d_prime_move(self) -> None:
        """D': counter-clockwise quarter turn of the down face."""
    def do_r_move(self) -> None:
        """R: clockwise quarter turn of the right face."""
    def do_r_prime_move(self) -> None:
        """R': counter-clockwise quarter turn of the right face."""
    def do_l_move(self) -> None:
        """L: clockwise quarter turn of the left face."""
    def do_l_prime_move(self) -> None:
        """L': counter-clockwise quarter turn of the left face."""
    def do_f_move(self) -> None:
        """F: clockwise quarter turn of the front face."""
    def do_f_prime_move(self) -> None:
        """F': counter-clockwise quarter turn of the front face."""
    def do_b_move(self) -> None:
        """B: clockwise quarter turn of the back face."""
    def do_b_prime_move(self) -> None:
        """B': counter-clockwise quarter turn of the back face."""

    def to_binary(self) -> str:
        """The corner word as 64 characters "0"/"1", most significant bit first."""

    def do_moves(self, moves: str) -> None:
        """Apply a move string such as "R U R' U'" in place, left to right.

        Same notation as ``Cube3x3.do_moves``; turns the corners only.
        """
