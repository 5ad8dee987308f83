// Text operations on 16-byte vectors for the x86 versions (SSE2 and SSSE3
// instructions). Included by each x86 version's file after it has chosen its
// instruction set, so every function here is static: one copy per version.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace turnwheel::engine::x86 {

// Bit k set where byte k of `v` is a separator byte: tab to carriage
// return, space, 0x85 or 0xA0.
static inline unsigned separators16(__m128i v) {
    const __m128i from_tab = _mm_sub_epi8(v, _mm_set1_epi8('\t'));
    const __m128i controls = _mm_cmpeq_epi8(_mm_min_epu8(from_tab, _mm_set1_epi8('\r' - '\t')), from_tab);
    const __m128i others = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')),
                                        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(char(0x85))),
                                                     _mm_cmpeq_epi8(v, _mm_set1_epi8(char(0xA0)))));
    return unsigned(_mm_movemask_epi8(_mm_or_si128(controls, others)));
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

// The engine's `narrow` for every x86 version.
struct Narrowing {
    template <class Unit>
    static std::uint64_t narrow(const Unit* units, std::uint8_t* bytes) {
        return x86::narrow(units, bytes);
    }
};

}  // namespace turnwheel::engine::x86
