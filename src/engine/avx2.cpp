// The engine on 32-byte vectors with AVX2: the whole cube in one vector
// (corners in the low half, edges in the high half, which is where AVX2's
// byte shuffle keeps each half's bytes), a turn four instructions.
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstring>

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

    static unsigned separators32(__m256i v) {
        const __m256i from_tab = _mm256_sub_epi8(v, _mm256_set1_epi8('\t'));
        const __m256i controls =
            _mm256_cmpeq_epi8(_mm256_min_epu8(from_tab, _mm256_set1_epi8('\r' - '\t')), from_tab);
        const __m256i others = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')),
                                               _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(char(0x85))),
                                                               _mm256_cmpeq_epi8(v, _mm256_set1_epi8(char(0xA0)))));
        return unsigned(_mm256_movemask_epi8(_mm256_or_si256(controls, others)));
    }
    static std::uint64_t separators(const std::uint8_t* bytes) {
        return separators32(load32(bytes)) | std::uint64_t{separators32(load32(bytes + 32))} << 32;
    }
};

}  // namespace

bool scan_avx2(State& state, const MoveText& text) { return scan<Avx2>(state, text); }

}  // namespace turnwheel::engine

TURNWHEEL_TARGET_END

#endif
