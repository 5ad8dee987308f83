// Text operations, and the pair offsets, on 16-byte vectors for the x86
// versions (SSE2 and SSSE3 instructions). Included by each x86 version's
// file after it has chosen its instruction set, so every function here is
// static: one copy per version.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "../cube3x3/token_rows.hpp"
#include "byte_classes.hpp"

namespace turnwheel::engine::x86 {

static inline __m128i table16(const std::array<std::uint8_t, 16>& table) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data()));
}

// Sixteen positions of a block: the bits of its classes, and every
// position's row (where a token starts there). Reads at[0, 17).
struct Classes16 {
    unsigned faces, ends, suffixes;
    __m128i ids;
};
static inline Classes16 classify16(const std::uint8_t* at) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
    const __m128i nibble = _mm_set1_epi8(15);
    const __m128i classes = _mm_and_si128(_mm_shuffle_epi8(table16(kLowClass), _mm_and_si128(next, nibble)),
                                          _mm_shuffle_epi8(table16(kHighClass), _mm_and_si128(_mm_srli_epi16(next, 4), nibble)));
    const __m128i suffix = _mm_and_si128(classes, _mm_set1_epi8(kSuffixClasses));
    const __m128i slot = _mm_and_si128(_mm_srli_epi16(here, 1), nibble);
    // Adding 0x80 - c sets the top bit exactly where a byte is c or more.
    return {unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_shuffle_epi8(table16(kFaceLetterAt), slot), here))),
            unsigned(_mm_movemask_epi8(_mm_add_epi8(classes, _mm_set1_epi8(0x80 - kControlClass)))),
            unsigned(_mm_movemask_epi8(_mm_add_epi8(suffix, _mm_set1_epi8(0x7F)))),
            _mm_add_epi8(_mm_shuffle_epi8(table16(kFaceRowAt), slot), suffix)};
}

// For each set of 8 positions (a byte of bits), the positions in it in
// order, as byte shuffle indices: what packs the rows at token starts.
inline constexpr auto kPackedPositions = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned bits = 0; bits < 256; ++bits) {
        unsigned n = 0;
        for (unsigned k = 0; k < 8; ++k)
            if (bits >> k & 1) table[bits] |= std::uint64_t{k} << 8 * n++;
    }
    return table;
}();

// How many bits each byte has: a look-up, as SSSE3 has no popcnt.
inline constexpr auto kBitCount = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned bits = 0; bits < 256; ++bits) table[bits] = std::uint8_t(__builtin_popcount(bits));
    return table;
}();

static inline __m128i positions(unsigned bits) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kPackedPositions[bits]));
}

// The ids at the bits of `starts` (16 of them), in order, into out; their
// count. Writes 8 bytes past the last.
static inline unsigned pack16(__m128i ids, unsigned starts, std::uint8_t* out) {
    const unsigned low = starts & 0xFF, high = starts >> 8 & 0xFF;
    const unsigned written = kBitCount[low];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(ids, positions(low)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + written),
                     _mm_shuffle_epi8(ids, _mm_add_epi8(positions(high), _mm_set1_epi8(8))));
    return written + kBitCount[high];
}

// Eight 16-bit units: ASCII as it is, U+3000 as ' ', the rest marked in `rare`.
static inline __m128i narrow8(__m128i units, __m128i& rare) {
    const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(short(0xFF80))), _mm_setzero_si128());
    const __m128i spaces = _mm_cmpeq_epi16(units, _mm_set1_epi16(0x3000));
    rare = _mm_andnot_si128(_mm_or_si128(ascii, spaces), _mm_set1_epi16(-1));
    return _mm_or_si128(_mm_and_si128(units, ascii), _mm_and_si128(_mm_set1_epi16(' '), spaces));
}

// Sixteen 16-bit units to bytes; returns the bits of the rare ones.
static inline unsigned narrow16(__m128i low, __m128i high, std::uint8_t* bytes) {
    __m128i rare_low, rare_high;
    const __m128i narrowed_low = narrow8(low, rare_low), narrowed_high = narrow8(high, rare_high);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(narrowed_low, narrowed_high));
    return unsigned(_mm_movemask_epi8(_mm_packs_epi16(rare_low, rare_high)));
}

static inline std::uint64_t narrow(const std::uint16_t* units, std::uint8_t* bytes) {
    std::uint64_t rare = 0;
    for (unsigned k = 0; k < 64; k += 16) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + k));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + k + 8));
        rare |= std::uint64_t{narrow16(low, high, bytes + k)} << k;
    }
    return rare;
}

// 32-bit units are first saturated to 16 bits: values past 0x7FFF become
// 0x7FFF, which is neither ASCII nor U+3000, so they are looked at closely.
static inline __m128i saturated16(const std::uint32_t* units) {
    return _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(units)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 4)));
}

static inline std::uint64_t narrow(const std::uint32_t* units, std::uint8_t* bytes) {
    std::uint64_t rare = 0;
    for (unsigned k = 0; k < 64; k += 16)
        rare |= std::uint64_t{narrow16(saturated16(units + k), saturated16(units + k + 8), bytes + k)} << k;
    return rare;
}

// The engine's `pair_offsets`, eight pairs a step: one multiply-add makes
// first * kRows + second, one multiply the offset.
struct PairOffsets {
    static void pair_offsets(const std::uint8_t* rows, unsigned pairs, std::uint16_t* offsets) {
        const __m128i weights = _mm_set1_epi16(std::int16_t(cube3x3::kRows | 1 << 8));
        const __m128i row_size = _mm_set1_epi16(std::int16_t(sizeof(cube3x3::TokenRow)));
        for (unsigned k = 0; k < pairs; k += 8) {
            const __m128i pair = _mm_maddubs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows + 2 * k)), weights);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(offsets + k), _mm_mullo_epi16(pair, row_size));
        }
    }
};

// The engine's `narrow` for every x86 version.
struct Narrowing {
    template <class Unit>
    static std::uint64_t narrow(const Unit* units, std::uint8_t* bytes) {
        return x86::narrow(units, bytes);
    }
};

}  // namespace turnwheel::engine::x86
