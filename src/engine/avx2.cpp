// The engine on 32-byte vectors with AVX2: the whole cube in one vector
// (corners in the low half, edges in the high half, which is where AVX2's
// byte shuffle keeps each half's bytes), a turn four instructions.
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "../cube3x3/token_rows.hpp"

#include "target.hpp"

// Only what follows is built for AVX2; the headers above stay generic.
TURNWHEEL_TARGET_BEGIN("avx2")

#include "scan.hpp"
#include "x86_text.hpp"

namespace turnwheel::engine {
namespace {

__m256i load32(const std::uint8_t* bytes) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes)); }

// Sixteen 16-bit units: ASCII as it is, U+3000 as ' ', the rest marked in `rare`.
__m256i narrow16(__m256i units, __m256i& rare) {
    const __m256i ascii =
        _mm256_cmpeq_epi16(_mm256_and_si256(units, _mm256_set1_epi16(short(0xFF80))), _mm256_setzero_si256());
    const __m256i spaces = _mm256_cmpeq_epi16(units, _mm256_set1_epi16(0x3000));
    rare = _mm256_andnot_si256(_mm256_or_si256(ascii, spaces), _mm256_set1_epi16(-1));
    return _mm256_or_si256(_mm256_and_si256(units, ascii), _mm256_and_si256(_mm256_set1_epi16(' '), spaces));
}

// Packing works within each 16-byte half; this puts the quarters back in order.
__m256i in_order(__m256i packed) { return _mm256_permute4x64_epi64(packed, 0xD8); }

// Thirty-two 16-bit units to bytes; returns the bits of the rare ones.
unsigned narrow32(__m256i low, __m256i high, std::uint8_t* bytes) {
    __m256i rare_low, rare_high;
    const __m256i narrowed_low = narrow16(low, rare_low), narrowed_high = narrow16(high, rare_high);
    _mm256_store_si256(reinterpret_cast<__m256i*>(bytes), in_order(_mm256_packus_epi16(narrowed_low, narrowed_high)));
    return unsigned(_mm256_movemask_epi8(in_order(_mm256_packs_epi16(rare_low, rare_high))));
}

__m256i load_units(const void* units) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units)); }

// 32-bit units saturated to 16 bits, as x86::saturated16 does.
__m256i saturated16(const std::uint32_t* units) {
    return in_order(_mm256_packs_epi32(load_units(units), load_units(units + 8)));
}

struct Avx2 : x86::PairOffsets {
    static std::uint64_t narrow(const std::uint16_t* units, std::uint8_t* bytes) {
        return narrow32(load_units(units), load_units(units + 16), bytes) |
               std::uint64_t{narrow32(load_units(units + 32), load_units(units + 48), bytes + 32)} << 32;
    }
    static std::uint64_t narrow(const std::uint32_t* units, std::uint8_t* bytes) {
        return narrow32(saturated16(units), saturated16(units + 16), bytes) |
               std::uint64_t{narrow32(saturated16(units + 32), saturated16(units + 48), bytes + 32)} << 32;
    }

    using Cube = __m256i;

    static Cube load(const Unpacked& cube) { return load32(cube.lanes); }
    static void store(const Cube& cube, Unpacked& out) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.lanes), cube);
    }

    static Cube turn(const Cube& cube, const cube3x3::TokenRow& row) {
        const __m256i moved = _mm256_shuffle_epi8(cube, load32(row.shuffle));
        return _mm256_min_epu8(_mm256_add_epi8(moved, load32(row.add)), _mm256_add_epi8(moved, load32(row.add_fold)));
    }

    static __m256i table32(const std::array<std::uint8_t, 16>& table) {
        return _mm256_broadcastsi128_si256(x86::table16(table));
    }

    struct Block {
        Classes classes;
        __m256i ids[2];
    };

    // The top bit of each byte, as bits 32 * half on.
    static std::uint64_t bits(__m256i v, unsigned half) {
        return std::uint64_t{unsigned(_mm256_movemask_epi8(v))} << 32 * half;
    }

    // x86::classify16 on 32 positions.
    static void classify32(const std::uint8_t* at, Block& block, unsigned half) {
        const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
        const __m256i nibble = _mm256_set1_epi8(15);
        const __m256i classes =
            _mm256_and_si256(_mm256_shuffle_epi8(table32(kLowClass), _mm256_and_si256(next, nibble)),
                             _mm256_shuffle_epi8(table32(kHighClass), _mm256_and_si256(_mm256_srli_epi16(next, 4), nibble)));
        const __m256i suffix = _mm256_and_si256(classes, _mm256_set1_epi8(kSuffixClasses));
        const __m256i slot = _mm256_and_si256(_mm256_srli_epi16(here, 1), nibble);
        block.ids[half] = _mm256_add_epi8(_mm256_shuffle_epi8(table32(kFaceRowAt), slot), suffix);
        block.classes.faces |= bits(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(table32(kFaceLetterAt), slot), here), half);
        block.classes.ends |= bits(_mm256_add_epi8(classes, _mm256_set1_epi8(0x80 - kControlClass)), half);
        block.classes.suffixes |= bits(_mm256_add_epi8(suffix, _mm256_set1_epi8(0x7F)), half);
    }
    static Block classify(const std::uint8_t* bytes) {
        Block block{};
        classify32(bytes, block, 0);
        classify32(bytes + 32, block, 1);
        return block;
    }
    static unsigned pack(const Block& block, std::uint64_t starts, std::uint8_t* out) {
        unsigned count = 0;
        for (unsigned half = 0; half < 2; ++half, starts >>= 32) {
            count += x86::pack16(_mm256_castsi256_si128(block.ids[half]), unsigned(starts), out + count);
            count += x86::pack16(_mm256_extracti128_si256(block.ids[half], 1), unsigned(starts >> 16), out + count);
        }
        return count;
    }
};

}  // namespace

bool scan_avx2(State& state, const MoveText& text) { return scan<Avx2>(state, text); }

}  // namespace turnwheel::engine

TURNWHEEL_TARGET_END

#endif
