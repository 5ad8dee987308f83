// The engine on 32-byte vectors with AVX2: the whole cube in one vector
// (corners in the low half, edges in the high half, which is where AVX2's
// byte shuffle keeps each half's bytes), a turn four instructions.
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define TURNWHEEL_ISA avx2
#define TURNWHEEL_ISA_TARGET "avx2"
#define TURNWHEEL_ISA_HAS_AVX2

#include <immintrin.h>

#include <cstdint>

#include "../cube3x3/token_rows.hpp"
#include "scan.hpp"
#include "target.hpp"
#include "x86_text.hpp"
#include "x86_vectors.hpp"

TURNWHEEL_ISA_BEGIN

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
};

bool scan_moves(State& state, const MoveText& text) { return scan<Avx2>(state, text); }

TURNWHEEL_ISA_END

#endif
