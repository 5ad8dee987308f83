"""Packs modules built elsewhere into a wheel: the modules (turnwheel and
turnwheel_batch), their type stubs, the license, and the sdist's own
metadata, under the given tags.

    python3 tools/make_wheel.py --modules DIR --suffix .cpython-39-x86_64-linux-gnu.so \\
        --tag cp39-cp39-manylinux_2_17_x86_64.manylinux2014_x86_64 --pkg-info PKG-INFO --outdir DIR

Entries are sorted and dated from SOURCE_DATE_EPOCH (default: the last
commit), so the same module always makes the same wheel, byte for byte.
"""

from __future__ import annotations

import argparse
import base64
import hashlib
import os
import subprocess
import sys
import time
import zipfile
from email.parser import Parser
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MODULES = ("turnwheel", "turnwheel_batch")


def record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def epoch() -> int:
    if "SOURCE_DATE_EPOCH" in os.environ:
        return int(os.environ["SOURCE_DATE_EPOCH"])
    out = subprocess.run(["git", "-C", str(ROOT), "log", "-1", "--format=%ct"], capture_output=True, text=True)
    return int(out.stdout.strip() or 315532800)


def make_wheel(modules: Path, suffix: str, tag: str, pkg_info: Path, outdir: Path) -> Path:
    """Packs the modules of the folder `modules` (each NAME<suffix>) into a wheel tagged python-abi-platforms
    in `outdir`."""
    metadata = pkg_info.read_bytes()
    info = Parser().parsestr(metadata.decode())
    name, version = info["Name"], info["Version"]
    dist_info = f"{name}-{version}.dist-info"
    python, abi, platforms = tag.split("-")
    wheel_text = "Wheel-Version: 1.0\nGenerator: turnwheel tools/make_wheel.py\nRoot-Is-Purelib: false\n"
    wheel_text += "".join(f"Tag: {python}-{abi}-{platform}\n" for platform in platforms.split("."))
    files = {
        **{f"{module}{suffix}": (modules / f"{module}{suffix}").read_bytes() for module in MODULES},
        **{f"{module}-stubs/__init__.pyi": (ROOT / "stubs" / f"{module}-stubs" / "__init__.pyi").read_bytes()
           for module in MODULES},
        f"{dist_info}/METADATA": metadata,
        f"{dist_info}/WHEEL": wheel_text.encode(),
        f"{dist_info}/licenses/LICENSE": (ROOT / "LICENSE").read_bytes(),
    }
    record = "".join(record_line(n, d) + "\n" for n, d in sorted(files.items())) + f"{dist_info}/RECORD,,\n"
    files[f"{dist_info}/RECORD"] = record.encode()

    stamp = time.gmtime(max(epoch(), 315532800))[:6]
    outdir.mkdir(parents=True, exist_ok=True)
    target = outdir / f"{name}-{version}-{tag}.whl"
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as wheel:
        # dist-info last, RECORD at the very end, as installers expect.
        for entry in sorted(files, key=lambda n: (n.startswith(dist_info), n.endswith("RECORD"), n)):
            item = zipfile.ZipInfo(entry, stamp)
            item.external_attr = (0o755 if entry.endswith(".so") else 0o644) << 16
            item.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(item, files[entry])
    return target


def main() -> int:
    parser = argparse.ArgumentParser(description="Pack prebuilt turnwheel modules into a wheel.")
    parser.add_argument("--modules", required=True, type=Path, help="the folder the modules were built in")
    parser.add_argument("--suffix", required=True, help="its file name suffix on the target, e.g. .cpython-39-x86_64-linux-gnu.so")
    parser.add_argument("--tag", required=True, help="python-abi-platform, platforms joined by dots")
    parser.add_argument("--pkg-info", required=True, type=Path, help="the sdist's PKG-INFO")
    parser.add_argument("--outdir", required=True, type=Path)
    args = parser.parse_args()
    print(make_wheel(args.modules, args.suffix, args.tag, args.pkg_info, args.outdir))
    return 0


if __name__ == "__main__":
    sys.exit(main())
