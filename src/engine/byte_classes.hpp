// What a byte of move text is, in tables small enough for a vector byte
// shuffle (16 entries, looked up by a nibble), so that the vector versions
// classify 16 or 32 bytes in a few instructions:
//
//   class(b) = kLowClass[b & 15] & kHighClass[b >> 4]
//       1 a prime mark (' or !), 2 the digit two, 4 or more a separator
//       byte, 0 anything else;
//   face slot(b) = (b >> 1) & 15, distinct for the six face letters:
//       b is a face letter exactly when kFaceLetterAt[slot] == b, and
//       kFaceRowAt[slot] is then the row of its clockwise turn.
//
// A token's row is then its face's row plus the class of the byte after it,
// where that byte is a separator (+0), or a suffix followed by one.
#pragma once

#include <array>
#include <cstdint>

#include "token_bytes.hpp"

namespace turnwheel::engine {

inline constexpr std::uint8_t kPrimeClass = 1, kTwoClass = 2, kSuffixClasses = 3;
// Three rectangles of (high nibble, low nibble) hold the separator bytes:
// 0x09-0x0D, 0x20 and 0xA0, 0x85.
inline constexpr std::uint8_t kControlClass = 4, kSpaceClass = 8, kNextLineClass = 16;

inline constexpr std::array<std::uint8_t, 16> kLowClass = [] {
    std::array<std::uint8_t, 16> table{};
    table[0x0] = kSpaceClass;
    table[0x1] = table[0x7] = kPrimeClass;
    table[0x2] = kTwoClass;
    table[0x5] = kNextLineClass;
    for (unsigned low = 0x9; low <= 0xD; ++low) table[low] = kControlClass;
    return table;
}();

inline constexpr std::array<std::uint8_t, 16> kHighClass = [] {
    std::array<std::uint8_t, 16> table{};
    table[0x0] = kControlClass;
    table[0x2] = kPrimeClass | kSpaceClass;
    table[0x3] = kTwoClass;
    table[0x8] = kNextLineClass;
    table[0xA] = kSpaceClass;
    return table;
}();

constexpr unsigned byte_class(unsigned byte) { return kLowClass[byte & 15] & kHighClass[byte >> 4]; }

constexpr unsigned face_slot(unsigned byte) { return (byte >> 1) & 15; }

// Unused slots hold a byte whose own slot is another, so no byte matches them.
inline constexpr std::array<std::uint8_t, 16> kFaceLetterAt = [] {
    std::array<std::uint8_t, 16> table{};
    for (auto& letter : table) letter = 0x80;
    table[0] = 0xFF;
    for (unsigned f = 0; f < kFaces; ++f)
        table[face_slot(std::uint8_t(kFaceLetters[f]))] = std::uint8_t(kFaceLetters[f]);
    return table;
}();

inline constexpr std::array<std::uint8_t, 16> kFaceRowAt = [] {
    std::array<std::uint8_t, 16> table{};
    for (unsigned f = 0; f < kFaces; ++f)
        table[face_slot(std::uint8_t(kFaceLetters[f]))] = std::uint8_t(3 * f);
    return table;
}();

constexpr bool is_face_letter(unsigned byte) { return kFaceLetterAt[face_slot(byte)] == byte; }

// The tables agree with the byte-at-a-time reading for all 256 bytes.
constexpr bool classes_agree() {
    for (unsigned b = 0; b < 256; ++b) {
        const unsigned suffix = b == '\'' || b == '!' ? kPrimeClass : b == '2' ? kTwoClass : 0;
        const unsigned found = byte_class(b);
        if ((found >= kControlClass) != is_separator_byte(b)) return false;
        if (found < kControlClass && found != suffix) return false;
        const unsigned face = kFaceOf[b] / kFaceStep;
        if (is_face_letter(b) != (face < kFaces)) return false;
        if (is_face_letter(b) && kFaceRowAt[face_slot(b)] != 3 * face) return false;
    }
    return true;
}
static_assert(classes_agree());

}  // namespace turnwheel::engine
