// The engine's operations on 16-byte vectors with SSSE3: corners in one
// vector, edges in another, a turn one byte shuffle, two additions and a
// minimum on each.
//
// Used by the reading of move strings (ssse3.cpp) and by many cubes at once
// (ssse3_batch.cpp), each of which names its version first (target.hpp).
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

inline __m128i load16(const std::uint8_t* bytes) { return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes)); }

struct Ssse3 : X86Text<Vec16> {
    struct Cube {
        __m128i corners, edges;
    };

    static Cube load(const Unpacked& cube) { return {load16(cube.lanes), load16(cube.lanes + 16)}; }
    static void store(const Cube& cube, Unpacked& out) {
        _mm_store_si128(reinterpret_cast<__m128i*>(out.lanes), cube.corners);
        _mm_store_si128(reinterpret_cast<__m128i*>(out.lanes + 16), cube.edges);
    }

    static __m128i half_turn(__m128i half, const cube3x3::TokenRow& row, unsigned lane) {
        const __m128i moved = _mm_shuffle_epi8(half, load16(row.shuffle + lane));
        return _mm_min_epu8(_mm_add_epi8(moved, load16(row.add + lane)), _mm_add_epi8(moved, load16(row.add_fold + lane)));
    }
    static Cube turn(const Cube& cube, const cube3x3::TokenRow& row) {
        return {half_turn(cube.corners, row, 0), half_turn(cube.edges, row, 16)};
    }

    template <unsigned Words>
    static __m128i read(const std::uint64_t* state) {
        if constexpr (Words == 2) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(state));
    }

    // Eight fields of `state`, by the windows, into units' high bytes.
    static __m128i windows(__m128i state, const FieldWindows& windows) {
        const __m128i gathered = _mm_shuffle_epi8(state, load16(windows.shuffle.data()));
        return _mm_srli_epi16(_mm_mullo_epi16(gathered, load16(reinterpret_cast<const std::uint8_t*>(windows.multiplier.data()))), 8);
    }

    template <unsigned Words>
    static Cube load_words(const std::uint64_t* state) {
        const __m128i words = read<Words>(state), fields = _mm_set1_epi8(31);
        const __m128i corners = _mm_packus_epi16(windows(words, kCornerWindows), _mm_setzero_si128());
        const __m128i edges = _mm_packus_epi16(windows(words, kEdgeWindows), windows(words, kLastEdgeWindows));
        return {_mm_and_si128(corners, fields), _mm_and_si128(edges, fields)};
    }

    // Fours of fields (20 bits) in 32-bit units, from bytes of fields.
    static __m128i fours(__m128i fields) {
        return _mm_madd_epi16(_mm_maddubs_epi16(fields, _mm_set1_epi16(std::int16_t(kPairWeights))),
                              _mm_set1_epi32(std::int32_t(kFourWeights)));
    }
    // Each 64-bit lane's two fours as its 40 bits.
    static __m128i eights(__m128i fours) {
        const __m128i low = _mm_set1_epi64x(0xFFFFF);
        return _mm_or_si128(_mm_and_si128(fours, low), _mm_andnot_si128(low, _mm_srli_epi64(fours, 12)));
    }

    template <unsigned Words>
    static void store_words(const Cube& cube, const std::uint64_t* before, std::uint64_t* out) {
        const __m128i corners = fours(cube.corners), edges = fours(cube.edges);
        // Lanes: the corners' 40 bits, the edges' first 40; then the edges' last 20 bits, moved to bit 40.
        __m128i words = eights(_mm_unpacklo_epi64(corners, edges));
        words = _mm_or_si128(words, _mm_slli_epi64(_mm_unpackhi_epi64(_mm_setzero_si128(), edges), 40));
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
