// The text steps of the x86 versions, written once over the vector width
// (x86_vectors.hpp): narrowing wide text, classifying a block's bytes,
// packing the rows of its tokens, and the pair offsets. SSSE3 runs them on
// 16-byte vectors, AVX2 on 32-byte ones.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "../cube3x3/token_rows.hpp"
#include "blocks.hpp"
#include "byte_classes.hpp"
#include "target.hpp"
#include "x86_vectors.hpp"

namespace turnwheel::engine {

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

// A packing step stores 8 rows whole.
inline constexpr std::size_t kPackedStore = 8;
static_assert(kPackedStore <= kRowsSlack);

}  // namespace turnwheel::engine

TURNWHEEL_ISA_BEGIN
namespace {

template <class V>
struct X86Text {
    struct Block {
        Classes classes;
        Block64<V> ids;  // every position's row, where a token starts there
    };

    // The classes of bytes[0, kBlock) and every position's row: the class
    // of a byte after a position is looked up by its two nibbles, and its
    // face slot says whether it is a face letter, and which.
    static Block classify(const std::uint8_t* bytes) {
        // A step reads V::kBytes bytes at a position and at the next.
        static_assert(1 <= kLookahead);
        Block block;
        Block64<V> faces, ends, suffixes;
        const V nibble = V::bytes(15);
        for (unsigned k = 0; k < Block64<V>::kParts; ++k) {
            const std::uint8_t* at = bytes + k * V::kBytes;
            const V here = V::load(at), next = V::load(at + 1);
            const V classes = lookup(V::table(kLowClass), next & nibble) &
                              lookup(V::table(kHighClass), shift_units_right<4>(next) & nibble);
            const V suffix = classes & V::bytes(kSuffixClasses);
            const V slot = shift_units_right<1>(here) & nibble;
            faces.part[k] = equal_bytes(lookup(V::table(kFaceLetterAt), slot), here);
            // Adding 0x80 - c sets the top bit exactly where a byte is c or more.
            ends.part[k] = add_bytes(classes, V::bytes(0x80 - kControlClass));
            suffixes.part[k] = add_bytes(suffix, V::bytes(0x7F));
            block.ids.part[k] = add_bytes(lookup(V::table(kFaceRowAt), slot), suffix);
        }
        block.classes = {top_bits(faces), top_bits(ends), top_bits(suffixes)};
        return block;
    }

    // The ids at the bits of `starts` (16 of them), in order, into out;
    // their count.
    static __m128i positions(unsigned bits) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kPackedPositions[bits]));
    }
    static unsigned pack16(__m128i ids, unsigned starts, std::uint8_t* out) {
        const unsigned low = starts & 0xFF, high = starts >> 8 & 0xFF;
        const unsigned written = kBitCount[low];
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(ids, positions(low)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + written),
                         _mm_shuffle_epi8(ids, _mm_add_epi8(positions(high), _mm_set1_epi8(8))));
        return written + kBitCount[high];
    }

    template <unsigned... K>
    static unsigned pack_quarters(const Block& block, std::uint64_t starts, std::uint8_t* out,
                                  std::integer_sequence<unsigned, K...>) {
        unsigned count = 0;
        ((count += pack16(block.ids.template quarter<K>(), unsigned(starts >> 16 * K), out + count)), ...);
        return count;
    }

    static unsigned pack(const Block& block, std::uint64_t starts, std::uint8_t* out) {
        return pack_quarters(block, starts, out, std::make_integer_sequence<unsigned, 4>{});
    }

    // V::kBytes / 2 units of text as 16-bit units: UCS-2 as it is, UCS-4
    // saturated, values past 0x7FFF becoming 0x7FFF, which is neither ASCII
    // nor U+3000, so they are looked at closely.
    static V units16(const std::uint16_t* units) { return V::load(units); }
    static V units16(const std::uint32_t* units) {
        return narrow_words_signed(V::load(units), V::load(units + V::kBytes / 4));
    }

    // ASCII as it is, U+3000 as ' ', the rest marked in `rare`.
    static V narrowed(V units, V& rare) {
        const V ascii = equal_units(units & V::units(0xFF80), V::zero());
        const V spaces = equal_units(units, V::units(0x3000));
        rare = and_not(ascii | spaces, V::units(0xFFFF));
        return (units & ascii) | (V::units(' ') & spaces);
    }

    template <class Unit>
    static std::uint64_t narrow(const Unit* units, std::uint8_t* bytes) {
        std::uint64_t rare = 0;
        for (unsigned k = 0; k < kBlock; k += V::kBytes) {
            V rare_low, rare_high;
            const V low = narrowed(units16(units + k), rare_low);
            const V high = narrowed(units16(units + k + V::kBytes / 2), rare_high);
            narrow_units(low, high).store(bytes + k);
            rare |= std::uint64_t{top_bits(narrow_units_signed(rare_low, rare_high))} << k;
        }
        return rare;
    }

    // A vector of pairs a step: one multiply-add makes first * kRows +
    // second, one multiply the offset.
    static void pair_offsets(const std::uint8_t* rows, unsigned pairs, std::uint16_t* offsets) {
        static_assert(V::kBytes <= kRowsSlack && V::kBytes / 2 <= kOffsetsSlack);
        const V weights = V::units(std::uint16_t(cube3x3::kRows | 1 << 8));
        const V row_size = V::units(std::uint16_t(sizeof(cube3x3::TokenRow)));
        for (unsigned k = 0; k < pairs; k += V::kBytes / 2)
            multiply_units(multiply_add_bytes(V::load(rows + 2 * k), weights), row_size).store(offsets + k);
    }
};

}  // namespace
TURNWHEEL_ISA_END
