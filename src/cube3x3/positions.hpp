// Positions of the cube among all the values its words can hold, and what
// arrays of cubes read off them: whether words are a position at all, the
// perfect indexes of the corners and of patterns of edges, the inverse of a
// position, and its facelets' colours. Plain functions of the words only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "render.hpp"
#include "state.hpp"

namespace turnwheel::cube3x3 {

inline constexpr std::uint64_t kCornerWordBits = (std::uint64_t{1} << (kFieldBits * kCornerSlots)) - 1;
inline constexpr std::uint64_t kEdgeWordBits = (std::uint64_t{1} << (kFieldBits * kEdgeSlots)) - 1;

// What keeps words from being a position: every piece once, corner twists
// 0 to 2, edge ids 0 to 11, nothing above the slots.
enum class Flaw : std::uint8_t { None, HighBits, CornerTwist, CornerTwice, EdgeId, EdgeTwice, TwistSum };

struct PositionFlaw {
    Flaw flaw = Flaw::None;
    std::uint8_t slot = 0;   // where it shows
    std::uint8_t value = 0;  // the piece id, twist or twist sum

    constexpr explicit operator bool() const { return flaw != Flaw::None; }
};

constexpr PositionFlaw corner_flaw(std::uint64_t corners) {
    if ((corners & ~kCornerWordBits) != 0) return {Flaw::HighBits, 0, 0};
    unsigned seen = 0;
    for (unsigned slot = 0; slot < kCornerSlots; ++slot) {
        const unsigned value = unsigned(field(corners, slot)), piece = value & 7;
        if (value >> 3 == 3) return {Flaw::CornerTwist, std::uint8_t(slot), 3};
        if ((seen >> piece & 1) != 0) return {Flaw::CornerTwice, std::uint8_t(slot), std::uint8_t(piece)};
        seen |= 1u << piece;
    }
    return {};
}

constexpr PositionFlaw edge_flaw(std::uint64_t edges) {
    if ((edges & ~kEdgeWordBits) != 0) return {Flaw::HighBits, 0, 0};
    unsigned seen = 0;
    for (unsigned slot = 0; slot < kEdgeSlots; ++slot) {
        const unsigned piece = unsigned(field(edges, slot)) & 15;
        if (piece >= kEdgeSlots) return {Flaw::EdgeId, std::uint8_t(slot), std::uint8_t(piece)};
        if ((seen >> piece & 1) != 0) return {Flaw::EdgeTwice, std::uint8_t(slot), std::uint8_t(piece)};
        seen |= 1u << piece;
    }
    return {};
}

constexpr unsigned twist_sum(std::uint64_t corners) {
    unsigned sum = 0;
    for (unsigned slot = 0; slot < kCornerSlots; ++slot) sum += unsigned(field(corners, slot) >> 3);
    return sum;
}

// Turns keep the corner twists' sum a multiple of three: the corner index
// holds seven twists, and the eighth follows from them.
constexpr PositionFlaw indexable_corner_flaw(std::uint64_t corners) {
    if (const PositionFlaw flaw = corner_flaw(corners)) return flaw;
    if (const unsigned sum = twist_sum(corners); sum % 3 != 0) return {Flaw::TwistSum, 0, std::uint8_t(sum)};
    return {};
}

inline constexpr auto kBitCount8 = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask) table[mask] = std::uint8_t(__builtin_popcount(mask));
    return table;
}();

constexpr unsigned bits_below(unsigned mask, unsigned bit) {
    const unsigned below = mask & ((1u << bit) - 1);
    return kBitCount8[below & 0xFF] + kBitCount8[below >> 8];
}

// The n-th clear bit of a mask, counting from 0.
constexpr unsigned nth_clear_bit(unsigned mask, unsigned n) {
    unsigned bit = 0;
    for (;; ++bit)
        if ((mask >> bit & 1) == 0 && n-- == 0) return bit;
}

// ---- The corners: 8! * 3^7 positions ------------------------------------------------
//
// index = rank * 3^7 + twists, where rank (0 to 8! - 1) is the lexicographic
// rank of the pieces in slots 0 to 7, the sum over slots i of (7 - i)! times
// the number of later slots holding a smaller piece, and twists the twists of
// slots 0 to 6 as a number in base 3, slot 0 most significant.

inline constexpr std::uint32_t kCornerPermutations = 40320, kCornerTwists = 2187;
inline constexpr std::uint32_t kCornerPositions = kCornerPermutations * kCornerTwists;

// The corner index read a half of the word at a time, through tables: the
// pieces of slots 0 to 3 (as 12 bits) give their part of the rank, which
// the set of later pieces decides, and those of slots 4 to 7 the rest, their
// order among themselves; the twists of each half (as 8 bits) their base-3
// digits and sum. Each table also says which pieces or whether a twist of 3
// it saw, so that one pass also tells whether the word is a position.
struct PieceHalf {
    std::uint16_t rank;   // its part of the permutation's rank
    std::uint8_t pieces;  // the pieces it holds, a bit each
};
struct TwistHalf {
    std::uint8_t digits;  // slots 0 to 3, or 4 to 6, in base 3
    std::uint8_t sum;     // the twists' sum, or 0xF0 for a twist of 3
};

inline constexpr unsigned kHalfSlots = kCornerSlots / 2;

// d(i), the count of later slots with a smaller piece, for the slots of one
// half; `first` for slots 0 to 3, where the later pieces are all those not
// in the half so far, else slots 4 to 7, where they are the half's own.
constexpr PieceHalf piece_half(unsigned bits, bool first) {
    constexpr unsigned kWeights[2][kHalfSlots] = {{210, 30, 5, 1}, {6, 2, 1, 1}};  // (7 - i)!, over 4! in the first half
    unsigned pieces[kHalfSlots], seen = 0, rank = 0;
    for (unsigned i = 0; i < kHalfSlots; ++i) pieces[i] = bits >> 3 * i & 7;
    for (unsigned i = 0; i < kHalfSlots; ++i) {
        unsigned smaller_later = 0;
        if (first) {
            smaller_later = pieces[i];
            for (unsigned j = 0; j < i; ++j) smaller_later -= pieces[j] < pieces[i] ? 1 : 0;
        } else {
            for (unsigned j = i + 1; j < kHalfSlots; ++j) smaller_later += pieces[j] < pieces[i] ? 1 : 0;
        }
        rank += kWeights[first ? 0 : 1][i] * smaller_later;
        seen |= 1u << pieces[i];
    }
    return {std::uint16_t(rank), std::uint8_t(seen)};
}

constexpr TwistHalf twist_half(unsigned bits, bool first) {
    unsigned digits = 0, sum = 0, threes = 0;
    for (unsigned i = 0; i < kHalfSlots; ++i) {
        const unsigned twist = bits >> 2 * i & 3;
        threes += twist == 3;
        sum += twist;
        if (first || i + 1 < kHalfSlots) digits = digits * 3 + twist % 3;
    }
    return {std::uint8_t(digits), std::uint8_t(threes != 0 ? 0xF0 : sum)};
}

template <class Half, std::size_t N>
constexpr std::array<Half, N> half_table(Half (*make)(unsigned, bool), bool first) {
    std::array<Half, N> table{};
    for (unsigned bits = 0; bits < N; ++bits) table[bits] = make(bits, first);
    return table;
}

inline constexpr auto kFirstPieces = half_table<PieceHalf, 4096>(piece_half, true);
inline constexpr auto kLastPieces = half_table<PieceHalf, 4096>(piece_half, false);
inline constexpr auto kFirstTwists = half_table<TwistHalf, 256>(twist_half, true);
inline constexpr auto kLastTwists = half_table<TwistHalf, 256>(twist_half, false);

// The piece bits (3 a slot) and the twist bits (2 a slot) of four slots of
// a corner word, from slot `first` on.
constexpr unsigned half_pieces(std::uint64_t corners, unsigned first) {
    const std::uint64_t half = corners >> offset_of(first);
    return unsigned((half & 7) | (half >> 2 & 070) | (half >> 4 & 0700) | (half >> 6 & 07000));
}
constexpr unsigned half_twists(std::uint64_t corners, unsigned first) {
    const std::uint64_t half = corners >> (offset_of(first) + 3);
    return unsigned((half & 3) | (half >> 3 & 0xC) | (half >> 6 & 0x30) | (half >> 9 & 0xC0));
}

// The index of corners that are a position whose twists sum to a multiple
// of three, else kCornerPositions.
constexpr std::uint32_t corner_index(std::uint64_t corners) {
    const PieceHalf first = kFirstPieces[half_pieces(corners, 0)], last = kLastPieces[half_pieces(corners, 4)];
    const TwistHalf early = kFirstTwists[half_twists(corners, 0)], late = kLastTwists[half_twists(corners, 4)];
    const unsigned sum = unsigned(early.sum) + late.sum;
    const bool position = (first.pieces | last.pieces) == 0xFF && sum < 0xF0 && sum % 3 == 0 &&
                          (corners & ~kCornerWordBits) == 0;
    const std::uint32_t rank = std::uint32_t(first.rank) * 24 + last.rank, twists = early.digits * 27u + late.digits;
    return position ? rank * kCornerTwists + twists : kCornerPositions;
}

constexpr std::uint64_t corners_at_index(std::uint32_t index) {
    std::uint32_t rank = index / kCornerTwists, twists = index % kCornerTwists;
    unsigned digits[kCornerSlots], twist[kCornerSlots], sum = 0;
    for (unsigned slot = kCornerSlots; slot-- > 0;) {
        digits[slot] = rank % (kCornerSlots - slot);
        rank /= kCornerSlots - slot;
    }
    for (unsigned slot = kCornerSlots - 1; slot-- > 0;) {
        twist[slot] = twists % 3;
        twists /= 3;
        sum += twist[slot];
    }
    twist[kCornerSlots - 1] = (3 - sum % 3) % 3;
    std::uint64_t word = 0;
    unsigned used = 0;
    for (unsigned slot = 0; slot < kCornerSlots; ++slot) {
        const unsigned piece = nth_clear_bit(used, digits[slot]);
        used |= 1u << piece;
        word |= std::uint64_t{piece | twist[slot] << 3} << offset_of(slot);
    }
    return word;
}

// ---- Patterns of edges: 12! / (12 - k)! * 2^k positions -----------------------------
//
// The pattern is k edge pieces in an order of their own. index = rank * 2^k
// + flips, where rank is the lexicographic rank of the slots the pattern's
// pieces stand in, taken in the pattern's order, among all sequences of k
// distinct slots: the sum over the pattern's pieces j of (11 - j)! / (12 - k)!
// times the number of slots below piece j's that no earlier piece stands in;
// and flips the pieces' flips in base 2, the first piece most significant.

struct EdgePattern {
    std::uint8_t pieces[kEdgeSlots];
    unsigned count;
};

constexpr EdgePattern first_edges(unsigned count) {
    EdgePattern pattern{{}, count};
    for (unsigned j = 0; j < count; ++j) pattern.pieces[j] = std::uint8_t(j);
    return pattern;
}

constexpr std::uint64_t edge_positions(unsigned count) {
    std::uint64_t positions = std::uint64_t{1} << count;
    for (unsigned j = 0; j < count; ++j) positions *= kEdgeSlots - j;
    return positions;
}

// The index of the pattern in edges that are a position, else
// edge_positions(12), past every pattern's last index.
constexpr std::uint64_t edge_index(std::uint64_t edges, const EdgePattern& pattern) {
    std::uint8_t slot_of[16] = {}, flip_of[16] = {};
    unsigned pieces = 0;
    for (unsigned slot = 0; slot < kEdgeSlots; ++slot) {
        const unsigned value = unsigned(field(edges, slot));
        pieces |= 1u << (value & 15);
        slot_of[value & 15] = std::uint8_t(slot);
        flip_of[value & 15] = std::uint8_t(value >> 4);
    }
    std::uint64_t rank = 0, flips = 0;
    unsigned used = 0;
    for (unsigned j = 0; j < pattern.count; ++j) {
        const unsigned slot = slot_of[pattern.pieces[j]];
        rank = rank * (kEdgeSlots - j) + (slot - bits_below(used, slot));
        used |= 1u << slot;
        flips = flips * 2 + flip_of[pattern.pieces[j]];
    }
    const bool position = pieces == 0xFFF && (edges & ~kEdgeWordBits) == 0;
    return position ? rank << pattern.count | flips : edge_positions(kEdgeSlots);
}

// An edge word with the pattern's pieces where the index puts them, and the
// other pieces in the free slots in ascending order, unflipped.
constexpr std::uint64_t edges_at_index(std::uint64_t index, const EdgePattern& pattern) {
    std::uint64_t rank = index >> pattern.count, flips = index & ((std::uint64_t{1} << pattern.count) - 1);
    unsigned digits[kEdgeSlots] = {}, in_pattern = 0, used = 0;
    for (unsigned j = pattern.count; j-- > 0;) {
        digits[j] = unsigned(rank % (kEdgeSlots - j));
        rank /= kEdgeSlots - j;
        in_pattern |= 1u << pattern.pieces[j];
    }
    std::uint64_t word = 0;
    for (unsigned j = 0; j < pattern.count; ++j) {
        const unsigned slot = nth_clear_bit(used, digits[j]);
        used |= 1u << slot;
        const std::uint64_t flip = flips >> (pattern.count - 1 - j) & 1;
        word |= (pattern.pieces[j] | flip << 4) << offset_of(slot);
    }
    unsigned slot = 0;
    for (unsigned piece = 0; piece < kEdgeSlots; ++piece) {
        if ((in_pattern >> piece & 1) != 0) continue;
        while ((used >> slot & 1) != 0) ++slot;
        word |= std::uint64_t{piece} << offset_of(slot++);
    }
    return word;
}

// ---- The inverse: the position that undoes a position -------------------------------
//
// Where slot i holds piece p twisted t, the inverse's slot p holds piece i
// twisted -t; an edge's flip is its own inverse.

constexpr std::uint64_t inverse_corners(std::uint64_t corners) {
    std::uint64_t inverse = 0;
    for (unsigned slot = 0; slot < kCornerSlots; ++slot) {
        const unsigned value = unsigned(field(corners, slot)), twist = value >> 3;
        inverse |= std::uint64_t{slot | ((3 - twist) % 3) << 3} << offset_of(value & 7);
    }
    return inverse;
}

constexpr std::uint64_t inverse_edges(std::uint64_t edges) {
    std::uint64_t inverse = 0;
    for (unsigned slot = 0; slot < kEdgeSlots; ++slot) {
        const unsigned value = unsigned(field(edges, slot));
        inverse |= std::uint64_t{slot | (value & 16)} << offset_of(value & 15);
    }
    return inverse;
}

// ---- Facelets: the colour numbers of the net, in the order str() prints them ---------

template <std::size_t N>
constexpr void facelet_colours(const std::array<Facelet, N>& net, std::uint64_t corners, std::uint64_t edges,
                               std::uint8_t* out) {
    for (std::size_t k = 0; k < N; ++k) {
        const Facelet& f = net[k];
        std::uint8_t colour = f.colour;
        if (f.kind == Facelet::Kind::Corner) colour = kCornerColours.by_field[field(corners, f.slot)][f.index];
        if (f.kind == Facelet::Kind::Edge) colour = kEdgeColours.by_field[field(edges, f.slot)][f.index];
        out[k] = colour;
    }
}

static_assert(corner_index(kSolvedCorners) == 0 && corners_at_index(0) == kSolvedCorners);
static_assert(corner_index(corners_at_index(kCornerPositions - 1)) == kCornerPositions - 1);
static_assert(edge_index(kSolvedEdges, first_edges(12)) == 0 && edges_at_index(0, first_edges(7)) == kSolvedEdges);
static_assert(edge_positions(7) == 510935040 && edge_positions(12) == 1961990553600);

}  // namespace turnwheel::cube3x3
