// Checks of the pure cube core, compiled without Python for any target
// (the tests build it natively and, where the toolchain can, for 32-bit).
// Covers what Python cannot see: the edge word, the unused high bits, twist
// fields of 3, and the renderer's internal pieces.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "cube2x2/moves.hpp"
#include "cube2x2/render.hpp"
#include "cube3x3/binary.hpp"
#include "cube3x3/edge_blocks.hpp"
#include "cube3x3/moves.hpp"
#include "cube3x3/notation.hpp"
#include "cube3x3/render.hpp"
#include "engine/engine.hpp"
#include "engine/random_walk.hpp"

using namespace turnwheel;
using namespace turnwheel::cube3x3;
using enum Move;

static int passed = 0, failed = 0;

#define CHECK(condition)                                                        \
    do {                                                                        \
        if (condition) {                                                        \
            ++passed;                                                           \
        } else {                                                                \
            ++failed;                                                           \
            std::printf("%s:%d: CHECK(%s) failed\n", __FILE__, __LINE__, #condition); \
        }                                                                       \
    } while (0)

// Text built up in a buffer of fixed size. The checks use nothing of the C++
// library beyond its headers (no std::string), so that they link as C for any
// target, without that library being built for the target first.
template <class Unit, std::size_t kCapacity>
class Built {
public:
    Built() = default;
    explicit Built(std::basic_string_view<Unit> text) { *this += text; }
    Built& operator+=(Unit unit) {
        if (length_ == kCapacity) {
            std::printf("a check's text outgrew its %zu units\n", kCapacity);
            std::abort();
        }
        units_[length_++] = unit;
        return *this;
    }
    Built& operator+=(std::basic_string_view<Unit> text) {
        for (const Unit unit : text) *this += unit;
        return *this;
    }
    void shorten_to(std::size_t length) { length_ = length < length_ ? length : length_; }
    void clear() { length_ = 0; }
    std::size_t size() const { return length_; }
    Unit& operator[](std::size_t index) { return units_[index]; }
    const Unit* begin() const { return units_.data(); }
    const Unit* end() const { return units_.data() + length_; }
    std::basic_string_view<Unit> view() const { return {units_.data(), length_}; }

private:
    std::array<Unit, kCapacity> units_;
    std::size_t length_ = 0;
};

// xorshift64: deterministic words on every target.
static std::uint64_t next_random() {
    static std::uint64_t x = 0x9E3779B97F4A7C15ull;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
}

// A corner word with twists 0 to 2 in every slot, anything in bits 40-63.
static std::uint64_t random_corner_word() {
    std::uint64_t word = next_random() & ~((std::uint64_t{1} << 40) - 1);
    for (unsigned s = 0; s < 8; ++s) word |= ((next_random() & 7) | (next_random() % 3) << 3) << (5 * s);
    return word;
}

template <Move M>
static State turned(State s) {
    whole_turn<M>(s);
    return s;
}

struct Published {
    State (*turn)(State);
    std::uint64_t corners, edges;
};

static void check_published_values() {
    const Published table[] = {
        {turned<U>, 0x398a410403, 0x05a928398a410403},      {turned<UPrime>, 0x398a400c41, 0x05a928398a400c41},
        {turned<D>, 0x21cc518820, 0x05a92821cc518820},      {turned<DPrime>, 0x3148718820, 0x05a9283148718820},
        {turned<R>, 0x3b6241d940, 0x0594283992418940},      {turned<RPrime>, 0x3aac41c5a0, 0x0584a83994418920},
        {turned<L>, 0x998af40834, 0x01a927598a440820},      {turned<LPrime>, 0xa18a878833, 0x03a923418a458820},
        {turned<F>, 0x748a4bac20, 0x0b49283e8a41ec20},      {turned<FPrime>, 0x5dca493820, 0x0959283eca41e820},
        {turned<B>, 0x3999018aa9, 0x05aa90398b818839},      {turned<BPrime>, 0x3993518a0c, 0x05aa14398b918838},
    };
    for (const auto& row : table) {
        const State s = row.turn(kSolved);
        CHECK(s.corners == row.corners);
        CHECK(s.edges == row.edges);
    }
    State sexy = kSolved;
    do_moves(sexy, std::string_view("R U R' U'"));
    CHECK(sexy.corners == 0x3c8a41da01 && sexy.edges == 0x058128398a418941);
}

template <Move M, Move Inverse>
static void check_turn_pair() {
    for (int i = 0; i < 2000; ++i) {
        const std::uint64_t c = random_corner_word(), e = next_random();
        State s{c, e};
        whole_turn<M>(s);
        // High bits pass through, whatever they hold.
        CHECK((s.corners >> 40) == (c >> 40));
        CHECK((s.edges >> 60) == (e >> 60));
        whole_turn<Inverse>(s);
        CHECK(s.corners == c && s.edges == e);
        for (int k = 0; k < 4; ++k) whole_turn<M>(s);
        CHECK(s.corners == c && s.edges == e);
    }
}

static unsigned flip_count(std::uint64_t edges) {
    unsigned count = 0;
    for (unsigned s = 0; s < 12; ++s) count += unsigned(field(edges, s) >> 4);
    return count;
}

static void check_invariants() {
    State s = kSolved;
    for (int i = 0; i < 5000; ++i) {
        const char* tokens[] = {"U", "U'", "D", "D'", "R", "R'", "L", "L'", "F", "F'", "B", "B'"};
        do_moves(s, std::string_view(tokens[next_random() % 12]));
        CHECK(twist_sum(s.corners) % 3 == 0);
        CHECK(flip_count(s.edges) % 2 == 0);
        CHECK(s.corners >> 40 == 0 && s.edges >> 60 == 0);
    }
}

static void check_twist_three() {
    // Slot 2 holds piece 2 with twist field 3. R carries slot 2 to slot 1
    // (+1): twist 1. F carries slot 2 to slot 6 (+2): 2, and so does F'
    // to slot 3. U and D keep the 3.
    const std::uint64_t word = (kSolvedCorners & ~slot_mask(2)) | (std::uint64_t{2 | 3 << 3} << 10);
    CHECK(field(turn_corners<R>(word), 1) == (2 | 1 << 3));
    CHECK(field(turn_corners<F>(word), 6) == (2 | 2 << 3));
    CHECK(field(turn_corners<FPrime>(word), 3) == (2 | 2 << 3));
    CHECK(field(turn_corners<U>(word), 3) == (2 | 3 << 3));
    CHECK(turn_corners<RPrime>(turn_corners<R>(word)) != word);
    // A twist of 3 is drawn like 0.
    CHECK(render(State{word, kSolvedEdges}).text.view() == render(kSolved).text.view());
    CHECK(cube2x2::render(cube2x2::State{word}).view() == cube2x2::render(cube2x2::kSolved).view());
}

static void check_edge_cycle() {
    State s = kSolved;
    rotate_edges(s, 0, 5, 10, 15, 0);
    CHECK(s.edges == 0x05a928398a410403);
    s = kSolved;
    rotate_edges_prime(s, 0, 5, 10, 15, 0);
    CHECK(s.edges == 0x05a928398a400c41);
    s = kSolved;
    rotate_edges(s, 0, 5, 10, 15, 1);
    CHECK(s.edges == 0x05a928398a494613);
    State t = kSolved;
    rotate_edges(t, 64, 69, 74, 79, 3);
    CHECK(t.edges == s.edges && t.corners == kSolvedCorners);

    // Fields at offsets past 59 are cut at bit 63; nothing outside changes.
    s = State{kSolvedCorners, ~std::uint64_t{0}};
    rotate_edges(s, 62, 0, 5, 10, 0);
    CHECK((s.edges & 0x1f) == 0x3);          // bits 62 and 63, the rest cut
    CHECK(((s.edges >> 62) & 3) == 3);        // bits 0 to 1 of slot 2's field
    CHECK(s.corners == kSolvedCorners);
    // Equal offsets OR their fields.
    s = kSolved;
    rotate_edges(s, 5, 5, 10, 15, 0);
    CHECK(field(s.edges, 1) == (3 | 1));

    // Every edge turn is a cycle of its face's offsets.
    auto same = [](void (*turn)(State&), std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d,
                   std::uint64_t ori, bool prime) {
        for (int i = 0; i < 200; ++i) {
            State x{0, next_random()}, y = x;
            turn(x);
            (prime ? rotate_edges_prime : rotate_edges)(y, a, b, c, d, ori);
            if (x.edges != y.edges) return false;
        }
        return true;
    };
    CHECK(same(edge_turn<U>, 0, 5, 10, 15, 0, false));
    CHECK(same(edge_turn<DPrime>, 20, 35, 30, 25, 0, true));
    CHECK(same(edge_turn<R>, 5, 45, 25, 50, 0, false));
    CHECK(same(edge_turn<LPrime>, 15, 55, 35, 40, 0, true));
    CHECK(same(edge_turn<F>, 10, 50, 30, 55, 1, false));
    CHECK(same(edge_turn<BPrime>, 0, 40, 20, 45, 1, true));
}

static State moved(const MoveText& moves) {
    State s = kSolved;
    CHECK(do_moves(s, moves));
    return s;
}

static bool same_state(const State& a, const State& b) { return a.corners == b.corners && a.edges == b.edges; }

static void check_notation() {
    CHECK(same_state(moved(std::string_view("")), kSolved));
    CHECK(same_state(moved(std::u16string_view(u"U\u3000U")), moved(std::string_view("U2"))));
    CHECK(same_state(moved(std::string_view("U\x85U")), moved(std::string_view("U2"))));  // Latin-1 U+0085
    CHECK(same_state(moved(std::u16string_view(u"U\u1680U")), moved(std::string_view("U2"))));
    CHECK(same_state(moved(std::u32string_view(U"U\u205FU\u3000\U0001F600")), moved(std::string_view("U2"))));
    CHECK(same_state(moved(std::u16string_view(u"U\u200bU")), kSolved));  // U+200B is no separator
    CHECK(same_state(moved(std::string_view("U\0U", 3)), kSolved));
    CHECK(same_state(moved(std::string_view("U\0", 2)), kSolved));
    CHECK(same_state(moved(std::string_view("R! U2 F' B'")), moved(std::string_view("R' U U F' B'"))));
    // A lone surrogate refuses the whole text, wherever it stands.
    for (const std::u16string_view text : {u"R U \xD800", u"\xDC00", u"R\xDBFFU"}) {
        State s = kSolved;
        CHECK(!do_moves(s, text) && same_state(s, kSolved));
    }
}

// Text for the engines: tokens straddling every block edge, separators of
// every kind, skipped tokens, NUL, characters of every width.
// As string views, so that the pieces holding NUL keep it.
static constexpr std::u32string_view kPieces[] = {
    U"U",  U"D",     U"R",      U"L",      U"F",       U"B", U"U'", U"R!", U"F2", U"B2", U"D'", U"L2", U"x",
    U"U3", U"R2'",   U"Rw",     {U"\0", 1}, {U"U\0", 2}, U"\u00e9", U"U\u2019", U"\u200b", U"2", U"'", U"Ｕ",
    U"LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL",
};
static const char32_t kSeparators[] = {9,      10,     11,     12,     13,     32,     0x85,   0xA0,   0x1680,
                                       0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
                                       0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

constexpr std::size_t kLongest = 200;  // random_text's longest

static Built<char32_t, kLongest + 64> random_text(std::size_t length) {
    Built<char32_t, kLongest + 64> text;
    while (text.size() < length) {
        const auto roll = next_random() % 8;
        if (roll < 3) {
            text += kSeparators[next_random() % std::size(kSeparators)];
        } else if (roll < 4) {
            text += U"\U0001F600\u3000\u3000"[next_random() % 3];
        } else {
            text += kPieces[next_random() % std::size(kPieces)];
            if (next_random() % 2) text += U' ';
        }
    }
    text.shorten_to(length);
    return text;
}

// `text` in the narrowest of the interpreter's forms that holds it, or in a
// given wider one; false if it needs more than `width` bytes a character.
template <class Unit, std::size_t kIn, std::size_t kOut>
static bool narrowed(const Built<char32_t, kIn>& text, Built<Unit, kOut>& out) {
    constexpr char32_t widest = sizeof(Unit) == 1 ? 0xFF : 0xFFFF;
    out.clear();
    for (char32_t c : text) {
        if (c > widest) return false;
        out += Unit(c);
    }
    return true;
}

static void check_engine_against_reference(engine::Isa isa, engine::Scanner scan, const MoveText& text,
                                           State start = State{random_corner_word(), next_random()}) {
    State reference = start, by_engine = start;
    const bool reference_ok = reference_moves(reference, text), engine_ok = scan(by_engine, text);
    CHECK(reference_ok == engine_ok);
    if (!same_state(reference, by_engine))
        std::printf("  %s engine differs on a text of %zu units, %u bytes each\n", engine::name(isa), text.size,
                    text.width);
    CHECK(same_state(reference, by_engine));
}

static void check_engines() {
    for (const engine::Isa isa : engine::kIsas) {
        const engine::Scanner scan = engine::scanner(isa);
        if (scan == nullptr) continue;
        std::printf("engine %s: checked against the packed reading\n", engine::name(isa));
        for (std::size_t length = 0; length <= kLongest; ++length)
            for (int round = 0; round < 12; ++round) {
                auto text = random_text(length);
                if (round == 11 && length > 0) text[next_random() % length] = 0xD800 + next_random() % 0x800;
                Built<char, kLongest> latin1;
                Built<char16_t, kLongest> ucs2;
                if (narrowed(text, latin1)) check_engine_against_reference(isa, scan, latin1.view());
                if (narrowed(text, ucs2)) check_engine_against_reference(isa, scan, ucs2.view());
                check_engine_against_reference(isa, scan, text.view());
            }
        // Token counts around the engine's buffers (32 tokens at most in a
        // block of 64 bytes, 512 gathered before they are applied), each
        // token a face letter and a space, the densest text.
        for (const std::size_t tokens : {31u, 32u, 33u, 511u, 512u, 513u, 514u, 1023u, 1024u, 1025u}) {
            Built<char, 2 * 1025> dense;
            for (std::size_t k = 0; k < tokens; ++k) (dense += "UDRLFB"[next_random() % 6]) += ' ';
            check_engine_against_reference(isa, scan, dense.view());
            dense.shorten_to(dense.size() - 1);
            check_engine_against_reference(isa, scan, dense.view());
        }
        // Runs of separators after nearly a full buffer of rows: no more
        // rows may come from a block of them than tokens fit in it.
        Built<char, 3 * 1200> spaced;
        for (int round = 0; round < 3; ++round) {
            for (int k = 0; k < 500; ++k) spaced += "R ";
            for (int k = 0; k < 200; ++k) spaced += ' ';
        }
        check_engine_against_reference(isa, scan, spaced.view());
        // One long text of face tokens and spaces, the common case.
        Built<char, 2 * 20000> scramble;
        for (int k = 0; k < 20000; ++k) (scramble += "UDRLFB"[next_random() % 6]) += " '2 "[next_random() % 4];
        check_engine_against_reference(isa, scan, scramble.view());
        // And in wide text, read a chunk of 512 characters at a time: every
        // kind of separator, tokens across every chunk's edge.
        Built<char32_t, 3 * 5000> wide;
        for (int k = 0; k < 5000; ++k) {
            (wide += U"UDRLFB"[next_random() % 6]) += U"'2xx"[next_random() % 4];
            wide.shorten_to(wide.size() - next_random() % 2);
            if (next_random() % 4) wide += kSeparators[next_random() % std::size(kSeparators)];
        }
        Built<char16_t, 3 * 5000> wide16;
        if (narrowed(wide, wide16)) check_engine_against_reference(isa, scan, wide16.view());
        check_engine_against_reference(isa, scan, wide.view());
        // Corner twists of 3, which a word set by hand may hold: the later
        // pairs' R R' twists each corner and then untwists it, which turns
        // a 3 into a 0 one step at a time, not all at once.
        const std::uint64_t all_three = random_corner_word() | 0x0000006318C6318Cull << 1;
        Built<char, 400> mixed(std::string_view("R2 L2 U D' F B2 R' "));
        mixed += scramble.view().substr(0, 300);
        for (const std::string_view text : {std::string_view("U U U U U U U U U U R R' R R' R R' R R' R R' "),
                                            mixed.view()}) {
            check_engine_against_reference(isa, scan, text, State{all_three, next_random()});
            check_engine_against_reference(isa, scan, text, State{kSolvedCorners | 3 << 3, 0});
        }
    }
}

// ---- Many cubes at once ----------------------------------------------------------

// The move codes' tokens, in code order: clockwise, half and counter-clockwise turns of U D R L F B.
static constexpr std::string_view kCodeTokens[] = {"U",  "U2", "U'", "D",  "D2", "D'", "R",  "R2", "R'",
                                                   "L",  "L2", "L'", "F",  "F2", "F'", "B",  "B2", "B'"};

static State by_reference(State s, unsigned code) {
    reference_moves(s, kCodeTokens[code]);
    return s;
}

// Words of every kind: cubes, random words (twists of 3, edge ids past 11, high bits set), the solved cube.
static State random_state(unsigned k) {
    if (k % 3 == 0) return State{next_random(), next_random()};
    if (k % 3 == 1) return State{random_corner_word(), next_random()};
    State s = kSolved;
    for (int i = 0; i < 30; ++i) s = by_reference(s, unsigned(next_random() % 18));
    return s;
}

template <std::size_t N>
static bool kernel_matches(const engine::BatchKernels& kernels, unsigned words, const State (&states)[N],
                           const std::uint8_t* codes, bool in_place) {
    std::uint64_t in[2 * N], out[2 * N];
    for (std::size_t i = 0; i < N; ++i) {
        in[words * i] = states[i].corners;
        if (words == 2) in[2 * i + 1] = states[i].edges;
    }
    std::uint64_t* target = in_place ? in : out;
    kernels.step(in, target, N, codes);
    for (std::size_t i = 0; i < N; ++i) {
        const State expected = by_reference(states[i], codes[i]);
        if (target[words * i] != expected.corners || (words == 2 && target[2 * i + 1] != expected.edges)) return false;
    }
    return true;
}

static void check_batch(const engine::Batch& batch) {
    constexpr std::size_t n = 67;
    State states[n];
    for (std::size_t i = 0; i < n; ++i) states[i] = random_state(unsigned(i));
    std::uint8_t codes[n];
    for (auto& code : codes) code = std::uint8_t(next_random() % 18);
    // Step, one move a state, into another array and in place, on both cubes.
    for (const bool in_place : {false, true}) {
        CHECK(kernel_matches(batch.cube3x3, 2, states, codes, in_place));
        CHECK(kernel_matches(batch.cube2x2, 1, states, codes, in_place));
    }
    // Turn by one row, and children by every code and by a list with repeats.
    std::uint64_t in[2 * n], out[2 * n * 20];
    for (std::size_t i = 0; i < n; ++i) in[2 * i] = states[i].corners, in[2 * i + 1] = states[i].edges;
    for (unsigned code = 0; code < 18; ++code) {
        batch.cube3x3.turn(in, out, n, cube3x3::kTokenRows[cube3x3::kRowOfCode[code]]);
        bool same = true;
        for (std::size_t i = 0; i < n; ++i) same &= same_state(State{out[2 * i], out[2 * i + 1]}, by_reference(states[i], code));
        CHECK(same);
    }
    const std::uint8_t all[20] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 6, 6};
    batch.cube3x3.children(in, out, n, all, 20);
    bool same = true;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < 20; ++j)
            same &= same_state(State{out[2 * (20 * i + j)], out[2 * (20 * i + j) + 1]}, by_reference(states[i], all[j]));
    CHECK(same);
    batch.cube2x2.children(in, out, 2 * n, all, 20);  // the words as 2n corner words
    same = true;
    for (std::size_t i = 0; i < 2 * n; ++i)
        for (std::size_t j = 0; j < 20; ++j)
            same &= out[20 * i + j] == by_reference(State{in[i], 0}, all[j]).corners;
    CHECK(same);
    batch.cube3x3.children(in, out, 0, all, 20);  // nothing to do

    // A list of codes as one row moves every word as the codes one by one do.
    for (std::size_t length = 0; length < 40; ++length) {
        std::uint8_t list[40];
        for (std::size_t k = 0; k < length; ++k) list[k] = std::uint8_t(next_random() % 18);
        const cube3x3::TokenRow row = batch.compose(list, length);
        same = true;
        for (std::size_t i = 0; i < n; ++i) {
            State expected = states[i];
            for (std::size_t k = 0; k < length; ++k) expected = by_reference(expected, list[k]);
            same &= same_state(cube3x3::pack(cube3x3::apply_row(row, cube3x3::unpack(states[i])), states[i]), expected);
        }
        CHECK(same);
    }

    // Random walks: never one face twice in a row, where their codes lead,
    // and each walk its own whatever range it is made in.
    constexpr std::size_t walks = 40, length = 25;
    const engine::WalkKey key{next_random(), next_random()};
    std::uint64_t walked[2 * walks], part[2 * walks];
    std::uint8_t moves[walks * length], part_moves[walks * length];
    batch.cube3x3.scramble(walked, moves, 0, walks, length, key);
    batch.cube3x3.scramble(part, part_moves, 7, 5, length, key);
    bool faces_alternate = true, states_follow = true;
    for (std::size_t i = 0; i < walks; ++i) {
        State expected = kSolved;
        for (std::size_t j = 0; j < length; ++j) {
            const unsigned code = moves[i * length + j];
            faces_alternate &= code < 18 && (j == 0 || code / 3 != moves[i * length + j - 1] / 3u);
            expected = by_reference(expected, code);
        }
        states_follow &= same_state(State{walked[2 * i], walked[2 * i + 1]}, expected);
    }
    CHECK(faces_alternate && states_follow);
    CHECK(std::equal(part, part + 10, walked + 14) && std::equal(part_moves, part_moves + 5 * length, moves + 7 * length));
    std::uint64_t small[walks];
    batch.cube2x2.scramble(small, part_moves, 0, walks, length, key);
    same = std::equal(part_moves, part_moves + walks * length, moves);
    for (std::size_t i = 0; i < walks; ++i) same &= small[i] == walked[2 * i];
    CHECK(same);
}

static void check_batches() {
    for (const engine::Isa isa : engine::kIsas) {
        const engine::Batch* batch = engine::batch(isa);
        if (batch == nullptr) continue;
        std::printf("batch kernels %s: checked against the packed turns\n", engine::name(isa));
        check_batch(*batch);
    }
    // A whole text as one row, as do_moves applies it.
    for (std::size_t length = 0; length <= kLongest; length += 3) {
        const auto text = random_text(length);
        cube3x3::TokenRow row{};
        const bool read = engine::text_row(text.view(), row);
        for (int k = 0; k < 4; ++k) {
            const State start = random_state(unsigned(k)), by_row = cube3x3::pack(cube3x3::apply_row(row, cube3x3::unpack(start)), start);
            State expected = start;
            CHECK(reference_moves(expected, text.view()) == read);
            if (read) CHECK(same_state(by_row, expected));
        }
    }
}

// A move takes the block of a rank of a pattern of edges to one block, its
// flips XORed by one mask: checked against the index of the turned words.
template <unsigned K>
static void check_edge_block() {
    constexpr cube3x3::EdgePattern pattern = cube3x3::first_edges(K);
    bool images = true, moved_bits = true;
    for (int k = 0; k < 200; ++k) {
        const std::uint64_t index = next_random() % cube3x3::edge_positions(K), rank = index >> K;
        const unsigned flips = unsigned(index & ((1u << K) - 1));
        const cube3x3::EdgePlaces places = cube3x3::places_at_rank(rank, K);
        const std::uint64_t edges = cube3x3::edges_at_index(index, pattern);
        for (unsigned code = 0; code < cube3x3::kMoveCodes; ++code) {
            const cube3x3::BlockImage image = cube3x3::block_image(places, K, code);
            const State turned = cube3x3::pack(cube3x3::apply_row(cube3x3::kCodeRows[code], cube3x3::unpack({kSolvedCorners, edges})),
                                               {kSolvedCorners, edges});
            images &= cube3x3::edge_index(turned.edges, pattern) == (image.rank << K | (flips ^ image.flips));
        }
        cube3x3::FlipBlock<K> block;
        for (auto& word : block.words) word = next_random() & cube3x3::FlipBlock<K>::kLowBits;
        const unsigned mask = unsigned(next_random() % (1u << K));
        const auto moved = block.xor_positions(mask);
        for (unsigned f = 0; f < (1u << K); ++f)
            moved_bits &= (moved.words[f / 64] >> f % 64 & 1) == (block.words[(f ^ mask) / 64] >> (f ^ mask) % 64 & 1);
    }
    CHECK(images && moved_bits);
}

static void check_rendering() {
    CHECK(binary_digits(kSolvedCorners).view() ==
          "0000000000000000000000000011100110001010010000011000100000100000");
    CHECK(binary_digits(0).view() == std::string_view("0000000000000000000000000000000000000000000000000000000000000000"));
    CHECK(binary_digits(~std::uint64_t{0}).view() ==
          std::string_view("1111111111111111111111111111111111111111111111111111111111111111"));
    CHECK(ansi_color(U'W').view() == "\x1b[37;1mW\x1b[0m");
    CHECK(ansi_color(U'O').view() == "\x1b[38;5;208mO\x1b[0m");
    CHECK(ansi_color(U'X').view() == "X");
    CHECK(ansi_color(U'\u00e9').view() == "\xc3\xa9");
    CHECK(ansi_color(U'\u3000').view() == "\xe3\x80\x80");
    CHECK(ansi_color(U'\U0001F600').view() == "\xf0\x9f\x98\x80");

    const auto solved = render(kSolved);
    CHECK(!solved.failed && solved.text.size == 789);
    CHECK(cube2x2::render(cube2x2::kSolved).size == 364);
    CHECK(cube2x2::get_sticker(kSolvedCorners, 2, 1).view() == ansi_color(U'G').view());
    CHECK(cube2x2::get_sticker(kSolvedCorners | std::uint64_t{1} << 13, 2, 1).view() == ansi_color(U'R').view());
    // Unused high bits do not show.
    CHECK(render(State{kSolvedCorners | 0xffffff0000000000ull, kSolvedEdges | 0xf000000000000000ull}).text.view() ==
          solved.text.view());
    CHECK(cube2x2::render(cube2x2::State{kSolvedCorners | 0xffffff0000000000ull}).view() ==
          cube2x2::render(cube2x2::kSolved).view());
    // Piece ids 12 to 15 have no colours; the first such slot is named.
    for (std::uint64_t id = 12; id < 16; ++id) {
        const std::uint64_t edges = (kSolvedEdges & ~slot_mask(7)) | (id | 16) << offset_of(7);
        const auto faulty = render(State{kSolvedCorners, edges});
        CHECK(faulty.failed && faulty.fault.length == 12 && faulty.fault.index == id);
        CHECK(!get_edge_sticker(edges, 7, 0).has_value());
    }
    CHECK(get_edge_sticker(kSolvedEdges, 8, 0) == U'B');
    CHECK(get_corner_sticker(kSolvedCorners | std::uint64_t{3} << 13, 2, 1) == U'G');
}

int main() {
    check_published_values();
    check_turn_pair<U, UPrime>();
    check_turn_pair<D, DPrime>();
    check_turn_pair<R, RPrime>();
    check_turn_pair<L, LPrime>();
    check_turn_pair<F, FPrime>();
    check_turn_pair<B, BPrime>();
    check_invariants();
    check_twist_three();
    check_edge_cycle();
    check_notation();
    check_engines();
    check_batches();
    check_edge_block<1>();
    check_edge_block<5>();
    check_edge_block<7>();
    check_edge_block<8>();
    check_rendering();
    // The version the module would run on this processor.
    for (const engine::Isa isa : engine::kIsas)
        if (engine::scanner(isa) == engine::chosen()) std::printf("chosen engine: %s\n", engine::name(isa));
    std::printf("core checks (%u-bit words): %d passed, %d failed\n", unsigned(sizeof(void*) * 8), passed, failed);
    return failed == 0 ? 0 : 1;
}
