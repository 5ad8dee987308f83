// A pattern of k edges seen a block at a time. The index of a pattern is
// rank * 2^k + flips, so the 2^k positions of one rank (one placing of the
// pattern's pieces, with every flip) are one block of 2^k bits in a bitmap
// of the index space. A move takes the whole block to the block of a single
// other rank, and its flips to the flips XOR one mask, the pieces that the
// move flips where they stand. So a search over the index moves blocks of
// bits, and works out one rank and one mask a move for 2^k positions.
#pragma once

#include <array>
#include <cstdint>

#include "positions.hpp"
#include "token_rows.hpp"

namespace turnwheel::cube3x3 {

// Where each move code takes the edge in each slot, and whether it flips it,
// read off the move's token row (the row says, for each destination slot,
// which slot's edge comes to it and what is added to its flip).
struct EdgeMoves {
    std::uint8_t to[kMoveCodes][kEdgeSlots];
    std::uint8_t flips[kMoveCodes][kEdgeSlots];
};

inline constexpr EdgeMoves kEdgeMoves = [] {
    EdgeMoves moves{};
    for (unsigned code = 0; code < kMoveCodes; ++code)
        for (unsigned slot = 0; slot < kEdgeSlots; ++slot) {
            const unsigned from = kCodeRows[code].shuffle[kEdgeLane + slot];
            moves.to[code][from] = std::uint8_t(slot);
            moves.flips[code][from] = kCodeRows[code].add[kEdgeLane + slot] != 0 ? 1 : 0;
        }
    return moves;
}();

// The slots of a pattern's pieces at a rank, in the pattern's order.
struct EdgePlaces {
    std::uint8_t slot[kEdgeSlots];
};

constexpr EdgePlaces places_at_rank(std::uint64_t rank, unsigned count) {
    unsigned digits[kEdgeSlots] = {}, used = 0;
    for (unsigned j = count; j-- > 0;) {
        digits[j] = unsigned(rank % (kEdgeSlots - j));
        rank /= kEdgeSlots - j;
    }
    EdgePlaces places{};
    for (unsigned j = 0; j < count; ++j) {
        places.slot[j] = std::uint8_t(nth_clear_bit(used, digits[j]));
        used |= 1u << places.slot[j];
    }
    return places;
}

// A move's image of a block: the rank its pieces' places go to, and the mask
// their flips are XORed by (the first piece's flip most significant, as in
// the index).
struct BlockImage {
    std::uint64_t rank;
    unsigned flips;
};

constexpr BlockImage block_image(const EdgePlaces& places, unsigned count, unsigned code) {
    std::uint64_t rank = 0;
    unsigned used = 0, flips = 0;
    for (unsigned j = 0; j < count; ++j) {
        const unsigned slot = kEdgeMoves.to[code][places.slot[j]];
        rank = rank * (kEdgeSlots - j) + (slot - bits_below(used, slot));
        used |= 1u << slot;
        flips = flips << 1 | kEdgeMoves.flips[code][places.slot[j]];
    }
    return {rank, flips};
}

// Bit f of the result is bit f ^ mask of `bits`, within every aligned group
// of 2^b bits for which mask < 2^b (mask < 64): a delta swap for each bit of
// the mask, without a branch on it.
constexpr std::uint64_t xor_positions(std::uint64_t bits, unsigned mask) {
    constexpr std::uint64_t kLowHalves[6] = {0x5555555555555555, 0x3333333333333333, 0x0F0F0F0F0F0F0F0F,
                                             0x00FF00FF00FF00FF, 0x0000FFFF0000FFFF, 0x00000000FFFFFFFF};
    for (unsigned b = 0; b < 6; ++b) {
        const std::uint64_t swap = ((bits >> (1u << b)) ^ bits) & kLowHalves[b] & (0 - std::uint64_t(mask >> b & 1));
        bits ^= swap | swap << (1u << b);
    }
    return bits;
}

// A block of 2^k bits: k < 6 in the low bits of one word, else 2^(k-6) words.
template <unsigned K>
struct FlipBlock {
    static constexpr unsigned kBits = 1u << K;
    static constexpr unsigned kWords = K < 6 ? 1 : kBits / 64;
    static constexpr std::uint64_t kLowBits = K < 6 ? (std::uint64_t{1} << kBits) - 1 : ~std::uint64_t{0};

    std::array<std::uint64_t, kWords> words{};

    constexpr bool any() const {
        std::uint64_t all = 0;
        for (std::uint64_t word : words) all |= word;
        return all != 0;
    }
    constexpr bool covers(const FlipBlock& other) const {
        for (unsigned w = 0; w < kWords; ++w)
            if ((other.words[w] & ~words[w]) != 0) return false;
        return true;
    }
    constexpr FlipBlock& operator|=(const FlipBlock& other) {
        for (unsigned w = 0; w < kWords; ++w) words[w] |= other.words[w];
        return *this;
    }
    constexpr FlipBlock operator&(const FlipBlock& other) const {
        FlipBlock both;
        for (unsigned w = 0; w < kWords; ++w) both.words[w] = words[w] & other.words[w];
        return both;
    }
    constexpr FlipBlock operator~() const {
        FlipBlock inverse;
        for (unsigned w = 0; w < kWords; ++w) inverse.words[w] = ~words[w] & kLowBits;
        return inverse;
    }

    // Bit f of the result is bit f ^ mask of this block.
    constexpr FlipBlock xor_positions(unsigned mask) const {
        FlipBlock moved;
        for (unsigned w = 0; w < kWords; ++w)
            moved.words[w ^ ((kWords - 1) & mask >> 6)] = cube3x3::xor_positions(words[w], mask & 63);
        return moved;
    }
};

static_assert(xor_positions(0b0010, 3) == 0b0100 && xor_positions(std::uint64_t{1} << 40, 40) == 1);
static_assert(places_at_rank(0, 7).slot[6] == 6 && block_image(places_at_rank(0, 12), 12, 0).rank != 0);

}  // namespace turnwheel::cube3x3
