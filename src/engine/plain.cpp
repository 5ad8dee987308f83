// The engine in plain C++, for any processor: the cube as 32 bytes, a turn
// as 20 look-ups and a sum and minimum a lane, separators tested a byte at a
// time into a mask.
#include "engine.hpp"
#include "scan.hpp"

namespace turnwheel::engine {
namespace {

struct Plain : PortableText {
    using Cube = Unpacked;

    static Cube load(const Unpacked& cube) { return cube; }
    static void store(const Cube& cube, Unpacked& out) { out = cube; }
    static Cube turn(const Cube& cube, const cube3x3::TokenRow& row) { return cube3x3::apply_row(row, cube); }
};

}  // namespace

bool scan_plain(State& state, const MoveText& text) { return scan<Plain>(state, text); }

}  // namespace turnwheel::engine
