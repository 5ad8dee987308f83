"""The interpreters of a row, where they come from (pyenv, Debian roots made by unpacking Debian's
packages, builds from source), the jobs that make them available, and running programs where they live."""

from __future__ import annotations

import contextlib
import shlex
import subprocess
import threading
from collections.abc import Iterator
from dataclasses import dataclass, field
from pathlib import Path

from .runner import Job
from .shell import CACHE, TOOLS, Command, Log, lib, run
from .table import Row


def pyenv_python(minor: str) -> Path:
    """pyenv's newest CPython `minor` (tools/pyenv_python.sh); RuntimeError if it has none."""
    found = subprocess.run([TOOLS / "pyenv_python.sh", minor], capture_output=True, text=True)
    if found.returncode != 0:
        raise RuntimeError(found.stderr.strip() or f"no CPython {minor} from pyenv")
    return Path(found.stdout.strip())


def pyenv_prefix(minor: str) -> Path:
    return pyenv_python(minor).parent.parent


class Mounts:
    """proc and dev mounted in a chroot while any job uses it, and unmounted after the last."""

    def __init__(self) -> None:
        self.lock = threading.Lock()
        self.users: dict[Path, int] = {}

    @contextlib.contextmanager
    def __call__(self, root: Path) -> Iterator[None]:
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


@dataclass
class Interpreter:
    """One interpreter of a row: where its headers are, how to run it, the wheel it takes."""

    row: Row
    version: str  # "3.9", "3.13t", "pp3.11"
    provider: str  # the job that makes it available
    root: Path | None = None  # a chroot or musl root, if it runs in one
    facts: dict[str, str] = field(default_factory=dict)  # what it says of itself, and its wheel once built

    @property
    def name(self) -> str:
        return f"{self.row.platform.split('.')[0]}-{self.version}"

    @property
    def pypy(self) -> bool:
        return self.version.startswith("pp")

    @property
    def free_threaded(self) -> bool:
        return self.version.endswith("t")

    @property
    def minor(self) -> str:
        return self.version.removeprefix("pp").removesuffix("t")

    @property
    def runnable(self) -> bool:
        return self.row.runs is not None

    @property
    def program(self) -> str:
        if self.pypy:
            return "pypy3"
        kind = self.row.source.kind
        if kind == "pyenv":
            return str(pyenv_python(self.minor))
        if kind == "source" and self.row.libc == "glibc":
            return str(CACHE / f"python-{self.version}-host" / "bin" / f"python{self.version}")
        if kind == "source":
            return f"/usr/local/bin/python{self.version}"
        return f"python{self.minor}"

    def expected_suffix(self) -> str:
        """CPython's module suffix on this platform: musl is named as such from 3.11."""
        xy = self.minor.replace(".", "")
        libc = "musl" if self.row.libc == "musl" and int(xy[1:]) >= 11 else "gnu"
        return f".cpython-{xy}{'t' if self.free_threaded else ''}-{self.row.facts.triplet.format(libc)}.so"

    def tag(self) -> str:
        xy = self.minor.replace(".", "")
        if self.pypy:
            return f"pp{xy}-{self.facts['soabi'].replace('-', '_')}-{self.row.platform}"
        return f"cp{xy}-cp{xy}{'t' if self.free_threaded else ''}-{self.row.platform}"

    def suffix(self) -> str:
        return self.facts.get("suffix") or self.expected_suffix()

    def run(self, command: Command, log: Log, capture: bool = False, env: dict[str, str] | None = None) -> str:
        """Runs a program where the interpreter lives: natively, or in its chroot with a clean environment."""
        settings = [f"{k}={v}" for k, v in (env or {}).items()]
        if self.root is None:
            return run(["env", *settings, *command], log, capture)
        with mounts(self.root):
            return run(["bash", "-c", lib('chroot_exec "$@"'), "-", str(self.root), *settings, *command], log, capture)

    def learn_facts(self, log: Log) -> None:
        """Its module suffix, ABI and headers, from the interpreter itself."""
        code = ("import sys, sysconfig; c = sysconfig.get_config_var; print(c('EXT_SUFFIX'), c('SOABI'), "
                "sys.implementation.name, '%d.%d' % sys.version_info[:2], sysconfig.get_paths()['include'])")
        suffix, soabi, implementation, version, include = self.run([self.program, "-c", code], log,
                                                                   capture=True).split()
        self.facts.update(suffix=suffix, soabi=soabi, include=include)
        if version != self.minor:
            raise RuntimeError(f"{self.program} is Python {version}, not {self.minor}")
        if implementation == "cpython" and suffix != self.expected_suffix():
            # What the rule gives the interpreters that cannot run here must hold for those that can.
            raise RuntimeError(f"module suffix {suffix}, where the rule says {self.expected_suffix()}")

    def include_dirs(self) -> list[str]:
        """Python.h of the interpreter, and what Debian's pyconfig.h reaches for, on their own."""
        if "include" in self.facts:
            include = Path((str(self.root) if self.root else "") + self.facts["include"])
        elif self.row.source.kind == "pyenv":
            include = pyenv_prefix(self.minor) / "include" / f"python{self.minor}"
        else:
            include = (self.root or Path("/")) / "usr" / "include" / f"python{self.minor}"
        shim = CACHE / "include-shims" / self.name  # the same path each run, for zig's cache
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


def interpreter_for(row: Row, version: str) -> Interpreter:
    kind, suite = row.source.kind, row.source.suite
    if kind == "debian":
        return Interpreter(row, version, f"chroot {suite}-{row.facts.debian}", CACHE / f"{suite}-{row.facts.debian}")
    if kind == "source":
        target = "host" if row.libc == "glibc" else row.zig
        root = None if target == "host" else CACHE / f"python-{version}-{target}"
        return Interpreter(row, version, f"source {version} {target}", root)
    return Interpreter(row, version, "pyenv")


def musl_roots(table: list[Row], zig: str) -> list[Interpreter]:
    """The musl interpreters built from source for a target (whole table), each in a root of its own."""
    return [interpreter_for(row, version) for row in table if row.zig == zig and row.source.kind == "source"
            for version in row.pythons]


def chroot_packages(rows: list[Row]) -> dict[str, tuple[str, str, set[str]]]:
    """Every chroot the rows name (suite-arch), with the packages its rows need."""
    chroots: dict[str, tuple[str, str, set[str]]] = {}
    for row in rows:
        if row.source.kind != "debian" or row.source.suite is None:
            continue
        arch = row.facts.debian
        packages = chroots.setdefault(f"{row.source.suite}-{arch}", (row.source.suite, arch, {"ca-certificates"}))[2]
        for version in row.pythons:
            names = ("pypy3", "pypy3-dev", "pypy3-venv") if version.startswith("pp") else ("python{}", "python{}-dev",
                                                                                        "python{}-venv")
            packages |= {name.format(version.removesuffix("t")) for name in names}
            # In older releases a versioned venv needs wheels that only the
            # release's own python3-venv names.
            packages |= {"python3-venv"} if not version.startswith("pp") else set()
            # pyright runs on node, which needs the C++ library.
            packages |= {"libstdc++6"} if row.type_checked(version) else set()
        # Debian's NumPy, or the C++ library that NumPy's manylinux wheels expect of the system.
        packages |= {"debian": {"python3-numpy"}, "pypi": {"libstdc++6"}}.get(row.numpy or "", set())
    return chroots


def provider_job(interpreter: Interpreter, chroots: dict[str, tuple[str, str, set[str]]]) -> Job:
    """The job that makes an interpreter available: a Debian root unpacked, a build from source, or nothing."""
    name = interpreter.provider
    if name.startswith("chroot "):
        suite, arch, packages = chroots[name.split()[1]]
        command = lib(f"extract_root {suite}-{arch} {arch} {suite} {','.join(sorted(packages))}")

        def action(log: Log) -> None:
            run(["bash", "-c", command], log)
    elif name.startswith("source "):
        def action(log: Log) -> None:
            run([TOOLS / "source_python.sh", *name.split()[1:]], log)
    else:
        def action(log: Log) -> None:
            pass
    return Job(name, action, ("host tools",), rank=0)  # the longest chains start with these
