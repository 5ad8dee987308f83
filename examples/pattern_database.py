"""Builds a pattern database of the cube: the distance from solved of every
position of a pattern, the corners or some edges, by a breadth-first search
over the pattern's perfect index, on the processes of a Dask cluster or in
this one.

    python3 examples/pattern_database.py [--pattern corners | --pattern edges:K]
        [--workers N | --scheduler ADDRESS | --no-cluster] [--depth D] [--out DIR] [--resume]

By default it starts a cluster on this machine (127.0.0.1 only) with one
worker process a core. It writes DIR/corners.bin (88,179,840 positions) or
DIR/edges-K.bin (12!/(12-K)! * 2^K), 4 bits a position, and beside it a
manifest of the levels found; both are brought up to date as each level is
finished, so that --resume continues a stopped search (see patterndb.py for
the layout and for what reads the tables).

How a level is made: the positions seen and the last level (its frontier)
are bitmaps of the index space, a bit a position, sent to every worker.
Each task takes a range of the index space and finds what the next level
holds there: while the frontier is smaller than what is left to find, the
children of its positions in the range (forward), else the positions of
the range not yet seen that have a child in the frontier (backward, which
stops at the first). A worker lost in the middle of a level loses nothing:
its tasks run again on the others, from the bitmaps they hold too.
"""

from __future__ import annotations

import argparse
import os
import resource
import sys
import time
from collections.abc import Callable, Iterator
from concurrent.futures import CancelledError, ThreadPoolExecutor
from contextlib import AbstractContextManager, nullcontext
from pathlib import Path
from typing import Any, Protocol

import numpy as np

import patterndb
from patterndb import Manifest, Part, Pattern

#: Tasks a level is cut into, a worker: enough that a worker with less work takes more.
PARTS_A_WORKER = 4


class Backend(Protocol):
    """Where a level's tasks run: `run` makes them and yields their parts as they come."""

    workers: int
    lost: tuple[type[BaseException], ...]

    def run(self, frontier: np.ndarray, seen: np.ndarray, pattern: Pattern, ranges: list[tuple[int, int]],
            backward: bool) -> Iterator[Part]: ...
    def changes(self) -> int: ...
    def peaks(self) -> list[int]: ...
    def close(self) -> None: ...


class InProcess:
    """The tasks run in this process, on threads of its own (the work itself lets the interpreter lock go)."""

    lost: tuple[type[BaseException], ...] = ()

    def __init__(self, threads: int) -> None:
        self.workers = threads
        self.pool = ThreadPoolExecutor(threads)

    def run(self, frontier: np.ndarray, seen: np.ndarray, pattern: Pattern, ranges: list[tuple[int, int]],
            backward: bool) -> Iterator[Part]:
        yield from self.pool.map(lambda r: patterndb.level_part(frontier, seen, pattern.name, *r, backward), ranges)

    def changes(self) -> int:
        return 0

    def peaks(self) -> list[int]:
        return []

    def close(self) -> None:
        self.pool.shutdown()


#: glibc's malloc settings for the workers started here. By default glibc
#: gives every array of more than 32 MB back to the kernel when it is freed
#: (and Dask has it trim the heap at 64 KiB), so each task's bitmaps are
#: fresh pages that fault in on first touch: on a virtual machine that is
#: often dearer than the work on them. One arena, no mmap, and up to 256 MB
#: kept free at the top of the heap reuse the same pages from task to task.
#: Workers started elsewhere can be given the same environment.
KEEP_FREED_MEMORY = {"MALLOC_ARENA_MAX": 1, "MALLOC_MMAP_MAX_": 0, "MALLOC_TRIM_THRESHOLD_": 256 << 20}


class ClusterError(Exception):
    """No cluster to run on: one could not be started here, or reached there."""


class Cluster:
    """The tasks run on a Dask cluster: one started here on 127.0.0.1, or an existing one."""

    def __init__(self, workers: int, scheduler: str | None) -> None:
        import dask
        from distributed import Client, KilledWorker, LocalCluster
        from distributed.comm.core import CommClosedError

        # What a lost worker can surface as; anything else is a fault in the tasks.
        self.lost: tuple[type[BaseException], ...] = (KilledWorker, CancelledError, CommClosedError)
        self.local = None
        if scheduler is None:
            environ = {**dask.config.get("distributed.nanny.pre-spawn-environ"), **KEEP_FREED_MEMORY}
            try:
                with dask.config.set({"distributed.nanny.pre-spawn-environ": environ}):
                    self.local = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                              host="127.0.0.1", dashboard_address=None)
            except Exception as error:  # noqa: BLE001 - whatever stopped it, said as it is
                raise ClusterError(f"cannot start a cluster of {workers} workers on 127.0.0.1: "
                                   f"{type(error).__name__}: {error}") from error
            self.client = Client(self.local)
        else:
            try:
                self.client = Client(scheduler, timeout=30)
                # Tasks sent to a cluster without workers would wait forever.
                self.client.wait_for_workers(1, timeout=60)
            except (OSError, TimeoutError) as error:
                raise ClusterError(f"no cluster with a worker at {scheduler}: {error}") from error
        # The workers import the task by name, wherever they run; a worker that joins later is sent the file too.
        self.client.upload_file(patterndb.__file__)
        self.workers = len(self.names()) or 1
        self.address = str(self.client.scheduler_info()["address"])
        self.changed = 0

    def names(self) -> set[str]:
        return set(self.client.scheduler_info(n_workers=-1)["workers"])

    def run(self, frontier: np.ndarray, seen: np.ndarray, pattern: Pattern, ranges: list[tuple[int, int]],
            backward: bool) -> Iterator[Part]:
        from distributed import as_completed

        before = self.names()
        # Every worker holds both bitmaps, so that any can take any task, and one that dies takes nothing with it.
        shared = self.client.scatter([frontier, seen], broadcast=True, hash=False)
        tasks = [self.client.submit(patterndb.level_part, *shared, pattern.name, begin, end, backward, pure=False)
                 for begin, end in ranges]
        for _, part in as_completed(tasks, with_results=True):
            yield part
        if self.names() != before:
            self.changed += 1
        del shared

    def changes(self) -> int:
        """Levels during which the workers changed (one was lost, or one came)."""
        return self.changed

    def peaks(self) -> list[int]:
        """Each worker's peak resident memory, in bytes."""
        return list(self.client.run(_peak_resident).values())

    def close(self) -> None:
        self.client.close()
        if self.local is not None:
            self.local.close()


def _peak_resident() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


class StoreError(Exception):
    """The table or its manifest could not be written: a full disk, a folder that cannot be written."""


def store(action: Callable[[], Any], what: Path) -> Any:
    try:
        return action()
    except OSError as error:
        raise StoreError(f"cannot write {what}: {error}") from error


def open_table(folder: Path, pattern: Pattern, resume: bool) -> tuple[np.memmap, list[int], bool]:
    path = folder / pattern.file_name
    if resume:
        manifest = Manifest.read(folder, pattern)
        assert manifest is not None
        table = np.memmap(path, np.uint8, "r+", shape=(patterndb.table_bytes(pattern.size),))
        store(lambda: patterndb.forget_above(table, len(manifest.counts) - 1), path)
        return table, list(manifest.counts), manifest.complete
    store(lambda: folder.mkdir(parents=True, exist_ok=True), folder)
    table = store(lambda: patterndb.new_table(path, pattern.size), path)
    patterndb.write_level(table, patterndb.bits(np.zeros(1, np.int64), pattern.size), 0)
    store(table.flush, path)
    store(lambda: Manifest(pattern.name, [1], False).write(folder), folder)
    return table, [1], False


def search(backend: Backend, folder: Path, pattern: Pattern, depth: int | None, resume: bool, quiet: bool,
           retries: int = 3) -> tuple[list[int], bool]:
    """The breadth-first search, saved level by level; returns the counts by distance and whether it
    reached every position. A level that a lost worker could not finish is made again."""
    from rich.console import Console
    from rich.progress import BarColumn, Progress, TextColumn, TimeElapsedColumn

    table, counts, complete = open_table(folder, pattern, resume)
    if complete or (depth is not None and len(counts) > depth):
        return counts, complete
    seen, frontier = patterndb.bitmaps(table, pattern.size, len(counts) - 1)
    bars = Progress(TextColumn("distance {task.fields[distance]:>2} {task.fields[way]:8}"), BarColumn(),
                    TextColumn("{task.fields[rate]}"), TimeElapsedColumn(), TextColumn("{task.fields[found]}"),
                    console=Console(stderr=True), disable=quiet)
    failures = 0
    with bars:
        while depth is None or len(counts) <= depth:
            distance, unseen = len(counts), pattern.size - sum(counts)
            backward = counts[-1] > unseen
            ranges = patterndb.ranges(pattern.size, PARTS_A_WORKER * backend.workers)
            bar = bars.add_task("", total=pattern.size, distance=distance, way="backward" if backward else "forward",
                                rate="", found="")
            start, new = time.perf_counter(), np.zeros_like(seen)
            try:
                for part in backend.run(frontier, seen, pattern, ranges, backward):
                    patterndb.merge(new, part)
                    bars.advance(bar, part.end - part.begin)
                    rate = bars.tasks[bar].completed / max(time.perf_counter() - start, 1e-9)
                    bars.update(bar, rate=f"{rate:,.0f} positions/s")
            except backend.lost as error:
                failures += 1
                if failures > retries:
                    raise
                bars.console.print(f"distance {distance}: {type(error).__name__} ({error}); making it again")
                bars.remove_task(bar)
                continue
            found = patterndb.count(new)
            if not found:
                bars.remove_task(bar)
                complete = True
                store(lambda: Manifest(pattern.name, counts, complete).write(folder), folder)
                break
            bars.update(bar, found=f"{found:,} new positions")
            # The table first, then the manifest that names the level: a stop between them loses only this level.
            patterndb.write_level(table, new, distance)
            store(table.flush, folder / pattern.file_name)
            counts.append(found)
            store(lambda: Manifest(pattern.name, counts, False).write(folder), folder)
            seen |= new
            frontier = new
    return counts, complete


def positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be 1 or more, not {value}")
    return value


def pattern_argument(text: str) -> Pattern:
    try:
        return patterndb.pattern(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def gib(size: float) -> str:
    return f"{size / 2**30:.2f} GiB"


def report(pattern: Pattern, counts: list[int], complete: bool, folder: Path, seconds: float, backend: Backend,
           peaks: list[int], busy: dict[str, float]) -> None:
    print("distance  positions")
    for distance, found in enumerate(counts):
        print(f"{distance:8}  {found:11,}")
    total, workers = sum(counts), backend.workers
    print(f"total {total:,} positions of {pattern.size:,}{' (every one)' * complete}; table {folder / pattern.file_name}")
    print(f"time {seconds:.1f} s: {total / seconds:,.0f} positions/s ({workers} "
          f"{'worker' if isinstance(backend, Cluster) else 'thread'}{'s' * (workers > 1)})")
    own = _peak_resident()
    print(f"peak memory: {gib(own + sum(peaks))} for all processes (this one {gib(own)}"
          + "".join(f", a worker {gib(peak)}" for peak in peaks) + ")")
    if busy:
        print("CPU-seconds in tasks: " + ", ".join(f"{name} {value:.1f}" for name, value in sorted(busy.items())))
    if backend.changes():
        print(f"the workers changed during {backend.changes()} level(s): their tasks ran again on the others")


def task_stream(backend: Backend) -> AbstractContextManager[Any]:
    """Dask's record of the tasks, entered and left with the search."""
    if isinstance(backend, Cluster):
        from distributed import get_task_stream

        return get_task_stream(backend.client)
    return nullcontext()


def busy_seconds(stream: Any) -> dict[str, float]:
    seconds: dict[str, float] = {}
    for task in getattr(stream, "data", []):
        name = str(task["key"]).split("-")[0]
        for part in task["startstops"]:
            if part["action"] == "compute":
                seconds[name] = seconds.get(name, 0.0) + part["stop"] - part["start"]
    return seconds


def main() -> None:
    parser = argparse.ArgumentParser(description="Build a pattern database of the cube by a breadth-first search "
                                                 "over its index, on a Dask cluster or in this process.")
    parser.add_argument("--pattern", type=pattern_argument, default=Pattern("corners"),
                        help="corners (the default), or edges:K for edge pieces 0 to K-1, K from 1 to 8")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--scheduler", metavar="ADDRESS", help="run on this existing cluster")
    where.add_argument("--no-cluster", action="store_true", help="run in this one process, on --workers threads")
    parser.add_argument("--workers", type=positive, help="worker processes of the cluster started here, or threads "
                                                         "with --no-cluster (default: one a core)")
    parser.add_argument("--depth", type=positive, help="stop after this distance (default: every position)")
    parser.add_argument("--out", type=Path, default=Path("pattern-databases"),
                        help="where the table and its manifest go (default %(default)s)")
    parser.add_argument("--resume", action="store_true", help="continue the search saved in --out")
    parser.add_argument("--quiet", action="store_true", help="no progress bars")
    args = parser.parse_args()
    if args.scheduler and args.workers:
        parser.error("--workers starts a cluster here; --scheduler uses one that runs already")
    pattern: Pattern = args.pattern
    manifest = Manifest.read(args.out, pattern)
    if manifest is not None and not args.resume:
        parser.error(f"{args.out} holds a search of {pattern.name} already: --resume continues it, or choose another "
                     "--out")
    if args.resume and manifest is None:
        parser.error(f"{args.out} holds no search of {pattern.name} to resume")

    start = time.perf_counter()
    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1
    try:
        backend: Backend = InProcess(args.workers or cores) if args.no_cluster else Cluster(args.workers or cores,
                                                                                           args.scheduler)
    except ClusterError as error:
        parser.exit(1, f"{parser.prog}: {error}\n")
    try:
        if isinstance(backend, Cluster):
            print(f"cluster: {backend.workers} worker{'s' * (backend.workers > 1)} at {backend.address}",
                  file=sys.stderr)
        with task_stream(backend) as stream:
            counts, complete = search(backend, args.out, pattern, args.depth, args.resume, args.quiet)
        peaks, busy = backend.peaks(), busy_seconds(stream)
    except StoreError as error:
        parser.exit(1, f"{parser.prog}: {error}\n")
    finally:
        backend.close()
    report(pattern, counts, complete, args.out, time.perf_counter() - start, backend, peaks, busy)


if __name__ == "__main__":
    main()
