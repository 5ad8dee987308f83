"""turnwheel_batch: arrays of cubes against the classes, walks, indexes, nets, and refused input."""

import itertools
import os
import threading
from math import factorial

import pytest
from hypothesis import given, strategies as st

from conftest import FACE_TOKENS, emulated
from model import ESCAPE, SEPARATORS
from turnwheel import Cube2x2, Cube3x3

if os.environ.get("TURNWHEEL_REQUIRE_BATCH"):  # the platform runs that provide NumPy
    import numpy as np
else:
    np = pytest.importorskip("numpy", reason="turnwheel_batch needs NumPy")
import turnwheel_batch as tb

SOLVED = (0x398A418820, 0x05A928398A418820)
CLASSES = {3: Cube3x3, 2: Cube2x2}


def cube_after(size, moves):
    cube = CLASSES[size]()
    cube.do_moves(moves)
    return cube


def corners_of(cube):
    return cube.corners if isinstance(cube, Cube3x3) else cube.state


def letters(cube):
    """The colour letters of str(cube), in the order it prints them."""
    return "".join(ESCAPE.sub("", str(cube)).split())


def facelet_letters(states):
    return ["".join(tb.COLORS[c] for c in row) for row in tb.facelets(states)]


def walks(n, length=24, size=3, seed=7):
    return tb.scramble(n, length, size=size, seed=seed)


def texts_of(codes):
    return [tb.move_text(row) for row in codes]


tokens = st.sampled_from(FACE_TOKENS + ["x", "U3", "R2'", "M", "U\u2019"])
move_strings = st.builds(
    lambda pieces, seps: "".join(p + s for p, s in zip(pieces, seps)),
    st.lists(tokens, max_size=30),
    st.lists(st.sampled_from(SEPARATORS), min_size=30, max_size=30),
)


class TestAgainstTheClasses:
    @given(move_strings, st.sampled_from([3, 2]))
    def test_move_strings_give_the_classes_words_and_nets(self, text, size):
        state = tb.apply(tb.solved(1, size), text)
        cube = cube_after(size, text)
        assert int(state.reshape(-1)[0]) == corners_of(cube)
        assert facelet_letters(state) == [letters(cube)]

    @pytest.mark.parametrize("size", [3, 2])
    def test_apply_steps_and_children_from_scrambled_states(self, size):
        states, codes = walks(40, size=size)
        text = "R U2 F' L D2 B R'"
        moved = tb.apply(states, text)
        for start, row in zip(texts_of(codes), moved):
            cube = cube_after(size, start + " " + text)
            assert int(row.reshape(-1)[0]) == corners_of(cube)
        assert facelet_letters(moved) == [letters(cube_after(size, t + " " + text)) for t in texts_of(codes)]
        # A list of codes is the string they name; one code a state is one move each.
        assert np.array_equal(tb.apply(states, tb.move_codes(text)), moved)
        steps = np.arange(40) % 18
        stepped = tb.step(states, steps)
        assert all(np.array_equal(stepped[i], tb.apply(states[i : i + 1], tb.MOVES[c])[0]) for i, c in enumerate(steps))
        children = tb.children(states)
        assert children.shape == (40, 18, 2) if size == 3 else (40, 18)
        for code, name in enumerate(tb.MOVES):
            assert np.array_equal(children[:, code], tb.apply(states, name))
        assert np.array_equal(tb.children(states, "R2 x U'")[:, 1], tb.apply(states, "U'"))

    def test_move_codes_read_the_tokens_do_moves_applies(self):
        assert tb.move_codes("R U2 x B' U3\u3000F! L") .tolist() == [6, 1, 17, 14, 9]
        assert tb.move_codes("").dtype == np.int8 and tb.move_codes("").size == 0
        assert tb.MOVES[:3] == ("U", "U2", "U'") and len(tb.MOVES) == 18
        assert tb.move_text([0, 1, 2, 17]) == "U U2 U' B'"
        with pytest.raises(UnicodeEncodeError):
            tb.move_codes("R \ud800")
        with pytest.raises(UnicodeEncodeError):
            tb.apply(tb.solved(1), "R U R' U' \ud800")

    def test_malformed_words_turn_as_the_moves_one_by_one(self):
        # Any bits at all: twists of 3, edge ids past 11, bits above the slots.
        words = np.random.default_rng(5).integers(0, 2**63, size=(500, 2), dtype=np.int64).astype(np.uint64)
        codes = tb.move_codes("R U F' D2 L B2 R' U")
        stepped = words
        for code in codes:
            stepped = tb.step(stepped, np.full(len(words), code))
        assert np.array_equal(tb.apply(words, codes), stepped)
        assert np.array_equal(tb.apply(words[:, 0], codes), stepped[:, 0])


class TestWalks:
    def test_walks_are_reproducible_and_turn_no_face_twice(self):
        states, codes = walks(300, 31)
        again, again_codes = walks(300, 31)
        assert np.array_equal(states, again) and np.array_equal(codes, again_codes)
        assert codes.dtype == np.int8 and codes.shape == (300, 31)
        assert ((codes >= 0) & (codes < 18)).all()
        assert not (codes[:, 1:] // 3 == codes[:, :-1] // 3).any()
        # Every face and move turns up; each walk is its own, however many are made.
        assert set(codes[:, 0]) == set(range(18)) and set(codes[:, 1:].ravel()) == set(range(18))
        assert np.array_equal(walks(10, 31)[0], states[:10])
        assert not np.array_equal(walks(300, 31, seed=8)[1], codes)
        generator = tb.scramble(5, 9, seed=np.random.default_rng(3))
        assert np.array_equal(generator[1], tb.scramble(5, 9, seed=np.random.default_rng(3))[1])

    @pytest.mark.parametrize("size", [3, 2])
    def test_walks_end_where_their_moves_lead(self, size):
        states, codes = walks(50, 21, size=size)
        assert np.array_equal(tb.apply(tb.solved(1, size), codes[0]), states[:1])
        for row, text in zip(states, texts_of(codes)):
            assert int(row.reshape(-1)[0]) == corners_of(cube_after(size, text))
        small, small_codes = walks(50, 21, size=2)
        assert np.array_equal(small_codes, walks(50, 21)[1]) and np.array_equal(small, walks(50, 21)[0][:, 0])

    def test_empty_walks(self):
        states, codes = tb.scramble(4, 0, seed=1)
        assert np.array_equal(states, tb.solved(4)) and codes.shape == (4, 0)
        assert tb.scramble(0, 5)[0].shape == (0, 2)


def lehmer_rank(items):
    return sum(sum(later < item for later in items[i + 1 :]) * factorial(len(items) - 1 - i) for i, item in enumerate(items))


def fields(word, count):
    return [(word >> (5 * k)) & 31 for k in range(count)]


class TestIndexes:
    def test_corner_index_is_the_documented_rank(self):
        states, _ = walks(200)
        for word, index in zip(states[:, 0].tolist(), tb.corner_index(states).tolist()):
            slots = fields(word, 8)
            twists = int("".join(str(f >> 3) for f in slots[:7]), 3)
            assert index == lehmer_rank([f & 7 for f in slots]) * 2187 + twists
        assert tb.corner_index(tb.solved(3, 2)).tolist() == [0, 0, 0]

    def test_edge_index_is_the_documented_rank(self):
        states, _ = walks(200)
        for pattern in [7, (11, 0, 5), 12]:
            pieces = list(range(pattern)) if isinstance(pattern, int) else list(pattern)
            for word, index in zip(states[:, 1].tolist(), tb.edge_index(states, pattern).tolist()):
                slot_of = {f & 15: (slot, f >> 4) for slot, f in enumerate(fields(word, 12))}
                slots = [slot_of[p][0] for p in pieces]
                rank = 0
                for j, slot in enumerate(slots):  # k-permutations of 12 in lexicographic order
                    rank = rank * (12 - j) + slot - sum(s < slot for s in slots[:j])
                flips = int("".join(str(slot_of[p][1]) for p in pieces), 2)
                assert index == rank * 2 ** len(pieces) + flips

    def test_indexes_round_trip(self):
        states, _ = walks(2000, 40)
        assert np.array_equal(tb.corner_words(tb.corner_index(states)), states[:, 0])
        assert np.array_equal(tb.edge_words(tb.edge_index(states, 12), 12), states[:, 1])
        ends = np.array([0, 1, 2186, 2187, 88179839])
        assert np.array_equal(tb.corner_index(tb.corner_words(ends)), ends)
        for k in range(1, 13):
            count = factorial(12) // factorial(12 - k) * 2**k
            picks = np.array([0, 1, count // 3, count - 1], dtype=np.int64)
            words = tb.edge_words(picks, k)
            assert np.array_equal(tb.edge_index(np.stack([tb.solved(4)[:, 0], words], axis=1), k), picks)

    def test_edge_words_put_the_other_pieces_in_order_unflipped(self):
        word = int(tb.edge_words([tb.edge_index(tb.apply(tb.solved(1), "F"), (10, 2))[0]], (10, 2))[0])
        slots = fields(word, 12)
        others = [f for f in slots if f & 15 not in (10, 2)]
        assert others == sorted(others) and all(f < 16 for f in others)
        assert sorted(f & 15 for f in slots) == list(range(12))

    def test_every_position_of_the_census_has_its_own_index(self):
        if emulated():
            pytest.skip("a search of millions of positions: natively only")
        # Breadth-first over the 2x2 cube with U, R and F turns, by the words themselves: a level's
        # new positions are its children that are in neither it nor the level before.
        # (By sorting: NumPy 2's np.unique is many times slower on these arrays.)
        def distinct(words):
            words = np.sort(words)
            return words[np.concatenate(([True], words[1:] != words[:-1]))]

        def without(words, known):  # both sorted
            at = np.searchsorted(known, words).clip(max=max(known.size - 1, 0))
            return words[known[at] != words] if known.size else words

        moves = tb.move_codes("U U2 U' R R2 R' F F2 F'")
        levels, before = [tb.solved(1, 2)], np.empty(0, np.uint64)
        while levels[-1].size:
            new = without(without(distinct(tb.children(levels[-1], moves).ravel()), levels[-1]), before)
            before = levels[-1]
            levels.append(new)
        # The published distribution of the 2x2 cube in the half-turn metric.
        assert [level.size for level in levels[:-1]] == [1, 9, 54, 321, 1847, 9992, 50136, 227536, 870072, 1887748,
                                                         623800, 2644]
        everything = np.concatenate(levels)
        assert distinct(tb.corner_index(everything)).size == everything.size == 3674160


def bits_of(indexes, size):
    bits = np.zeros(size, dtype=bool)
    bits[indexes] = True
    return np.packbits(bits, bitorder="little")


def search_levels(pattern, backward_from=None, depth=None, **options):
    """The levels of a breadth-first search by next_level, as bitmaps; backward from a level on."""
    frontier = np.zeros(-(-tb.pattern_size(pattern) // 8), np.uint8)
    frontier[0] = 1
    seen, levels = frontier.copy(), [frontier]
    while levels[-1].any() and (depth is None or len(levels) <= depth):
        backward = backward_from is not None and len(levels) >= backward_from
        new = tb.next_level(levels[-1], seen, pattern, backward=backward, **options)
        seen |= new
        levels.append(new)
    return [level for level in levels if level.any()]


def positions_of(bitmap):
    nonzero = np.flatnonzero(bitmap)
    rows, columns = np.nonzero(np.unpackbits(bitmap[nonzero][:, None], axis=1, bitorder="little"))
    return nonzero[rows] * 8 + columns


def counts_of(levels):
    return [int(np.unpackbits(level).sum()) for level in levels]


class TestSearch:
    def test_a_search_of_the_corners_finds_their_published_levels(self):
        levels = search_levels("corners", depth=5)
        assert counts_of(levels) == [1, 18, 243, 2874, 28000, 205416]
        # The second level is the children of the first, found by words.
        first = tb.corner_words(np.flatnonzero(np.unpackbits(levels[1], bitorder="little")))
        children = tb.corner_index(tb.children(first).ravel())
        expected = np.setdiff1d(children, np.flatnonzero(np.unpackbits(levels[0] | levels[1], bitorder="little")))
        assert np.array_equal(np.flatnonzero(np.unpackbits(levels[2], bitorder="little")), expected)

    # Blocks of flips narrower than a word, a word, and two words; pieces in an order of their own.
    @pytest.mark.parametrize("pattern", [2, (5, 2, 9), 6, (11, 0, 3, 8, 6, 1, 10)])
    def test_each_level_of_edges_is_the_children_of_the_last_by_words(self, pattern):
        levels = search_levels(pattern, depth=3)
        seen = np.zeros(0, np.int64)
        for parents, level in zip(levels, levels[1:]):
            positions = positions_of(parents)
            seen = np.union1d(seen, positions)
            states = tb.solved(positions.size)
            states[:, 1] = tb.edge_words(positions, pattern)
            children = tb.edge_index(tb.children(states).reshape(-1, 2), pattern)
            assert np.array_equal(positions_of(level), np.setdiff1d(children, seen))

    def test_forward_and_backward_levels_agree_and_cover_the_pattern(self):
        forward = search_levels(3)
        assert sum(counts_of(forward)) == tb.pattern_size(3) == 12 * 11 * 10 * 8
        assert all(np.array_equal(a, b) for a, b in zip(forward, search_levels(3, backward_from=1)))
        assert all(np.array_equal(a, b) for a, b in zip(search_levels((5, 2, 9)), search_levels((5, 2, 9),
                                                                                                backward_from=3)))

    def test_ranges_and_threads_make_the_same_level(self):
        levels = search_levels(5, depth=5)  # 3,041,280 positions
        frontier, seen = levels[-1], np.bitwise_or.reduce(levels)
        whole = tb.next_level(frontier, seen, 5, threads=1)
        assert np.array_equal(tb.next_level(frontier, seen, 5, threads=2), whole)
        for backward in (False, True):
            parts = np.zeros_like(whole)
            for begin, end in [(0, 100003), (100003, 2000000), (2000000, None)]:
                tb.next_level(frontier, seen, 5, begin=begin, end=end, backward=backward, out=parts)
            assert np.array_equal(parts, whole)

    def test_bad_bitmaps_and_ranges_are_refused(self):
        size = tb.pattern_size(2)
        good = bits_of([0], size)
        refused(lambda: tb.next_level(good[:-1], good, 2), ValueError, "frontier must be a bitmap of the pattern's 528")
        refused(lambda: tb.next_level(good, good.astype(np.int16), 2), TypeError, "seen must hold uint8")
        refused(lambda: tb.next_level(good, good, 2, begin=10, end=5), ValueError, "0 <= begin <= end <= 528")
        refused(lambda: tb.next_level(good, good, "edges"), ValueError, 'pattern must be "corners" or a pattern of edges')
        assert tb.pattern_size() == 88179840 and tb.pattern_size(8) == 5109350400


class TestNetsAndInverses:
    @pytest.mark.parametrize("size", [3, 2])
    def test_facelets_are_the_letters_of_str(self, size):
        states, codes = walks(60, size=size)
        assert facelet_letters(states) == [letters(cube_after(size, t)) for t in texts_of(codes)]
        hot = tb.facelets(states, one_hot=True)
        assert hot.shape == (60, 54 if size == 3 else 24, 6) and (hot.sum(axis=2) == 1).all()
        assert np.array_equal(hot.argmax(axis=2), tb.facelets(states))

    @pytest.mark.parametrize("size", [3, 2])
    def test_the_inverse_undoes_the_moves(self, size):
        states, codes = walks(80, 17, size=size)
        undone = tb.inverse(states)
        for column in codes.T:
            undone = tb.step(undone, column)
        assert tb.is_solved(undone).all() and not tb.is_solved(states).any()
        assert np.array_equal(tb.inverse(tb.inverse(states)), states)


class TestArraysIn:
    def test_int64_strided_dlpack_and_lists_are_read(self):
        states, _ = walks(30)
        expected = tb.apply(states, "R U")
        signed = tb.apply(states.astype(np.int64), "R U")
        assert signed.dtype == np.int64 and np.array_equal(signed.astype(np.uint64), expected)
        wide = np.zeros((60, 3), dtype=np.uint64)
        wide[::2, :2] = states
        assert np.array_equal(tb.apply(wide[::2, :2], "R U"), expected)

        class OnlyDLPack:  # as a PyTorch or JAX tensor offers itself
            def __init__(self, array):
                self.array = array

            def __dlpack__(self, **kwargs):
                return self.array.__dlpack__(**kwargs)

            def __dlpack_device__(self):
                return self.array.__dlpack_device__()

        assert np.array_equal(tb.apply(OnlyDLPack(states), "R U"), expected)
        assert tb.step(states[:3], [0, 5, 17]).shape == (3, 2)

    def test_out_in_place_overlapping_and_strided(self):
        states, _ = walks(50)
        expected = tb.apply(states, "F B'")
        in_place = states.copy()
        assert tb.apply(in_place, "F B'", out=in_place) is in_place
        assert np.array_equal(in_place, expected)
        shifted = np.concatenate([states, states[-1:]])
        tb.apply(shifted[:-1], "F B'", out=shifted[1:])  # the result overlaps the states it reads
        assert np.array_equal(shifted[1:], expected)
        strided = np.zeros((100, 2), dtype=np.uint64)
        tb.inverse(states, out=strided[::2])
        assert np.array_equal(strided[::2], tb.inverse(states)) and not strided[1::2].any()
        children = np.zeros((50, 18, 2), dtype=np.int64)
        assert tb.children(states, out=children) is children and np.array_equal(children, tb.children(states))

    def test_no_states(self):
        none = tb.solved(0)
        assert tb.apply(none, "R").shape == (0, 2) and tb.children(none).shape == (0, 18, 2)
        assert tb.corner_index(none).shape == (0,) and tb.facelets(none).shape == (0, 54)


def refused(call, kind, text):
    with pytest.raises(kind) as error:
        call()
    assert text in str(error.value), str(error.value)


class TestRefusals:
    def test_bad_arrays_are_refused_naming_the_argument(self):
        states, _ = walks(5)
        refused(lambda: tb.apply(states.astype(float), "R"), TypeError, "apply(): states must hold uint64 (or int64), not float64")
        refused(lambda: tb.apply(states, "R", out=np.zeros((5, 2), np.int32)), TypeError, "out must hold uint64 (or int64), not int32")
        refused(lambda: tb.apply(np.zeros((5, 3), np.uint64), "R"), ValueError, "states must have shape (n, 2)")
        refused(lambda: tb.apply(states, 3.5), TypeError, "moves must hold integers, not float64")
        refused(lambda: tb.apply(states, b"R U"), TypeError, "moves must be a move string or an array of move codes, not 'bytes'")
        refused(lambda: tb.apply(states, [1, 18]), ValueError, "moves[1] is 18, not a move code")
        refused(lambda: tb.step(states, [0, 1]), ValueError, "codes must have one code a state, (5,), not (2,)")
        refused(lambda: tb.step(states, [0, 1, 2, -1, 0]), ValueError, "codes[3] is -1")
        refused(lambda: tb.children(states, [[1]]), ValueError, "moves must have shape (n,), not (1, 1)")
        refused(lambda: tb.corner_words([5, 88179840]), ValueError, "index[1] is 88179840, outside 0 to 88179839")
        refused(lambda: tb.edge_words([-1], 3), ValueError, "index[0] is -1")
        refused(lambda: tb.edge_index(states[:, 0], 7), ValueError, "(n, 2): only 3x3 cubes have edges")
        refused(lambda: tb.edge_index(states, (1, 1)), ValueError, "edges must be a count k of 1 to 12")
        refused(lambda: tb.edge_index(states, 13), ValueError, "edges must be a count")
        refused(lambda: tb.solved(-1), ValueError, "n must be 0 or more, not -1")
        refused(lambda: tb.solved(2, size=4), ValueError, "size must be 2 or 3")
        refused(lambda: tb.apply(states, "R", threads=0), ValueError, "threads must be None")
        refused(lambda: tb.apply(states), TypeError, "apply() missing 1 required positional argument: 'moves'")
        refused(lambda: tb.apply(states, "R", True), TypeError, "takes 2 positional arguments but 3 were given")
        refused(lambda: tb.apply(states, "R", output=states), TypeError, "unexpected keyword argument 'output'")

    @pytest.mark.parametrize(
        "corners, edges, text",
        [
            (SOLVED[0] | 3 << 13, SOLVED[1], "the corner in slot 2 is twisted 3"),
            (SOLVED[0] & ~31 | 1, SOLVED[1], "corner piece 1 stands in two slots"),
            (SOLVED[0], SOLVED[1] & ~(31 << 35) | 12 << 35, "the edge in slot 7 has piece id 12"),
            (SOLVED[0], SOLVED[1] & ~31 | 4, "edge piece 4 stands in two slots"),
            (SOLVED[0] | 1 << 45, SOLVED[1], "its corner word has bits set above its slots"),
        ],
    )
    def test_words_that_are_no_position_are_refused_naming_the_row(self, corners, edges, text):
        states = np.array([SOLVED, SOLVED, (corners, edges)], dtype=np.uint64)
        needs_edges = "edge" in text
        for call in (tb.inverse, tb.facelets) + ((lambda s: tb.edge_index(s, 12),) if needs_edges else (tb.corner_index,)):
            refused(lambda: call(states), ValueError, f"states[2] is not a position: {text}")
        unsummed = np.array([(SOLVED[0] | 1 << 3, SOLVED[1])], dtype=np.uint64)
        refused(lambda: tb.corner_index(unsummed), ValueError, "its corner twists sum to 1")

    def test_a_refused_call_writes_nothing(self):
        states, _ = walks(40000)
        out = np.full_like(states, 7)
        read_only = states.copy()
        read_only.flags.writeable = False
        bad_codes = np.zeros(len(states), np.int64)
        bad_codes[-1] = 99
        for call in [
            lambda: tb.step(states, bad_codes, out=out, threads=2),
            lambda: tb.apply(states, [3, 99], out=out),
            lambda: tb.apply(states, "R", out=np.zeros((40000, 2), np.int32)),
            lambda: tb.apply(states, "R", out=out[:-1]),
            lambda: tb.apply(read_only, "R", out=read_only),
        ]:
            with pytest.raises((TypeError, ValueError)):
                call()
            assert (out == 7).all()
        flawed = states.copy()
        flawed[-1, 1] = flawed[0, 1] | 1 << 63
        with pytest.raises(ValueError, match="states\\[39999\\] is not a position"):
            tb.inverse(flawed, out=flawed, threads=2)
        assert np.array_equal(flawed[:-1], states[:-1])


class TestThreads:
    def test_threads_give_the_same_bytes(self):
        states, codes = tb.scramble(70000, 12, seed=2, threads=1)
        assert all(np.array_equal(a, b) for a, b in zip(tb.scramble(70000, 12, seed=2, threads=2), (states, codes)))
        steps = np.arange(len(states)) % 18
        for call in [
            lambda t: tb.apply(states, "R U F", threads=t),
            lambda t: tb.step(states, steps, threads=t),
            lambda t: tb.children(states[:20000], threads=t),
            lambda t: tb.corner_index(states, threads=t),
            lambda t: tb.edge_index(states, 7, threads=t),
            lambda t: tb.facelets(states, threads=t),
            lambda t: tb.inverse(states, threads=t),
        ]:
            assert np.array_equal(call(1), call(2)) and np.array_equal(call(1), call(None))

    def test_python_threads_on_their_own_arrays(self):
        arrays = [walks(20000, seed=s)[0] for s in range(4)]
        expected = [tb.apply(a, "R U R' U'") for a in arrays]
        results = [None] * 4

        def work(k):
            for _ in range(10):
                results[k] = tb.apply(arrays[k], "R U R' U'", threads=2)

        workers = [threading.Thread(target=work, args=(k,)) for k in range(4)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        assert all(np.array_equal(r, e) for r, e in zip(results, expected))


def test_the_module_holds_what_it_says():
    assert set(tb.__all__) == {name for name in dir(tb) if not name.startswith("_")}
    assert tb.COLORS == ("W", "Y", "G", "B", "O", "R")
    assert tb.apply.__text_signature__ == "(states, moves, *, out=None, threads=None)"
    assert [tb.MOVES[c] for c in tb.move_codes(" ".join(tb.MOVES))] == list(tb.MOVES)
    assert list(itertools.chain.from_iterable(tb.solved(1).tolist())) == list(SOLVED)
