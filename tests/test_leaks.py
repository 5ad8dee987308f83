"""Every member and error path, many times over: no memory growth and
balanced reference counts."""

import gc
import os
import sys
from pathlib import Path

import pytest

from turnwheel import Cube2x2, Cube3x3

from conftest import PYPY
from exercise import Index, round_of_batch_calls, round_of_calls

try:
    import tracemalloc
except ImportError:  # PyPy: resident memory is measured instead
    tracemalloc = None
needs_tracemalloc = pytest.mark.skipif(tracemalloc is None, reason="PyPy has no tracemalloc")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@needs_tracemalloc
def test_traced_memory_does_not_grow():
    # The interpreter's caches and free lists settle within some hundreds of
    # rounds (more under a sanitizer's allocator); a leak grows in every
    # window. One object lost per call would be over half a megabyte a window.
    growth = []
    tracemalloc.start()
    try:
        for _ in range(6):
            gc.collect()
            before = tracemalloc.get_traced_memory()[0]
            for _ in range(500):
                round_of_calls()
            gc.collect()
            growth.append(tracemalloc.get_traced_memory()[0] - before)
            if len(growth) > 1 and growth[-1] < 16 * 1024:
                break
    finally:
        tracemalloc.stop()
    assert growth[-1] < 16 * 1024, growth


@needs_tracemalloc
def test_arrays_of_cubes_leave_no_memory_and_no_references_behind():
    np = pytest.importorskip("numpy")
    states = np.array([[0x398A418820, 0x05A928398A418820]] * 5, dtype=np.uint64)
    import turnwheel_batch as tb

    for _ in range(50):  # caches settle
        round_of_batch_calls()
    counts = sys.getrefcount(states), sys.getrefcount(tb.solved)
    growth = []
    tracemalloc.start()
    try:
        for _ in range(4):
            gc.collect()
            before = tracemalloc.get_traced_memory()[0]
            for _ in range(200):
                round_of_batch_calls()
                tb.apply(states, "R", out=states)
                with pytest.raises(ValueError):
                    tb.step(states, [99] * 5, out=states)
            gc.collect()
            growth.append(tracemalloc.get_traced_memory()[0] - before)
            if len(growth) > 1 and growth[-1] < 16 * 1024:
                break
    finally:
        tracemalloc.stop()
    assert growth[-1] < 16 * 1024, growth
    assert (sys.getrefcount(states), sys.getrefcount(tb.solved)) == counts


@pytest.mark.skipif(not Path("/proc/self/statm").exists(), reason="needs /proc")
@pytest.mark.skipif(bool(os.environ.get("TURNWHEEL_SANITIZED")), reason="AddressSanitizer holds freed memory back")
def test_resident_memory_does_not_grow():
    # Some tens of calls fail in every round. The process settles after a
    # few hundred rounds (on PyPy, once its JIT has compiled the loop, after
    # some thousands); a leak grows in every window of 3000 rounds.
    for _ in range(100):
        round_of_calls()
    growth = []
    for _ in range(4):
        gc.collect()
        before = resident_bytes()
        for _ in range(3000):
            round_of_calls()
        gc.collect()
        growth.append(resident_bytes() - before)
        if growth[-1] < 2 * 1024 * 1024:
            break
    assert growth[-1] < 2 * 1024 * 1024, growth


@pytest.mark.skipif(PYPY, reason="PyPy has no sys.getrefcount")
def test_reference_counts_are_balanced():
    text = "R U R' U' " + str(id(object()))  # a str of its own
    offset = 2**40 + 5  # an int of its own
    index = Index(10)
    wrong = 1.5
    surrogate = "U \ud800"
    tracked = [Cube2x2, Cube3x3, text, offset, index, wrong, surrogate]

    def workload(rounds):
        # Locals die with the call, so nothing of the loop outlives it.
        for _ in range(rounds):
            round_of_calls(text)
            cube = Cube3x3()
            cube.rotate_edges(offset, 5, index, 15, 0)
            cube.do_moves(text)
            for call in (lambda: cube.rotate_edges(0, 5, index, wrong, 0), lambda: cube.do_moves(surrogate),
                         lambda: cube.rotate_edges(0, offset, index, 15), lambda: cube.do_moves(moves=text, x=1)):
                try:
                    call()
                except (TypeError, UnicodeEncodeError):
                    pass
            Cube2x2().do_moves(text)

    # None is immortal from 3.12 on; before that, the interpreter's own caches
    # hold a few references to it that come and go, so a window may differ by
    # those. A leak would differ in every window, by at least its 200 calls.
    workload(20)
    for _ in range(4):
        gc.collect()
        before = [sys.getrefcount(o) for o in tracked]
        none_before = sys.getrefcount(None)
        workload(200)
        gc.collect()
        none_change = sys.getrefcount(None) - none_before
        after = [sys.getrefcount(o) for o in tracked]  # measured as `before` was
        changes = [a - b for a, b in zip(after, before)]
        if none_change == 0 and not any(changes):
            break
    assert none_change == 0 and not any(changes), (none_change, changes)


@needs_tracemalloc
def test_many_cubes_are_freed():
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(20):
            cubes = [Cube3x3() for _ in range(5000)] + [Cube2x2() for _ in range(5000)]
            for c in cubes[::7]:
                c.do_moves("R U")
            del cubes
        after = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    assert after - before < 8 * 1024
