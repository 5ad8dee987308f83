"""What every job of one run shares: its folders, the whole table, zig and the tools' requirements."""

from __future__ import annotations

import threading
from dataclasses import dataclass, field
from pathlib import Path

from .shell import CACHE, ROOT, lib_output
from .table import Row


@dataclass
class Workspace:
    outdir: Path  # the wheels
    work: Path  # this run's own scratch folder
    table: list[Row]  # every row, selected or not: musl roots and Debian roots are the table's
    zig: str  # zig's own program
    bin_dir: Path  # CMake, ninja and patchelf, beside zig
    test_requirements: list[str]  # pure Python, one wheelhouse for every platform
    numpy_requirement: str  # the row's own binary wheel
    typing_requirements: list[str]
    wheel_tools: Path = CACHE / "wheel-tools"  # build and auditwheel
    lock: threading.Lock = field(default_factory=threading.Lock)

    @classmethod
    def make(cls, outdir: Path, work: Path, table: list[Row]) -> Workspace:
        import tomllib  # 3.11: the driver runs on the host's python3; --markdown and --list on any

        extras = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["optional-dependencies"]
        return cls(outdir, work, table, lib_output("zig_binary"), Path(lib_output("zig_python")).parent,
                   [r for r in extras["test"] if not r.startswith("numpy")],
                   next(r for r in extras["test"] if r.startswith("numpy")), extras["typing"])
