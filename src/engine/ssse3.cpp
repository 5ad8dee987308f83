// The engine on 16-byte vectors with SSSE3: corners in one vector, edges in
// another, a turn one byte shuffle, two additions and a minimum on each.
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "../cube3x3/token_rows.hpp"

#include "target.hpp"

// Only what follows is built for SSSE3; the headers above stay generic.
TURNWHEEL_TARGET_BEGIN("ssse3")

#include "scan.hpp"
#include "x86_text.hpp"

namespace turnwheel::engine {
namespace {

__m128i load16(const std::uint8_t* bytes) { return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes)); }

struct Ssse3 : x86::Narrowing, x86::PairOffsets {
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

    struct Block {
        Classes classes;
        __m128i ids[4];
    };
    static Block classify(const std::uint8_t* bytes) {
        Block block{};
        for (unsigned k = 0; k < kBlock; k += 16) {
            const x86::Classes16 part = x86::classify16(bytes + k);
            block.classes.faces |= std::uint64_t{part.faces} << k;
            block.classes.ends |= std::uint64_t{part.ends} << k;
            block.classes.suffixes |= std::uint64_t{part.suffixes} << k;
            block.ids[k / 16] = part.ids;
        }
        return block;
    }
    static unsigned pack(const Block& block, std::uint64_t starts, std::uint8_t* out) {
        unsigned count = 0;
        for (unsigned k = 0; k < 4; ++k) count += x86::pack16(block.ids[k], unsigned(starts >> 16 * k), out + count);
        return count;
    }
};

}  // namespace

bool scan_ssse3(State& state, const MoveText& text) { return scan<Ssse3>(state, text); }

}  // namespace turnwheel::engine

TURNWHEEL_TARGET_END

#endif
