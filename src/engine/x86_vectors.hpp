// 16- and 32-byte vectors of the x86 versions, with the few operations
// their text steps take (x86_text.hpp), so that each step is written once
// for both widths: Vec16 needs SSSE3, and Vec32 AVX2, which a version that
// has it asks for by defining TURNWHEEL_ISA_HAS_AVX2 (a 32-byte vector in a
// function's signature is refused where AVX is not enabled).
//
// Operations act on bytes (8 bits) or units (16 bits) lane by lane. AVX2's
// byte look-ups and packing work within each 16-byte half; the functions
// here put the results in order, so both widths read the same.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "target.hpp"

TURNWHEEL_ISA_BEGIN
namespace {

struct Vec16 {
    static constexpr unsigned kBytes = 16;
    __m128i raw;

    static Vec16 load(const void* at) { return {_mm_loadu_si128(static_cast<const __m128i*>(at))}; }
    void store(void* at) const { _mm_storeu_si128(static_cast<__m128i*>(at), raw); }
    static Vec16 bytes(std::uint8_t value) { return {_mm_set1_epi8(char(value))}; }
    static Vec16 units(std::uint16_t value) { return {_mm_set1_epi16(short(value))}; }
    static Vec16 zero() { return {_mm_setzero_si128()}; }
    // A table of 16 entries for lookup().
    static Vec16 table(const std::array<std::uint8_t, 16>& entries) { return load(entries.data()); }
    // The 16-byte lane K.
    template <unsigned K>
    __m128i lane() const {
        static_assert(K == 0);
        return raw;
    }
};

inline Vec16 operator&(Vec16 a, Vec16 b) { return {_mm_and_si128(a.raw, b.raw)}; }
inline Vec16 operator|(Vec16 a, Vec16 b) { return {_mm_or_si128(a.raw, b.raw)}; }
// Not a, and b.
inline Vec16 and_not(Vec16 a, Vec16 b) { return {_mm_andnot_si128(a.raw, b.raw)}; }
inline Vec16 add_bytes(Vec16 a, Vec16 b) { return {_mm_add_epi8(a.raw, b.raw)}; }
inline Vec16 equal_bytes(Vec16 a, Vec16 b) { return {_mm_cmpeq_epi8(a.raw, b.raw)}; }
inline Vec16 equal_units(Vec16 a, Vec16 b) { return {_mm_cmpeq_epi16(a.raw, b.raw)}; }
template <int N>
Vec16 shift_units_right(Vec16 a) {
    return {_mm_srli_epi16(a.raw, N)};
}
// Byte k is table[index[k]], for indices below 16.
inline Vec16 lookup(Vec16 table, Vec16 index) { return {_mm_shuffle_epi8(table.raw, index.raw)}; }
// The top bit of each byte, byte k as bit k.
inline unsigned top_bits(Vec16 a) { return unsigned(_mm_movemask_epi8(a.raw)); }
// Two vectors of units as one of bytes, saturated to 0-255, or to -128-127.
inline Vec16 narrow_units(Vec16 low, Vec16 high) { return {_mm_packus_epi16(low.raw, high.raw)}; }
inline Vec16 narrow_units_signed(Vec16 low, Vec16 high) { return {_mm_packs_epi16(low.raw, high.raw)}; }
// Two vectors of 32-bit words as one of units, saturated to -32768-32767.
inline Vec16 narrow_words_signed(Vec16 low, Vec16 high) { return {_mm_packs_epi32(low.raw, high.raw)}; }
// Unit k: byte 2k of a times byte 2k of b (signed) plus byte 2k + 1 of each.
inline Vec16 multiply_add_bytes(Vec16 a, Vec16 b) { return {_mm_maddubs_epi16(a.raw, b.raw)}; }
inline Vec16 multiply_units(Vec16 a, Vec16 b) { return {_mm_mullo_epi16(a.raw, b.raw)}; }

#ifdef TURNWHEEL_ISA_HAS_AVX2
struct Vec32 {
    static constexpr unsigned kBytes = 32;
    __m256i raw;

    static Vec32 load(const void* at) { return {_mm256_loadu_si256(static_cast<const __m256i*>(at))}; }
    void store(void* at) const { _mm256_storeu_si256(static_cast<__m256i*>(at), raw); }
    static Vec32 bytes(std::uint8_t value) { return {_mm256_set1_epi8(char(value))}; }
    static Vec32 units(std::uint16_t value) { return {_mm256_set1_epi16(short(value))}; }
    static Vec32 zero() { return {_mm256_setzero_si256()}; }
    // The table in both halves, where the look-up finds it.
    static Vec32 table(const std::array<std::uint8_t, 16>& entries) {
        return {_mm256_broadcastsi128_si256(Vec16::table(entries).raw)};
    }
    template <unsigned K>
    __m128i lane() const {
        static_assert(K < 2);
        if constexpr (K == 0) return _mm256_castsi256_si128(raw);
        return _mm256_extracti128_si256(raw, 1);
    }
};

// Packing works within each half; this puts the quarters back in order.
inline __m256i in_order(__m256i packed) { return _mm256_permute4x64_epi64(packed, 0xD8); }

inline Vec32 operator&(Vec32 a, Vec32 b) { return {_mm256_and_si256(a.raw, b.raw)}; }
inline Vec32 operator|(Vec32 a, Vec32 b) { return {_mm256_or_si256(a.raw, b.raw)}; }
inline Vec32 and_not(Vec32 a, Vec32 b) { return {_mm256_andnot_si256(a.raw, b.raw)}; }
inline Vec32 add_bytes(Vec32 a, Vec32 b) { return {_mm256_add_epi8(a.raw, b.raw)}; }
inline Vec32 equal_bytes(Vec32 a, Vec32 b) { return {_mm256_cmpeq_epi8(a.raw, b.raw)}; }
inline Vec32 equal_units(Vec32 a, Vec32 b) { return {_mm256_cmpeq_epi16(a.raw, b.raw)}; }
template <int N>
Vec32 shift_units_right(Vec32 a) {
    return {_mm256_srli_epi16(a.raw, N)};
}
inline Vec32 lookup(Vec32 table, Vec32 index) { return {_mm256_shuffle_epi8(table.raw, index.raw)}; }
inline unsigned top_bits(Vec32 a) { return unsigned(_mm256_movemask_epi8(a.raw)); }
inline Vec32 narrow_units(Vec32 low, Vec32 high) { return {in_order(_mm256_packus_epi16(low.raw, high.raw))}; }
inline Vec32 narrow_units_signed(Vec32 low, Vec32 high) { return {in_order(_mm256_packs_epi16(low.raw, high.raw))}; }
inline Vec32 narrow_words_signed(Vec32 low, Vec32 high) { return {in_order(_mm256_packs_epi32(low.raw, high.raw))}; }
inline Vec32 multiply_add_bytes(Vec32 a, Vec32 b) { return {_mm256_maddubs_epi16(a.raw, b.raw)}; }
inline Vec32 multiply_units(Vec32 a, Vec32 b) { return {_mm256_mullo_epi16(a.raw, b.raw)}; }
#endif

// A block of 64 bytes as vectors of V.
template <class V>
struct Block64 {
    static constexpr unsigned kParts = 64 / V::kBytes;
    V part[kParts];

    // Its 16-byte quarter K.
    template <unsigned K>
    __m128i quarter() const {
        return part[K * 16 / V::kBytes].template lane<K % (V::kBytes / 16)>();
    }
};

// The top bit of each of the 64 bytes, byte k as bit k.
template <class V>
std::uint64_t top_bits(const Block64<V>& block) {
    std::uint64_t bits = 0;
    for (unsigned k = 0; k < Block64<V>::kParts; ++k) bits |= std::uint64_t{top_bits(block.part[k])} << k * V::kBytes;
    return bits;
}

}  // namespace
TURNWHEEL_ISA_END
