// The packed state of a 3x3x3 cube: eight corner slots and twelve edge slots,
// five bits each, in two 64-bit words. Plain data and plain functions only,
// so the same code serves the extension, the core checks and any target.
#pragma once

#include <cstdint>

namespace turnwheel::cube3x3 {

inline constexpr unsigned kFieldBits = 5;
inline constexpr std::uint64_t kFieldMask = 0x1f;

constexpr unsigned offset_of(unsigned slot) { return kFieldBits * slot; }

constexpr std::uint64_t field(std::uint64_t word, unsigned slot) {
    return (word >> offset_of(slot)) & kFieldMask;
}

constexpr std::uint64_t slot_mask(unsigned slot) { return kFieldMask << offset_of(slot); }

// Piece i at home in slot i, nothing twisted or flipped.
constexpr std::uint64_t solved_word(unsigned slots) {
    std::uint64_t word = 0;
    for (unsigned i = 0; i < slots; ++i) word |= std::uint64_t{i} << offset_of(i);
    return word;
}

inline constexpr unsigned kCornerSlots = 8;
inline constexpr unsigned kEdgeSlots = 12;
inline constexpr std::uint64_t kSolvedCorners = solved_word(kCornerSlots);
inline constexpr std::uint64_t kSolvedEdges = solved_word(kEdgeSlots);

static_assert(kSolvedCorners == 0x398a418820);
static_assert(kSolvedEdges == 0x05a928398a418820);

struct State {
    std::uint64_t corners;
    std::uint64_t edges;
};

inline constexpr State kSolved{kSolvedCorners, kSolvedEdges};

// The corner word of either cube, as Python reads it.
template <class AnyState>
constexpr std::uint64_t corner_word(const AnyState& state) {
    return state.corners;
}

}  // namespace turnwheel::cube3x3
