// The block loop shared by every version of the engine, generic over the
// instruction set's operations `Ops`:
//
//   Ops::Cube                         the unpacked cube in registers
//   Ops::load(Unpacked) / store       into and out of registers
//   Ops::turn(Cube, TokenRow)         one table row
//   Ops::separators(bytes)            bit k set where bytes[k] separates, k < 64
//   Ops::narrow(units, bytes)         64 wide units to bytes: ASCII as is,
//                                     U+3000 to ' '; returns the bits of the
//                                     units it left for a closer look
//   Ops::row_ids(bytes, ids)          optional, with pack8: ids[k] =
//                                     token_row(bytes + k) for k < 64
//   Ops::pack8(ids, order, out)       out[i] = ids[byte i of *order], 8 bytes
//
// Everything here lives in an unnamed namespace on purpose: each version's
// file compiles its own copy for its own instruction set, and no copy built
// for one set can stand in for another at link time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../cube3x3/token_rows.hpp"
#include "../move_text.hpp"

namespace turnwheel::engine {
namespace {

using cube3x3::kTokenRows;
using cube3x3::State;
using cube3x3::Unpacked;

constexpr std::size_t kBlock = 64;
// Classifying a token reads the two bytes after its first.
constexpr std::size_t kLookahead = 2;

template <class Unit>
std::uint8_t narrow_unit(Unit unit) {
    if (unit < 0x80) return std::uint8_t(unit);
    return is_separator(char32_t(unit)) ? cube3x3::kNarrowedSeparator : cube3x3::kNarrowedOther;
}

// Fills bytes[0, kBlock + kLookahead) from the text at `at`, narrowed to
// bytes, separators past the end. False if the block holds a lone surrogate.
// Separators and narrowing a character at a time, branch-free, for the
// versions without vector text operations.
struct PortableText {
    static std::uint64_t separators(const std::uint8_t* bytes) {
        std::uint64_t mask = 0;
        for (unsigned k = 0; k < kBlock; ++k) mask |= std::uint64_t{cube3x3::kEndOf[bytes[k]]} << k;
        return mask;
    }

    template <class Unit>
    static std::uint64_t narrow(const Unit* units, std::uint8_t* bytes) {
        std::uint64_t rare = 0;
        for (unsigned k = 0; k < kBlock; ++k) {
            const bool ascii = units[k] < 0x80, wide_space = units[k] == 0x3000;
            bytes[k] = ascii ? std::uint8_t(units[k]) : cube3x3::kNarrowedSeparator;
            rare |= std::uint64_t{!ascii && !wide_space} << k;
        }
        return rare;
    }
};

template <class Ops, class Unit>
bool fill(std::uint8_t* bytes, const Unit* units, std::size_t size, std::size_t at) {
    const std::size_t left = size - at;
    if constexpr (sizeof(Unit) == 1) {
        // Latin-1 is read as it is: its separators are separator bytes.
        const std::size_t copied = left < kBlock + kLookahead ? left : kBlock + kLookahead;
        std::memcpy(bytes, units + at, copied);
        std::memset(bytes + copied, ' ', kBlock + kLookahead - copied);
        return true;
    } else {
        const Unit* block = units + at;
        Unit padded[kBlock];
        if (left < kBlock) {
            for (std::size_t k = 0; k < kBlock; ++k) padded[k] = k < left ? block[k] : Unit(' ');
            block = padded;
        }
        // Characters beyond ASCII other than U+3000 are rare in move strings;
        // each is looked at on its own, and only in the block it is in.
        for (std::uint64_t rare = Ops::narrow(block, bytes); rare != 0; rare &= rare - 1) {
            const unsigned k = unsigned(__builtin_ctzll(rare));
            if (is_surrogate(char32_t(block[k]))) return false;
            bytes[k] = narrow_unit(block[k]);
        }
        for (std::size_t k = 0; k < kLookahead; ++k)
            bytes[kBlock + k] = k + kBlock < left ? narrow_unit(units[at + kBlock + k]) : std::uint8_t(' ');
        return true;
    }
}

// For each set of 8 positions (a byte of bits), the positions in it in
// order, as byte shuffle indices: what packs the rows at token starts.
inline constexpr auto kPackedPositions = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned bits = 0; bits < 256; ++bits) {
        unsigned n = 0;
        for (unsigned k = 0; k < 8; ++k)
            if (bits >> k & 1) table[bits] |= std::uint64_t{k} << 8 * n++;
    }
    return table;
}();

template <class Ops, class Unit>
bool scan_units(State& state, const Unit* units, std::size_t size) {
    alignas(64) std::uint8_t bytes[kBlock + 16];
    // A block's row indices, and one left over from the block before (and
    // room for packing's whole 8-byte stores past the end).
    std::uint8_t rows[kBlock + 1 + 8];
    unsigned count = 0;
    typename Ops::Cube cube = Ops::load(cube3x3::unpack(state));
    // The text's start acts as a separator before its first character.
    std::uint64_t after_separator = 1;
    for (std::size_t at = 0; at < size; at += kBlock) {
        if (!fill<Ops>(bytes, units, size, at)) return false;
        const std::uint64_t separators = Ops::separators(bytes);
        std::uint64_t starts = ~separators & (separators << 1 | after_separator);
        after_separator = separators >> 63;
        // Every token's row first, skipped tokens included (nothing here
        // branches on what a token is); then one composed row for each two,
        // a chain of turns half as long.
        if constexpr (requires(std::uint8_t* out) { Ops::row_ids(bytes, out); }) {
            // The row of every position at once, in vectors; then the rows
            // at the token starts packed together, eight positions a step.
            alignas(64) std::uint8_t ids[kBlock + 8];  // packing reads 16 bytes from each 8th
            Ops::row_ids(bytes, ids);
            for (unsigned k = 0; k < kBlock; k += 8, starts >>= 8) {
                const unsigned group = unsigned(starts & 0xFF);
                Ops::pack8(ids + k, &kPackedPositions[group], rows + count);
                count += unsigned(__builtin_popcount(group));
            }
        } else {
            for (; starts != 0; starts &= starts - 1)
                rows[count++] = std::uint8_t(cube3x3::token_row(bytes + __builtin_ctzll(starts)));
        }
        unsigned k = 0;
        for (; k + 1 < count; k += 2) cube = Ops::turn(cube, cube3x3::kPairRows[rows[k] * cube3x3::kRows + rows[k + 1]]);
        rows[0] = rows[k];
        count -= k;
    }
    if (count != 0) cube = Ops::turn(cube, kTokenRows[rows[0]]);
    Unpacked out;
    Ops::store(cube, out);
    state = cube3x3::pack(out, state);
    return true;
}

template <class Ops>
bool scan(State& state, const MoveText& text) {
    return visit_units(text, [&](const auto* units, std::size_t size) { return scan_units<Ops>(state, units, size); });
}

}  // namespace
}  // namespace turnwheel::engine
