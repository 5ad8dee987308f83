// The move engine: applies a whole move string to an unpacked cube. A
// tokeniser turns each block of 64 characters into token rows, and the rows
// are applied two at a time through composed rows. One version per
// instruction set, each in a file of its own; which one runs is decided
// once, by what the processor offers.
#pragma once

#include "../cube3x3/state.hpp"
#include "../move_text.hpp"

namespace turnwheel::engine {

// Applies every recognised token of `text` to `state`, left to right.
// Returns false, with `state` unchanged, if the text holds a lone surrogate.
using Scanner = bool (*)(cube3x3::State& state, const MoveText& text);

enum class Isa : unsigned char { Plain, Ssse3, Avx2, Neon };
inline constexpr Isa kIsas[] = {Isa::Plain, Isa::Ssse3, Isa::Avx2, Isa::Neon};

const char* name(Isa isa);

// The version for `isa`, or nullptr if this build has none or this
// processor cannot run it.
Scanner scanner(Isa isa);

// The fastest version this processor runs, chosen on the first call.
Scanner chosen();

inline bool apply(cube3x3::State& state, const MoveText& text) { return chosen()(state, text); }

}  // namespace turnwheel::engine
