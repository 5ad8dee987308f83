// The names turnwheel_batch gives move codes and colour numbers, in the
// module's MOVES and COLORS.
#pragma once

#include <cstddef>

#include "../cube3x3/notation.hpp"
#include "../cube3x3/render.hpp"
#include "../cube3x3/token_rows.hpp"

namespace turnwheel::batch {

// By code: each face's clockwise quarter turn, half turn and counter-clockwise quarter turn.
inline constexpr const char* kMoveNames[cube3x3::kMoveCodes] = {
    "U", "U2", "U'", "D", "D2", "D'", "R", "R2", "R'", "L", "L2", "L'", "F", "F2", "F'", "B", "B2", "B'",
};

// Each name reads, as a token of a move string, as its code, and as the move that row of the engine makes.
constexpr bool names_read_as_codes() {
    for (unsigned code = 0; code < cube3x3::kMoveCodes; ++code) {
        const char* name = kMoveNames[code];
        const std::size_t length = name[1] == '\0' ? 1 : 2;
        if (cube3x3::token_code(name, length) != code) return false;
        const unsigned row = cube3x3::kRowOfCode[code], face = code / 3;
        if (name[0] != cube3x3::kFaceLetters[face] || row / 3 != face) return false;
        const unsigned kind = length == 1 ? 0 : name[1] == '2' ? 2 : 1;  // rows: clockwise, counter, half
        if (row % 3 != kind) return false;
    }
    return true;
}
static_assert(names_read_as_codes());

// By colour number: the letters of the net, in the order it numbers them.
inline constexpr const char* kColourNames[] = {"W", "Y", "G", "B", "O", "R"};
static_assert(std::size(kColourNames) == std::size(cube3x3::kColourLetters));

}  // namespace turnwheel::batch
