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

    // 0xFF where a byte separates, 0 elsewhere.
    static __m256i separating(__m256i v) {
        const __m256i from_tab = _mm256_sub_epi8(v, _mm256_set1_epi8('\t'));
        const __m256i controls =
            _mm256_cmpeq_epi8(_mm256_min_epu8(from_tab, _mm256_set1_epi8('\r' - '\t')), from_tab);
        const __m256i others = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')),
                                               _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(char(0x85))),
                                                               _mm256_cmpeq_epi8(v, _mm256_set1_epi8(char(0xA0)))));
        return _mm256_or_si256(controls, others);
    }
    static unsigned separators32(__m256i v) { return unsigned(_mm256_movemask_epi8(separating(v))); }

    // token_row for 32 positions: a face letter, then a separator, or a
    // prime mark or 2 and then a separator; anything else is skipped.
    static __m256i row_ids32(const std::uint8_t* at) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
        const __m256i third = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 2));
        __m256i face_rows = _mm256_setzero_si256(), is_face = _mm256_setzero_si256();
        for (unsigned f = 0; f < cube3x3::kFaces; ++f) {
            const __m256i here = _mm256_cmpeq_epi8(first, _mm256_set1_epi8(cube3x3::kFaceLetters[f]));
            face_rows = _mm256_or_si256(face_rows, _mm256_and_si256(here, _mm256_set1_epi8(char(3 * f))));
            is_face = _mm256_or_si256(is_face, here);
        }
        const __m256i prime = _mm256_or_si256(_mm256_cmpeq_epi8(second, _mm256_set1_epi8('\'')),
                                              _mm256_cmpeq_epi8(second, _mm256_set1_epi8('!')));
        const __m256i half = _mm256_cmpeq_epi8(second, _mm256_set1_epi8('2'));
        const __m256i suffix = _mm256_or_si256(_mm256_and_si256(prime, _mm256_set1_epi8(1)),
                                               _mm256_and_si256(half, _mm256_set1_epi8(2)));
        const __m256i ends = _mm256_or_si256(
            separating(second), _mm256_and_si256(_mm256_or_si256(prime, half), separating(third)));
        return _mm256_blendv_epi8(_mm256_set1_epi8(char(cube3x3::kSkipRow)), _mm256_add_epi8(face_rows, suffix),
                                  _mm256_and_si256(is_face, ends));
    }
    static void pack8(const std::uint8_t* ids, const std::uint64_t* order, std::uint8_t* out) {
        // Sixteen bytes read where eight are used: a zero-extending move between
        // registers here is an instruction valgrind cannot run.
        const __m128i picked = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ids)),
                                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(order)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), picked);
    }
    static void row_ids(const std::uint8_t* bytes, std::uint8_t* ids) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(ids), row_ids32(bytes));
        _mm256_store_si256(reinterpret_cast<__m256i*>(ids + 32), row_ids32(bytes + 32));
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
