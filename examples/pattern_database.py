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
the layout, the tasks, and what reads the tables).

How levels cross between workers: each task owns a range of the index
space. On this machine (--no-cluster, or the cluster started here) the
bitmaps of the search are files in shared memory that every task maps: a
task reads the frontier and the positions seen where it needs them and
sets the bits it finds in the new level's file, so that nothing but the
range and a count travels. The workers of a cluster started elsewhere are
each sent the frontier and the positions seen once a level, and send back
what they find in their range. Either way a worker lost in the middle of a
level loses nothing: its tasks run again on the others.
"""

from __future__ import annotations

import argparse
import os
import resource
import sys
import tempfile
import threading
import time
from collections.abc import Callable, Iterator
from concurrent.futures import CancelledError, ThreadPoolExecutor, as_completed
from contextlib import AbstractContextManager, closing, nullcontext
from pathlib import Path
from typing import Any, Protocol

import numpy as np

import patterndb
from patterndb import Files, Manifest, Pattern

#: The tasks' file as imported here: Dask's upload of it has the scheduler import the copy it keeps, which
#: then stands for the module in a process that runs the scheduler too (a cluster started here).
TASKS_FILE = patterndb.__file__

#: Tasks a level is cut into, a worker: enough that one that drew the lighter ranges takes another, few
#: enough that their cost stays small.
PARTS_A_WORKER = 8


class Runner(Protocol):
    """Where tasks run. `run` starts a task a tuple of arguments and yields their results as they come;
    `shared` says whether the tasks run on this machine, where they can map its files."""

    workers: int
    shared: bool
    lost: tuple[type[BaseException], ...]

    def run(self, task: Callable[..., Any], arguments: list[tuple[Any, ...]]) -> Iterator[Any]: ...
    def broadcast(self, *arrays: np.ndarray) -> list[Any]: ...
    def changes(self) -> int: ...
    def worker_peaks(self) -> list[int]: ...
    def close(self) -> None: ...


class Threads:
    """The tasks run in this process, on threads of its own (the work itself lets the interpreter lock go)."""

    shared = True
    lost: tuple[type[BaseException], ...] = ()

    def __init__(self, threads: int) -> None:
        self.workers = threads
        self.pool = ThreadPoolExecutor(threads)

    def run(self, task: Callable[..., Any], arguments: list[tuple[Any, ...]]) -> Iterator[Any]:
        for done in as_completed([self.pool.submit(task, *given) for given in arguments]):
            yield done.result()

    def broadcast(self, *arrays: np.ndarray) -> list[Any]:
        return list(arrays)

    def changes(self) -> int:
        return 0

    def worker_peaks(self) -> list[int]:
        return []

    def close(self) -> None:
        self.pool.shutdown()


#: glibc's malloc settings for the workers started here. By default glibc
#: gives every array of more than 32 MB back to the kernel when it is freed
#: (and Dask has it trim the heap at 64 KiB), so each task's arrays are
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
        self.shared = scheduler is None
        if scheduler is None:
            environ = {**dask.config.get("distributed.nanny.pre-spawn-environ"), **KEEP_FREED_MEMORY}
            try:
                with dask.config.set({"distributed.nanny.pre-spawn-environ": environ}):
                    self.local = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                              host="127.0.0.1", dashboard_address=None)
            except Exception as error:  # noqa: BLE001 - whatever stopped it, said as it is
                raise ClusterError(f"cannot start a cluster of {workers} worker{'s' * (workers > 1)} on "
                                   f"127.0.0.1: {type(error).__name__}: {error}") from error
            self.client = Client(self.local)
        else:
            try:
                self.client = Client(scheduler, timeout=30)
                # Tasks sent to a cluster without workers would wait forever.
                self.client.wait_for_workers(1, timeout=60)
            except (OSError, TimeoutError) as error:
                raise ClusterError(f"no cluster with a worker at {scheduler}: {error}") from error
        # The workers import the tasks by name, wherever they run; a worker that joins later is sent the file too.
        self.client.upload_file(TASKS_FILE)
        self.workers = len(self.names()) or 1
        self.address = str(self.client.scheduler_info()["address"])
        self.changed = 0

    def names(self) -> set[str]:
        return set(self.client.scheduler_info(n_workers=-1)["workers"])

    def run(self, task: Callable[..., Any], arguments: list[tuple[Any, ...]]) -> Iterator[Any]:
        from distributed import as_completed as completed

        before = self.names()
        futures = [self.client.submit(task, *given, pure=False) for given in arguments]
        for _, result in completed(futures, with_results=True):
            yield result
        if self.names() != before:
            self.changed += 1

    def broadcast(self, *arrays: np.ndarray) -> list[Any]:
        # Every worker holds them, so that any can take any task, and one that dies takes nothing with it.
        return list(self.client.scatter([a.view(np.ndarray) for a in arrays], broadcast=True, hash=False))

    def changes(self) -> int:
        """Rounds of tasks during which the workers changed (one was lost, or one came)."""
        return self.changed

    def worker_peaks(self) -> list[int]:
        """Each worker's peak resident memory, in bytes: of a cluster elsewhere, which this process cannot see."""
        return [] if self.local else list(self.client.run(_peak_resident).values())

    def close(self) -> None:
        self.client.close()
        if self.local is not None:
            self.local.close()


def _peak_resident() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


class MemoryPeak:
    """The most memory that this process and the processes it started hold at once, sampled: their own
    memory (anonymous, the arrays of each), and the files of a memory file system (the search's bitmaps),
    which are held once however many map them. The table's pages are the file system's cache."""

    def __init__(self, every: float = 0.2) -> None:
        self.peak, self.in_files, self.stopped = 0, 0, threading.Event()
        self.thread = threading.Thread(target=self.watch, args=(every,), daemon=True)
        if os.path.isdir("/proc/self"):
            self.thread.start()

    def watch(self, every: float) -> None:
        while not self.stopped.wait(every):
            total = sum(_own_memory(pid) for pid in _family(os.getpid()))
            self.peak = max(self.peak, total + self.in_files)

    def stop(self) -> int:
        """The peak, in bytes; this process's own peak where processes cannot be sampled."""
        self.stopped.set()
        if self.thread.is_alive():
            self.thread.join()
        return self.peak or _peak_resident()


def _family(pid: int) -> list[int]:
    """A process and the processes it started, and theirs, as /proc shows them."""
    parents: dict[int, list[int]] = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    # The parent's number is the second field after the name, which may hold spaces.
                    parent = int(stat.read().rpartition(")")[2].split()[1])
            except (OSError, ValueError, IndexError):
                continue
            parents.setdefault(parent, []).append(int(entry))
    family, k = [pid], 0
    while k < len(family):
        family += parents.get(family[k], [])
        k += 1
    return family


def _own_memory(pid: int) -> int:
    """A process's resident anonymous memory, in bytes (0 for a process that is gone): a counter the kernel
    keeps, cheap to read however much the process maps."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


class StoreError(Exception):
    """The table, its manifest or the search's files could not be written: a full disk, a folder that
    cannot be written."""


def store(action: Callable[[], Any], what: Path | str) -> Any:
    try:
        return action()
    except OSError as error:
        raise StoreError(f"cannot write {what}: {error}") from error


def shared_memory() -> str | None:
    """Where the search's bitmaps go: a memory file system if there is one to write (Linux's /dev/shm),
    else the system's temporary folder."""
    return "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None


class Table:
    """The table of the search, on disk, and the manifest beside it, which names the levels that the table
    holds: it is written once the workers have written a level in the table. The table's pages reach the
    disk when the system writes them back, and when the search ends: a resumed search counts the table's
    levels, and starts again from the first the table does not hold in full, as after the machine stopped."""

    def __init__(self, folder: Path, pattern: Pattern, resume: bool) -> None:
        self.folder, self.pattern, self.path = folder, pattern, folder / pattern.file_name
        if resume:
            manifest = Manifest.read(folder, pattern)
            assert manifest is not None
            self.data = np.memmap(self.path, np.uint8, "r+", shape=(patterndb.table_bytes(pattern.size),))
            self.data[0] &= 0xF0  # position 0, solved, is at distance 0 whatever happened
            held = max(1, patterndb.held_levels(self.data, manifest.counts))
            store(lambda: patterndb.forget_above(self.data, held - 1), self.path)
            self.counts, self.complete = manifest.counts[:held], manifest.complete and held == len(manifest.counts)
        else:
            store(lambda: folder.mkdir(parents=True, exist_ok=True), folder)
            self.data = store(lambda: patterndb.new_table(self.path, pattern.size), self.path)
            self.data[0] = 0xF0  # position 0, solved, at distance 0
            self.counts, self.complete = [], False
            self.level_done(1)

    def level_done(self, found: int) -> None:
        self.counts.append(found)
        store(lambda: Manifest(self.pattern.name, self.counts, False).write(self.folder), self.folder)

    def finish(self) -> None:
        """Every position is found: the manifest says so."""
        self.complete = True
        store(lambda: Manifest(self.pattern.name, self.counts, True).write(self.folder), self.folder)

    def close(self) -> None:
        store(self.data.flush, self.path)


def search_files(scratch: str, table: Table) -> Files:
    """The search's bitmaps, made in `scratch`: from the table where it resumes, else the solved position."""
    size, nbytes = table.pattern.size, patterndb.bitmap_bytes(table.pattern.size)
    files = Files(os.path.join(scratch, "seen.bits"), os.path.join(scratch, "frontier.bits"),
                  os.path.join(scratch, "new.bits"), str(table.path))
    for path in files[:3]:
        store(lambda: patterndb.new_file(path, nbytes), path)
    seen, frontier = patterndb.mapped(files.seen), patterndb.mapped(files.frontier)
    if table.counts[1:]:
        seen[:], frontier[:] = patterndb.bitmaps(table.data, size, len(table.counts) - 1)
    else:
        seen[0] = frontier[0] = 1
    return files


def search(runner: Runner, folder: Path, pattern: Pattern, depth: int | None, resume: bool, quiet: bool,
           memory: MemoryPeak | None = None, retries: int = 3) -> tuple[list[int], bool]:
    """The breadth-first search, saved level by level; returns the counts by distance and whether it
    reached every position."""
    table = Table(folder, pattern, resume)
    with closing(table):
        return levels(runner, table, depth, quiet, memory, retries)


def levels(runner: Runner, table: Table, depth: int | None, quiet: bool, memory: MemoryPeak | None,
           retries: int) -> tuple[list[int], bool]:
    """The search's levels after those the table holds, up to `depth`."""
    from rich.console import Console
    from rich.progress import BarColumn, Progress, TextColumn, TimeElapsedColumn

    pattern, counts = table.pattern, table.counts
    if table.complete or (depth is not None and len(counts) > depth):
        return counts, table.complete
    bars = Progress(TextColumn("distance {task.fields[distance]:>2} {task.fields[way]:8}"), BarColumn(),
                    TextColumn("{task.fields[rate]}"), TimeElapsedColumn(), TextColumn("{task.fields[found]}"),
                    console=Console(stderr=True), disable=quiet)
    # Bitmaps of a cluster elsewhere are made here; only their level's tasks run there.
    committer = runner if runner.shared else Threads(os.cpu_count() or 1)

    def every(task: Callable[..., Any], arguments: list[tuple[Any, ...]], on: Runner = runner) -> Iterator[Any]:
        """The results of a round of tasks; the round is made again if a lost worker stopped it (its
        tasks change nothing when run twice)."""
        for attempt in range(retries + 1):
            try:
                yield from on.run(task, arguments)
                return
            except on.lost as error:
                if attempt == retries:
                    raise
                bars.console.print(f"{type(error).__name__} ({error}): the round of {task.__name__} runs again")
                yield None  # the round starts over

    with tempfile.TemporaryDirectory(prefix="pattern-search-", dir=shared_memory()) as scratch, bars, \
            (nullcontext() if committer is runner else closing(committer)):
        files = search_files(scratch, table)
        if memory is not None and scratch.startswith("/dev/shm"):
            memory.in_files = 3 * patterndb.bitmap_bytes(pattern.size)
        while depth is None or len(counts) <= depth:
            distance, unseen = len(counts), pattern.size - sum(counts)
            # Backward once the frontier is half of what is left: measured, that is where it gets cheaper.
            backward = 2 * counts[-1] > unseen
            # A small level is a task a worker; a large one more, so that the workers end together.
            parts = PARTS_A_WORKER if backward or counts[-1] > pattern.size >> 10 else 1
            ranges = patterndb.ranges(pattern.size, parts * runner.workers)
            bar = bars.add_task("", total=pattern.size, distance=distance, way="backward" if backward else "forward",
                                rate="", found="")
            start = time.perf_counter()
            if runner.shared:
                round_of = every(patterndb.level_part, [(files, pattern.name, b, e, backward) for b, e in ranges])
            else:
                new = patterndb.mapped(files.new)
                shared = runner.broadcast(patterndb.mapped(files.frontier), patterndb.mapped(files.seen))
                round_of = every(patterndb.level_bits, [(*shared, pattern.name, b, e, backward) for b, e in ranges])
            for result in round_of:
                if result is None:
                    bars.reset(bar)
                    continue
                if not runner.shared:
                    patterndb.merge(new, result)
                bars.advance(bar, result if runner.shared else result.end - result.begin)
                rate = bars.tasks[bar].completed / max(time.perf_counter() - start, 1e-9)
                bars.update(bar, rate=f"{rate:,.0f} positions/s")
            commits = [(files, b, e, distance) for b, e in patterndb.ranges(pattern.size, runner.workers)]
            found = 0
            for result in every(patterndb.commit_part, commits, committer):
                found = 0 if result is None else found + result
            files = files.next()
            if not found:
                bars.remove_task(bar)
                table.finish()
                break
            bars.update(bar, found=f"{found:,} new positions")
            table.level_done(found)
        patterndb.release(list(files))
    return counts, table.complete


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


def report(pattern: Pattern, counts: list[int], complete: bool, folder: Path, seconds: float, runner: Runner,
           peak: int, busy: dict[str, float]) -> None:
    print("distance  positions")
    for distance, found in enumerate(counts):
        print(f"{distance:8}  {found:11,}")
    total, workers = sum(counts), runner.workers
    print(f"total {total:,} positions of {pattern.size:,}{' (every one)' * complete}; table {folder / pattern.file_name}")
    print(f"time {seconds:.1f} s: {total / seconds:,.0f} positions/s ({workers} "
          f"{'worker' if isinstance(runner, Cluster) else 'thread'}{'s' * (workers > 1)})")
    elsewhere = runner.worker_peaks()
    print(f"peak memory: {gib(peak)} for " + ("this process and those it started" if not elsewhere else
          "this process, and a worker " + ", ".join(gib(p) for p in elsewhere)))
    if busy:
        print("CPU-seconds in tasks: " + ", ".join(f"{name} {value:.1f}" for name, value in sorted(busy.items())))
    if runner.changes():
        print(f"the workers changed during {runner.changes()} round(s) of tasks: their tasks ran again on the others")


def task_stream(runner: Runner) -> AbstractContextManager[Any]:
    """Dask's record of the tasks, entered and left with the search."""
    if isinstance(runner, Cluster):
        from distributed import get_task_stream

        return get_task_stream(runner.client)
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
    try:
        manifest = Manifest.read(args.out, pattern)
    except (OSError, ValueError, KeyError) as error:
        parser.error(f"cannot read the manifest in {args.out}: {error}")
    if manifest is not None and not args.resume:
        parser.error(f"{args.out} holds a search of {pattern.name} already: --resume continues it, or choose another "
                     "--out")
    if args.resume and manifest is None:
        parser.error(f"{args.out} holds no search of {pattern.name} to resume")

    start, memory = time.perf_counter(), MemoryPeak()
    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1
    try:
        runner: Runner = Threads(args.workers or cores) if args.no_cluster else Cluster(args.workers or cores,
                                                                                       args.scheduler)
    except ClusterError as error:
        parser.exit(1, f"{parser.prog}: {error}\n")
    try:
        if isinstance(runner, Cluster):
            print(f"cluster: {runner.workers} worker{'s' * (runner.workers > 1)} at {runner.address}", file=sys.stderr)
        with task_stream(runner) as stream:
            try:
                counts, complete = search(runner, args.out, pattern, args.depth, args.resume, args.quiet, memory)
            except runner.lost:
                raise
            except OSError as error:  # from a task: its table's range or the search's files
                raise StoreError(f"cannot write the search's files: {error}") from error
        busy = busy_seconds(stream)
        report(pattern, counts, complete, args.out, time.perf_counter() - start, runner, memory.stop(), busy)
    except StoreError as error:
        parser.exit(1, f"{parser.prog}: {error}\n")
    finally:
        runner.close()


if __name__ == "__main__":
    main()
