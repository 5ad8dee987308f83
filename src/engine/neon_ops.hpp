// The engine's operations on NEON, where the compiler targets it (AArch64,
// or 32-bit ARM built with NEON): corners in one 16-byte vector, edges in
// another, a turn one table look-up, two additions and a minimum on each.
// Separators are found a byte at a time, as in the plain version.
//
// Used by the reading of move strings (neon.cpp) and by many cubes at once
// (neon_batch.cpp), each of which names its version first (target.hpp).
#pragma once

#include <arm_neon.h>

#include "../cube3x3/token_rows.hpp"
#include "batch.hpp"
#include "scan.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN
namespace {

inline uint8x16_t load16(const std::uint8_t* bytes) { return vld1q_u8(bytes); }

// Byte k of the result is table[index[k]].
inline uint8x16_t shuffle(uint8x16_t table, uint8x16_t index) {
#if defined(__aarch64__)
    return vqtbl1q_u8(table, index);
#else
    const uint8x8x2_t halves = {{vget_low_u8(table), vget_high_u8(table)}};
    return vcombine_u8(vtbl2_u8(halves, vget_low_u8(index)), vtbl2_u8(halves, vget_high_u8(index)));
#endif
}

struct Neon : PortableText, PortableWords {
    struct Cube {
        uint8x16_t corners, edges;
    };

    static Cube load(const Unpacked& cube) { return {load16(cube.lanes), load16(cube.lanes + 16)}; }
    static void store(const Cube& cube, Unpacked& out) {
        vst1q_u8(out.lanes, cube.corners);
        vst1q_u8(out.lanes + 16, cube.edges);
    }

    static uint8x16_t half_turn(uint8x16_t half, const cube3x3::TokenRow& row, unsigned lane) {
        const uint8x16_t moved = shuffle(half, load16(row.shuffle + lane));
        return vminq_u8(vaddq_u8(moved, load16(row.add + lane)), vaddq_u8(moved, load16(row.add_fold + lane)));
    }
    static Cube turn(const Cube& cube, const cube3x3::TokenRow& row) {
        return {half_turn(cube.corners, row, 0), half_turn(cube.edges, row, 16)};
    }

    template <unsigned Words>
    static Cube load_words(const std::uint64_t* state) {
        return load_words_of<Neon, Words>(state);
    }
    template <unsigned Words>
    static void store_words(const Cube& cube, const std::uint64_t* before, std::uint64_t* out) {
        store_words_of<Neon, Words>(cube, before, out);
    }
};

}  // namespace
TURNWHEEL_ISA_END
