// The engine on 16-byte vectors with SSSE3: corners in one vector, edges in
// another, a turn one byte shuffle, two additions and a minimum on each.
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define TURNWHEEL_ISA ssse3
#define TURNWHEEL_ISA_TARGET "ssse3"

#include <immintrin.h>

#include <cstdint>

#include "../cube3x3/token_rows.hpp"
#include "scan.hpp"
#include "target.hpp"
#include "x86_text.hpp"
#include "x86_vectors.hpp"

TURNWHEEL_ISA_BEGIN

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
};

bool scan_moves(State& state, const MoveText& text) { return scan<Ssse3>(state, text); }

TURNWHEEL_ISA_END

#endif
