"""The whole suite against each installed wheel on its interpreter (natively, or in its root under qemu),
with the test tools and NumPy brought from the host; the core's checks as static programs."""

from __future__ import annotations

import contextlib
import shutil
import sys
import threading
import zipfile
from pathlib import Path

from .interpreters import Interpreter, pyenv_python
from .runner import Job
from .shell import ROOT, Log, file_name, run
from .table import Row
from .workspace import Workspace

TMP = Path("/tmp")


class Checks:
    """What the suites of one run share: the wheelhouses and the unpacked test tools, made once each."""

    def __init__(self, ws: Workspace) -> None:
        self.ws = ws
        self.made: set[str | tuple[Path, str]] = set()  # minor versions, and (copy, minor version)
        self.house_lock, self.tools_lock = threading.Lock(), threading.Lock()

    def wheelhouse(self, interpreter: Interpreter, log: Log) -> Path:
        """pip and the test tools as wheels for the interpreter's version, fetched on the host: the
        chroots and musl roots need no network, and no pip of their own (making one is minutes under qemu)."""
        house = self.ws.work / "wheelhouse" / interpreter.minor
        with self.house_lock:
            if not house.exists():
                # pip reads the dependencies' markers with its own interpreter: one of the same
                # version, or for those pyenv lacks the newest (the tools' markers end at 3.11).
                try:
                    host = pyenv_python(interpreter.minor)
                except RuntimeError:
                    host = pyenv_python("3.13")
                run([host, "-m", "pip", "download", "-q", "--only-binary=:all:", "--platform", "any",
                     "--python-version", interpreter.minor, "-d", house.with_suffix(".partial"), "pip",
                     *self.ws.test_requirements], log)
                house.with_suffix(".partial").rename(house)
        return house

    def test_tools(self, interpreter: Interpreter, log: Log) -> Path:
        """The test tools (pure Python) unpacked from the wheelhouse on the host, byte-compiled there by the same
        CPython version where pyenv has it, and copied into the interpreter's root: the path where it finds
        them, the same in every root, is returned. Installed by pip and compiled at import under qemu, they
        took half a minute of each suite."""
        house = self.wheelhouse(interpreter, log)
        inside = TMP / "turnwheel-test-tools" / interpreter.minor
        place = (interpreter.root or Path("/")) / inside.relative_to("/")
        with self.tools_lock:
            if interpreter.minor not in self.made:
                shutil.rmtree(inside, ignore_errors=True)
                for wheel in sorted(house.glob("*.whl")):
                    if not wheel.name.startswith("pip-"):
                        zipfile.ZipFile(wheel).extractall(inside)
                with contextlib.suppress(RuntimeError):  # no such CPython here: they compile at first import
                    run([pyenv_python(interpreter.minor), "-m", "compileall", "-q", inside], log)
                self.made.add(interpreter.minor)
            if place != inside and (place, interpreter.minor) not in self.made:
                shutil.rmtree(place, ignore_errors=True)
                shutil.copytree(inside, place)  # with the time stamps the compiled files were checked against
                self.made.add((place, interpreter.minor))
        return inside

    def numpy_wheel(self, interpreter: Interpreter, log: Log) -> Path:
        """NumPy's binary wheel for the interpreter from PyPI, unpacked on the host (and byte-compiled there by
        the same CPython version where pyenv has it) and copied into its root: the path where it finds it."""
        arch = interpreter.row.facts.wheel
        if interpreter.row.libc == "musl":
            platforms = [f"musllinux_1_{minor}_{arch}" for minor in (1, 2)]
        else:  # every glibc from manylinux2014's to the roots' and the host's (2.36 and newer)
            platforms = [f"manylinux_2_{minor}_{arch}" for minor in range(17, 37)] + [f"manylinux2014_{arch}"]
        xy = interpreter.minor.replace(".", "")
        abi = f"pypy{xy}_pp73" if interpreter.pypy else f"cp{xy}{'t' if interpreter.free_threaded else ''}"
        inside = TMP / "turnwheel-numpy" / interpreter.name
        place = (interpreter.root or Path("/")) / inside.relative_to("/")
        download = self.ws.work / "numpy" / interpreter.name
        run([sys.executable, "-m", "pip", "download", "-q", "--no-deps", "--only-binary=:all:", "--python-version",
             interpreter.minor, "--implementation", "pp" if interpreter.pypy else "cp", "--abi", abi,
             *(f"--platform={platform}" for platform in platforms), "-d", download, self.ws.numpy_requirement], log)
        shutil.rmtree(place, ignore_errors=True)
        zipfile.ZipFile(next(download.glob("numpy-*.whl"))).extractall(place)
        if not interpreter.pypy:
            with contextlib.suppress(RuntimeError):  # no such CPython here: it compiles at first import
                run([pyenv_python(interpreter.minor), "-m", "compileall", "-q", place], log)
        return inside

    def clean_up(self) -> None:
        for made in self.made:
            if isinstance(made, tuple):
                shutil.rmtree(made[0].parent, ignore_errors=True)
        shutil.rmtree(TMP / "turnwheel-test-tools", ignore_errors=True)

    def suite(self, interpreter: Interpreter, wheel: Path, log: Log) -> None:
        """The whole suite against the installed wheel, in a fresh environment, away from the source tree."""
        inside = TMP / f"wheel-test-{interpreter.name}"
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
                             **({"TURNWHEEL_REQUIRE_BATCH": "1"} if interpreter.row.numpy else {})})
        if interpreter.row.type_checked(interpreter.version):
            # The type checkers come from PyPI over the network: pyright's node is not in the wheelhouse.
            shutil.copytree(ROOT / "examples", place / "examples")
            shutil.copytree(ROOT / "tools", place / "tools", ignore=shutil.ignore_patterns("__pycache__"))
            interpreter.run([python, f"{inside}/wheels/{pip}/pip", "install", "-q", "--no-compile",
                             *self.ws.typing_requirements], log)
            interpreter.run(["bash", f"{inside}/tools/typecheck.sh", python], log)
        shutil.rmtree(place, ignore_errors=True)
        shutil.rmtree((interpreter.root or Path("/")) / "tmp" / "turnwheel-numpy" / interpreter.name, ignore_errors=True)

    def check_job(self, interpreter: Interpreter) -> Job:
        def action(log: Log) -> None:
            self.suite(interpreter, Path(interpreter.facts["wheel"]), log)

        rank = 1 if interpreter.row.runs == "qemu" else 2
        return Job(f"check {interpreter.name}", action, (f"build {interpreter.name}",), rank=rank)


def best_x86_engine() -> str:
    """The move engine this x86 processor should run, by what the kernel says it has."""
    flags = next(line for line in Path("/proc/cpuinfo").read_text().splitlines() if line.startswith("flags")).split()
    return "avx2" if "avx2" in flags else "ssse3" if "ssse3" in flags else "plain"


def core_job(ws: Workspace, row: Row, sources: Path) -> Job:
    """The core's checks as a static program for the row's processor, run there: they must pass and
    choose the row's engine."""
    name = f"core {row.zig}{'+' + row.cpu if row.cpu else ''}"

    def action(log: Log) -> None:
        binary = ws.work / "core" / file_name(name)
        binary.parent.mkdir(parents=True, exist_ok=True)
        target = ["-target", row.zig, *([f"-mcpu={row.cpu}"] if row.cpu else [])]
        files = [sources / "tests" / "core" / "check_core.cpp", *sorted((sources / "src" / "engine").glob("*.cpp"))]
        objects = [binary.with_name(f"{binary.name}-{source.stem}.o") for source in files]
        for source, obj in zip(files, objects):
            run([ws.zig, "c++", *target, "-std=c++20", "-O2", "-fno-exceptions", "-Wall", "-Wextra", "-Wpedantic",
                 "-Werror", f"-I{sources / 'src'}", "-c", source, "-o", obj], log)
        # Linked as C, as the module is: the checks need nothing of the C++ library.
        run([ws.zig, "cc", *target, "-static", *objects, "-o", binary], log)
        qemu = row.facts.qemu
        out = run([f"qemu-{qemu}-static", binary] if qemu and row.runs == "qemu" else [binary], log, capture=True)
        engine = best_x86_engine() if row.engine == "best" else row.engine
        if ", 0 failed" not in out or f"chosen engine: {engine}\n" not in out:
            raise RuntimeError(f"core checks failed or chose another engine than {engine}")

    return Job(name, action, ("host tools",), rank=3)
