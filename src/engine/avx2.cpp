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

struct Avx2 : x86::Narrowing {
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
