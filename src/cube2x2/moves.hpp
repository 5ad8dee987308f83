// The 2x2x2 cube: a corner word alone, turned by the 3x3 corner turns.
#pragma once

#include <cstdint>

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

// The corner half of the 3x3's reading of a move string.
inline bool do_moves(State& state, const MoveText& text) {
    if (text.size < cube3x3::kShortText) return cube3x3::apply_moves<Turns>(state, text);
    cube3x3::State both{state.corners, cube3x3::kSolvedEdges};
    if (!engine::apply(both, text)) return false;
    state.corners = both.corners;
    return true;
}

}  // namespace turnwheel::cube2x2
