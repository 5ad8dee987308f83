// The engine's operations in plain C++, for any processor: the cube as 32
// bytes, a turn as 20 look-ups and a sum and minimum a lane, separators
// tested a byte at a time into a mask, words unpacked a field at a time.
//
// Used by the reading of move strings (plain.cpp) and by many cubes at once
// (plain_batch.cpp), each of which names its version first (target.hpp).
#pragma once


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
TURNWHEEL_ISA_END
