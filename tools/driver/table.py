"""tools/arches.txt and tools/targets.txt as typed rows, parsed and checked once; selecting rows by
identifier; the table as the README shows it."""

from __future__ import annotations

import dataclasses
import fnmatch
from dataclasses import dataclass
from pathlib import Path

from .shell import TOOLS

HOST_ARCH = "x86_64"


class TableError(Exception):
    """A table the driver would build wrongly: the message names the line."""


def columns(path: Path) -> list[dict[str, str]]:
    """A table's data lines, each by the column names of the comment line just above its first one."""
    header: list[str] = []
    lines: list[dict[str, str]] = []
    last_comment = ""
    for line in path.read_text().splitlines():
        if line.startswith("#"):
            last_comment = line
        elif line.strip():
            header = header or last_comment.lstrip("#").split()
            values = line.split()
            if len(values) != len(header):
                raise TableError(f"{path.name}: {len(values)} columns, not {len(header)} ({' '.join(header)}): {line}")
            lines.append(dict(zip(header, values)) | {"": line})
    return lines


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
    gnuflags: tuple[str, ...]


def read_arches(path: Path = TOOLS / "arches.txt") -> dict[str, Arch]:
    arches = {}
    for line in columns(path):
        arches[line["zig"]] = Arch(line["zig"], line["wheel"], line["debian"], line["triplet"],
                                   None if line["qemu"] == "-" else line["qemu"], line["alpine"], line["musl"],
                                   int(line["bits"]), line["order"], line["typing"] == "yes",
                                   () if line["gnuflags"] == "-" else tuple(line["gnuflags"].split(",")))
    return arches


@dataclass(frozen=True)
class Source:
    """Where a row's interpreters come from, and how far its wheels go."""

    kind: str  # pyenv, debian, source or core
    suite: str | None  # Debian's release, for debian
    stage: str  # "run": interpreters here; "headers": a wheel built, not run; "compile": compiled only

    @classmethod
    def parse(cls, text: str) -> Source:
        stage, _, rest = text.partition(":") if text.startswith(("headers:", "compile:")) else ("run", "", text)
        kind, _, suite = rest.partition(":")
        if kind not in ("pyenv", "debian", "source", "core") or (kind == "debian") != bool(suite):
            raise ValueError(f"no such source of interpreters: {text}")
        if kind in ("source", "core") and stage != "run":
            raise ValueError(f"{kind} rows have no headers of their own: {text}")
        return cls(kind, suite or None, stage)

    def __str__(self) -> str:
        text = self.kind + (f":{self.suite}" if self.suite else "")
        return text if self.stage == "run" else f"{self.stage}:{text}"


@dataclass(frozen=True)
class Row:
    """One line of tools/targets.txt."""

    platform: str  # the wheel's platform tags, joined by dots ("-" for core rows)
    zig: str
    cpu: str | None
    pythons: tuple[str, ...]  # "3.9", "3.13t", "pp3.11"; none for core rows
    engine: str | None  # core rows: the move engine their checks must choose ("best": by /proc/cpuinfo)
    source: Source
    runs: str | None  # native or qemu
    numpy: str | None  # pypi or debian
    facts: Arch
    line: str

    @property
    def arch(self) -> str:
        return self.zig.split("-")[0]

    @property
    def libc(self) -> str:
        return "musl" if "musl" in self.zig else "glibc"

    @property
    def core(self) -> bool:
        return self.source.kind == "core"

    @property
    def builds_wheels(self) -> bool:
        return not self.core and self.source.stage != "compile"

    def identifier(self, version: str | None = None) -> str:
        """The name that --only selects, as cibuildwheel's identifiers go: cp311-manylinux_s390x,
        cp313t-musllinux_x86_64, pp39-manylinux_x86_64; core-neon-armv7l for the core's checks."""
        family = f"{'musl' if self.libc == 'musl' else 'many'}linux_{self.facts.wheel}"
        if version is None:
            return f"core-{self.engine}-{self.facts.wheel}"
        xy = version.removeprefix("pp").removesuffix("t").replace(".", "")
        return f"{'pp' if version.startswith('pp') else 'cp'}{xy}{'t' if version.endswith('t') else ''}-{family}"

    def identifiers(self) -> list[str]:
        return [self.identifier()] if self.core else [self.identifier(version) for version in self.pythons]

    def type_checked(self, version: str) -> bool:
        """CPythons with the lock that pyenv lacks: CI type-checks pyenv's on the host, these with their wheel."""
        return (not version.startswith("pp") and not version.endswith("t") and self.runs == "native"
                and self.libc == "glibc" and self.source.kind == "debian" and self.facts.typing)


def parse_row(line: dict[str, str], arches: dict[str, Arch]) -> Row:
    text = line[""]
    try:
        source = Source.parse(line["from"])
    except ValueError as error:
        raise TableError(f"targets.txt: {error}: {text}") from None
    arch = line["zig"].split("-")[0]
    if arch not in arches:
        raise TableError(f"targets.txt: {arch} has no line in arches.txt: {text}")
    runs = None if line["runs"] == "-" else line["runs"]
    numpy = None if line["numpy"] == "-" else line["numpy"]
    if runs not in (None, "native", "qemu") or (runs is None) != (source.stage != "run"):
        raise TableError(f"targets.txt: a row runs (native or qemu) if and only if it has interpreters here: {text}")
    if runs == "qemu" and arches[arch].qemu is None:
        raise TableError(f"targets.txt: {arch} has no qemu in arches.txt: {text}")
    if numpy not in (None, "pypi", "debian") or (numpy and runs is None) or (
            numpy == "debian" and source.kind != "debian"):
        raise TableError(f"targets.txt: NumPy from {numpy} for a row that does not run or has no Debian root: {text}")
    host, target = arches[HOST_ARCH], arches[arch]
    if source.kind == "pyenv" and (target.bits, target.order) != (host.bits, host.order):
        # pyconfig.h says the word size and byte order of the machine it was made for.
        raise TableError(f"targets.txt: {arch} is {target.bits}-bit {target.order}-endian, and the host's "
                         f"headers (pyenv) are {host.bits}-bit {host.order}-endian: {text}")
    core = source.kind == "core"
    return Row(line["platform"], line["zig"], None if line["cpu"] == "-" else line["cpu"],
               () if core else tuple(line["pythons"].split(",")), line["pythons"] if core else None, source, runs,
               numpy, target, text)


def read_table(path: Path = TOOLS / "targets.txt", arches: dict[str, Arch] | None = None) -> list[Row]:
    """The rows, each checked, and refused together if two of them would make the same build."""
    arches = read_arches() if arches is None else arches
    rows = [parse_row(line, arches) for line in columns(path)]
    seen: dict[str, Row] = {}
    for row in rows:
        for identifier in row.identifiers():
            if identifier in seen:
                raise TableError(f"targets.txt: two rows for {identifier}: {seen[identifier].line} and {row.line}")
            seen[identifier] = row
    return rows


def select(rows: list[Row], patterns: list[str]) -> list[Row]:
    """The rows, each with only the interpreters whose identifier matches one of the fnmatch patterns
    (all of them if none is given); rows left with nothing are left out."""
    if not patterns:
        return rows
    chosen = []
    for row in rows:
        if row.core:
            if any(fnmatch.fnmatchcase(row.identifier(), p) for p in patterns):
                chosen.append(row)
            continue
        pythons = tuple(v for v in row.pythons if any(fnmatch.fnmatchcase(row.identifier(v), p) for p in patterns))
        if pythons:
            chosen.append(dataclasses.replace(row, pythons=pythons))
    return chosen


def markdown(rows: list[Row]) -> str:
    """The table as the README shows it."""
    lines = ["| wheel | interpreters | from | how it is tested |", "|---|---|---|---|"]
    for row in rows:
        where = "natively" if row.runs == "native" else f"under qemu-{row.facts.qemu}"
        if row.core:
            engine = "the best engine the processor has" if row.engine == "best" else f"the {row.engine} engine"
            cpu = f" ({row.cpu})" if row.cpu else ""
            lines.append(f"| - | - | - | the core checks as a static program for {row.zig}{cpu}, {where}; "
                         f"they must choose {engine} |")
            continue
        pythons = ", ".join(f"PyPy {v[2:]}" if v.startswith("pp") else v for v in row.pythons)
        pythons = pythons if pythons.startswith("PyPy") else f"CPython {pythons}"
        source = {"pyenv": "pyenv", "debian": f"Debian {row.source.suite}",
                  "source": "built from Debian's sources"}[row.source.kind]
        if row.source.stage == "compile":
            tested = "compiled only (-Werror), no wheel"
        elif row.source.stage == "headers":
            tested = "built (-Werror) against those headers, auditwheel; not run"
        else:
            tested = f"auditwheel, then the whole suite against the installed wheel, {where}"
            tested += {"pypi": ", NumPy from its wheel", "debian": ", NumPy from Debian",
                       None: " (no NumPy for it: turnwheel_batch's tests skip)"}[row.numpy]
            if all(row.type_checked(version) for version in row.pythons):
                tested += ", and the type checks (stubtest, mypy, pyright)"
        if row.source.stage != "run":
            source += " (headers only)"
        lines.append(f"| `{row.platform.split('.')[0]}` | {pythons} | {source} | {tested} |")
    return "\n".join(lines) + "\n"
