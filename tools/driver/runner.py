"""Jobs run after what they need, a few side by side, each writing a log of its own. A job whose need
failed (or does not exist) is skipped and counts as failed; among the jobs ready to start, the lowest
rank starts first (and of equal ranks the one added first), which gives the heads of the longest chains
to the first free slots."""

from __future__ import annotations

import graphlib
import heapq
import sys
import time
from collections.abc import Callable
from concurrent.futures import FIRST_COMPLETED, Future, ThreadPoolExecutor, wait
from dataclasses import dataclass
from pathlib import Path

from .shell import Log, file_name


@dataclass(frozen=True)
class Job:
    name: str
    action: Callable[[Log], None]  # given its log; an exception fails it
    needs: tuple[str, ...] = ()
    rank: int = 0  # lower starts first among ready jobs


def say(line: str) -> None:
    print(line, flush=True)


class Runner:
    def __init__(self, logs: Path, slots: int, report: Callable[[str], None] = say) -> None:
        if slots < 1:
            raise ValueError(f"jobs at once must be at least 1, not {slots}")
        self.logs, self.slots, self.report = logs, slots, report
        self.jobs: dict[str, Job] = {}
        self.seconds: dict[str, float] = {}
        self.failed: list[str] = []

    def add(self, job: Job, shared: bool = False) -> None:
        """A job; one that several others provide for (`shared`) is added once."""
        if job.name in self.jobs and not shared:
            raise ValueError(f"two jobs named {job.name}")
        self.jobs.setdefault(job.name, job)

    def work(self, job: Job) -> bool:
        path = self.log_of(job.name)
        start = time.monotonic()
        with open(path, "w") as log:
            try:
                job.action(log)
                ok = True
            except Exception as error:  # noqa: BLE001 - reported with the log
                log.write(f"\nFAILED: {error}\n")
                ok = False
        self.seconds[job.name] = time.monotonic() - start
        return ok

    def log_of(self, name: str) -> Path:
        return self.logs / f"{file_name(name)}.log"

    def run(self) -> bool:
        """Every job, or as many as can run; True if all succeeded."""
        self.logs.mkdir(parents=True, exist_ok=True)
        sorter = graphlib.TopologicalSorter({name: job.needs for name, job in self.jobs.items()})
        try:
            sorter.prepare()
        except graphlib.CycleError as error:
            self.report(f"-- cannot start: the jobs {' -> '.join(error.args[1])} need each other")
            self.failed = sorted(self.jobs)
            return False
        ready: list[tuple[int, int, str]] = []
        running: dict[Future[bool], str] = {}
        missing: set[str] = set()  # needed, and no job of that name

        order = {name: place for place, name in enumerate(self.jobs)}  # ties go to the job added first

        def push_ready() -> None:
            for name in sorter.get_ready():
                job = self.jobs.get(name)
                heapq.heappush(ready, (job.rank if job else 0, order.get(name, len(order)), name))

        def finish(name: str) -> None:
            sorter.done(name)
            push_ready()

        push_ready()
        with ThreadPoolExecutor(self.slots) as pool:
            while ready or running:
                while ready and len(running) < self.slots:
                    _, _, name = heapq.heappop(ready)
                    if name not in self.jobs:
                        self.report(f"-- no job {name}, which others need")
                        missing.add(name)
                        finish(name)
                    elif any(need in self.failed or need in missing for need in self.jobs[name].needs):
                        self.report(f"-- skipped {name}: what it needs failed")
                        self.failed.append(name)
                        finish(name)
                    else:
                        self.report(f"-- start {name} ({time.strftime('%H:%M:%S')})")
                        running[pool.submit(self.work, self.jobs[name])] = name
                if not running:
                    continue
                finished, _ = wait(running, return_when=FIRST_COMPLETED)
                for future in finished:
                    name = running.pop(future)
                    if future.result():
                        self.report(f"-- done {name} ({self.seconds[name]:.0f} s)")
                    else:
                        self.failed.append(name)
                        tail = self.log_of(name).read_text().splitlines()[-40:]
                        self.report("\n".join([f"-- FAILED {name} ({self.seconds[name]:.0f} s), "
                                               f"end of {self.log_of(name)}:", *tail]))
                    finish(name)
        sys.stdout.flush()
        return not self.failed
