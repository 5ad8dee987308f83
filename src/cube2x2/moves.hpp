// The 2x2x2 cube: a corner word alone, turned by the 3x3 corner turns.
#pragma once

#include <cstdint>
#include <string_view>

#include "../cube3x3/moves.hpp"
#include "../cube3x3/notation.hpp"

namespace turnwheel::cube2x2 {

using cube3x3::Move;

struct State {
    std::uint64_t corners;
};

inline constexpr State kSolved{cube3x3::kSolvedCorners};

template <Move M>
constexpr void turn(State& state) {
    state.corners = cube3x3::turn_corners<M>(state.corners);
}

struct Turns {
    template <Move M>
    static constexpr void apply(State& state) {
        turn<M>(state);
    }
};

constexpr void do_moves(State& state, std::string_view moves) { cube3x3::apply_moves<Turns>(state, moves); }

}  // namespace turnwheel::cube2x2
