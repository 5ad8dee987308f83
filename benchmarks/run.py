"""turnwheel's benchmarks: every figure against its bar, in one table.

    python benchmarks/run.py            # the full run, a few minutes
    python benchmarks/run.py --quick    # a smoke run: checks that it runs

Every timing is a ratio of two things measured side by side in this process,
in interleaved rounds, keeping each one's best round: absolute times on a
shared machine are noise, ratios much less so. Peer libraries come from the
'bench' extra (pip install ".[bench]") and are skipped when absent.
"""

from __future__ import annotations

import os

# NumPy's BLAS threads wait busily for work none of these figures gives
# them, taking a core's share on a small machine.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import argparse
import random
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import threading
import time
import timeit
from pathlib import Path
from typing import Callable

from batch import batch_rows
from figures import Row, at_least, at_most, race
from turnwheel import Cube2x2, Cube3x3

try:
    import tracemalloc
except ImportError:  # PyPy
    tracemalloc = None  # type: ignore[assignment]

HERE = Path(__file__).resolve().parent
FACE_TOKENS = [f + s for f in "UDRLFB" for s in ("", "'", "2")]
METHODS = {"": "do_{}_move", "'": "do_{}_prime_move"}


def scramble(count: int, seed: int = 2026) -> list[str]:
    rng = random.Random(seed)
    return [rng.choice(FACE_TOKENS) for _ in range(count)]


def call_overheads(scale: float, rounds: int) -> list[Row]:
    """Turn calls against the interpreter's cheapest method call, and what one costs."""
    rows = []
    empty: list = []
    n = max(1000, int(1_000_000 * scale))
    for cls in (Cube3x3, Cube2x2):
        cube = cls()
        # Both sides as method calls, look-up plus call, as users write them.
        best = race(
            {
                "clear": ("l.clear()", {"l": empty}),
                "U": ("c.do_u_move()", {"c": cube}),
                "R'": ("c.do_r_prime_move()", {"c": cube}),
            },
            n,
            rounds,
        )
        for turn in ("U", "R'"):
            rows.append(at_most(f"{cls.__name__}: {turn} turn call / list.clear()", best[turn] / best["clear"], 1.15))
        if cls is Cube3x3:
            rows.append(Row("Cube3x3: U turn call, ns", f"{best['U'] * 1e9:.1f} ns", "-", None))
    return rows


def readers(scale: float, rounds: int) -> list[Row]:
    rows = []
    n = max(1000, int(500_000 * scale))
    cube = Cube3x3()
    cube.do_moves("R U F' L2 D B")
    best = race(
        {
            "to_binary": ("c.to_binary()", {"c": cube}),
            "format": ("format(c.corners, '064b')", {"c": cube}),
        },
        n,
        rounds,
    )
    rows.append(at_most("to_binary() / format(corners, '064b')", best["to_binary"] / best["format"], 1.0))
    for cls in (Cube3x3, Cube2x2):
        net_cube = cls()
        net_cube.do_moves("R U F' L2 D B")
        data = str(net_cube).encode()
        best = race(
            {"str": ("str(c)", {"c": net_cube}), "decode": ("b.decode()", {"b": data})},
            max(1000, n // 4),
            rounds,
        )
        rows.append(
            at_most(f"{cls.__name__}: str(cube) / bytes.decode of its {len(data)} bytes", best["str"] / best["decode"], 3)
        )
    best = race({"cube": ("C()", {"C": Cube3x3}), "object": ("o()", {"o": object})}, n, rounds)
    rows.append(at_most("Cube3x3() / object()", best["cube"] / best["object"], 1.5))
    return rows


def move_strings(scale: float, rounds: int) -> tuple[list[Row], float]:
    rows = []
    tokens = max(10_000, int(1_000_000 * scale))
    random_tokens = scramble(tokens)
    texts = {
        "\"R U R' U' \" repeated": ("R U R' U' " * (tokens // 4), 1000e6),
        "random scramble of the 18 face tokens": (" ".join(random_tokens), 1000e6),
        "random scramble, U+3000 separators": ("\u3000".join(random_tokens), 600e6),
        "random scramble and one emoji (4-byte str)": (" ".join(random_tokens) + " \U0001F600", 400e6),
    }
    cube, small = Cube3x3(), Cube2x2()
    races = {name: ("c.do_moves(s)", {"c": cube, "s": text}) for name, (text, _) in texts.items()}
    races["Cube2x2, random scramble"] = ("c.do_moves(s)", {"c": small, "s": texts["random scramble of the 18 face tokens"][0]})
    # A call takes a millisecond or two: many rounds, so that the best is
    # one that nothing else on the machine interrupted.
    best = race(races, 1, rounds * 25)
    for name, (_, bar) in [*texts.items(), ("Cube2x2, random scramble", (None, 1000e6))]:
        rows.append(at_least(f"do_moves tokens/s: {name}", tokens / best[name] / 1e6, bar / 1e6, "M"))
    random_ns = best["random scramble of the 18 face tokens"] / tokens * 1e9

    # The same quarter turns as bound-method calls from a Python loop.
    calls = [c for token in random_tokens for c in calls_for(cube, token)]
    loop = "for f in calls: f()"
    best = race(
        {"loop": (loop, {"calls": calls}), "do_moves": ("c.do_moves(s)", {"c": cube, "s": " ".join(random_tokens)})},
        1,
        rounds,
    )
    rows.append(at_least("do_moves speed-up over a Python loop of method calls", best["loop"] / best["do_moves"], 30, "x"))
    # What a user's loop over tokens more often looks like: a look-up per token.
    table = {t: [getattr(cube, METHODS["'" if t.endswith("'") else ""].format(t[0].lower()))] * (2 if t.endswith("2") else 1)
             for t in FACE_TOKENS}
    dispatch = "for t in tokens:\n    for f in table[t]: f()"
    best = race(
        {"dispatch": (dispatch, {"tokens": random_tokens, "table": table}),
         "do_moves": ("c.do_moves(s)", {"c": cube, "s": " ".join(random_tokens)})},
        1,
        rounds,
    )
    rows.append(Row("do_moves speed-up over a token-dispatching Python loop", f"{best['dispatch'] / best['do_moves']:.1f}x", "-", None))

    # A short scramble, as a search or a simulation applies one at a time.
    short = scramble(25, seed=25)
    short_calls = [c for t in short for c in calls_for(cube, t)]
    best = race(
        {"loop": (loop, {"calls": short_calls}), "do_moves": ("c.do_moves(s)", {"c": cube, "s": " ".join(short)})},
        max(1000, int(100_000 * scale)),
        rounds,
    )
    rows.append(at_least("25-token scramble: loop of turn calls / do_moves", best["loop"] / best["do_moves"], 10, "x"))
    # A one-token string costs about what a turn call costs.
    best = race(
        {"moves": ("c.do_moves('U')", {"c": cube}), "turn": ("c.do_u_move()", {"c": cube})},
        max(1000, int(1_000_000 * scale)),
        rounds,
    )
    rows.append(at_most('do_moves("U") / do_u_move()', best["moves"] / best["turn"], 1.3))
    return rows, random_ns


def calls_for(cube, token: str) -> list:
    name = METHODS["'" if token.endswith("'") else ""].format(token[0].lower())
    return [getattr(cube, name)] * (2 if token.endswith("2") else 1)


def native_build(tmp: str) -> Path | None:
    compiler = shutil.which("g++") or shutil.which("c++")
    if compiler is None:
        return None
    binary = Path(tmp) / "core_bench"
    src = HERE.parent / "src"
    subprocess.run(
        [compiler, "-std=c++20", "-O3", f"-I{src}", str(HERE / "core_bench.cpp"), *map(str, sorted((src / "engine").glob("*.cpp"))),
         "-o", str(binary)],
        check=True,
    )
    return binary


def native_limit(random_ns: float, scale: float) -> tuple[list[Row], str]:
    """Rows for the native core, and the name of the engine the processor runs."""
    with tempfile.TemporaryDirectory() as tmp:
        binary = native_build(tmp)
        if binary is None:
            return [Row("native core", "no C++ compiler", "-", None)], "?"
        tokens = scramble(max(10_000, int(1_000_000 * scale)))
        out = subprocess.run([str(binary)], input=" ".join(tokens), capture_output=True, text=True, check=True)
    figures = dict(line.split() for line in out.stdout.splitlines())
    rows = [
        Row("native core: ns per decoded token, one switch a turn", f"{float(figures.pop('decoded')):.2f} ns", "-", None),
        Row("native core: ns per token, packed token-by-token reading", f"{float(figures.pop('packed')):.2f} ns", "-", None),
    ]
    chosen = "?"
    for name, ns in figures.items():
        if name.endswith("*"):
            chosen = name = name[:-1]
            bar = 0.9 if name == "avx2" else 4
            rows.append(at_most(f"native engine {name} (the one chosen here): ns per token", float(ns), bar, " ns"))
        else:
            rows.append(Row(f"native engine {name}: ns per token", f"{float(ns):.2f} ns", "-", None))
    rows.append(Row("do_moves from Python: ns per token", f"{random_ns:.2f} ns", "-", None))
    return rows, chosen


def environment() -> str:
    """The interpreter, compiler and processor the figures come from."""
    compiler = shutil.which("g++") or shutil.which("c++")
    version = subprocess.run([compiler, "--version"], capture_output=True, text=True).stdout.splitlines()[0] if compiler else "none"
    cpu = "unknown processor"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith(("model name", "Model", "Hardware")):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    import os
    import platform

    build = " free-threaded" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""
    return (f"{platform.python_implementation()} {platform.python_version()}{build} ({platform.machine()}), "
            f"compiler {version}, {cpu}, {os.cpu_count()} cores")


def peer_rows(scale: float) -> list[Row]:
    rows = []
    moves = " ".join(scramble(20_000 if scale >= 1 else 2_000, seed=7))
    cube = Cube3x3()
    ours = min(timeit.repeat(lambda: cube.do_moves(moves), number=1, repeat=20))

    def peers() -> list[tuple[str, Callable[[], object], Callable[[object], None]]]:
        found = []
        try:
            import magiccube

            found.append(("magiccube", lambda: magiccube.Cube(3), lambda c: c.rotate(moves)))
        except ImportError:
            rows.append(Row("speed-up over magiccube", "not installed", ">= 1000x", None))
        try:
            import pycuber

            found.append(("pycuber", pycuber.Cube, lambda c: c(moves)))
        except ImportError:
            rows.append(Row("speed-up over pycuber", "not installed", ">= 1000x", None))
        return found

    for name, make, apply in peers():
        peer_cube = make()
        theirs = min(timeit.repeat(lambda: apply(peer_cube), number=1, repeat=2 if scale >= 1 else 1))
        rows.append(at_least(f"speed-up over {name} ({len(moves.split()):,} moves)", theirs / ours, 1000, "x"))
        if tracemalloc is not None:
            rows.append(Row(f"memory: one {name} cube", f"{traced_bytes(make):,} bytes", "-", None))
    return rows


def traced_bytes(make: Callable[[], object], count: int = 1) -> int:
    kept: list = [None] * count
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        for i in range(count):
            kept[i] = make()
        after = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    return round((after - before) / count)


def memory_rows() -> list[Row]:
    if tracemalloc is None:
        return [Row("memory", "not measured: no sys.getsizeof or tracemalloc here", "-", None)]
    rows = []
    for cls in (Cube3x3, Cube2x2):
        rows.append(Row(f"memory: sys.getsizeof({cls.__name__}())", f"{sys.getsizeof(cls())} bytes", "-", None))
        rows.append(Row(f"memory: traced per {cls.__name__}, 100,000 made", f"{traced_bytes(cls, 100_000)} bytes", "-", None))
    return rows


def print_table(rows: list[Row]) -> None:
    headers = ("figure", "measured", "bar", "meets")
    cells = [(r.figure, r.value, r.bar, {True: "yes", False: "NO", None: "-"}[r.ok]) for r in rows]
    widths = [max(len(h), *(len(c[i]) for c in cells)) for i, h in enumerate(headers)]
    line = lambda c: "| " + " | ".join(x.ljust(w) for x, w in zip(c, widths)) + " |"  # noqa: E731
    print(line(headers))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for c in cells:
        print(line(c))


def free_threaded() -> bool:
    """A free-threaded build whose interpreter lock is off."""
    return bool(sysconfig.get_config_var("Py_GIL_DISABLED")) and not sys._is_gil_enabled()  # type: ignore[attr-defined]


def two_cubes_loop(count: int) -> Callable[[], None]:
    """A thread's own loop on its own cube: turns and a 25-token scramble, through bound methods of
    its own and a string of its own (an object that threads share has its reference count contended)."""

    def loop() -> None:
        cube = Cube3x3()
        turn, apply, text = cube.do_r_move, cube.do_moves, " ".join(scramble(25, seed=threading.get_ident() % 997))
        for _ in range(count):
            turn()
            apply(text)

    return loop


def threads_rows(scale: float, rounds: int) -> list[Row]:
    """On a free-threaded build: two threads on two cubes against one thread doing both loops."""
    count = max(2000, int(200_000 * scale))
    one = two = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        for _ in range(2):
            worker = threading.Thread(target=two_cubes_loop(count))
            worker.start()
            worker.join()
        one = min(one, time.perf_counter() - start)
        workers = [threading.Thread(target=two_cubes_loop(count)) for _ in range(2)]
        start = time.perf_counter()
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        two = min(two, time.perf_counter() - start)
    return [at_least("2 threads on 2 cubes / 1 thread doing both loops", one / two, 1.8, "x")]


def census_seconds(threads: int, scale: float) -> float:
    depth = [] if scale >= 1 else ["--depth", "7"]
    out = subprocess.run([sys.executable, str(HERE.parent / "examples" / "census.py"), "--threads", str(threads), *depth],
                         capture_output=True, text=True, check=True).stdout
    return float(out.split(" positions in ")[1].split()[0])


def census_rows(scale: float) -> list[Row]:
    """The census example: a search in Python that makes a cube and a move string per position."""
    if not (HERE.parent / "examples" / "census.py").exists():
        return []
    name = "census.py" + ("" if scale >= 1 else " --depth 7")
    one = census_seconds(1, scale)
    rows = [Row(f"{name}: one thread", f"{one:.1f} s", "-", None)]
    if free_threaded():
        two = census_seconds(2, scale)
        rows.append(Row(f"{name}: --threads 1 / --threads 2", f"{one / two:.2f}x ({two:.1f} s)", ">= 1.5x (aim)", None))
    return rows


def pattern_database_seconds(*options: str) -> float:
    with tempfile.TemporaryDirectory() as out:
        text = subprocess.run([sys.executable, str(HERE.parent / "examples" / "pattern_database.py"), "--quiet",
                               "--out", out, *options], capture_output=True, text=True, check=True).stdout
    return float(text.split("\ntime ")[1].split()[0])


def pattern_database_rows(scale: float) -> list[Row]:
    """The pattern database example: the corners in one process and on a cluster of two, the 7 edges on
    clusters of two and one. A quick run only checks that the command runs, both ways."""
    try:
        import distributed, numpy, rich  # noqa: F401
    except ImportError:
        return [Row("pattern_database.py", "cluster extra not installed", "-", None)]
    if scale < 1:
        return [Row(f"pattern_database.py --depth 7 {' '.join(where)}",
                    f"{pattern_database_seconds('--depth', '7', *where):.1f} s", "-", None)
                for where in (["--no-cluster", "--workers", "1"], ["--workers", "2"])]
    rows = [at_most("pattern_database.py: corners, --no-cluster, one thread",
                    pattern_database_seconds("--no-cluster", "--workers", "1"), 30, " s"),
            at_most("pattern_database.py: corners, 2 workers (cluster start included)",
                    pattern_database_seconds("--workers", "2"), 25, " s")]
    two = pattern_database_seconds("--pattern", "edges:7", "--workers", "2")
    one = pattern_database_seconds("--pattern", "edges:7", "--workers", "1")
    rows.append(at_most("pattern_database.py: 7 edges, 2 workers", two, 300, " s"))
    rows.append(at_least("pattern_database.py: 7 edges, 2 workers against 1", one / two, 1.7, "x"))
    return rows


def fresh_strings(scale: float, rounds: int) -> list[Row]:
    """do_moves on a string it has not seen against the same string again: what reaching the text costs."""
    count = max(100, int(20_000 * scale))
    text = " ".join(scramble(1000, seed=3))
    cube = Cube3x3()
    reused = fresh = float("inf")
    for _ in range(rounds):
        texts = [text + " " * (i % 7 + 1) for i in range(count)]  # made before the clock starts
        start = time.perf_counter()
        for each in texts:
            cube.do_moves(each)
        fresh = min(fresh, (time.perf_counter() - start) / count)
        start = time.perf_counter()
        for _ in range(count):
            cube.do_moves(text)
        reused = min(reused, (time.perf_counter() - start) / count)
    return [Row("do_moves, 1000 tokens: the same str again", f"{reused * 1e6:.2f} us", "-", None),
            Row("do_moves, 1000 tokens: a new str each call", f"{fresh * 1e6:.2f} us", "-", None)]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="a short smoke run: small counts, one round")
    args = parser.parse_args()
    scale, rounds = (0.01, 2) if args.quick else (1.0, 9)

    print(f"turnwheel benchmarks{' (quick smoke run)' if args.quick else ''}")
    print(f"measured on: {environment()}")
    rows = call_overheads(scale, rounds)
    rows += readers(scale, rounds)
    string_rows, random_ns = move_strings(scale, max(3, rounds // 2))
    rows += string_rows
    rows += fresh_strings(scale, max(3, rounds // 2))
    native_rows, engine = native_limit(random_ns, scale)
    print(f"move engine: {engine}\n")
    rows += native_rows
    rows += peer_rows(scale)
    rows += memory_rows()
    if free_threaded():
        rows += threads_rows(scale, 5 if scale >= 1 else 1)
    rows += census_rows(scale)
    rows += pattern_database_rows(scale)
    rows += batch_rows(scale, max(3, rounds // 2))
    print_table(rows)
    missed = [r.figure for r in rows if r.ok is False]
    print(f"\n{len([r for r in rows if r.ok])} bars met, {len(missed)} not met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
