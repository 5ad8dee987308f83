"""Pattern databases of the cube: their patterns and tables, the task of the
breadth-first search that builds them (in a module of its own, so that a
cluster's workers import it by name; see pattern_database.py, which runs
it), and what reads them.

A pattern is "corners", the 88,179,840 arrangements of the corners, or
"edges:K", where edge pieces 0 to K-1 stand and how they are flipped:
12!/(12-K)! * 2^K positions. Positions are numbered by turnwheel_batch's
perfect index of the pattern (corner_index, edge_index). A table holds 4
bits a position, its distance from solved in face turns (a quarter or a
half turn each), or UNKNOWN where the search has not reached it: byte k
holds position 2k in its low nibble and 2k + 1 in its high nibble.

While it searches, the search keeps two bitmaps of the index space, a bit
a position (as numpy.packbits with bitorder="little" lays bits out): the
positions seen, and the last level found, its frontier. A level's task
takes a range of the index space and the two bitmaps, and finds in its
range, by turnwheel_batch.next_level, the positions the next level holds
(backward), or the children of the frontier there (forward).
"""

from __future__ import annotations

import json
import os
from dataclasses import dataclass
from pathlib import Path
from typing import Any, NamedTuple, Union

import numpy as np

import turnwheel_batch as tb

UNKNOWN = 15
#: Positions a task's range is a multiple of: a word of the bitmaps.
ALIGN = 64


@dataclass(frozen=True)
class Pattern:
    name: str  # "corners" or "edges:K"

    @property
    def spec(self) -> Union[str, int]:
        """The pattern as turnwheel_batch takes it."""
        return "corners" if self.name == "corners" else int(self.name.split(":")[1])

    @property
    def size(self) -> int:
        return int(tb.pattern_size(self.spec))

    @property
    def file_name(self) -> str:
        return "corners.bin" if self.name == "corners" else f"edges-{self.spec}.bin"

    def index(self, states: Any) -> np.ndarray:
        """The positions of states: (n, 2) 3x3 words, or for the corners also (n,) 2x2 words."""
        if self.name == "corners":
            return tb.corner_index(states)
        return tb.edge_index(states, self.spec)


def pattern(text: str) -> Pattern:
    """ "corners" or "edges:K" with K from 1 to 8."""
    if text == "corners":
        return Pattern(text)
    kind, _, count = text.partition(":")
    if kind != "edges" or not count.isdigit() or not 1 <= int(count) <= 8:
        raise ValueError(f'a pattern is "corners" or "edges:K" with K from 1 to 8, not {text!r}')
    return Pattern(f"edges:{int(count)}")


# ---- Bitmaps --------------------------------------------------------------------------


def bitmap_bytes(size: int) -> int:
    return (size + 7) // 8


def bits(indexes: np.ndarray, size: int) -> np.ndarray:
    """A bitmap with the bits of `indexes` set."""
    bitmap = np.zeros(bitmap_bytes(size), np.uint8)
    indexes = np.asarray(indexes, np.int64)
    np.bitwise_or.at(bitmap, indexes >> 3, (1 << (indexes & 7)).astype(np.uint8))
    return bitmap


def count(bitmap: np.ndarray) -> int:
    """How many bits are set, a chunk at a time."""
    total = 0
    for start in range(0, bitmap.size, 1 << 24):
        total += int(np.unpackbits(bitmap[start : start + (1 << 24)]).sum(dtype=np.int64))
    return total


def indexes(bitmap: np.ndarray) -> np.ndarray:
    """The positions whose bits are set, in order: only the nonzero bytes are unpacked."""
    nonzero = np.flatnonzero(bitmap)
    unpacked = np.unpackbits(bitmap[nonzero][:, None], axis=1, bitorder="little")
    rows, columns = np.nonzero(unpacked)
    return nonzero[rows].astype(np.int64) * 8 + columns


def ranges(size: int, parts: int) -> list[tuple[int, int]]:
    """The index space cut into `parts` ranges of whole words of the bitmaps."""
    words = -(-size // ALIGN)
    cuts = [min(size, ALIGN * (words * k // parts)) for k in range(parts + 1)]
    return [(a, b) for a, b in zip(cuts, cuts[1:]) if b > a]


class Part(NamedTuple):
    """What a level's task found in its range: the bits of its range (backward), or the positions it
    found (forward, when fewer than a bitmap's bytes would hold), else a whole bitmap."""

    begin: int
    end: int
    backward: bool
    found: np.ndarray


def level_part(frontier: np.ndarray, seen: np.ndarray, name: str, begin: int, end: int, backward: bool) -> Part:
    """The task: the next level's positions that the range [begin, end) gives (see the module's text)."""
    spec = Pattern(name).spec
    level = tb.next_level(frontier, seen, spec, begin=begin, end=end, backward=backward, threads=1)
    if backward:
        return Part(begin, end, True, level[begin // 8 : -(-end // 8)].copy())
    found = indexes(level) if count(level) * 8 < level.size else level
    return Part(begin, end, False, found)


def merge(new: np.ndarray, part: Part) -> None:
    """ORs a part into the new level's bitmap."""
    if part.backward:
        new[part.begin // 8 : part.begin // 8 + part.found.size] |= part.found
    elif part.found.dtype == np.uint8:
        new |= part.found
    else:
        new |= bits(part.found, new.size * 8)


# ---- Tables -----------------------------------------------------------------------------

#: For each byte of a bitmap (8 positions), the mask of their 8 nibbles in the table's 4 bytes.
_NIBBLES = np.array([sum(0xF << (4 * k) for k in range(8) if byte >> k & 1) for byte in range(256)], np.uint32)
_CHUNK = 1 << 22  # bitmap bytes at a time


def table_bytes(size: int) -> int:
    return size // 2


def new_table(path: Path, size: int) -> np.memmap:
    """A table of `size` unknown positions, on disk. Every pattern's size is a multiple of 8: a byte of a
    bitmap is 4 bytes of its table."""
    assert size % 8 == 0
    # Written, not only mapped: a disk too full for it then fails here, as an OSError, rather than as a
    # signal when a page of the mapping is first written.
    unknown = bytes([0xFF]) * (1 << 22)
    with open(path, "wb") as file:
        for start in range(0, table_bytes(size), len(unknown)):
            file.write(unknown[: table_bytes(size) - start])
    return np.memmap(path, np.uint8, "r+", shape=(table_bytes(size),))


def write_level(table: np.ndarray, level: np.ndarray, distance: int) -> None:
    """Sets the distance of every position of the level's bitmap, 8 nibbles (32 bits) a byte of it."""
    words, value = table.view("<u4"), np.uint32(distance * 0x11111111)
    for start in range(0, level.size, _CHUNK):
        mask = _NIBBLES[level[start : start + _CHUNK]]
        chunk = words[start : start + _CHUNK]
        chunk[:] = (chunk & ~mask) | (mask & value)


def bitmaps(table: np.ndarray, size: int, last: int) -> tuple[np.ndarray, np.ndarray]:
    """From a table searched to distance `last`: the positions seen, and those at `last`. Nibbles
    above `last` (a level being written when the search stopped) count as unseen."""
    seen, frontier = np.zeros(bitmap_bytes(size), np.uint8), np.zeros(bitmap_bytes(size), np.uint8)
    words = table.view("<u4")
    for start in range(0, seen.size, _CHUNK):
        chunk = words[start : start + _CHUNK]
        for k in range(8):
            nibble = (chunk >> np.uint32(4 * k)) & np.uint32(15)
            seen[start : start + _CHUNK] |= (nibble <= last).astype(np.uint8) << k
            frontier[start : start + _CHUNK] |= (nibble == last).astype(np.uint8) << k
    return seen, frontier


def forget_above(table: np.ndarray, last: int) -> None:
    """Marks unknown every nibble above `last`: what a stopped search wrote of its unfinished level."""
    for start in range(0, table.size, _CHUNK):
        chunk = table[start : start + _CHUNK]
        low, high = chunk & 15, chunk >> 4
        low = np.where((low > last) & (low != UNKNOWN), UNKNOWN, low)
        high = np.where((high > last) & (high != UNKNOWN), UNKNOWN, high)
        table[start : start + _CHUNK] = (low | high << 4).astype(np.uint8)


class Manifest(NamedTuple):
    """What a table's search has done: the positions at each distance, and whether it is complete."""

    pattern: str
    counts: list[int]
    complete: bool

    @staticmethod
    def path(folder: Path, of: Pattern) -> Path:
        return folder / (of.file_name.removesuffix(".bin") + ".json")

    @classmethod
    def read(cls, folder: Path, of: Pattern) -> Manifest | None:
        path = cls.path(folder, of)
        if not path.exists():
            return None
        data = json.loads(path.read_text())
        return cls(str(data["pattern"]), [int(c) for c in data["counts"]], bool(data["complete"]))

    def write(self, folder: Path) -> None:
        path = self.path(folder, pattern(self.pattern))
        partial = path.with_suffix(".partial")
        partial.write_text(json.dumps(self._asdict(), indent=1) + "\n")
        os.replace(partial, path)


# ---- Reading tables ---------------------------------------------------------------------


class Table(NamedTuple):
    """A table on disk, mapped: processes that load the same file share one copy."""

    pattern: Pattern
    data: np.memmap
    depth: int  # the last distance the search finished
    complete: bool


def load(path: Union[str, os.PathLike[str]], of: str = "corners") -> Table:
    """A table: the file itself, or the folder a search wrote it in."""
    place, chosen = Path(path), pattern(of)
    if place.is_dir():
        place = place / chosen.file_name
    else:
        chosen = pattern("corners") if place.name == "corners.bin" else pattern(
            "edges:" + place.name.removeprefix("edges-").removesuffix(".bin"))
    manifest = Manifest.read(place.parent, chosen)
    data = np.memmap(place, np.uint8, "r", shape=(table_bytes(chosen.size),))
    depth = len(manifest.counts) - 1 if manifest else UNKNOWN - 1
    return Table(chosen, data, depth, manifest.complete if manifest else True)


def distances(table: Table, positions: np.ndarray) -> np.ndarray:
    """The table's nibbles at these positions (UNKNOWN where not reached)."""
    positions = np.asarray(positions, np.int64)
    return (table.data[positions >> 1] >> ((positions & 1) << 2).astype(np.uint8)) & 15


def lookup(table: Table, states: Any) -> np.ndarray | int:
    """The distances of states: an array of states (as turnwheel_batch holds them), or a cube whose
    corners give it (Cube3x3, Cube2x2) for the corners."""
    if hasattr(states, "corners") or hasattr(states, "state"):
        word = states.corners if hasattr(states, "corners") else states.state
        if table.pattern.name != "corners":
            raise TypeError("a cube object gives its corners only: look up a pattern of edges by states")
        return int(distances(table, table.pattern.index(np.array([word], np.uint64)))[0])
    return distances(table, table.pattern.index(states))


def lower_bound(states: Any, tables: list[Table]) -> np.ndarray:
    """The largest of the tables' distances of each state: a lower bound of its own. Where a table
    stopped short (--depth), a position it has not reached is further than its last distance."""
    bound = None
    for table in tables:
        found = np.asarray(lookup(table, states)).astype(np.int64)
        found = np.where(found == UNKNOWN, table.depth + 1, found)
        bound = found if bound is None else np.maximum(bound, found)
    if bound is None:
        raise ValueError("no tables to bound by")
    return bound
