// The block loop shared by every version of the engine, generic over the
// instruction set's operations `Ops` (the concepts of blocks.hpp). Each
// version's file compiles it for its own instruction set, in its own
// namespace (target.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../cube3x3/token_rows.hpp"
#include "../move_text.hpp"
#include "blocks.hpp"
#include "target.hpp"
#include "token_bytes.hpp"

TURNWHEEL_ISA_BEGIN
namespace {

using cube3x3::kTokenRows;
using cube3x3::State;

template <class Unit>
std::uint8_t narrow_unit(Unit unit) {
    if (unit < 0x80) return std::uint8_t(unit);
    return is_separator(char32_t(unit)) ? kNarrowedSeparator : kNarrowedOther;
}

// Classes and narrowing a character at a time, for the versions without
// vector text operations.
struct PortableText {
    struct Block {
        Classes classes;
        const std::uint8_t* bytes;
    };

    // Only separators are found here, a look-up a byte: every byte that is
    // not one stands in for a face letter, and every byte for a suffix;
    // pack reads each candidate's row whole. Fewer look-ups than classifying
    // every byte, and still at most one candidate in two bytes.
    static Block classify(const std::uint8_t* bytes) {
        std::uint64_t ends = 0;
        for (unsigned k = 0; k < kBlock; ++k) ends |= std::uint64_t{kEndOf[bytes[k + 1]]} << k;
        const std::uint64_t separators = ends << 1 | kEndOf[bytes[0]];
        return {{~separators, ends, ~std::uint64_t{0}}, bytes};
    }

    // The rows of the tokens at `starts`, in order, into out; their count.
    static unsigned pack(const Block& block, std::uint64_t starts, std::uint8_t* out) {
        unsigned count = 0;
        // A skipped token keeps its row, the identity: counting only the
        // others would make each store wait for the row before it.
        for (; starts != 0; starts &= starts - 1)
            out[count++] = std::uint8_t(token_row(block.bytes + __builtin_ctzll(starts)));
        return count;
    }

    template <class Unit>
    static std::uint64_t narrow(const Unit* units, std::uint8_t* bytes) {
        std::uint64_t rare = 0;
        for (unsigned k = 0; k < kBlock; ++k) {
            const bool ascii = units[k] < 0x80, wide_space = units[k] == 0x3000;
            bytes[k] = ascii ? std::uint8_t(units[k]) : kNarrowedSeparator;
            rare |= std::uint64_t{!ascii && !wide_space} << k;
        }
        return rare;
    }
};

// Narrows the block of wide text at `at` into bytes[0, kBlock), separators
// past the end. False if it holds a lone surrogate.
template <class Ops, class Unit>
bool narrow_block(std::uint8_t* bytes, const Unit* units, std::size_t size, std::size_t at) {
    const Unit* block = units + at;
    Unit padded[kBlock];
    if (size - at < kBlock) {
        for (std::size_t k = 0; k < kBlock; ++k) padded[k] = at + k < size ? block[k] : Unit(' ');
        block = padded;
    }
    // Characters beyond ASCII other than U+3000 are rare in move strings;
    // each is looked at on its own, and only in the block it is in.
    for (std::uint64_t rare = Ops::narrow(block, bytes); rare != 0; rare &= rare - 1) {
        const unsigned k = unsigned(__builtin_ctzll(rare));
        if (is_surrogate(char32_t(block[k]))) return false;
        bytes[k] = narrow_unit(block[k]);
    }
    return true;
}

// The block's bytes[0, kBlock + kLookahead), separators past the end: for
// Latin-1 the text itself where it is long enough, else a copy in `buffer`;
// for wider text its place in `buffer`, which holds the chunk of kChunk
// characters (and the look-ahead) narrowed to bytes. Null if the chunk holds
// a lone surrogate.
template <class Ops, class Unit>
const std::uint8_t* fill(std::uint8_t* buffer, const Unit* units, std::size_t size, std::size_t at) {
    const std::size_t left = size - at;
    if constexpr (sizeof(Unit) == 1) {
        // Latin-1 is read as it is: its separators are separator bytes.
        if (left >= kBlock + kLookahead) return reinterpret_cast<const std::uint8_t*>(units + at);
        std::memcpy(buffer, units + at, left);
        std::memset(buffer + left, ' ', kBlock + kLookahead - left);
        return buffer;
    } else {
        const std::size_t offset = at % kChunk;
        if (offset == 0) {
            std::size_t k = 0;
            for (; k < kChunk && at + k < size; k += kBlock)
                if (!narrow_block<Ops>(buffer + k, units, size, at + k)) return nullptr;
            if (k < kChunk) {
                // The text ends inside the chunk: the last block's look-ahead.
                std::memset(buffer + k, ' ', kLookahead);
            } else {
                for (std::size_t j = 0; j < kLookahead; ++j)
                    buffer[kChunk + j] = at + kChunk + j < size ? narrow_unit(units[at + kChunk + j]) : std::uint8_t(' ');
            }
        }
        return buffer + offset;
    }
}

// Each pair's place in kPairRows, in bytes, from rows[0, 2 * pairs): in
// vectors where the version has a way (PairOffsetOps), else a pair at a time.
template <class Ops>
void pair_offsets(const std::uint8_t* rows, unsigned pairs, std::uint16_t* offsets) {
    if constexpr (PairOffsetOps<Ops>) {
        Ops::pair_offsets(rows, pairs, offsets);
    } else {
        for (unsigned k = 0; k < pairs; ++k)
            offsets[k] = std::uint16_t((rows[2 * k] * cube3x3::kRows + rows[2 * k + 1]) * sizeof(TokenRow));
    }
}

inline const TokenRow& pair_row(std::uint16_t offset) {
    return *reinterpret_cast<const TokenRow*>(reinterpret_cast<const char*>(cube3x3::kPairRows.data()) + offset);
}

// Applies rows[0, count) two at a time through composed rows; an odd last
// row is moved to the front, and the count of rows left (0 or 1) returned.
// Each pair waits for the one before it, so the pairs run as two chains
// that the processor overlaps: the first half on the cube, the second on
// the probe, whose row then moves the cube once. A cube with a corner
// twist of 3 takes them all in one chain (see row_of).
template <class Ops>
unsigned apply_rows(typename Ops::Cube& cube, std::uint8_t* rows, unsigned count) {
    const unsigned pairs = count / 2;
    alignas(32) std::uint16_t offsets[kMostPairs + kOffsetsSlack];
    pair_offsets<Ops>(rows, pairs, offsets);
    // A local, not the reference: vector types may alias anything, so each
    // store through the reference would be made to memory.
    typename Ops::Cube first = cube;
    Unpacked before;
    Ops::store(first, before);
    if (cube3x3::twists_below_three(before)) {
        const unsigned half = pairs / 2;
        typename Ops::Cube second = Ops::load(cube3x3::kProbe);
        for (unsigned k = 0; k < half; ++k) {
            first = Ops::turn(first, pair_row(offsets[k]));
            second = Ops::turn(second, pair_row(offsets[half + k]));
        }
        if (pairs % 2 != 0) second = Ops::turn(second, pair_row(offsets[pairs - 1]));
        Unpacked probed;
        Ops::store(second, probed);
        const TokenRow row = cube3x3::row_of(probed);
        first = Ops::turn(first, row);
    } else {
        for (unsigned k = 0; k < pairs; ++k) first = Ops::turn(first, pair_row(offsets[k]));
    }
    cube = first;
    rows[0] = rows[2 * pairs];
    return count - 2 * pairs;
}

template <class Ops, class Unit>
bool scan_units(State& state, const Unit* units, std::size_t size) {
    // A chunk of narrowed text, and the look-ahead of its last block.
    alignas(64) std::uint8_t buffer[kChunk + kLookahead];
    // The rows gathered, fewer than kRun before a block adds its tokens.
    std::uint8_t rows[kMostRows + kRowsSlack];
    unsigned count = 0;
    typename Ops::Cube cube = Ops::load(cube3x3::unpack(state));
    std::uint64_t follows = 0;
    for (std::size_t at = 0; at < size; at += kBlock) {
        const std::uint8_t* bytes = fill<Ops>(buffer, units, size, at);
        if (bytes == nullptr) return false;
        // The text's start acts as a separator before its first character.
        if (at == 0) follows = 1 | std::uint64_t{is_separator_byte(bytes[0])} << 1;
        const auto block = Ops::classify(bytes);
        // A look-up, not a test: whether byte 65 separates is a coin toss
        // in a scramble, and a branch on it was mispredicted that often.
        const std::uint64_t starts = token_starts(block.classes, follows, kEndOf[bytes[kBlock + 1]] != 0);
        follows = block.classes.ends >> 62;
        count += Ops::pack(block, starts, rows + count);
        if (count >= kRun) count = apply_rows<Ops>(cube, rows, count);
    }
    if (apply_rows<Ops>(cube, rows, count) != 0) cube = Ops::turn(cube, kTokenRows[rows[0]]);
    Unpacked out;
    Ops::store(cube, out);
    state = cube3x3::pack(out, state);
    return true;
}

template <EngineOps Ops>
bool scan(State& state, const MoveText& text) {
    return visit_units(text, [&](const auto* units, std::size_t size) { return scan_units<Ops>(state, units, size); });
}

}  // namespace
TURNWHEEL_ISA_END
