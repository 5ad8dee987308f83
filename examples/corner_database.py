"""Builds the corner pattern database of the cube: the distance of every
arrangement of the corners from solved, by a breadth-first search spread
over the processes of a Dask cluster.

    python3 examples/corner_database.py [--workers N | --scheduler ADDRESS | --no-cluster]
                                        [--moves FACES] [--depth D] [--out DIR] [--resume]

By default it starts a cluster on this machine (127.0.0.1 only) with one
worker process a core, and searches under all 18 face moves: the 88,179,840
positions of the corners, 1.19 billion children. `--moves URF` runs the
census of census.py instead. Each level is saved to DIR as it is finished,
so that `--resume` continues a stopped run; when the search has covered
every position it writes DIR/distances.bin, which `cornerdb.lookup` reads.

How a level is made: the positions of each partition are cut into tasks;
each task rebuilds its parents, turns them, and sends each child to the
partition that owns it (a hash of its corner word); where that partition
lives, the children seen at the two distances before, or already found at
this one, are dropped (two distances are enough because every move has an
inverse), and the rest merged into its share of the new level.
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import shutil
import sys
import time
from collections.abc import Callable, Iterable, Iterator
from concurrent.futures import CancelledError
from operator import getitem
from pathlib import Path
from typing import Any, Protocol

import numpy as np

import cornerdb
from cornerdb import FACES, GROUP_SIZE, Level, Timing
from turnwheel import Cube2x2

Split = dict[str, float]


class Backend(Protocol):
    """Where the tasks run. What `submit` returns stands for a task's result
    and can be passed to later tasks; `gather` turns such handles into values.
    A task or a scattered value given an `owner` (a partition) is kept with
    the other data of that partition where it can be; `place` learns again
    where that is, after workers have come or gone."""

    workers: int
    lost: tuple[type[BaseException], ...]
    gathered: int

    def place(self) -> None: ...
    def submit(self, function: Callable[..., Any], *args: Any, priority: int = 0, owner: int | None = None) -> Any: ...
    def scatter(self, values: list[Level]) -> list[Any]: ...
    def gather(self, handles: list[Any]) -> Iterator[Level]: ...
    def timings(self, handles: list[Any]) -> Iterator[Timing]: ...
    def peaks(self) -> list[int]: ...
    def moved(self) -> int: ...
    def task_seconds(self) -> dict[str, float]: ...
    def close(self) -> None: ...


class InProcess:
    """The tasks run here, one after another, as they are submitted."""

    workers = 1
    lost: tuple[type[BaseException], ...] = ()
    gathered = 0

    def __init__(self) -> None:
        self.busy: dict[str, float] = {}

    def place(self) -> None:
        pass

    def submit(self, function: Callable[..., Any], *args: Any, priority: int = 0, owner: int | None = None) -> Any:
        start = time.perf_counter()
        result = function(*args)
        self.busy[function.__name__] = self.busy.get(function.__name__, 0.0) + time.perf_counter() - start
        return result

    def scatter(self, values: list[Level]) -> list[Any]:
        return list(values)

    def gather(self, handles: list[Any]) -> Iterator[Level]:
        return iter(handles)

    def timings(self, handles: list[Any]) -> Iterator[Timing]:
        return iter(handles)

    def peaks(self) -> list[int]:
        return []

    def moved(self) -> int:
        return 0

    def task_seconds(self) -> dict[str, float]:
        return self.busy

    def close(self) -> None:
        pass


#: glibc's malloc settings for the workers started here. By default glibc
#: gives every array of more than 32 MB back to the kernel when it is freed
#: (and Dask has it trim the heap at 64 KiB), so each task's arrays are
#: fresh pages that fault in on first touch: on a virtual machine that is
#: often dearer than the work on them (numpy's share of this search fell
#: from 600 to 380 CPU-seconds here). One arena, no mmap, and up to 256 MB
#: kept free at the top of the heap reuse the same pages from task to task.
#: Workers started elsewhere can be given the same environment.
KEEP_FREED_MEMORY = {"MALLOC_ARENA_MAX": 1, "MALLOC_MMAP_MAX_": 0, "MALLOC_TRIM_THRESHOLD_": 256 << 20}


class Cluster:
    """The tasks run on a Dask cluster: one started here on 127.0.0.1, or an existing one."""

    def __init__(self, workers: int, scheduler: str | None) -> None:
        import dask
        from distributed import Client, KilledWorker, LocalCluster, get_task_stream
        from distributed.comm.core import CommClosedError

        # What a lost worker can surface as; anything else is a fault in the tasks.
        self.lost: tuple[type[BaseException], ...] = (KilledWorker, CancelledError, CommClosedError, OSError)
        self.local = None
        if scheduler is None:
            environ = {**dask.config.get("distributed.nanny.pre-spawn-environ"), **KEEP_FREED_MEMORY}
            with dask.config.set({"distributed.nanny.pre-spawn-environ": environ}):
                self.local = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                          host="127.0.0.1", dashboard_address=None)
            self.client = Client(self.local)
        else:
            self.client = Client(scheduler, timeout=30)
            # Tasks sent to a cluster without workers would wait forever.
            self.client.wait_for_workers(1, timeout=60)
        # The workers import the task functions by name, wherever they run;
        # a worker that joins later is sent the file too.
        self.client.upload_file(cornerdb.__file__)
        self.workers = len(self.client.scheduler_info(n_workers=-1)["workers"]) or 1
        self.address = str(self.client.scheduler_info()["address"])
        self.stream = get_task_stream(self.client)
        self.stream.__enter__()
        self.gathered = 0
        self.homes: list[str] = []

    def place(self) -> None:
        self.homes = sorted(self.client.scheduler_info(n_workers=-1)["workers"])

    def home(self, owner: int | None) -> dict[str, Any]:
        """Where a partition's data is kept: one worker, or any if that one is gone."""
        if owner is None or not self.homes:
            return {}
        return {"workers": [self.homes[owner % len(self.homes)]], "allow_other_workers": True}

    def submit(self, function: Callable[..., Any], *args: Any, priority: int = 0, owner: int | None = None) -> Any:
        return self.client.submit(function, *args, priority=priority, pure=False, **self.home(owner))

    def scatter(self, values: list[Level]) -> list[Any]:
        # A list of one, as a Level is a tuple that scatter would take apart.
        return [self.client.scatter([value], hash=False, workers=self.home(owner).get("workers"))[0]
                for owner, value in enumerate(values)]

    def gather(self, handles: list[Any]) -> Iterator[Level]:
        """The values one at a time, so that this process holds one part of a level at once."""
        for handle in handles:
            value: Level = handle.result()
            self.gathered += value.hashes.nbytes + value.paths.nbytes
            yield value

    def timings(self, handles: list[Any]) -> Iterator[Timing]:
        from distributed import as_completed

        for _, result in as_completed(handles, with_results=True):
            if isinstance(result, BaseException):  # a future cancelled because its inputs were lost
                raise result
            yield result

    def peaks(self) -> list[int]:
        """Each worker's peak resident memory, in bytes."""
        return list(self.client.run(_peak_resident).values())

    def moved(self) -> int:
        """Bytes that the workers fetched from each other."""
        return sum(self.client.run(_fetched_bytes).values())

    def task_seconds(self) -> dict[str, float]:
        """Seconds spent computing, by task function."""
        self.stream.__exit__(None, None, None)
        seconds: dict[str, float] = {}
        for task in self.stream.data:
            name = str(task["key"]).split("-")[0]
            for part in task["startstops"]:
                if part["action"] == "compute":
                    seconds[name] = seconds.get(name, 0.0) + part["stop"] - part["start"]
        return seconds

    def close(self) -> None:
        self.client.close()
        if self.local is not None:
            self.local.close()


def _peak_resident() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def _fetched_bytes(dask_worker: Any) -> int:
    return sum(int(entry["total"]) for entry in dask_worker.transfer_incoming_log)


class Store:
    """The levels on disk, one .npy file a partition, and a manifest replaced atomically."""

    def __init__(self, folder: Path) -> None:
        self.folder = folder
        self.manifest_path = folder / "manifest.json"

    def manifest(self) -> dict[str, Any] | None:
        if not self.manifest_path.exists():
            return None
        manifest: dict[str, Any] = json.loads(self.manifest_path.read_text())
        return manifest

    def write_manifest(self, faces: str, partitions: int, counts: list[int], complete: bool) -> None:
        manifest = {"moves": faces, "partitions": partitions, "multiplier": hex(cornerdb.MULTIPLIER),
                    "counts": counts, "complete": complete}
        partial = self.manifest_path.with_suffix(".partial")
        partial.write_text(json.dumps(manifest, indent=1) + "\n")
        os.replace(partial, self.manifest_path)

    def part(self, distance: int, owner: int) -> Path:
        return self.folder / "levels" / f"{distance:02}" / f"{owner:04}.npy"

    def save(self, distance: int, parts: Iterable[Level]) -> list[int]:
        """Saves the parts as they come; returns their sizes."""
        sizes = []
        for owner, part in enumerate(parts):
            path = self.part(distance, owner)
            path.parent.mkdir(parents=True, exist_ok=True)
            partial = path.with_suffix(".partial")
            with open(partial, "wb") as file:
                np.save(file, cornerdb.words_and_paths(part))
            os.replace(partial, path)
            sizes.append(len(part.hashes))
        return sizes

    def discard(self, distance: int) -> None:
        """Removes a level's files (an empty level is not kept)."""
        shutil.rmtree(self.part(distance, 0).parent, ignore_errors=True)

    def load(self, distance: int, partitions: int) -> list[Level]:
        return [cornerdb.from_saved(np.load(self.part(distance, owner))) for owner in range(partitions)]

    def words(self, distance: int, partitions: int) -> Iterator[np.ndarray]:
        for owner in range(partitions):
            yield np.load(self.part(distance, owner), mmap_mode="r")[:, 0]


EMPTY = Level(np.zeros(0, np.uint64), np.zeros(0, np.uint64))
#: Parts that an owner merges into its level at once: fewer merges of the
#: growing level, against more parts waiting for theirs.
MERGED_PARTS = 4


def tasks(current: list[Any], sizes: list[int], chunk: int) -> Iterator[tuple[list[Any], list[tuple[int, int]]]]:
    """The level's parents cut into tasks of `chunk` (the last one fewer): each
    task is the partitions it draws on and the range it takes from each."""
    levels: list[Any] = []
    bounds: list[tuple[int, int]] = []
    room = chunk
    for level, size in zip(current, sizes):
        start = 0
        while start < size:
            stop = min(size, start + room)
            levels.append(level)
            bounds.append((start, stop))
            room -= stop - start
            start = stop
            if not room:
                yield levels, bounds
                levels, bounds, room = [], [], chunk
    if levels:
        yield levels, bounds


def next_level(backend: Backend, current: list[Any], previous: list[Any], sizes: list[int], depth: int,
               faces: str, chunk: int, advance: Callable[[int], None]) -> tuple[list[Any], Split]:
    """Submits the tasks that make the level after `current` (whose paths
    have `depth` moves) and waits for its expand tasks; returns the handles
    of the new level's parts and the expand tasks' cost split."""
    partitions = len(current)
    new: list[Any] = [EMPTY] * partitions
    waiting: list[list[Any]] = [[] for _ in range(partitions)]
    timings = []

    def absorb(owner: int) -> None:
        new[owner] = backend.submit(cornerdb.absorb, new[owner], waiting[owner], current[owner], previous[owner],
                                    priority=2, owner=owner)
        waiting[owner] = []

    # The lower the priority, the later a ready task runs: a task's children
    # are merged into their owners' levels soon after it, so that few wait in
    # memory. Each owner's merges run in the order of the tasks, which makes
    # the level the same on every run, and where its levels are kept.
    for levels, bounds in tasks(current, sizes, chunk):
        children = backend.submit(cornerdb.expand, levels, bounds, depth, faces, partitions)
        for owner in range(partitions):
            waiting[owner].append(backend.submit(getitem, children, owner, priority=1))
            if len(waiting[owner]) == MERGED_PARTS:
                absorb(owner)
        timings.append(backend.submit(getitem, children, partitions, priority=1))
    for owner in range(partitions):
        if waiting[owner]:
            absorb(owner)
    split: Split = {"replay": 0.0, "turns": 0.0, "children": 0.0}
    for timing in backend.timings(timings):
        advance(timing.parents)
        split["replay"] += timing.replay
        split["turns"] += timing.turns
        split["children"] += timing.children
    return new, split


def search(backend: Backend, store: Store, faces: str, partitions: int, depth: int | None, chunk: int,
           resume: bool, quiet: bool, retries: int = 3) -> tuple[list[int], bool, Split]:
    """The breadth-first search, saved level by level; returns the counts by
    distance, whether it reached every position that `faces` can reach, and
    the expand tasks' cost split. A level whose data a lost worker took
    with it is made again from the saved levels."""
    from rich.console import Console
    from rich.progress import BarColumn, MofNCompleteColumn, Progress, TextColumn, TimeElapsedColumn

    if resume:
        manifest = store.manifest()
        assert manifest is not None
        counts, complete = list(manifest["counts"]), bool(manifest["complete"])
    else:
        root = Level(cornerdb.hashed(np.array([Cube2x2().state], np.uint64)), np.zeros(1, np.uint64))
        home = int(cornerdb.owners(root.hashes, partitions)[0])
        counts, complete = [1], False
        store.save(0, [root if owner == home else EMPTY for owner in range(partitions)])
        store.write_manifest(faces, partitions, counts, complete)
    split: Split = {"replay": 0.0, "turns": 0.0, "children": 0.0}
    if complete or (depth is not None and len(counts) > depth):
        return counts, complete, split

    def restore() -> tuple[list[Any], list[Any], list[int]]:
        backend.place()
        last = len(counts) - 1
        here = store.load(last, partitions)
        before = store.load(last - 1, partitions) if last else [EMPTY] * partitions
        return backend.scatter(here), backend.scatter(before), [len(part.hashes) for part in here]

    current, previous, sizes = restore()
    failures = 0
    bars = Progress(TextColumn("distance {task.fields[distance]:>2}"), BarColumn(), MofNCompleteColumn(),
                    TextColumn("parents"), TimeElapsedColumn(), TextColumn("{task.fields[found]}"),
                    console=Console(stderr=True), disable=quiet)
    with bars:
        while depth is None or len(counts) <= depth:
            distance = len(counts)
            bar = bars.add_task("", total=sum(sizes), distance=distance, found="")
            try:
                new, level_split = next_level(backend, current, previous, sizes, distance - 1, faces, chunk,
                                              lambda parents: bars.advance(bar, parents))
                # Saved before the manifest names the level, so a stop here loses only this level.
                new_sizes = store.save(distance, backend.gather(new))
            except backend.lost as error:
                failures += 1
                if failures > retries:
                    raise
                bars.console.print(f"distance {distance}: {type(error).__name__} ({error}); "
                                   "starting it again from the saved levels")
                bars.remove_task(bar)
                current, previous, sizes = restore()
                continue
            for key in split:
                split[key] += level_split[key]
            found = sum(new_sizes)
            if not found:
                store.discard(distance)
                bars.remove_task(bar)
                complete = True
                store.write_manifest(faces, partitions, counts, complete)
                break
            bars.update(bar, found=f"{found:,} new positions")
            counts.append(found)
            store.write_manifest(faces, partitions, counts, complete)
            previous, current, sizes = current, new, new_sizes
    return counts, complete, split


def positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be 1 or more, not {value}")
    return value


def face_set(text: str) -> str:
    faces = text.upper()
    if not faces or any(face not in FACES for face in faces) or len(set(faces)) != len(faces):
        raise argparse.ArgumentTypeError(f"must be distinct face letters from {FACES}, not {text!r}")
    return "".join(face for face in FACES if face in faces)


def gib(size: float) -> str:
    return f"{size / 2**30:.2f} GiB"


def report(counts: list[int], complete: bool, written: Path | None, seconds: float, backend: Backend,
           split: Split, peaks: list[int], moved: int, busy: dict[str, float]) -> None:
    print("distance  positions")
    for distance, count in enumerate(counts):
        print(f"{distance:8}  {count:11,}")
    total, workers = sum(counts), backend.workers
    print(f"total {total:,} positions{' (every one)' * complete}"
          + (f"; distances written to {written}" if written else ""))
    print(f"time {seconds:.1f} s: {total / seconds:,.0f} positions/s, {total / seconds / workers:,.0f} a core "
          f"({workers} worker{'s' * (workers > 1)})")
    own = _peak_resident()
    print(f"peak memory: {gib(own + sum(peaks))} for all processes (this one {gib(own)}"
          + "".join(f", a worker {gib(peak)}" for peak in peaks) + ")")
    print(f"moved between workers: {moved / 1e9:.2f} GB; gathered here: {backend.gathered / 1e9:.2f} GB")
    tasks = sum(busy.values())
    children = split["children"]
    print(f"cost, CPU-seconds: replay {split['replay']:.1f}, turns {split['turns']:.1f}, "
          f"numpy {tasks - split['replay'] - split['turns']:.1f}, "
          f"scheduler and idle {max(0.0, workers * seconds - tasks):.1f}"
          + (f"; {1e9 * split['turns'] / children:.0f} ns a child to turn and read" if children else ""))


def main() -> None:
    parser = argparse.ArgumentParser(description="Build the corner pattern database by a breadth-first search "
                                                 "on a Dask cluster.")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--workers", type=positive, help="worker processes of the cluster started here "
                                                         "(default: one a core)")
    where.add_argument("--scheduler", metavar="ADDRESS", help="run on this existing cluster instead")
    where.add_argument("--no-cluster", action="store_true", help="run every task in this one process")
    parser.add_argument("--moves", type=face_set, default=FACES,
                        help=f"the faces whose turns are moves (default {FACES}: the whole corner group)")
    parser.add_argument("--depth", type=positive, help="stop after this distance (default: every position)")
    parser.add_argument("--out", type=Path, default=Path("corner-database"),
                        help="where the levels and the database go (default %(default)s)")
    parser.add_argument("--resume", action="store_true", help="continue the search saved in --out")
    parser.add_argument("--partitions", type=positive,
                        help="partitions of the positions (default: 8 a worker, at least 16)")
    # Dask costs a few milliseconds a task, and each task fans out into two
    # more a partition: tasks must be large.
    parser.add_argument("--chunk", type=positive, default=400_000, help="parents a task (default %(default)s)")
    parser.add_argument("--quiet", action="store_true", help="no progress bars")
    args = parser.parse_args()
    if args.chunk * 3 * len(args.moves) > 1 << cornerdb.INDEX_BITS:
        parser.error(f"--chunk must be at most {(1 << cornerdb.INDEX_BITS) // (3 * len(args.moves)):,}")
    store = Store(args.out)
    manifest = store.manifest()
    if manifest is not None and not args.resume:
        parser.error(f"{args.out} holds a search already: --resume continues it, or choose another --out")
    if args.resume and manifest is None:
        parser.error(f"{args.out} holds no search to resume")
    if manifest is not None and manifest["moves"] != args.moves:
        parser.error(f"{args.out} holds a search with the moves of {manifest['moves']}, not {args.moves}")

    start = time.perf_counter()
    try:
        backend: Backend = InProcess() if args.no_cluster else Cluster(args.workers or os.cpu_count() or 1,
                                                                       args.scheduler)
    except (OSError, TimeoutError) as error:
        parser.exit(1, f"{parser.prog}: no cluster with a worker at {args.scheduler}: {error}\n")
    try:
        if isinstance(backend, Cluster):
            workers = backend.workers
            print(f"cluster: {workers} worker{'s' * (workers > 1)} at {backend.address}", file=sys.stderr)
        partitions = manifest["partitions"] if manifest else args.partitions or max(16, 8 * backend.workers)
        counts, complete, split = search(backend, store, args.moves, partitions, args.depth, args.chunk,
                                         args.resume, args.quiet)
        peaks, moved, busy = backend.peaks(), backend.moved(), backend.task_seconds()
    finally:
        backend.close()
    written = None
    if complete and args.moves == FACES and sum(counts) == GROUP_SIZE:
        written = store.folder / "distances.bin"
        cornerdb.write_database(((d, store.words(d, partitions)) for d in range(len(counts))), written)
    report(counts, complete, written, time.perf_counter() - start, backend, split, peaks, moved, busy)


if __name__ == "__main__":
    main()
