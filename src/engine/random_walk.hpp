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

// Walk i's random numbers: SplitMix64 seeded from the key and i, sixteen
// bits at a time, each bounded draw exact by Lemire's rejection.
class WalkRandom {
  public:
    constexpr WalkRandom(const WalkKey& key, std::uint64_t walk) : state_(mix(key.a ^ mix(key.b + walk * kGolden))) {}

    // Uniform in [0, bound), for 0 < bound <= 2^16.
    constexpr unsigned below(unsigned bound) {
        for (;;) {
            const std::uint32_t product = next16() * bound;
            // A low half below 2^16 mod bound would make the draw uneven: drawn again, at most once in 2^16 / bound.
            if ((product & 0xFFFF) >= 0x10000u % bound) return product >> 16;
        }
    }

  private:
    constexpr std::uint32_t next16() {
        if (left_ == 0) {
            bits_ = mix(state_ += kGolden);
            left_ = 4;
        }
        --left_;
        const std::uint32_t value = std::uint32_t(bits_ & 0xFFFF);
        bits_ >>= 16;
        return value;
    }

    std::uint64_t state_;
    std::uint64_t bits_ = 0;
    unsigned left_ = 0;
};

using cube3x3::kFaces;
using cube3x3::kMoveCodes;

// The first move of a walk is any of the 18; every later one is one of the
// 15 on the other five faces: kNextCode[face before][draw below 15].
inline constexpr unsigned kLaterMoves = kMoveCodes - 3;
inline constexpr std::array<std::array<std::uint8_t, kLaterMoves>, kFaces> kNextCode = [] {
    std::array<std::array<std::uint8_t, kLaterMoves>, kFaces> table{};
    for (unsigned before = 0; before < kFaces; ++before)
        for (unsigned draw = 0; draw < kLaterMoves; ++draw)
            table[before][draw] = std::uint8_t(3 * ((before + 1 + draw / 3) % kFaces) + draw % 3);
    return table;
}();

// The next move code of a walk whose last move was `last` (kMoveCodes at its start).
constexpr unsigned next_move(WalkRandom& random, unsigned last) {
    if (last >= kMoveCodes) return random.below(kMoveCodes);
    return kNextCode[last / 3][random.below(kLaterMoves)];
}

}  // namespace turnwheel::engine
