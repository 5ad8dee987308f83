// libFuzzer harness for the pure core: the move-string parser, the edge
// 4-cycle and the net renderer, each checked against an independent
// reference written the slow, obvious way. Built and run by tools/fuzz.sh.
//
// Input: the first byte picks the target, the rest is its data.
//   0 mod 4: the rest is a move string (its first byte picks 1-, 2- or 4-byte
//            code units), applied by every reading to both cube sizes, and
//            as one row;
//   1 mod 4: a starting edge word and five integers for rotate_edges and
//            rotate_edges_prime (8 bytes each, little end first);
//   2 mod 4: a corner word and an edge word to draw;
//   3 mod 4: states (16 bytes each) and move codes (the bytes after them,
//            mod 18) for every version's kernels on many cubes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cube2x2/moves.hpp"
#include "cube2x2/render.hpp"
#include "cube3x3/moves.hpp"
#include "cube3x3/notation.hpp"
#include "cube3x3/render.hpp"
#include "cube3x3/token_rows.hpp"
#include "engine/engine.hpp"

using namespace turnwheel;
using namespace turnwheel::cube3x3;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

std::uint64_t read_word(const std::uint8_t* data, std::size_t size, std::size_t at) {
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < 8; ++i)
        if (at + i < size) word |= std::uint64_t{data[at + i]} << (8 * i);
    return word;
}

// ---- Move strings -------------------------------------------------------------

const std::set<char32_t> kWhiteSpace = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680,
                                        0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
                                        0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

// Splits into tokens the slow way: test each character against the list of
// White_Space code points and collect the characters between them.
std::vector<std::u32string> reference_tokens(const std::u32string& text) {
    std::vector<std::u32string> tokens;
    std::u32string current;
    for (char32_t c : text) {
        if (kWhiteSpace.count(c)) {
            if (!current.empty()) tokens.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) tokens.push_back(current);
    return tokens;
}

using Turn3 = void (*)(State&);
using Turn2 = void (*)(cube2x2::State&);

template <Move M>
void whole(State& s) {
    whole_turn<M>(s);
}

template <Move M>
void corners_only(cube2x2::State& s) {
    cube2x2::turn<M>(s);
}

struct Meaning {
    std::vector<Turn3> big;
    std::vector<Turn2> small;
};

const std::map<std::u32string, Meaning>& notation() {
    using enum Move;
    static const std::map<std::u32string, Meaning> table = [] {
        std::map<std::u32string, Meaning> t;
        const auto add = [&](const std::u32string& face, Turn3 cw, Turn3 ccw, Turn2 cw2, Turn2 ccw2) {
            t[face] = {{cw}, {cw2}};
            t[face + U"'"] = t[face + U"!"] = {{ccw}, {ccw2}};
            t[face + U"2"] = {{cw, cw}, {cw2, cw2}};
        };
        add(U"U", whole<U>, whole<UPrime>, corners_only<U>, corners_only<UPrime>);
        add(U"D", whole<D>, whole<DPrime>, corners_only<D>, corners_only<DPrime>);
        add(U"R", whole<R>, whole<RPrime>, corners_only<R>, corners_only<RPrime>);
        add(U"L", whole<L>, whole<LPrime>, corners_only<L>, corners_only<LPrime>);
        add(U"F", whole<F>, whole<FPrime>, corners_only<F>, corners_only<FPrime>);
        add(U"B", whole<B>, whole<BPrime>, corners_only<B>, corners_only<BPrime>);
        return t;
    }();
    return table;
}

// The data as code units of the width its first byte picks (1, 2 or 4
// bytes, little end first), as the interpreter would store a str.
struct Units {
    std::u32string code_points;
    std::vector<std::uint8_t> latin1;
    std::vector<std::uint16_t> ucs2;
    std::vector<std::uint32_t> ucs4;
    MoveText text;
};

Units units_of(const std::uint8_t* data, std::size_t size) {
    Units u;
    if (size == 0) return u;
    const unsigned width = data[0] % 3 == 0 ? 1 : data[0] % 3 == 1 ? 2 : 4;
    for (std::size_t at = 1; at + width <= size; at += width) {
        std::uint32_t unit = 0;
        for (unsigned k = 0; k < width; ++k) unit |= std::uint32_t{data[at + k]} << (8 * k);
        if (width == 4) unit %= 0x110000;
        u.code_points += char32_t(unit);
        if (width == 1) u.latin1.push_back(std::uint8_t(unit));
        if (width == 2) u.ucs2.push_back(std::uint16_t(unit));
        if (width == 4) u.ucs4.push_back(unit);
    }
    const void* first = width == 1 ? static_cast<const void*>(u.latin1.data())
                        : width == 2 ? static_cast<const void*>(u.ucs2.data())
                                     : static_cast<const void*>(u.ucs4.data());
    u.text = MoveText(first, u.code_points.size(), width);
    return u;
}

bool same(const State& a, const State& b) { return a.corners == b.corners && a.edges == b.edges; }

void check_moves(const std::uint8_t* data, std::size_t size) {
    const Units units = units_of(data, size);
    // Any words at all, twists of 3 and the unused bits included.
    const State start{read_word(data, size, 1), read_word(data, size, 9)};
    State reference = start;
    cube2x2::State small_reference{start.corners};
    bool refused = false;
    for (char32_t c : units.code_points) refused = refused || (c >= 0xD800 && c <= 0xDFFF);
    if (!refused)
        for (const auto& token : reference_tokens(units.code_points)) {
            const auto found = notation().find(token);
            if (found == notation().end()) continue;
            for (Turn3 turn : found->second.big) turn(reference);
            for (Turn2 turn : found->second.small) turn(small_reference);
        }
    // Every reading: the packed one, each engine this processor runs, and
    // both classes' entry points.
    State packed = start;
    require(reference_moves(packed, units.text) == !refused && same(packed, reference));
    for (const engine::Isa isa : engine::kIsas)
        if (const engine::Scanner scan = engine::scanner(isa)) {
            State by_engine = start;
            require(scan(by_engine, units.text) == !refused && same(by_engine, reference));
        }
    State big = start;
    cube2x2::State small{start.corners};
    require(do_moves(big, units.text) == !refused && same(big, reference));
    require(cube2x2::do_moves(small, units.text) == !refused && small.corners == small_reference.corners);
    // The whole text as one row, as arrays of cubes take it.
    TokenRow row{};
    require(engine::text_row(units.text, row) == !refused);
    if (!refused) require(same(pack(apply_row(row, unpack(start)), start), reference));
}

// ---- Many cubes at once ---------------------------------------------------------

// Move codes in the batch's order: clockwise, half and counter-clockwise, by face.
State by_code(State s, unsigned code) {
    static const char32_t* const tokens[] = {U"U", U"U2", U"U'", U"D", U"D2", U"D'", U"R", U"R2", U"R'",
                                             U"L", U"L2", U"L'", U"F", U"F2", U"F'", U"B", U"B2", U"B'"};
    for (Turn3 turn : notation().at(tokens[code]).big) turn(s);
    return s;
}

void check_batch(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = size / 20;  // 16 bytes a state and 4 codes' bytes each
    std::vector<std::uint64_t> words(2 * n), out(2 * n), children(2 * n * 4), small(n * 4);
    std::vector<std::uint8_t> codes(4 * n);
    for (std::size_t i = 0; i < n; ++i) {
        words[2 * i] = read_word(data, size, 16 * i);
        words[2 * i + 1] = read_word(data, size, 16 * i + 8);
    }
    for (std::size_t k = 0; k < 4 * n; ++k) codes[k] = data[16 * n + k] % 18;
    for (const engine::Isa isa : engine::kIsas) {
        const engine::Batch* batch = engine::batch(isa);
        if (batch == nullptr) continue;
        batch->cube3x3.step(words.data(), out.data(), n, codes.data());
        for (std::size_t i = 0; i < n; ++i) require(same(State{out[2 * i], out[2 * i + 1]}, by_code({words[2 * i], words[2 * i + 1]}, codes[i])));
        const std::uint8_t* list = codes.data() + n;
        const std::size_t count = n < 4 ? n : 4;
        batch->cube3x3.children(words.data(), children.data(), n, list, count);
        batch->cube2x2.children(words.data(), small.data(), n, list, count);  // the words as corner words
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < count; ++j) {
                const std::size_t at = i * count + j;
                require(same(State{children[2 * at], children[2 * at + 1]}, by_code({words[2 * i], words[2 * i + 1]}, list[j])));
                require(small[at] == by_code({words[i], 0}, list[j]).corners);
            }
        // All the codes as one row.
        const TokenRow row = batch->compose(codes.data(), codes.size());
        for (std::size_t i = 0; i < n; ++i) {
            State expected{words[2 * i], words[2 * i + 1]};
            for (const std::uint8_t code : codes) expected = by_code(expected, code);
            require(same(pack(apply_row(row, unpack(State{words[2 * i], words[2 * i + 1]})), State{words[2 * i], words[2 * i + 1]}), expected));
        }
    }
}

// ---- Edge 4-cycle ---------------------------------------------------------------

// Bit by bit: clear the four 5-bit fields, then OR each moved field in.
std::uint64_t reference_cycle(std::uint64_t word, const std::uint64_t (&offsets)[4], std::uint64_t ori,
                              const int (&source_of)[4]) {
    std::uint64_t fields[4] = {};
    for (int k = 0; k < 4; ++k)
        for (unsigned bit = 0; bit < 5; ++bit) {
            const unsigned at = unsigned(offsets[k] % 64) + bit;
            if (at < 64 && (word >> at) & 1) fields[k] |= std::uint64_t{1} << bit;
        }
    if (ori % 2 == 1)
        for (auto& f : fields) f ^= 16;
    std::uint64_t result = word;
    for (int k = 0; k < 4; ++k)
        for (unsigned bit = 0; bit < 5; ++bit) {
            const unsigned at = unsigned(offsets[k] % 64) + bit;
            if (at < 64) result &= ~(std::uint64_t{1} << at);
        }
    for (int k = 0; k < 4; ++k)
        for (unsigned bit = 0; bit < 5; ++bit) {
            const unsigned at = unsigned(offsets[k] % 64) + bit;
            if (at < 64 && (fields[source_of[k]] >> bit) & 1) result |= std::uint64_t{1} << at;
        }
    return result;
}

void check_edge_cycle(const std::uint8_t* data, std::size_t size) {
    const std::uint64_t start = read_word(data, size, 0);
    const std::uint64_t offsets[4] = {read_word(data, size, 8), read_word(data, size, 16), read_word(data, size, 24),
                                      read_word(data, size, 32)};
    const std::uint64_t ori = read_word(data, size, 40);
    State forward{kSolvedCorners, start}, backward{kSolvedCorners, start};
    rotate_edges(forward, offsets[0], offsets[1], offsets[2], offsets[3], ori);
    rotate_edges_prime(backward, offsets[0], offsets[1], offsets[2], offsets[3], ori);
    require(forward.edges == reference_cycle(start, offsets, ori, {3, 0, 1, 2}));
    require(backward.edges == reference_cycle(start, offsets, ori, {1, 2, 3, 0}));
    require(forward.corners == kSolvedCorners && backward.corners == kSolvedCorners);
    // Turns carry whatever the word holds and still undo each other.
    State turned = forward;
    whole_turn<Move::F>(turned);
    whole_turn<Move::FPrime>(turned);
    require(turned.edges == forward.edges);
}

// ---- Nets ---------------------------------------------------------------------------

void check_render(const std::uint8_t* data, std::size_t size) {
    const State state{read_word(data, size, 0), read_word(data, size, 8)};
    bool bad_edge = false;
    for (unsigned slot = 0; slot < 12; ++slot) bad_edge = bad_edge || (field(state.edges, slot) & 15) >= 12;
    const auto net = render(state);
    require(net.failed == bad_edge);
    if (net.failed) {
        require(net.fault.length == 12 && net.fault.index >= 12 && net.fault.index <= 15);
    } else {
        require(net.text.size >= 54 * 12 && net.text.size <= kNetCapacity);
        std::size_t lines = 0;
        for (char c : net.text.view()) lines += c == '\n';
        require(lines == 9);
    }
    const auto small = cube2x2::render(cube2x2::State{state.corners});
    require(small.size >= 24 * 12 && small.size <= cube2x2::kNetCapacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t* rest = data + 1;
    const std::size_t rest_size = size - 1;
    switch (data[0] % 4) {
        case 0: check_moves(rest, rest_size); break;
        case 1: check_edge_cycle(rest, rest_size); break;
        case 2: check_render(rest, rest_size); break;
        default: check_batch(rest, rest_size); break;
    }
    return 0;
}
