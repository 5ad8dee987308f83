// Many cubes at once, generic over a version's operations: every state of
// an array turned by one row, by a move of its own, by every move of a list
// (its children), or walked at random from solved; and a list of moves as
// one row. Each version's file compiles them for its own instruction set
// and names them in its Batch (engine.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "../cube3x3/state.hpp"
#include "../cube3x3/token_rows.hpp"
#include "blocks.hpp"
#include "engine.hpp"
#include "random_walk.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN
namespace {

// Packed words to and from the unpacked cube a field at a time, for the
// versions without vector ways of doing it.
struct PortableWords {
    template <unsigned Words>
    static cube3x3::State read(const std::uint64_t* state) {
        return {state[0], Words == 2 ? state[1] : 0};
    }

    template <class Ops, unsigned Words>
    static typename Ops::Cube load_words_of(const std::uint64_t* state) {
        return Ops::load(cube3x3::unpack(read<Words>(state)));
    }

    template <class Ops, unsigned Words>
    static void store_words_of(const typename Ops::Cube& cube, const std::uint64_t* before, std::uint64_t* out) {
        Unpacked unpacked;
        Ops::store(cube, unpacked);
        const cube3x3::State words = cube3x3::pack(unpacked, read<Words>(before));
        out[0] = words.corners;
        if constexpr (Words == 2) out[1] = words.edges;
    }
};

inline const TokenRow& code_row(std::uint8_t code) { return cube3x3::kCodeRows[code]; }

template <WordOps Ops, unsigned Words>
struct BatchOf {
    using Cube = typename Ops::Cube;

    static Cube load(const std::uint64_t* state) { return Ops::template load_words<Words>(state); }
    static void store(const Cube& cube, const std::uint64_t* before, std::uint64_t* out) {
        Ops::template store_words<Words>(cube, before, out);
    }

    static void turn(const std::uint64_t* states, std::uint64_t* out, std::size_t n, const TokenRow& row) {
        const TokenRow local = row;  // which the stores to out cannot reach
        for (std::size_t i = 0; i < n; ++i, states += Words, out += Words) store(Ops::turn(load(states), local), states, out);
    }

    static void step(const std::uint64_t* states, std::uint64_t* out, std::size_t n, const std::uint8_t* codes) {
        for (std::size_t i = 0; i < n; ++i, states += Words, out += Words)
            store(Ops::turn(load(states), code_row(codes[i])), states, out);
    }

    static void children(const std::uint64_t* states, std::uint64_t* out, std::size_t n, const std::uint8_t* codes,
                         std::size_t count) {
        for (std::size_t i = 0; i < n; ++i, states += Words) {
            const Cube cube = load(states);
            for (std::size_t j = 0; j < count; ++j, out += Words) store(Ops::turn(cube, code_row(codes[j])), states, out);
        }
    }

    // Walks four at a time, whose chains the processor overlaps, and each
    // two moves at a time, as one pair's row (random_walk.hpp).
    static void scramble(std::uint64_t* out, std::uint8_t* codes, std::size_t first, std::size_t n, std::size_t length,
                         const WalkKey& key) {
        constexpr std::uint64_t solved[2] = {cube3x3::kSolvedCorners, cube3x3::kSolvedEdges};
        constexpr std::size_t kLanes = 4;
        const Cube start = load(solved);
        for (std::size_t i = 0; i < n; i += kLanes) {
            const std::size_t lanes = n - i < kLanes ? n - i : kLanes;
            std::uint8_t* moves = codes + i * length;
            Walk walks[kLanes] = {{key, first + i}, {key, first + i + 1}, {key, first + i + 2}, {key, first + i + 3}};
            Cube cubes[kLanes] = {start, start, start, start};
            const auto turn_pair = [&](std::size_t k, std::size_t j, const MovePair& drawn) {
                std::memcpy(moves + k * length + j, drawn.codes, 2);
                cubes[k] = Ops::turn(cubes[k], *drawn.row);
            };
            const auto turn_move = [&](std::size_t k, std::size_t j, unsigned move) {
                moves[k * length + j] = std::uint8_t(move);
                cubes[k] = Ops::turn(cubes[k], code_row(std::uint8_t(move)));
            };
            for (std::size_t k = 0; k < lanes && length > 0; ++k) {
                if (length == 1) {
                    turn_move(k, 0, walks[k].first_move());
                } else {
                    turn_pair(k, 0, walks[k].first_pair());
                }
            }
            if (lanes == kLanes) {
                // Each lane by a constant index, so that its walk and cube stay in registers.
                for (std::size_t j = 2; j + 2 <= length; j += 2)
                    [&]<std::size_t... K>(std::index_sequence<K...>) {
                        (turn_pair(K, j, walks[K].next_pair()), ...);
                    }(std::make_index_sequence<kLanes>{});
            } else {
                for (std::size_t k = 0; k < lanes; ++k)
                    for (std::size_t j = 2; j + 2 <= length; j += 2) turn_pair(k, j, walks[k].next_pair());
            }
            if (length % 2 != 0 && length > 1)
                for (std::size_t k = 0; k < lanes; ++k) turn_move(k, length - 1, walks[k].next_move());
            for (std::size_t k = 0; k < lanes; ++k) store(cubes[k], solved, out + (i + k) * Words);
        }
    }
};

// The row of moves codes[0, count) in order, read off the two probes.
template <CubeOps Ops>
TokenRow compose_codes(const std::uint8_t* codes, std::size_t count) {
    typename Ops::Cube probe = Ops::load(cube3x3::kProbe), twisted = Ops::load(cube3x3::kTwistedProbe);
    for (std::size_t k = 0; k < count; ++k) {
        const TokenRow& row = code_row(codes[k]);
        probe = Ops::turn(probe, row);
        twisted = Ops::turn(twisted, row);
    }
    Unpacked probed, twisted_probed;
    Ops::store(probe, probed);
    Ops::store(twisted, twisted_probed);
    return cube3x3::row_of(probed, twisted_probed);
}

template <WordOps Ops, unsigned Words>
constexpr BatchKernels kernels_of() {
    return {&BatchOf<Ops, Words>::turn, &BatchOf<Ops, Words>::step, &BatchOf<Ops, Words>::children,
            &BatchOf<Ops, Words>::scramble};
}

template <WordOps Ops>
constexpr Batch batch_of() {
    return {kernels_of<Ops, 2>(), kernels_of<Ops, 1>(), &compose_codes<Ops>};
}

}  // namespace
TURNWHEEL_ISA_END
