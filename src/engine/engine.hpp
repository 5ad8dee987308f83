// The move engine: applies a whole move string to an unpacked cube, and
// turns arrays of cubes. A tokeniser turns each block of 64 characters into
// token rows, and the rows are applied two at a time through composed rows.
// One version per instruction set, each in files of its own (its operations,
// its reading of move strings, its kernels for many cubes); which one runs is
// decided once, by what the processor offers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../cube3x3/state.hpp"
#include "../move_text.hpp"

namespace turnwheel::cube3x3 {
struct TokenRow;  // token_rows.hpp
}

namespace turnwheel::engine {

// Applies every recognised token of `text` to `state`, left to right.
// Returns false, with `state` unchanged, if the text holds a lone surrogate.
using Scanner = bool (*)(cube3x3::State& state, const MoveText& text);

enum class Isa : unsigned char { Plain, Ssse3, Avx2, Neon };
inline constexpr Isa kIsas[] = {Isa::Plain, Isa::Ssse3, Isa::Avx2, Isa::Neon};

const char* name(Isa isa);

// Whether this build has a version for `isa` and this processor runs it;
// the best such, decided by the order of kIsas.
bool runs(Isa isa);
Isa best_isa();

// The version for `isa`, or nullptr if this build has none or this
// processor cannot run it.
Scanner scanner(Isa isa);

// The fastest version this processor runs, chosen on the first call.
Scanner chosen();

inline bool apply(cube3x3::State& state, const MoveText& text) { return chosen()(state, text); }

// ---- Many cubes at once ----------------------------------------------------------
//
// An array of states is consecutive words: two a 3x3 state (its corner word,
// then its edge word), one a 2x2 state (its corner word). Every kernel reads
// states[0, n) and writes out, which may be the states themselves but not
// overlap them otherwise; move codes are below cube3x3::kMoveCodes.

struct WalkKey;  // random_walk.hpp

struct BatchKernels {
    // Every state turned by one row.
    void (*turn)(const std::uint64_t* states, std::uint64_t* out, std::size_t n, const cube3x3::TokenRow& row);
    // State i turned by move codes[i].
    void (*step)(const std::uint64_t* states, std::uint64_t* out, std::size_t n, const std::uint8_t* codes);
    // State i's children by codes[0, count), state-major: count states out for each.
    void (*children)(const std::uint64_t* states, std::uint64_t* out, std::size_t n, const std::uint8_t* codes,
                     std::size_t count);
    // Walks first to first + n - 1 of `length` moves from solved: their
    // states into out, their move codes into codes (`length` a walk).
    void (*scramble)(std::uint64_t* out, std::uint8_t* codes, std::size_t first, std::size_t n, std::size_t length,
                     const WalkKey& key);
};

struct Batch {
    BatchKernels cube3x3, cube2x2;
    // The row of codes[0, count) applied in order, exact on every word.
    cube3x3::TokenRow (*compose)(const std::uint8_t* codes, std::size_t count);
};

// The kernels of `isa`, or nullptr if this build has none or this processor
// cannot run them; those of the version chosen().
const Batch* batch(Isa isa);
const Batch& chosen_batch();

// The row of a whole move string, exact on every word; false if the text
// holds a lone surrogate.
bool text_row(const MoveText& text, cube3x3::TokenRow& row);

}  // namespace turnwheel::engine
