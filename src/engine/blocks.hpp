// What every version of the engine shares: the sizes of the block loop and
// of its buffers, the classes of a block, the token starts made of them, and
// the contract of the operations a version provides.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>

#include "../cube3x3/token_rows.hpp"

namespace turnwheel::engine {

using cube3x3::TokenRow;
using cube3x3::Unpacked;

// Text is tokenised 64 characters at a time, a bit of a 64-bit mask each.
inline constexpr std::size_t kBlock = 64;
// Classifying a block reads the two bytes after it: whether the last token
// is followed by a separator, or by a suffix and then a separator.
inline constexpr std::size_t kLookahead = 2;

// Wide text is narrowed this many characters at a time, ahead of the blocks
// that read them: a block read back straight after its own narrowing waits
// for the stores to land.
inline constexpr std::size_t kChunk = 8 * kBlock;

// Rows are gathered for this many tokens (and at most a block's more) and
// then applied in one loop; measured, a block at a time is no faster.
inline constexpr unsigned kRun = 512;
// A token takes two bytes at least, its letter and a separator.
inline constexpr unsigned kMostTokensInBlock = kBlock / 2;
inline constexpr unsigned kMostRows = kRun + kMostTokensInBlock;
inline constexpr unsigned kMostPairs = kMostRows / 2;

// How far past their last entry the buffers of rows and pair offsets may be
// touched by whole-vector steps: packing stores 8 rows at a time, and a
// vector version's pair offsets read 2 rows and write 1 offset a pair, a
// vector at a time. Each version's steps check themselves against these.
inline constexpr std::size_t kRowsSlack = 32;
inline constexpr std::size_t kOffsetsSlack = 16;
// Pair offsets are bytes into kPairRows, which a 16-bit offset must reach.
static_assert(cube3x3::kPairRows.size() * sizeof(TokenRow) <= 0x10000);

// What a block's tokens are made of, bit k for the token that could start
// at byte k: whether byte k is a face letter, whether byte k + 1 separates,
// whether byte k + 1 is a suffix (a prime mark or 2).
struct Classes {
    std::uint64_t faces, ends, suffixes;
};

// Token starts from the classes of a block's bytes: a face letter after a
// separator (bits 0 and 1 of `follows` say whether bytes -1 and 0 are
// separators), followed by a separator, or by a suffix and a separator.
constexpr std::uint64_t token_starts(const Classes& classes, std::uint64_t follows, bool separator_at_65) {
    const std::uint64_t after_separator = classes.ends << 2 | follows;
    const std::uint64_t suffix_then_end = classes.suffixes & (classes.ends >> 1 | std::uint64_t{separator_at_65} << 63);
    return classes.faces & after_separator & (classes.ends | suffix_then_end);
}

// ---- What a version provides ---------------------------------------------------

// The cube in registers: Ops::Cube, loaded from and stored to the unpacked
// cube (one byte a slot), and turned by one row.
template <class Ops>
concept CubeOps = requires(const Unpacked& unpacked, Unpacked& out, const typename Ops::Cube& cube,
                           const TokenRow& row) {
    { Ops::load(unpacked) } -> std::same_as<typename Ops::Cube>;
    { Ops::store(cube, out) } -> std::same_as<void>;
    { Ops::turn(cube, row) } -> std::same_as<typename Ops::Cube>;
};

// The text of a block:
//   narrow(units, bytes)   64 wide units to bytes: ASCII as it is, U+3000 to
//                          ' '; returns the bits of the units it left for a
//                          closer look. Writes bytes[0, kBlock).
//   classify(bytes)        a block: its .classes, from bytes[0, kBlock +
//                          kLookahead), and what pack needs.
//   pack(block, starts, rows)
//                          the rows of the tokens starting at the bits of
//                          `starts`, in order; their count. May write up to
//                          kRowsSlack bytes past the last.
template <class Ops>
concept TextOps = requires(const std::uint16_t* ucs2, const std::uint32_t* ucs4, const std::uint8_t* bytes,
                           std::uint8_t* out, std::uint64_t starts) {
    { Ops::narrow(ucs2, out) } -> std::same_as<std::uint64_t>;
    { Ops::narrow(ucs4, out) } -> std::same_as<std::uint64_t>;
    { Ops::classify(bytes).classes } -> std::convertible_to<Classes>;
    { Ops::pack(Ops::classify(bytes), starts, out) } -> std::same_as<unsigned>;
};

// Optional: each pair's byte offset into kPairRows, from rows[0, 2 * pairs);
// may read kRowsSlack bytes past the last pair's rows and write kOffsetsSlack
// offsets past the last.
template <class Ops>
concept PairOffsetOps = requires(const std::uint8_t* rows, unsigned pairs, std::uint16_t* offsets) {
    { Ops::pair_offsets(rows, pairs, offsets) } -> std::same_as<void>;
};

template <class Ops>
concept EngineOps = CubeOps<Ops> && TextOps<Ops>;

// Packed states in and out, for many cubes at once: a state of Words = 2 is
// a 3x3's corner and edge words, of Words = 1 a 2x2's corner word.
//   load_words<Words>(state)               its cube, unused lanes zero
//   store_words<Words>(cube, before, out)  the cube's words into out, with
//                                          the bits of `before` outside the
//                                          slots; out may be before
template <class Ops>
concept WordOps = CubeOps<Ops> && requires(const std::uint64_t* in, std::uint64_t* out, const typename Ops::Cube& cube) {
    { Ops::template load_words<2>(in) } -> std::same_as<typename Ops::Cube>;
    { Ops::template load_words<1>(in) } -> std::same_as<typename Ops::Cube>;
    { Ops::template store_words<2>(cube, in, out) } -> std::same_as<void>;
    { Ops::template store_words<1>(cube, in, out) } -> std::same_as<void>;
};

}  // namespace turnwheel::engine
