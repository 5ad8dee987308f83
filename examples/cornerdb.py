"""The corner pattern database: its rank, its reader, and the breadth-first
search's task functions, in a module of their own so that a cluster's
workers can import them by name (see corner_database.py, which runs them).

A position is its corner word, the `state` of a `Cube2x2` or the `corners`
of a `Cube3x3`: eight 5-bit slots, piece id in bits 0-2, twist in bits 3-4.
The search keys positions by a multiplicative hash of the word, a bijection
on 40 bits whose top bits pick the partition that owns a position, and
carries with each position the moves that reach it, packed 5 bits a move
(first move lowest; 0 ends the path), so that a worker can rebuild any
position by replaying them.

The database file holds 4-bit distances indexed by `rank`: byte k holds
rank 2k in its low nibble and rank 2k + 1 in its high nibble.
"""

from __future__ import annotations

import array
import functools
import os
import time
from math import factorial
from collections.abc import Iterable
from typing import NamedTuple, Union

import numpy as np

from turnwheel import Cube2x2

FACES = "UDRLFB"
SUFFIXES = ("", "2", "'")  # after one, two and three quarter turns
#: 8! * 3^7: every arrangement of the corners that face turns can reach.
GROUP_SIZE = factorial(8) * 3**7
DATABASE_BYTES = GROUP_SIZE // 2
MOVE_BITS = 5
MAX_DEPTH = 64 // MOVE_BITS
SLOT_BITS = 5

#: The hash: an odd 40-bit multiplier (2^40 over the golden ratio), so that
#: multiplying modulo 2^40 is a bijection on corner words; its top bits mix
#: every slot in, where a word's own bits are far from uniform.
MULTIPLIER = 0x9E3779B97F
WORD_BITS = 40
WORD_MASK = (1 << WORD_BITS) - 1
INVERSE = pow(MULTIPLIER, -1, 1 << WORD_BITS)
#: Sorting words of (hash << 24 | index) sorts by hash and carries each
#: entry's index along, much faster than an argsort.
INDEX_BITS = 64 - WORD_BITS
INDEX_MASK = (1 << INDEX_BITS) - 1


def move_code(face: str, quarter_turns: int) -> int:
    """The 5-bit code of a move: 1 to 18, three to a face in FACES order."""
    return 3 * FACES.index(face) + quarter_turns


def move_name(code: int) -> str:
    return FACES[(code - 1) // 3] + SUFFIXES[(code - 1) % 3]


def path_text(path: int) -> str:
    """The move string that a packed path stands for."""
    names = []
    while path:
        names.append(move_name(path & 31))
        path >>= MOVE_BITS
    return " ".join(names)


# --- rank --------------------------------------------------------------------

_PLACE = [factorial(7 - i) for i in range(8)]


def rank(corners: int) -> int:
    """The database index of a corner word: the lexicographic rank of its
    permutation (0 to 40,319) times 2,187, plus the twists of slots 0 to 6
    read as a base-3 number, slot 0 most significant. The solved cube is 0.

    Raises ValueError for a word that is not a corner arrangement.
    """
    if not 0 <= corners < 1 << WORD_BITS:
        raise ValueError(f"not a corner word: {corners:#x}")
    pieces = [(corners >> SLOT_BITS * i) & 7 for i in range(8)]
    twists = [(corners >> SLOT_BITS * i + 3) & 3 for i in range(8)]
    if sorted(pieces) != list(range(8)) or max(twists) > 2 or sum(twists) % 3:
        raise ValueError(f"not a corner word: {corners:#x}")
    permutation = sum(_PLACE[i] * sum(p < pieces[i] for p in pieces[i + 1:]) for i in range(8))
    twist = 0
    for t in twists[:7]:
        twist = twist * 3 + t
    return permutation * 3**7 + twist


def ranks(words: np.ndarray) -> np.ndarray:
    """`rank` of many valid corner words at once (not checked), as uint32."""
    words = np.asarray(words, dtype=np.uint64)
    pieces = [((words >> np.uint64(SLOT_BITS * i)) & np.uint64(7)).astype(np.uint8) for i in range(8)]
    result = np.zeros(len(words), dtype=np.uint32)
    for i in range(7):
        smaller = np.zeros(len(words), dtype=np.uint8)
        for j in range(i + 1, 8):
            smaller += pieces[j] < pieces[i]
        result += smaller.astype(np.uint32) * np.uint32(_PLACE[i])
    result *= np.uint32(3**7)
    twist = np.zeros(len(words), dtype=np.uint32)
    for i in range(7):
        twist = twist * np.uint32(3) + ((words >> np.uint64(SLOT_BITS * i + 3)) & np.uint64(3)).astype(np.uint32)
    return result + twist


# --- the reader --------------------------------------------------------------

@functools.lru_cache(maxsize=4)
def _table(path: str) -> bytes:
    with open(path, "rb") as file:
        table = file.read()
    if len(table) != DATABASE_BYTES:
        raise ValueError(f"{path}: {len(table):,} bytes, not the {DATABASE_BYTES:,} of a corner database")
    return table


def lookup(corners: int, database: str | os.PathLike[str] = "corner-database") -> int:
    """How many face moves (quarter or half turns) the corners are from solved.

    `corners` is a `Cube2x2`'s `state` or a `Cube3x3`'s `corners`; `database`
    is the folder that corner_database.py wrote (or its distances.bin).
    The file is read once and kept.
    """
    path = os.fspath(database)
    if os.path.isdir(path):
        path = os.path.join(path, "distances.bin")
    index = rank(corners)
    return (_table(os.path.abspath(path))[index >> 1] >> 4 * (index & 1)) & 15


def write_database(levels: Iterable[tuple[int, Iterable[np.ndarray]]], path: str | os.PathLike[str]) -> None:
    """Writes the distances of every position from `levels`, an iterable of
    (distance, arrays of corner words) that together cover the whole group,
    atomically."""
    table = np.full(DATABASE_BYTES, 0xFF, dtype=np.uint8)
    for distance, chunks in levels:
        # A million words at a time, as ranks makes several arrays of their size.
        for words in (part[start:start + (1 << 20)] for part in chunks for start in range(0, len(part), 1 << 20)):
            index = ranks(words)
            low = index & 1 == 0
            table[index[low] >> 1] &= np.uint8(0xF0 | distance)
            table[index[~low] >> 1] &= np.uint8(0x0F | distance << 4)
    if (table & 0x0F == 0x0F).any() or (table & 0xF0 == 0xF0).any():
        raise ValueError("the levels do not cover every position once")
    partial = f"{os.fspath(path)}.partial"
    table.tofile(partial)
    os.replace(partial, path)


# --- the search's kernels ----------------------------------------------------

class Level(NamedTuple):
    """One partition's positions at one distance: hashes in ascending order, and their paths."""
    hashes: np.ndarray
    paths: np.ndarray


class Timing(NamedTuple):
    """Seconds an expand task spent rebuilding parents, turning, and in numpy."""
    replay: float
    turns: float
    numpy: float
    parents: int
    children: int


def hashed(words: np.ndarray) -> np.ndarray:
    return (np.asarray(words, dtype=np.uint64) * np.uint64(MULTIPLIER)) & np.uint64(WORD_MASK)


def unhashed(hashes: np.ndarray) -> np.ndarray:
    return (hashes * np.uint64(INVERSE)) & np.uint64(WORD_MASK)


def owners(hashes: np.ndarray, partitions: int) -> np.ndarray:
    """The partition that owns each hash: its top bits, so ascending in the hash."""
    return (hashes * np.uint64(partitions)) >> np.uint64(WORD_BITS)


def first_of_each(hashes: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The distinct hashes in ascending order, and the index of each one's
    first occurrence (so the result is the same on every run)."""
    if len(hashes) > 1 << INDEX_BITS:
        index = np.argsort(hashes, kind="stable").astype(np.uint64)
        ordered = hashes[index]
        distinct = np.empty(len(ordered), dtype=bool)
        distinct[:1] = True
        np.not_equal(ordered[1:], ordered[:-1], out=distinct[1:])
        return ordered[distinct], index[distinct]
    # In place where it can be: each array of this size is a cost.
    keyed = hashes << np.uint64(INDEX_BITS)
    keyed |= np.arange(len(hashes), dtype=np.uint64)
    keyed.sort()
    ordered = keyed >> np.uint64(INDEX_BITS)
    distinct = np.empty(len(ordered), dtype=bool)
    distinct[:1] = True
    np.not_equal(ordered[1:], ordered[:-1], out=distinct[1:])
    del ordered
    first = keyed[distinct]
    unique = first >> np.uint64(INDEX_BITS)
    first &= np.uint64(INDEX_MASK)
    return unique, first


def split(level: Level, partitions: int) -> list[Level]:
    """A level's positions by owner (views of `level`)."""
    bounds = np.searchsorted(owners(level.hashes, partitions), np.arange(partitions + 1))
    return [Level(level.hashes[a:b], level.paths[a:b]) for a, b in zip(bounds, bounds[1:])]


# Three characters a move code: blank for 0, then "U  ", "U2 ", "U' ", ...
_GLYPHS = np.frombuffer(b"   " + "".join(f"{move_name(c):3}" for c in range(1, 19)).encode(),
                        np.uint8).reshape(19, 3)


def texts(paths: np.ndarray, depth: int) -> list[str]:
    """The move string of each path of `depth` moves, made in one pass of numpy."""
    if depth == 0:
        return [""] * len(paths)
    shifts = np.arange(depth, dtype=np.uint64) * np.uint64(MOVE_BITS)
    codes = (paths[:, None] >> shifts) & np.uint64(31)
    joined = _GLYPHS[codes].tobytes().decode("ascii")
    width = 3 * depth
    return [joined[i:i + width] for i in range(0, len(joined), width)]


# Parents are rebuilt and turned a batch at a time, so that the children's
# Python ints never number more than this many parents' worth.
BATCH = 20_000


def followers(faces: str, last: int) -> str:
    """The faces worth turning after a path whose last move turned FACES[last]
    (-1: the empty path). Turning the same face again reaches nothing new;
    and of two opposite faces, which commute, only the order of FACES is
    taken (D after U, never U after D): whichever shortest path reached a
    parent, every child at the next distance is still found this way."""
    if last < 0:
        return faces
    skipped = {FACES[last]} | ({FACES[last - 1]} if last % 2 else set())
    return "".join(face for face in faces if face not in skipped)


Parts = list[Union[Level, Timing]]


def expand(levels: list[Level], bounds: list[tuple[int, int]], depth: int, faces: str, partitions: int) -> Parts:
    """The children of the parents in `bounds` (start, stop) of each of `levels`
    (all at `depth`), by owner.

    Each parent is rebuilt from its path; then each face that `followers`
    allows is turned four times, the state read after the first three turns
    (the quarter, half and inverse turn) and the fourth restoring the
    parent. Children are deduplicated here, so each part holds distinct
    hashes in ascending order. Returns the `partitions` parts and a Timing,
    as one list.
    """
    clock = time.perf_counter
    paths = np.concatenate([level.paths[start:stop] for level, (start, stop) in zip(levels, bounds)])
    if len(paths) * 3 * len(faces) > 1 << INDEX_BITS:
        raise ValueError(f"{len(paths):,} parents are too many for one task")
    replay = turning = 0.0
    began = clock()
    # Parents in groups by the face of their last move, each group with its
    # own faces to turn; the children of a group follow each other.
    last = ((paths >> np.uint64(MOVE_BITS * (depth - 1))) & np.uint64(31)).astype(np.int64) if depth else \
        np.zeros(len(paths), np.int64)
    order = np.argsort(last, kind="stable")
    paths = paths[order]
    starts = np.searchsorted(last[order], np.arange(20))  # move codes 0 to 18, a group a face
    # An array of C words, not a list of ints: no int kept, and no conversion after.
    children = array.array("Q")
    add = children.append
    blocks: list[tuple[int, int, np.ndarray]] = []  # (first child, first parent, move codes)
    children_so_far = 0
    for face in range(-1, len(FACES)):
        low, high = (0, starts[1]) if face < 0 else (starts[3 * face + 1], starts[3 * face + 4])
        turned = followers(faces, face)
        if low == high or not turned:
            continue
        blocks.append((children_so_far, int(low), np.array([move_code(f, q) for f in turned for q in (1, 2, 3)],
                                                           dtype=np.uint64)))
        children_so_far += (high - low) * 3 * len(turned)
        turns = [getattr(Cube2x2, f"do_{f.lower()}_move") for f in turned]
        for first in range(low, high, BATCH):
            t0 = clock()
            cubes: list[Cube2x2] = []
            rebuild = cubes.append
            for text in texts(paths[first:min(high, first + BATCH)], depth):
                cube = Cube2x2()
                cube.do_moves(text)
                rebuild(cube)
            t1 = clock()
            for cube in cubes:
                for turn in turns:
                    turn(cube)
                    add(cube.state)
                    turn(cube)
                    add(cube.state)
                    turn(cube)
                    add(cube.state)
                    turn(cube)
            t2 = clock()
            replay += t1 - t0
            turning += t2 - t1
    words = np.frombuffer(children, dtype=np.uint64)
    unique, index = first_of_each(hashed(words))
    # Each child's parent and move, from its place among the children.
    firsts = np.array([first for first, _, _ in blocks], dtype=np.uint64)
    which = np.searchsorted(firsts, index, side="right") - 1
    width = np.array([len(codes) for _, _, codes in blocks], dtype=np.uint64)[which]
    within = index - firsts[which]
    parent = np.array([start for _, start, _ in blocks], dtype=np.uint64)[which] + within // width
    moves = np.zeros((max(len(blocks), 1), 3 * len(faces)), dtype=np.uint64)
    for row, (_, _, codes) in enumerate(blocks):
        moves[row, :len(codes)] = codes
    child_paths = paths[parent] | (moves[which, within % width] << np.uint64(MOVE_BITS * depth))
    parts = split(Level(unique, child_paths), partitions)
    elapsed = clock() - began
    return [*parts, Timing(replay, turning, elapsed - replay - turning, len(paths), len(words))]


def unseen(part: Level, *earlier: Level) -> Level:
    """`part` without the positions of the `earlier` levels of its owner."""
    keep = np.ones(len(part.hashes), dtype=bool)
    for level in earlier:
        if len(level.hashes):
            at = np.searchsorted(level.hashes, part.hashes)
            np.minimum(at, len(level.hashes) - 1, out=at)
            keep &= level.hashes[at] != part.hashes
    return Level(part.hashes[keep], part.paths[keep])


def absorb(found: Level, parts: list[Level], *earlier: Level) -> Level:
    """One owner's new level so far, `found`, with the positions of `parts`
    (in the order of the tasks that made them) that neither it nor the
    `earlier` levels hold merged in. A merge costs the size of the level,
    so parts are taken several at a time; one sort of every part at the
    end would cost less, but would hold every duplicate until then."""
    fresh = combine(*(unseen(part, *earlier, found) for part in parts))
    if not len(found.hashes):
        return fresh
    places = np.searchsorted(found.hashes, fresh.hashes) + np.arange(len(fresh.hashes))
    old = np.ones(len(found.hashes) + len(fresh.hashes), dtype=bool)
    old[places] = False
    merged = Level(np.empty(len(old), np.uint64), np.empty(len(old), np.uint64))
    for into, ours, theirs in zip(merged, found, fresh):
        into[places] = theirs
        into[old] = ours
    return merged


def combine(*parts: Level) -> Level:
    """Parts made one after another as one: each position once, from the first part that has it."""
    if len(parts) == 1:
        return parts[0]
    hashes = np.concatenate([part.hashes for part in parts])
    paths = np.concatenate([part.paths for part in parts])
    unique, index = first_of_each(hashes)
    return Level(unique, paths[index])


def words_and_paths(level: Level) -> np.ndarray:
    """A level as saved: rows of (corner word, path), in the order of their hashes."""
    return np.stack([unhashed(level.hashes), level.paths], axis=1)


def from_saved(rows: np.ndarray) -> Level:
    return Level(hashed(rows[:, 0]), np.ascontiguousarray(rows[:, 1]))
