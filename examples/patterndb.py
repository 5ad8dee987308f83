"""Pattern databases of the cube: their patterns and tables, the tasks of
the breadth-first search that builds them (in a module of its own, so that
a cluster's workers import it by name; see pattern_database.py, which runs
them), and what reads the tables.

A pattern is "corners", the 88,179,840 arrangements of the corners, or
"edges:K", where edge pieces 0 to K-1 stand and how they are flipped:
12!/(12-K)! * 2^K positions. Positions are numbered by turnwheel_batch's
perfect index of the pattern (corner_index, edge_index). A table holds 4
bits a position, its distance from solved in face turns (a quarter or a
half turn each), or UNKNOWN where the search has not reached it: byte k
holds position 2k in its low nibble and 2k + 1 in its high nibble.

While it searches, the search keeps bitmaps of the index space, a bit a
position (as numpy.packbits with bitorder="little" lays bits out): the
positions seen, the last level found (the frontier) and the level being
made. A level is made in two rounds of tasks over ranges of the index
space. The first finds, by turnwheel_batch.next_level, what the next level
holds in a range: the children of the frontier's positions there
(forward), or the unseen positions there with a child in the frontier
(backward). The second commits the level a range at a time: its positions
join those seen and get their distance in the table. Both rounds only set
bits and nibbles to values that do not depend on the order of the tasks,
so a task run twice, as a lost worker's are, changes nothing.
"""

from __future__ import annotations

import json
import mmap
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
        return tb.edge_index(states, int(self.spec))


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


def set_bits(bitmap: np.ndarray, positions: np.ndarray) -> None:
    """Sets the bits of sorted positions: the bits of each byte ORed together first (a sorted run each)."""
    positions = np.asarray(positions, np.int64)
    if not positions.size:
        return
    at = positions >> 3
    starts = np.flatnonzero(np.concatenate(([True], at[1:] != at[:-1])))
    bitmap[at[starts]] |= np.bitwise_or.reduceat((1 << (positions & 7)).astype(np.uint8), starts)


def bits(positions: np.ndarray, size: int) -> np.ndarray:
    """A bitmap with the bits of sorted positions set."""
    bitmap = np.zeros(bitmap_bytes(size), np.uint8)
    set_bits(bitmap, positions)
    return bitmap


def count(bitmap: np.ndarray) -> int:
    """How many bits are set: by NumPy's population count, 64 bits at a time, where it has one (2.0 and
    newer), else by unpacking, a chunk at a time."""
    if hasattr(np, "bitwise_count"):
        words = bitmap[: bitmap.size // 8 * 8].view(np.uint64)
        return int(np.bitwise_count(words).sum(dtype=np.int64)) + int(np.bitwise_count(bitmap[words.size * 8 :]).sum())
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
    """What a task of a level found in its range, for a search whose bitmaps are not in files that the
    task can map: the bits of its range (backward), or the positions it found (forward, when fewer than a
    bitmap's bytes would hold), else a whole bitmap."""

    begin: int
    end: int
    backward: bool
    found: np.ndarray


def merge(new: np.ndarray, part: Part) -> None:
    """ORs a part into the new level's bitmap."""
    if part.backward:
        new[part.begin // 8 : part.begin // 8 + part.found.size] |= part.found
    elif part.found.dtype == np.uint8:
        new |= part.found
    else:
        set_bits(new, part.found)


class Files(NamedTuple):
    """The files of a search that its tasks map: the bitmaps and the table."""

    seen: str
    frontier: str
    new: str
    table: str

    def next(self) -> Files:
        """The files of the next level: the new level is its frontier, the old frontier (cleared) its new."""
        return self._replace(frontier=self.new, new=self.frontier)


def new_file(path: Union[str, os.PathLike[str]], size: int) -> None:
    """A file of `size` zero bytes, its blocks allocated now: a full disk or memory file system then fails
    here, as an OSError, rather than as a signal when a page of its mapping is first written."""
    with open(path, "wb") as file:
        file.truncate(size)
        if hasattr(os, "posix_fallocate"):
            os.posix_fallocate(file.fileno(), 0, size)


#: This process's mappings of the search's files, by path, inode and size (a file made again is mapped
#: again): a file is mapped once, so that its pages stay in the process's page tables from task to task.
_MAPPINGS: dict[tuple[str, int, int], tuple[mmap.mmap, np.ndarray]] = {}


def _mapping(path: str) -> tuple[mmap.mmap, np.ndarray]:
    status = os.stat(path)
    key = (path, status.st_ino, status.st_size)
    if key not in _MAPPINGS:
        for stale in [k for k in _MAPPINGS if k[0] == path]:
            del _MAPPINGS[stale]
        with open(path, "r+b") as file:
            memory = mmap.mmap(file.fileno(), status.st_size)
        _MAPPINGS[key] = memory, np.frombuffer(memory, np.uint8)
    return _MAPPINGS[key]


def mapped(path: str, first: int = 0, end: int | None = None) -> np.ndarray:
    """Bytes [first, end) of a file of the search, mapped, to read and write."""
    return _mapping(path)[1][first:end]


def release(paths: list[str]) -> None:
    """Forgets this process's mappings of these files (their memory goes once no array is left on them)."""
    for key in [k for k in _MAPPINGS if k[0] in paths]:
        del _MAPPINGS[key]


def level_part(files: Files, name: str, begin: int, end: int, backward: bool) -> int:
    """The first task of a level: ORs into the new level's bitmap what the range [begin, end) gives, and
    returns how many positions it looked through."""
    frontier, seen, new = mapped(files.frontier), mapped(files.seen), mapped(files.new)
    tb.next_level(frontier, seen, Pattern(name).spec, begin=begin, end=end, backward=backward, out=new, threads=1)
    return end - begin


def level_bits(frontier: np.ndarray, seen: np.ndarray, name: str, begin: int, end: int, backward: bool) -> Part:
    """level_part for a worker that is sent the bitmaps rather than mapping them: it returns its part."""
    level = tb.next_level(frontier, seen, Pattern(name).spec, begin=begin, end=end, backward=backward, threads=1)
    if backward:
        return Part(begin, end, True, level[begin // 8 : -(-end // 8)].copy())
    found = indexes(level) if count(level) * 8 < level.size else level
    return Part(begin, end, False, found)


def commit_part(files: Files, begin: int, end: int, distance: int) -> int:
    """The second task of a level, for a range of whole words of the bitmaps: the new level's positions
    there join those seen and get `distance` in the table; the old frontier's range is cleared for the
    level after. Returns how many positions the range adds. (The table's pages go to its disk when the
    search flushes them, before its manifest names the level.)"""
    first, last = begin // 8, -(-end // 8)
    new = mapped(files.new, first, last)
    seen = mapped(files.seen, first, last)
    seen |= new
    write_level(mapped(files.table, 4 * first, 4 * last), new, distance)
    mapped(files.frontier, first, last)[:] = 0
    return count(new)


# ---- Tables -----------------------------------------------------------------------------

#: For each byte of a bitmap (8 positions), the mask of their 8 nibbles in the table's 4 bytes.
_NIBBLES = np.array([sum(0xF << (4 * k) for k in range(8) if byte >> k & 1) for byte in range(256)], np.uint32)
_CHUNK = 1 << 18  # bitmap bytes at a time: their table's megabyte and masks stay in the cache


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
    """Sets the distance of every position of the level's bitmap, 8 nibbles (32 bits) a byte of it, in
    chunks that stay in the processor's cache; chunks with no position are skipped."""
    words, value = table.view("<u4"), np.uint32(distance * 0x11111111)
    mask, change = np.empty(_CHUNK, np.uint32), np.empty(_CHUNK, np.uint32)
    for start in range(0, level.size, _CHUNK):
        bitmap = level[start : start + _CHUNK]
        if not bitmap.any():
            continue
        chunk, m, c = words[start : start + _CHUNK], mask[: bitmap.size], change[: bitmap.size]
        np.take(_NIBBLES, bitmap, out=m)
        np.bitwise_xor(chunk, value, out=c)
        c &= m
        chunk ^= c


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


def held_levels(table: np.ndarray, counts: list[int]) -> int:
    """How many of the levels a manifest counts the table holds in full: up to the first whose count of
    nibbles differs (its pages, or some, did not reach the disk before the machine stopped; nibbles only
    ever go from UNKNOWN to a distance, so a level the table holds in full has its whole count)."""
    found = np.zeros(16, np.int64)
    for start in range(0, table.size, _CHUNK):
        chunk = table[start : start + _CHUNK]
        found += np.bincount(chunk & 15, minlength=16) + np.bincount(chunk >> 4, minlength=16)
    held = 0
    while held < len(counts) and found[held] == counts[held]:
        held += 1
    return held


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
    return np.asarray(table.data[positions >> 1] >> ((positions & 1) << 2).astype(np.uint8)) & 15


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
