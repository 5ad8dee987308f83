// The twelve quarter turns of the 3x3x3 cube on its two packed words, and
// the general edge 4-cycle. Every turn is straight-line mask and shift
// arithmetic whose cycle is fixed at compile time by its template arguments.
#pragma once

#include <cstdint>

#include "state.hpp"

namespace turnwheel::cube3x3 {

// The twelve quarter turns. Each primed turn follows its clockwise turn.
enum class Move : std::uint8_t { U, UPrime, D, DPrime, R, RPrime, L, LPrime, F, FPrime, B, BPrime };

// Contents of slot a move to slot b, b's to c, c's to d and d's to a.
template <unsigned A, unsigned B, unsigned C, unsigned D>
constexpr std::uint64_t cycle(std::uint64_t word) {
    constexpr std::uint64_t moved = slot_mask(A) | slot_mask(B) | slot_mask(C) | slot_mask(D);
    return (word & ~moved) | field(word, A) << offset_of(B) | field(word, B) << offset_of(C) |
           field(word, C) << offset_of(D) | field(word, D) << offset_of(A);
}

// Bit 0 of the field of every listed slot: the lanes of the per-slot
// arithmetic below.
template <unsigned... Slots>
inline constexpr std::uint64_t lanes = ((std::uint64_t{1} << offset_of(Slots)) | ... | 0);

// Adds 1 to the twist (bits 3 and 4) of the slots in Plus1 and 2 to that of
// the slots in Plus2, all lanes at once, by XOR with a per-lane delta. With
// t = hi:lo, +1 maps 0,1,2,3 to 1,2,0,1 and +2 maps them to 2,0,1,2, so
//   +1 flips lo where hi is 0, and hi where lo or hi is 1;
//   +2 flips lo where lo or hi is 1, and hi where lo is 0.
// A twist of 3, which no turn produces, is folded as the turn tables say,
// and nothing carries into a neighbouring field.
template <std::uint64_t Plus1, std::uint64_t Plus2>
constexpr std::uint64_t add_twist(std::uint64_t word) {
    constexpr std::uint64_t lo1 = Plus1 << 3, hi1 = Plus1 << 4, lo2 = Plus2 << 3, hi2 = Plus2 << 4;
    // Each lane's delta: its other bit (hi at lo, lo at hi), ORed with its
    // own bit where the rule reads "lo or hi"; "is 0" is "is 1" flipped, and
    // those lanes' constant part is folded out.
    const std::uint64_t delta = ((word >> 1) & (lo1 | lo2)) | ((word << 1) & (hi1 | hi2)) | (word & (lo2 | hi1));
    return word ^ delta ^ (lo1 | hi2);
}

template <unsigned A, unsigned B, unsigned C, unsigned D, std::uint64_t Plus1 = 0, std::uint64_t Plus2 = 0>
constexpr std::uint64_t corner_cycle(std::uint64_t corners) {
    if constexpr (Plus1 == 0 && Plus2 == 0) {
        return cycle<A, B, C, D>(corners);
    } else {
        return add_twist<Plus1, Plus2>(cycle<A, B, C, D>(corners));
    }
}

template <unsigned A, unsigned B, unsigned C, unsigned D, bool Flip>
constexpr std::uint64_t edge_cycle(std::uint64_t edges) {
    constexpr std::uint64_t flips = lanes<A, B, C, D> << 4;
    return cycle<A, B, C, D>(edges) ^ (Flip ? flips : 0);
}

// Corner half of each turn. A turn and its prime give the same twist change
// to each destination slot.
template <Move M>
constexpr std::uint64_t turn_corners(std::uint64_t c) {
    using enum Move;
    if constexpr (M == U) return corner_cycle<0, 1, 2, 3>(c);
    if constexpr (M == UPrime) return corner_cycle<0, 3, 2, 1>(c);
    if constexpr (M == D) return corner_cycle<4, 7, 6, 5>(c);
    if constexpr (M == DPrime) return corner_cycle<4, 5, 6, 7>(c);
    if constexpr (M == R) return corner_cycle<1, 5, 6, 2, lanes<1, 6>, lanes<2, 5>>(c);
    if constexpr (M == RPrime) return corner_cycle<1, 2, 6, 5, lanes<1, 6>, lanes<2, 5>>(c);
    if constexpr (M == L) return corner_cycle<0, 3, 7, 4, lanes<3, 4>, lanes<0, 7>>(c);
    if constexpr (M == LPrime) return corner_cycle<0, 4, 7, 3, lanes<3, 4>, lanes<0, 7>>(c);
    if constexpr (M == F) return corner_cycle<2, 6, 7, 3, lanes<2, 7>, lanes<3, 6>>(c);
    if constexpr (M == FPrime) return corner_cycle<2, 3, 7, 6, lanes<2, 7>, lanes<3, 6>>(c);
    if constexpr (M == B) return corner_cycle<0, 4, 5, 1, lanes<0, 5>, lanes<1, 4>>(c);
    if constexpr (M == BPrime) return corner_cycle<0, 1, 5, 4, lanes<0, 5>, lanes<1, 4>>(c);
}

// Edge half of each turn: F and B flip the four edges they move.
template <Move M>
constexpr std::uint64_t turn_edges(std::uint64_t e) {
    using enum Move;
    if constexpr (M == U) return edge_cycle<0, 1, 2, 3, false>(e);
    if constexpr (M == UPrime) return edge_cycle<0, 3, 2, 1, false>(e);
    if constexpr (M == D) return edge_cycle<4, 7, 6, 5, false>(e);
    if constexpr (M == DPrime) return edge_cycle<4, 5, 6, 7, false>(e);
    if constexpr (M == R) return edge_cycle<1, 9, 5, 10, false>(e);
    if constexpr (M == RPrime) return edge_cycle<1, 10, 5, 9, false>(e);
    if constexpr (M == L) return edge_cycle<3, 11, 7, 8, false>(e);
    if constexpr (M == LPrime) return edge_cycle<3, 8, 7, 11, false>(e);
    if constexpr (M == F) return edge_cycle<2, 10, 6, 11, true>(e);
    if constexpr (M == FPrime) return edge_cycle<2, 11, 6, 10, true>(e);
    if constexpr (M == B) return edge_cycle<0, 8, 4, 9, true>(e);
    if constexpr (M == BPrime) return edge_cycle<0, 9, 4, 8, true>(e);
}

template <Move M>
constexpr void corner_turn(State& state) {
    state.corners = turn_corners<M>(state.corners);
}

template <Move M>
constexpr void edge_turn(State& state) {
    state.edges = turn_edges<M>(state.edges);
}

template <Move M>
constexpr void whole_turn(State& state) {
    state = {turn_corners<M>(state.corners), turn_edges<M>(state.edges)};
}

// The edge 4-cycle on raw bit offsets (reduced modulo 64): the field at i0
// goes to i1, i1's to i2, i2's to i3 and i3's to i0, each flip toggled when
// ori is odd. Fields reaching past bit 63 are cut there; equal offsets OR
// their fields together. Never touches anything outside the word.
struct EdgeCycle {
    unsigned at[4];
    std::uint64_t flip;

    constexpr EdgeCycle(std::uint64_t i0, std::uint64_t i1, std::uint64_t i2, std::uint64_t i3, std::uint64_t ori)
        : at{unsigned(i0 & 63), unsigned(i1 & 63), unsigned(i2 & 63), unsigned(i3 & 63)}, flip((ori & 1) << 4) {}

    constexpr std::uint64_t read(std::uint64_t word, unsigned k) const { return ((word >> at[k]) & kFieldMask) ^ flip; }

    // Writes the field read at from[k] to at[k], for k = 0..3.
    constexpr std::uint64_t permute(std::uint64_t word, const unsigned (&from)[4]) const {
        const std::uint64_t f[4] = {read(word, 0), read(word, 1), read(word, 2), read(word, 3)};
        for (unsigned k = 0; k < 4; ++k) word &= ~(kFieldMask << at[k]);
        for (unsigned k = 0; k < 4; ++k) word |= f[from[k]] << at[k];
        return word;
    }
};

constexpr void rotate_edges(State& state, std::uint64_t i0, std::uint64_t i1, std::uint64_t i2, std::uint64_t i3,
                            std::uint64_t ori) {
    state.edges = EdgeCycle(i0, i1, i2, i3, ori).permute(state.edges, {3, 0, 1, 2});
}

constexpr void rotate_edges_prime(State& state, std::uint64_t i0, std::uint64_t i1, std::uint64_t i2,
                                  std::uint64_t i3, std::uint64_t ori) {
    state.edges = EdgeCycle(i0, i1, i2, i3, ori).permute(state.edges, {1, 2, 3, 0});
}

// The published values of a single turn from the solved state.
static_assert(turn_corners<Move::U>(kSolvedCorners) == 0x398a410403);
static_assert(turn_corners<Move::R>(kSolvedCorners) == 0x3b6241d940);
static_assert(turn_corners<Move::F>(kSolvedCorners) == 0x748a4bac20);
static_assert(turn_edges<Move::F>(kSolvedEdges) == 0x0b49283e8a41ec20);

}  // namespace turnwheel::cube3x3
