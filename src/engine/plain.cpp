// The engine in plain C++, for any processor: the cube as 32 bytes, a turn
// as 20 look-ups and a sum and minimum a lane, separators tested a byte at a
// time into a mask.
#include "engine.hpp"

#define TURNWHEEL_ISA plain

#include "../cube3x3/token_rows.hpp"
#include "scan.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN

struct Plain : PortableText {
    using Cube = Unpacked;

    static Cube load(const Unpacked& cube) { return cube; }
    static void store(const Cube& cube, Unpacked& out) { out = cube; }
    static Cube turn(const Cube& cube, const cube3x3::TokenRow& row) { return cube3x3::apply_row(row, cube); }
};

bool scan_moves(State& state, const MoveText& text) { return scan<Plain>(state, text); }

TURNWHEEL_ISA_END
