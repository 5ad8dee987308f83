// Checks of the pure cube core, compiled without Python for any target
// (the tests build it natively and, where the toolchain can, for 32-bit).
// Covers what Python cannot see: the edge word, the unused high bits, twist
// fields of 3, and the renderer's internal pieces.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "cube2x2/moves.hpp"
#include "cube2x2/render.hpp"
#include "cube3x3/binary.hpp"
#include "cube3x3/moves.hpp"
#include "cube3x3/notation.hpp"
#include "cube3x3/render.hpp"
#include "engine/engine.hpp"

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

static unsigned twist_sum(std::uint64_t corners) {
    unsigned sum = 0;
    for (unsigned s = 0; s < 8; ++s) sum += unsigned(field(corners, s) >> 3);
    return sum;
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
    check_rendering();
    // The version the module would run on this processor.
    for (const engine::Isa isa : engine::kIsas)
        if (engine::scanner(isa) == engine::chosen()) std::printf("chosen engine: %s\n", engine::name(isa));
    std::printf("core checks (%u-bit words): %d passed, %d failed\n", unsigned(sizeof(void*) * 8), passed, failed);
    return failed == 0 ? 0 : 1;
}
