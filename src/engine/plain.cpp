// The engine in plain C++, for any processor: the cube as 32 bytes, a turn
// as 20 look-ups and a sum and minimum a lane, separators tested a byte at a
// time into a mask.
#include "engine.hpp"

#define TURNWHEEL_ISA plain

#include "../cube3x3/token_rows.hpp"
#include "batch.hpp"
#include "scan.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN
namespace {

struct Plain : PortableText, PortableWords {
    using Cube = Unpacked;

    static Cube load(const Unpacked& cube) { return cube; }
    static void store(const Cube& cube, Unpacked& out) { out = cube; }
    static Cube turn(const Cube& cube, const cube3x3::TokenRow& row) { return cube3x3::apply_row(row, cube); }

    template <unsigned Words>
    static Cube load_words(const std::uint64_t* state) {
        return load_words_of<Plain, Words>(state);
    }
    template <unsigned Words>
    static void store_words(const Cube& cube, const std::uint64_t* before, std::uint64_t* out) {
        store_words_of<Plain, Words>(cube, before, out);
    }
};

}  // namespace

bool scan_moves(State& state, const MoveText& text) { return scan<Plain>(state, text); }
extern const Batch kBatch;
constinit const Batch kBatch = batch_of<Plain>();

TURNWHEEL_ISA_END
