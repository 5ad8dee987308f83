"""Many cubes at once: NumPy arrays of the words that turnwheel's classes hold.

States are arrays of packed words: shape ``(n, 2)`` for 3x3 cubes (the corner
word, equal to ``Cube3x3.corners``, then the edge word), ``(n,)`` for 2x2
cubes (equal to ``Cube2x2.state``); ``uint64``, or ``int64`` (no word of a
cube reaches bit 63). Moves are move strings, read as ``do_moves`` reads them,
or move codes, the positions of their names in ``MOVES``.

Arrays are read through the buffer protocol or DLPack (NumPy, PyTorch and
JAX arrays without a copy), other sequences through ``numpy.asarray``; what
is not C-contiguous is copied once. Every function that loops takes
``threads``: ``None`` for every core this process may use, ``1`` to stay on
the calling thread. A refused call raises TypeError or ValueError naming the
argument (and the first bad row) and writes nothing.
"""

from typing import Sequence, SupportsIndex, Union

import numpy as np
from numpy.typing import ArrayLike, NDArray

__all__ = [
    "MOVES", "COLORS", "solved", "apply", "step", "children", "scramble", "corner_index", "corner_words",
    "edge_index", "edge_words", "facelets", "is_solved", "inverse", "move_codes", "move_text", "pattern_size",
    "next_level",
]

_Words = Union[NDArray[np.uint64], NDArray[np.int64]]
_Pattern = Union[str, SupportsIndex, Sequence[SupportsIndex]]
_Threads = Union[SupportsIndex, None]

MOVES: tuple[str, ...]
"""The move names by code: U U2 U' D D2 D' R R2 R' L L2 L' F F2 F' B B2 B'."""

COLORS: tuple[str, ...]
"""The colour letters by colour number: W Y G B O R."""

def solved(n: SupportsIndex, size: SupportsIndex = 3) -> NDArray[np.uint64]:
    """n solved states of the cube of the given size (3 or 2)."""

def apply(states: ArrayLike, moves: Union[str, ArrayLike], *, out: Union[_Words, None] = None,
          threads: _Threads = None) -> _Words:
    """Every state turned by a move string or an array of move codes, applied in order.

    The result has the states' shape and dtype; ``out=states`` turns them in place.
    """

def step(states: ArrayLike, codes: ArrayLike, *, out: Union[_Words, None] = None,
         threads: _Threads = None) -> _Words:
    """Each state turned by a move of its own: ``codes[i]`` turns ``states[i]``."""

def children(states: ArrayLike, moves: Union[str, ArrayLike, None] = None, *, out: Union[_Words, None] = None,
             threads: _Threads = None) -> _Words:
    """Every state turned by each move: all 18 in code order, or the codes (or the string's moves) given.

    Shape ``(n, m, 2)`` for 3x3 states, ``(n, m)`` for 2x2 states.
    """

def scramble(n: SupportsIndex, length: SupportsIndex, *, size: SupportsIndex = 3,
             seed: Union[int, np.random.Generator, np.random.SeedSequence, None] = None,
             threads: _Threads = None) -> tuple[NDArray[np.uint64], NDArray[np.int8]]:
    """n random walks of ``length`` moves from solved that never turn one face twice in a row.

    Returns the states and the moves' codes, shape ``(n, length)``. The same seed (or a
    Generator in the same state) gives the same walks, walk i whatever n and the threads.
    """

def corner_index(states: ArrayLike, *, threads: _Threads = None) -> NDArray[np.int64]:
    """The index of each state's corners, 0 to 8! * 3^7 - 1.

    index = rank * 3^7 + twists: rank is the lexicographic rank of the pieces in corner
    slots 0 to 7, twists those of slots 0 to 6 in base 3, slot 0 most significant.
    """

def corner_words(index: ArrayLike, *, threads: _Threads = None) -> NDArray[np.uint64]:
    """The corner word of each corner index (the eighth twist the one the other seven make whole)."""

def edge_index(states: ArrayLike, edges: Union[SupportsIndex, Sequence[SupportsIndex]] = 7, *,
               threads: _Threads = None) -> NDArray[np.int64]:
    """The index of a pattern of edges in each 3x3 state, 0 to 12!/(12-k)! * 2^k - 1.

    ``edges`` is k for pieces 0 to k-1, or the piece ids in an order of their own.
    index = rank * 2^k + flips: rank is the lexicographic rank of the slots the pieces stand
    in, in the pattern's order, among all sequences of k distinct slots; flips the pieces'
    flips in base 2, the first piece most significant.
    """

def edge_words(index: ArrayLike, edges: Union[SupportsIndex, Sequence[SupportsIndex]] = 7, *,
               threads: _Threads = None) -> NDArray[np.uint64]:
    """An edge word with the pattern of each index, the other pieces in the free slots in ascending order, unflipped."""

def facelets(states: ArrayLike, *, one_hot: bool = False, threads: _Threads = None) -> NDArray[np.uint8]:
    """The colour number of every facelet (see COLORS), in the order ``str()`` prints its letters.

    Shape ``(n, 54)`` (3x3) or ``(n, 24)`` (2x2); one-hot ``(n, 54, 6)`` or ``(n, 24, 6)``.
    """

def is_solved(states: ArrayLike, *, threads: _Threads = None) -> NDArray[np.bool_]:
    """Whether each state is the solved cube, word for word."""

def inverse(states: ArrayLike, *, out: Union[_Words, None] = None, threads: _Threads = None) -> _Words:
    """The position that undoes each state: turned by the state's moves, it is solved."""

def move_codes(text: str) -> NDArray[np.int8]:
    """The codes of the moves of a move string, as ``do_moves`` reads it (other tokens skipped)."""

def move_text(codes: ArrayLike) -> str:
    """A move string of move codes."""

def pattern_size(pattern: _Pattern = "corners") -> int:
    """The positions of a pattern's index: 8! * 3^7 for "corners", 12!/(12-k)! * 2^k for k edges."""

def next_level(frontier: ArrayLike, seen: ArrayLike, pattern: _Pattern = "corners", *, begin: SupportsIndex = 0,
               end: Union[SupportsIndex, None] = None, backward: bool = False, out: Union[NDArray[np.uint8], None] = None,
               threads: _Threads = None) -> NDArray[np.uint8]:
    """The next level of a breadth-first search over a pattern's index, ORed into ``out``.

    Bitmaps hold a bit a position, bit i in bit i % 8 of byte i // 8 (``numpy.packbits`` with
    ``bitorder="little"``). Forward, the children of the frontier's positions in [begin, end) that are
    not seen; backward, the positions in [begin, end) not seen with a child in the frontier (the same
    set, cheaper once the frontier outgrows what is left).
    """
