// The engine's operations on 32-byte vectors with AVX2: the whole cube in
// one vector (corners in the low half, edges in the high half, which is
// where AVX2's byte shuffle keeps each half's bytes), a turn four
// instructions.
//
// Used by the reading of move strings (avx2.cpp) and by many cubes at once
// (avx2_batch.cpp), each of which names its version first (target.hpp).
#pragma once

#include <cstdint>
#include <immintrin.h>

#include "../cube3x3/token_rows.hpp"
#include "blocks.hpp"
#include "target.hpp"
#include "x86_text.hpp"
#include "x86_vectors.hpp"
#include "x86_words.hpp"

TURNWHEEL_ISA_BEGIN
namespace {

inline __m256i load32(const std::uint8_t* bytes) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
}

struct Avx2 : X86Text<Vec32> {
    using Cube = __m256i;

    static Cube load(const Unpacked& cube) { return load32(cube.lanes); }
    static void store(const Cube& cube, Unpacked& out) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.lanes), cube);
    }

    static Cube turn(const Cube& cube, const cube3x3::TokenRow& row) {
        const __m256i moved = _mm256_shuffle_epi8(cube, load32(row.shuffle));
        return _mm256_min_epu8(_mm256_add_epi8(moved, load32(row.add)), _mm256_add_epi8(moved, load32(row.add_fold)));
    }

    template <unsigned Words>
    static __m128i read(const std::uint64_t* state) {
        if constexpr (Words == 2) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(state));
    }

    // Two sets of eight windows, one a half, as one vector.
    struct Windows {
        __m256i shuffle, multiplier;
    };
    static Windows windows(const FieldWindows& low, const FieldWindows& high) {
        const auto half = [](const auto& table) { return _mm_load_si128(reinterpret_cast<const __m128i*>(table.data())); };
        return {_mm256_setr_m128i(half(low.shuffle), half(high.shuffle)),
                _mm256_setr_m128i(half(low.multiplier), half(high.multiplier))};
    }
    static __m256i fields(__m256i state, const Windows& windows) {
        return _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_shuffle_epi8(state, windows.shuffle), windows.multiplier), 8);
    }

    // Packing takes the first eight units of each half from the first
    // vector and the next eight from the second: the corners then nothing
    // in the low half, the edges' first eight then their last four in the
    // high half.
    template <unsigned Words>
    static Cube load_words(const std::uint64_t* state) {
        const __m256i words = _mm256_broadcastsi128_si256(read<Words>(state));
        const __m256i first = fields(words, windows(kCornerWindows, kEdgeWindows));
        const __m256i last = fields(words, windows(kNoWindows, kLastEdgeWindows));
        return _mm256_and_si256(_mm256_packus_epi16(first, last), _mm256_set1_epi8(31));
    }

    template <unsigned Words>
    static void store_words(const Cube& cube, const std::uint64_t* before, std::uint64_t* out) {
        const __m256i fours = _mm256_madd_epi16(_mm256_maddubs_epi16(cube, _mm256_set1_epi16(std::int16_t(kPairWeights))),
                                                _mm256_set1_epi32(std::int32_t(kFourWeights)));
        // 64-bit lanes: the corners' 40 bits, 0, the edges' first 40 bits, their last 20.
        const __m256i low = _mm256_set1_epi64x(0xFFFFF);
        const __m256i eights = _mm256_or_si256(_mm256_and_si256(fours, low), _mm256_andnot_si256(low, _mm256_srli_epi64(fours, 12)));
        const __m256i lanes = _mm256_permute4x64_epi64(eights, 0xD8);  // lanes 0, 2, 1, 3
        __m128i words = _mm_or_si128(_mm256_castsi256_si128(lanes), _mm_slli_epi64(_mm256_extracti128_si256(lanes, 1), 40));
        const __m128i slots = _mm_set_epi64x(std::int64_t(cube3x3::kEdgeSlotBits), std::int64_t(cube3x3::kCornerSlotBits));
        words = _mm_or_si128(words, _mm_andnot_si128(slots, read<Words>(before)));
        if constexpr (Words == 2) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), words);
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), words);
        }
    }
};

}  // namespace
TURNWHEEL_ISA_END
