// Tokens byte by byte: the tables that read a token's row from its first
// three bytes, without branching, for the versions that classify a byte at
// a time, and as the reference the vector classes are checked against.
//
// The engine reads text as bytes in which every separator is one of the
// separator bytes below and every other character a byte that is not: ASCII
// stays itself, Latin-1 too (0x85 and 0xA0 are its separators), anything
// wider is narrowed to ' ' or 0x80 first. Then
//
//     row = kRowOf[kFaceOf[first] + kSuffixOf[second] + kEndOf[third]]
//
// where the three tables hold the parts of an index into kRowOf, so that
// their sum needs no shifts:
//   kFaceOf[b]    8 * face: 0 to 5 for U D R L F B, 6 for any other byte;
//   kSuffixOf[b]  2 * class: 0 a separator (the token is one byte), 1 a
//                 prime mark (' or !), 2 the digit two, 3 anything else;
//   kEndOf[b]     1 for a separator, 0 for any other byte.
#pragma once

#include <array>
#include <cstdint>

#include "../cube3x3/token_rows.hpp"

namespace turnwheel::engine {

using cube3x3::kFaceLetters;
using cube3x3::kFaces;

constexpr bool is_separator_byte(unsigned byte) {
    return byte == ' ' || (byte >= '\t' && byte <= '\r') || byte == 0x85 || byte == 0xA0;
}

inline constexpr std::uint8_t kNarrowedSeparator = ' ';
inline constexpr std::uint8_t kNarrowedOther = 0x80;

inline constexpr unsigned kFaceStep = 8, kSuffixStep = 2;
inline constexpr unsigned kOtherSuffix = 3;

inline constexpr std::array<std::uint8_t, 256> kFaceOf = [] {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) entry = kFaces * kFaceStep;
    for (unsigned f = 0; f < kFaces; ++f) table[std::uint8_t(kFaceLetters[f])] = std::uint8_t(f * kFaceStep);
    return table;
}();

inline constexpr std::array<std::uint8_t, 256> kSuffixOf = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        const unsigned suffix = is_separator_byte(b) ? 0 : b == '\'' || b == '!' ? 1 : b == '2' ? 2 : kOtherSuffix;
        table[b] = std::uint8_t(suffix * kSuffixStep);
    }
    return table;
}();

inline constexpr std::array<std::uint8_t, 256> kEndOf = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) table[b] = is_separator_byte(b) ? 1 : 0;
    return table;
}();

inline constexpr std::array<std::uint8_t, (kFaces + 1) * kFaceStep> kRowOf = [] {
    std::array<std::uint8_t, (kFaces + 1) * kFaceStep> table{};
    for (unsigned f = 0; f <= kFaces; ++f)
        for (unsigned suffix = 0; suffix <= kOtherSuffix; ++suffix)
            for (unsigned end = 0; end < 2; ++end) {
                unsigned row = cube3x3::kSkipRow;
                if (f < kFaces && suffix == 0) row = 3 * f;
                if (f < kFaces && suffix == 1 && end) row = 3 * f + 1;
                if (f < kFaces && suffix == 2 && end) row = 3 * f + 2;
                table[f * kFaceStep + suffix * kSuffixStep + end] = std::uint8_t(row);
            }
    return table;
}();

// The row of the token that starts at `at`; the two bytes after it must be
// readable (text ends are padded with separators).
constexpr unsigned token_row(const std::uint8_t* at) {
    return kRowOf[kFaceOf[at[0]] + kSuffixOf[at[1]] + kEndOf[at[2]]];
}

}  // namespace turnwheel::engine
