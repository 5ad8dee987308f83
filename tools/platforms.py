#!/usr/bin/env python3
"""Builds turnwheel for every row of tools/targets.txt and checks each build
where it runs.

    tools/platforms.py OUTDIR [--only ID ...] [--build-only] [--jobs N] [--list]
    tools/platforms.py --markdown

Each interpreter of a row has an identifier in the manner of cibuildwheel's
(cp311-manylinux_s390x, cp313t-musllinux_x86_64, pp39-manylinux_x86_64), each
core row one of its own (core-neon-armv7l); --only takes fnmatch patterns of
them (--only 'cp311-*' --only '*-musllinux_*'), --list prints them.

For each interpreter of a row the module is built with zig through CMake
(tools/zig.cmake) against that interpreter's headers, packed into a wheel
(tools/make_wheel.py), built a second time in a fresh folder (the two must
be byte-identical), checked by auditwheel against its tag, and installed
with pip into a fresh environment of its interpreter, natively or in its
chroot (under qemu for another processor), where the whole test suite runs
against it, away from the source tree (and, for the CPythons that pyenv
lacks, the type checks of tools/typecheck.sh). "compile" rows are only
built; core rows build the pure core's checks as a static program and run
them.

Interpreters come from the host's pyenv, from Debian roots (made once, by
unpacking Debian's packages) or from tools/source_python.sh, and are kept in
the cache folder ($TURNWHEEL_CHROOTS, default /var/cache/turnwheel), with
zig's builds of each target's C library and the objects it compiled, found
again by their flags and inputs (the sources are copied to one place there
first, and each of a wheel's two builds keeps objects of its own): a warm run
compiles only what changed. The module is linked as C, and may
need nothing but the interpreter's symbols and the C library's. Jobs run side
by side (--jobs, default 2), each writing its own log in OUTDIR/logs; a failed
job prints its log's end and fails the run. Needs root. The work is done by
the modules of tools/driver, one concern each.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import shlex
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from driver import build, caches, checks, interpreters, table  # noqa: E402
from driver.runner import Job, Runner  # noqa: E402
from driver.shell import CACHE, Log, lib, run  # noqa: E402
from driver.workspace import Workspace  # noqa: E402


def schedule(runner: Runner, ws: Workspace, rows: list[table.Row], build_only: bool) -> checks.Checks:
    """Every job of the rows: the tools, each interpreter's provider, its wheel and its suite, the core's checks."""
    qemus = " ".join(sorted({row.facts.qemu for row in rows if row.runs == "qemu" and row.facts.qemu}))

    def host_tools(log: Log) -> None:
        run(["bash", "-c", lib(f"host_tools {qemus}")], log)

    runner.add(Job("host tools", host_tools))
    runner.add(build.wheel_tools_job(ws))
    suites = checks.Checks(ws)
    chroots = interpreters.chroot_packages(ws.table)
    for row in rows:
        if row.core:
            runner.add(checks.core_job(ws, row, build.SOURCES))
            continue
        for version in row.pythons:
            interpreter = interpreters.interpreter_for(row, version)
            runner.add(interpreters.provider_job(interpreter, chroots), shared=True)
            if row.libc == "musl":  # auditwheel looks for the C library in a musl root
                root = interpreters.musl_roots(ws.table, row.zig)[0]
                runner.add(interpreters.provider_job(root, chroots), shared=True)
            runner.add(build.wheel_job(ws, interpreter))
            if interpreter.runnable and not build_only:
                runner.add(suites.check_job(interpreter))
    return suites


def descendants(pid: int) -> list[int]:
    """The processes below `pid`, from /proc."""
    parents: dict[int, list[int]] = {}
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        parents.setdefault(int(fields[1]), []).append(int(stat.parent.name))
    found, queue = [], [pid]
    while queue:
        for child in parents.get(queue.pop(), []):
            found.append(child)
            queue.append(child)
    return found


def unmount_roots() -> None:
    """Whatever is mounted in the cache folder: a chroot's proc and dev while its jobs run. Left mounted, the
    host's /dev is inside the cache folder, where a plain rm -rf of the folder would delete its devices."""
    subprocess.run(["bash", "-c", lib(f"unmount_below {shlex.quote(str(CACHE))}")], check=False)


def stop(signum: int, _frame: object) -> None:
    """Stopped from outside (CI's end, ^C): the jobs' programs stopped and the roots unmounted, then out."""
    for pid in descendants(os.getpid()):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    unmount_roots()
    os._exit(128 + signum)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("outdir", type=Path, nargs="?", help="where the wheels go (logs in OUTDIR/logs)")
    parser.add_argument("--only", action="append", default=[], metavar="ID",
                        help="only the interpreters (and core rows) whose identifier matches this fnmatch pattern, "
                             "e.g. cp311-manylinux_s390x or '*-musllinux_*' (repeatable: any of them)")
    parser.add_argument("--build-only", action="store_true", help="build the wheels, run nothing")
    parser.add_argument("--jobs", type=int, default=2, help="jobs at once (default 2)")
    parser.add_argument("--list", action="store_true", help="print the identifiers, the jobs and what each "
                        "needs; run nothing")
    parser.add_argument("--markdown", action="store_true", help="print the table as the README shows it")
    parser.add_argument("--keep-runs", type=int, default=3, metavar="N",
                        help="after a successful run of the whole table, remove from zig's object caches what "
                             "none of the last N such runs used (default 3)")
    args = parser.parse_args()
    try:
        whole = table.read_table()
    except table.TableError as error:
        parser.exit(2, f"{error}\n")
    rows = table.select(whole, args.only)
    if args.only and not rows:
        parser.error(f"no identifier matches {' or '.join(args.only)} (--list shows them)")
    if args.markdown:
        print(table.markdown(rows), end="")
        return 0
    if args.outdir is None:
        parser.error("OUTDIR is needed")
    if args.jobs < 1 or args.keep_runs < 1:
        parser.error("--jobs and --keep-runs must be at least 1")
    args.outdir.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        ws = Workspace.make(args.outdir.resolve(), Path(work), whole)
        runner = Runner(args.outdir.resolve() / "logs", args.jobs)
        suites = schedule(runner, ws, rows, args.build_only)
        if args.list:
            print("identifiers:", *(i for row in rows for i in row.identifiers()))
            for job in runner.jobs.values():
                print(f"{job.name:40} needs {', '.join(job.needs) or '-'}")
            return 0
        start, started = time.monotonic(), time.time()
        # One run at a time owns the cache folder: what a killed run left mounted there goes first.
        unmount_roots()
        for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(signum, stop)
        build.stage_sources()
        try:
            ok = runner.run()
        finally:
            suites.clean_up()
        print(f"\n{len(runner.jobs)} jobs in {time.monotonic() - start:.0f} s"
              f"{'' if ok else '; failed: ' + ', '.join(runner.failed)}")
        if ok and not args.only:
            # A partial or failed run leaves out builds whose entries would look unused.
            for cache in sorted((CACHE / "zig-objects").glob("*")):
                pruned = caches.prune(cache, started, args.keep_runs)
                print(f"  zig's objects in {cache}: {pruned.kept} entries kept, {pruned.removed} removed "
                      f"({pruned.freed / 2**20:.0f} MiB), unused in the last {args.keep_runs} runs")
        for wheel in sorted(args.outdir.glob("*.whl")):
            digest = hashlib.sha256(wheel.read_bytes()).hexdigest()[:16]
            print(f"  {wheel.name} ({wheel.stat().st_size:,} bytes, sha256 {digest}...)")
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
