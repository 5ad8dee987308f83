"""zig's object caches of the wheel builds, kept to what the last few runs used.

zig never removes what it compiled, so each change compiled would stay in the cache for good. An entry of
a cache is a manifest (h/NAME) or a folder of outputs (o/NAME); a build that finds an entry reads both.
After a run, every entry is stamped with an access time older than its modification time: on ext4's
default (relatime) the next read of it then sets its access time to the moment of that read, which tells
the next prune which entries its run used. An entry no run used for `keep` runs is removed, manifest and
outputs alike (zig compiles again what a removed manifest described; a manifest whose outputs are gone
would fail the build, which is why the two are judged by the same reads). A book in the cache folder
counts the runs and when each entry was last used; entries it has not seen count as used."""

from __future__ import annotations

import json
import os
import shutil
from collections.abc import Iterator
from dataclasses import dataclass
from pathlib import Path

BOOK = "runs.json"


@dataclass
class Pruned:
    kept: int = 0
    removed: int = 0
    freed: int = 0  # bytes


def entries(cache: Path) -> Iterator[tuple[str, Path, list[Path]]]:
    """Each entry's name, path and files."""
    for manifest in sorted((cache / "h").glob("*")):
        if manifest.is_file() and manifest.name != "timestamp":  # zig's own clock, not an entry
            yield f"h/{manifest.name}", manifest, [manifest]
    for outputs in sorted((cache / "o").glob("*")):
        if outputs.is_dir():
            yield f"o/{outputs.name}", outputs, [p for p in outputs.rglob("*") if p.is_file()]


def prune(cache: Path, started: float, keep: int) -> Pruned:
    """Removes the entries of `cache` that no run has read since `keep` runs ago, this run (begun at
    `started`, a time.time()) being the last."""
    book_path = cache / BOOK
    try:
        book = json.loads(book_path.read_text())
        run, last_used = int(book["run"]) + 1, {str(k): int(v) for k, v in book["used"].items()}
    except (OSError, ValueError, KeyError, TypeError, AttributeError):
        run, last_used = 1, {}
    result, used = Pruned(), {}
    for name, path, files in entries(cache):
        stats = [f.stat() for f in files]
        read_now = any(st.st_atime >= started for st in stats)
        last = run if read_now or name not in last_used else last_used[name]
        if run - last >= keep:
            result.removed += 1
            result.freed += sum(st.st_size for st in stats)
            if path.is_dir():
                shutil.rmtree(path)
            else:
                path.unlink()
            continue
        result.kept += 1
        used[name] = last
        for f, st in zip(files, stats):
            os.utime(f, ns=(st.st_mtime_ns - 1_000_000_000, st.st_mtime_ns))
    partial = book_path.with_suffix(".partial")
    partial.write_text(json.dumps({"run": run, "used": used}))
    partial.replace(book_path)
    return result
