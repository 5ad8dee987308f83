// The moves of random walks that never turn one face twice in a row, each
// walk from its own stream of random bits: walk i's stream is a function of
// a 128-bit key and i alone, so the walks do not depend on how many threads
// make them, nor in what order.
#pragma once

#include <array>
#include <cstdint>

#include "../cube3x3/token_rows.hpp"

namespace turnwheel::engine {

struct WalkKey {
    std::uint64_t a, b;
};

// SplitMix64's output function: a bijection that mixes every bit into all.
constexpr std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

inline constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15u;

// Walk i's random numbers, 16 bits at a time: SplitMix64 seeded from the
// key and i.
class WalkRandom {
  public:
    constexpr WalkRandom(const WalkKey& key, std::uint64_t walk) : state_(mix(key.a ^ mix(key.b + walk * kGolden))) {}

    // Uniform in [0, count), for 0 < count <= 2^16, by Lemire's rule: the
    // high half of 16 random bits times count, except where its low half is
    // below 2^16 mod count, where the draw is made again (with that chance in
    // 2^16, at most 1 in 300 here), so that every value has as many
    // numbers as every other.
    constexpr unsigned below(unsigned count) {
        for (;;) {
            const std::uint32_t product = next16() * count;
            if ((product & 0xFFFF) >= 0x10000u % count) return product >> 16;
        }
    }

  private:
    // Three 16-bit parts of each number, below a marker bit that shows when
    // they are used up (a register less than a count would take).
    constexpr std::uint32_t next16() {
        if (bits_ < 0x10000) bits_ = (mix(state_ += kGolden) & 0xFFFFFFFFFFFF) | std::uint64_t{1} << 48;
        const std::uint32_t value = std::uint32_t(bits_ & 0xFFFF);
        bits_ >>= 16;
        return value;
    }

    std::uint64_t state_;
    std::uint64_t bits_ = 1;
};

using cube3x3::kFaces;
using cube3x3::kMoveCodes;
using cube3x3::kRows;
using cube3x3::TokenRow;

// Moves are drawn two at a time, as one of the pairs that turn no face
// twice in a row: one of 18 * 15 at a walk's start, one of 15 * 15 after a
// move on face f (draw d: the (d / 15)th and then the (d mod 15)th of the 15
// moves on the faces after the one before, going round U D R L F B), and
// one move of 15 to end a walk of odd length. A pair turns the cube by its
// composed row, as the engine applies pairs of tokens: one turn for two
// moves.
inline constexpr unsigned kLaterMoves = kMoveCodes - 3;
inline constexpr unsigned kStartPairs = kMoveCodes * kLaterMoves, kLaterPairs = kLaterMoves * kLaterMoves;

struct MovePair {
    std::uint8_t codes[2];
    std::uint16_t next;    // where the pairs after this one start, in kLaterPairMoves
    const TokenRow* row;   // the pair's row in kPairRows
};

// The move draw d of 15 makes after one on face f.
constexpr unsigned later_move(unsigned face, unsigned draw) { return 3 * ((face + 1 + draw / 3) % kFaces) + draw % 3; }

constexpr MovePair move_pair(unsigned first, unsigned second) {
    return {{std::uint8_t(first), std::uint8_t(second)},
            std::uint16_t(second / 3 * kLaterPairs),
            &cube3x3::kPairRows[cube3x3::kRowOfCode[first] * kRows + cube3x3::kRowOfCode[second]]};
}

inline constexpr auto kStartPairMoves = [] {
    std::array<MovePair, kStartPairs> pairs{};
    for (unsigned d = 0; d < kStartPairs; ++d) {
        const unsigned first = d / kLaterMoves;
        pairs[d] = move_pair(first, later_move(first / 3, d % kLaterMoves));
    }
    return pairs;
}();

// The pairs after a move on face f start at f * 225.
inline constexpr auto kLaterPairMoves = [] {
    std::array<MovePair, kFaces * kLaterPairs> pairs{};
    for (unsigned face = 0; face < kFaces; ++face)
        for (unsigned d = 0; d < kLaterPairs; ++d) {
            const unsigned first = later_move(face, d / kLaterMoves);
            pairs[face * kLaterPairs + d] = move_pair(first, later_move(first / 3, d % kLaterMoves));
        }
    return pairs;
}();

// A walk's moves: its first pair (or move), then pair after pair, and a last
// move to end an odd length.
class Walk {
  public:
    constexpr Walk(const WalkKey& key, std::uint64_t walk) : random_(key, walk) {}

    constexpr const MovePair& first_pair() { return follow(kStartPairMoves[random_.below(kStartPairs)]); }
    constexpr const MovePair& next_pair() { return follow(kLaterPairMoves[next_ + random_.below(kLaterPairs)]); }

    constexpr unsigned first_move() { return follow(random_.below(kMoveCodes)); }
    constexpr unsigned next_move() { return follow(later_move(next_ / kLaterPairs, random_.below(kLaterMoves))); }

  private:
    constexpr const MovePair& follow(const MovePair& pair) {
        next_ = pair.next;
        return pair;
    }
    constexpr unsigned follow(unsigned move) {
        next_ = move / 3 * kLaterPairs;
        return move;
    }

    WalkRandom random_;
    unsigned next_ = 0;
};

}  // namespace turnwheel::engine
