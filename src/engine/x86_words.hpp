// The byte shuffles and multipliers with which the x86 versions unpack a
// state's packed words into the cube's lanes (one byte a slot), and the
// weights with which they pack them again.
//
// A state is 16 bytes, the corner word then the edge word. The field of
// slot k lies at bit 5k of its word: in byte 5k / 8 and, for the high bits,
// the byte after. A shuffle gathers those two bytes as a 16-bit unit, and a
// multiplication by 2^(8 - 5k mod 8) moves the field into the unit's high
// byte, from which packing takes it. Back, a multiply-add of adjacent bytes
// by 1 and 32 makes pairs of fields, one of adjacent units by 1 and 1024
// fours, and two fours make a word's 40 bits.
#pragma once

#include <array>
#include <cstdint>

#include "../cube3x3/state.hpp"

namespace turnwheel::engine {

// Eight 16-bit units of windows onto fields: unit u onto slot first + u of
// a word, or empty (zero) past `count`.
struct FieldWindows {
    alignas(16) std::array<std::uint8_t, 16> shuffle;
    alignas(16) std::array<std::uint16_t, 8> multiplier;
};

constexpr FieldWindows field_windows(unsigned word, unsigned first, unsigned count) {
    FieldWindows windows{};
    for (unsigned u = 0; u < 8; ++u) {
        windows.shuffle[2 * u] = windows.shuffle[2 * u + 1] = 0x80;  // a shuffle index with the top bit set gives 0
        if (u >= count) continue;
        const unsigned bit = cube3x3::offset_of(first + u);
        windows.shuffle[2 * u] = std::uint8_t(8 * word + bit / 8);
        windows.shuffle[2 * u + 1] = std::uint8_t(8 * word + bit / 8 + 1);
        windows.multiplier[u] = std::uint16_t(1u << (8 - bit % 8));
    }
    return windows;
}

// The corners' eight fields, the edges' first eight, and their last four.
inline constexpr FieldWindows kCornerWindows = field_windows(0, 0, 8);
inline constexpr FieldWindows kEdgeWindows = field_windows(1, 0, 8);
inline constexpr FieldWindows kLastEdgeWindows = field_windows(1, 8, 4);
inline constexpr FieldWindows kNoWindows = field_windows(0, 0, 0);

// The two bytes of a window stay inside its word.
static_assert(kCornerWindows.shuffle[15] < 8 && kEdgeWindows.shuffle[15] < 16 && kLastEdgeWindows.shuffle[7] < 16);

// What packing multiplies by: bytes by 1 and 32, units by 1 and 1024.
inline constexpr std::uint16_t kPairWeights = 1 | 32 << 8;
inline constexpr std::uint32_t kFourWeights = 1 | 1024u << 16;

}  // namespace turnwheel::engine
