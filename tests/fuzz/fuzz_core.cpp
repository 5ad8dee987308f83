// libFuzzer harness for the pure core: the move-string parser, the edge
// 4-cycle and the net renderer, each checked against an independent
// reference written the slow, obvious way. Built and run by tools/fuzz.sh.
//
// Input: the first byte picks the target, the rest is its data.
//   0 mod 3: the rest is a move string, applied to both cube sizes;
//   1 mod 3: a starting edge word and five integers for rotate_edges and
//            rotate_edges_prime (8 bytes each, little end first);
//   2 mod 3: a corner word and an edge word to draw.
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

// Splits into tokens the slow way: decode each character, test it against the
// list of White_Space code points, and collect the raw bytes between them.
std::vector<std::string> reference_tokens(std::string_view text) {
    std::vector<std::string> tokens;
    std::string current;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
        std::size_t length = 1;
        // A byte that starts no well-formed sequence stands for itself, in the
        // way of Python's surrogateescape, so it is never a separator.
        char32_t code = byte(0) < 0x80 ? byte(0) : 0xDC00 + byte(0);
        const std::size_t want = byte(0) >= 0xF0 && byte(0) < 0xF5 ? 4 : byte(0) >= 0xE0 ? 3 : byte(0) >= 0xC2 ? 2 : 1;
        if (byte(0) >= 0x80 && want > 1 && at + want <= text.size()) {
            bool ok = true;
            for (std::size_t k = 1; k < want; ++k) ok = ok && (byte(k) & 0xC0) == 0x80;
            char32_t decoded = byte(0) & (0x7F >> want);
            for (std::size_t k = 1; ok && k < want; ++k) decoded = decoded << 6 | (byte(k) & 0x3F);
            const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
            // Overlong forms, surrogates and values past U+10FFFF are not well formed.
            if (ok && decoded >= least[want] && decoded <= 0x10FFFF && (decoded < 0xD800 || decoded > 0xDFFF)) {
                length = want;
                code = decoded;
            }
        }
        if (kWhiteSpace.count(code)) {
            if (!current.empty()) tokens.push_back(current);
            current.clear();
        } else {
            current.append(text.substr(at, length));
        }
        at += length;
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

const std::map<std::string, Meaning>& notation() {
    using enum Move;
    static const std::map<std::string, Meaning> table = [] {
        std::map<std::string, Meaning> t;
        const auto add = [&](const std::string& face, Turn3 cw, Turn3 ccw, Turn2 cw2, Turn2 ccw2) {
            t[face] = {{cw}, {cw2}};
            t[face + "'"] = t[face + "!"] = {{ccw}, {ccw2}};
            t[face + "2"] = {{cw, cw}, {cw2, cw2}};
        };
        add("U", whole<U>, whole<UPrime>, corners_only<U>, corners_only<UPrime>);
        add("D", whole<D>, whole<DPrime>, corners_only<D>, corners_only<DPrime>);
        add("R", whole<R>, whole<RPrime>, corners_only<R>, corners_only<RPrime>);
        add("L", whole<L>, whole<LPrime>, corners_only<L>, corners_only<LPrime>);
        add("F", whole<F>, whole<FPrime>, corners_only<F>, corners_only<FPrime>);
        add("B", whole<B>, whole<BPrime>, corners_only<B>, corners_only<BPrime>);
        return t;
    }();
    return table;
}

void check_moves(std::string_view text) {
    State big = kSolved, big_reference = kSolved;
    cube2x2::State small = cube2x2::kSolved, small_reference = cube2x2::kSolved;
    do_moves(big, text);
    cube2x2::do_moves(small, text);
    for (const auto& token : reference_tokens(text)) {
        const auto found = notation().find(token);
        if (found == notation().end()) continue;
        for (Turn3 turn : found->second.big) turn(big_reference);
        for (Turn2 turn : found->second.small) turn(small_reference);
    }
    require(big.corners == big_reference.corners && big.edges == big_reference.edges);
    require(small.corners == small_reference.corners && small.corners == big.corners);
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
    switch (data[0] % 3) {
        case 0: check_moves(std::string_view(reinterpret_cast<const char*>(rest), rest_size)); break;
        case 1: check_edge_cycle(rest, rest_size); break;
        default: check_render(rest, rest_size); break;
    }
    return 0;
}
