"""Where things are, and running commands with their output in a job's log."""

from __future__ import annotations

import os
import re
import shlex
import subprocess
import time
from pathlib import Path
from typing import TextIO

TOOLS = Path(__file__).resolve().parent.parent
ROOT = TOOLS.parent
CACHE = Path(os.environ.get("TURNWHEEL_CHROOTS", "/var/cache/turnwheel"))
# zig's builds of each target's C library belong with the rest of the cache, not in the home folder.
os.environ.setdefault("ZIG_GLOBAL_CACHE_DIR", str(CACHE / "zig-cache"))

Log = TextIO
Command = list["str | os.PathLike[str]"]


def run(command: Command | str, log: Log, capture: bool = False, env: dict[str, str] | None = None) -> str:
    """Runs a command (a string runs in bash), its output written to `log` as it comes; returns its
    standard output if `capture`. A failure raises RuntimeError."""
    shown = command if isinstance(command, str) else shlex.join(map(str, command))
    log.write(f"$ {shown}\n")
    log.flush()
    start = time.monotonic()
    result = subprocess.run(command, stdout=subprocess.PIPE if capture else log, stderr=log, text=True,
                            shell=isinstance(command, str), executable="/bin/bash" if isinstance(command, str) else None,
                            env=None if env is None else {**os.environ, **env})
    if capture:
        log.write(result.stdout)
    log.write(f"({time.monotonic() - start:.1f} s)\n")
    if result.returncode != 0:
        raise RuntimeError(f"exit status {result.returncode}")
    return result.stdout if capture else ""


def lib(call: str) -> str:
    """A bash command line with tools/lib.sh loaded."""
    return f"set -euo pipefail; source {shlex.quote(str(TOOLS / 'lib.sh'))}; {call}"


def lib_output(call: str) -> str:
    """What a function of tools/lib.sh prints, run outside any job's log."""
    return subprocess.run(["bash", "-c", lib(call)], capture_output=True, text=True, check=True).stdout.strip()


def file_name(name: str) -> str:
    """A job's or an interpreter's name as a file name."""
    return re.sub(r"[^\w.+-]", "_", name)
