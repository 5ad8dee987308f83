// The move engine's tables, derived at compile time from the turns: every
// face token is one row that maps an unpacked cube (one byte a slot) to the
// cube after the token, half turns included. A row is a byte shuffle and two
// byte additions folded by a minimum:
//
//     source = cube[shuffle[i]];  cube[i] = min(source + add[i], source + add_fold[i])
//
// Lanes 0-15 hold the corner slots (0-7 used), lanes 16-31 the edge slots
// (16-27 used); shuffle indices count within each half, as byte shuffles of
// 16-byte vectors do. A corner lane adds 8 per twist step and folds by 24
// (min(x, x - 24) subtracts 24 exactly when x >= 24); an edge lane adds 16
// and folds by 32, which is XOR with 16. add_fold is add minus fold, so the
// two sums are independent and the chain per token is three operations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "moves.hpp"

namespace turnwheel::cube3x3 {

inline constexpr unsigned kLanes = 32;
inline constexpr unsigned kEdgeLane = 16;

struct alignas(32) TokenRow {
    std::uint8_t shuffle[kLanes];
    std::uint8_t add[kLanes];
    std::uint8_t add_fold[kLanes];
};

// The cube one byte a slot, unused lanes zero.
struct alignas(32) Unpacked {
    std::uint8_t lanes[kLanes];
};

inline constexpr std::uint64_t kCornerSlotBits = (std::uint64_t{1} << (kFieldBits * kCornerSlots)) - 1;
inline constexpr std::uint64_t kEdgeSlotBits = (std::uint64_t{1} << (kFieldBits * kEdgeSlots)) - 1;

constexpr Unpacked unpack(const State& state) {
    Unpacked cube{};
    for (unsigned i = 0; i < kCornerSlots; ++i) cube.lanes[i] = std::uint8_t(field(state.corners, i));
    for (unsigned i = 0; i < kEdgeSlots; ++i) cube.lanes[kEdgeLane + i] = std::uint8_t(field(state.edges, i));
    return cube;
}

// Bits outside the slots pass through from `before`.
constexpr State pack(const Unpacked& cube, const State& before) {
    std::uint64_t corners = before.corners & ~kCornerSlotBits, edges = before.edges & ~kEdgeSlotBits;
    for (unsigned i = 0; i < kCornerSlots; ++i) corners |= std::uint64_t{cube.lanes[i]} << offset_of(i);
    for (unsigned i = 0; i < kEdgeSlots; ++i) edges |= std::uint64_t{cube.lanes[kEdgeLane + i]} << offset_of(i);
    return {corners, edges};
}

// The look-ups touch only the 20 slots (unused lanes stay zero, as the
// identity would leave them); the sums and minima run over all 32 lanes in
// a form compilers turn into vector code where the target has any.
constexpr Unpacked apply_row(const TokenRow& row, const Unpacked& cube) {
    Unpacked moved{}, next{};
    for (unsigned i = 0; i < kCornerSlots; ++i) moved.lanes[i] = cube.lanes[row.shuffle[i]];
    for (unsigned i = kEdgeLane; i < kEdgeLane + kEdgeSlots; ++i) moved.lanes[i] = cube.lanes[kEdgeLane + row.shuffle[i]];
    for (unsigned i = 0; i < kLanes; ++i) {
        const std::uint8_t a = std::uint8_t(moved.lanes[i] + row.add[i]);
        const std::uint8_t b = std::uint8_t(moved.lanes[i] + row.add_fold[i]);
        next.lanes[i] = a < b ? a : b;
    }
    return next;
}

inline constexpr TokenRow kIdentityRow = [] {
    TokenRow row{};
    for (unsigned i = 0; i < kLanes; ++i) row.shuffle[i] = std::uint8_t(i % 16);
    return row;
}();

// The row of one quarter turn, read off the turn itself: a probe with piece
// i in slot i, twist and flip 0, shows where each slot's contents go and
// what is added on the way.
template <Move M>
constexpr TokenRow quarter_row() {
    TokenRow row = kIdentityRow;
    State probe = kSolved;
    whole_turn<M>(probe);
    for (unsigned to = 0; to < kCornerSlots; ++to) {
        const auto moved = field(probe.corners, to);
        row.shuffle[to] = std::uint8_t(moved & 7);
        row.add[to] = std::uint8_t(moved & 0x18);
        row.add_fold[to] = std::uint8_t(row.add[to] - (row.add[to] ? 24 : 0));
    }
    for (unsigned to = 0; to < kEdgeSlots; ++to) {
        const auto moved = field(probe.edges, to);
        row.shuffle[kEdgeLane + to] = std::uint8_t(moved & 15);
        row.add[kEdgeLane + to] = std::uint8_t(moved & 16);
        row.add_fold[kEdgeLane + to] = std::uint8_t(row.add[kEdgeLane + to] - (row.add[kEdgeLane + to] ? 32 : 0));
    }
    return row;
}

// `first` then `second` as one row: the shuffles compose, the additions sum
// (modulo three twists, or two flips), and a lane folds if either step did.
constexpr TokenRow compose(const TokenRow& first, const TokenRow& second) {
    TokenRow row{};
    for (unsigned i = 0; i < kLanes; ++i) {
        const unsigned half = i & kEdgeLane, via = half | second.shuffle[i];
        row.shuffle[i] = first.shuffle[via];
        const unsigned fold1 = std::uint8_t(first.add[via] - first.add_fold[via]);
        const unsigned fold2 = std::uint8_t(second.add[i] - second.add_fold[i]);
        const unsigned fold = fold1 | fold2, modulus = half ? 32 : 24;
        const unsigned add = (first.add[via] + second.add[i]) % modulus;
        row.add[i] = std::uint8_t(add);
        row.add_fold[i] = std::uint8_t(add - fold);
    }
    return row;
}

// Rows by token: 3 * face + 0 clockwise, 1 counter-clockwise, 2 half turn,
// faces in the order of kFaceLetters; one more row, the identity, for every
// token that is skipped.
inline constexpr unsigned kFaces = 6;
inline constexpr char kFaceLetters[] = "UDRLFB";
inline constexpr unsigned kSkipRow = 3 * kFaces;

template <Move Clockwise, Move Counter>
constexpr void face_rows(TokenRow* rows) {
    rows[0] = quarter_row<Clockwise>();
    rows[1] = quarter_row<Counter>();
    rows[2] = compose(rows[0], rows[0]);
}

inline constexpr std::array<TokenRow, kSkipRow + 1> kTokenRows = [] {
    using enum Move;
    std::array<TokenRow, kSkipRow + 1> rows{};
    face_rows<U, UPrime>(&rows[0]);
    face_rows<D, DPrime>(&rows[3]);
    face_rows<R, RPrime>(&rows[6]);
    face_rows<L, LPrime>(&rows[9]);
    face_rows<F, FPrime>(&rows[12]);
    face_rows<B, BPrime>(&rows[15]);
    rows[kSkipRow] = kIdentityRow;
    return rows;
}();

// Two tokens as one row, the first then the second: kPairRows[first *
// kRows + second]. Applying a pair costs what one token costs, so a run of
// tokens pays the chain of three operations once for every two.
inline constexpr unsigned kRows = kSkipRow + 1;

inline constexpr std::array<TokenRow, kRows * kRows> kPairRows = [] {
    std::array<TokenRow, kRows * kRows> rows{};
    for (unsigned first = 0; first < kRows; ++first)
        for (unsigned second = 0; second < kRows; ++second)
            rows[first * kRows + second] = compose(kTokenRows[first], kTokenRows[second]);
    return rows;
}();

// The cube with each lane holding its own index untwisted. Rows applied to
// it leave, in each used lane, the source lane and the sum of the twists
// (or flips) on the way: the row of all of them together, read by row_of.
inline constexpr Unpacked kProbe = [] {
    Unpacked cube{};
    for (unsigned i = 0; i < kLanes; ++i) cube.lanes[i] = std::uint8_t(i % 16);
    return cube;
}();

struct ProbeLanes {
    // By lane: the bits naming the source lane and those of the twist or
    // flip, the fold, and what an unused lane's shuffle keeps (its own index).
    std::uint8_t source[kLanes], turn[kLanes], fold[kLanes], unused[kLanes];
};
inline constexpr ProbeLanes kProbeLanes = [] {
    ProbeLanes lanes{};
    for (unsigned i = 0; i < kLanes; ++i) {
        const bool corner = i < kCornerSlots, edge = i >= kEdgeLane && i < kEdgeLane + kEdgeSlots;
        lanes.source[i] = corner ? 7 : edge ? 15 : 0;
        lanes.turn[i] = corner ? 0x18 : edge ? 16 : 0;
        lanes.fold[i] = corner ? 24 : edge ? 32 : 0;
        lanes.unused[i] = corner || edge ? 0 : std::uint8_t(i % 16);
    }
    return lanes;
}();

// The row read off a probe that rows were applied to. It folds a lane only
// where the summed twist is not zero, unlike compose(), which folds where
// any step did; the two differ only on a corner twist of 3, which nothing
// but a word set by hand holds (compose() turns it into a real twist).
constexpr TokenRow row_of(const Unpacked& probed) {
    TokenRow row{};
    for (unsigned i = 0; i < kLanes; ++i) {
        const std::uint8_t moved = probed.lanes[i], add = std::uint8_t(moved & kProbeLanes.turn[i]);
        row.shuffle[i] = std::uint8_t((moved & kProbeLanes.source[i]) | kProbeLanes.unused[i]);
        row.add[i] = add;
        row.add_fold[i] = std::uint8_t(add - (add != 0 ? kProbeLanes.fold[i] : 0));
    }
    return row;
}

constexpr bool probe_reads_pairs() {
    for (unsigned first = 0; first < kRows; ++first)
        for (unsigned second = 0; second < kRows; ++second) {
            const TokenRow read = row_of(apply_row(kTokenRows[second], apply_row(kTokenRows[first], kProbe)));
            const TokenRow& pair = kPairRows[first * kRows + second];
            for (unsigned i = 0; i < kLanes; ++i)
                if (read.shuffle[i] != pair.shuffle[i] || read.add[i] != pair.add[i]) return false;
        }
    return true;
}
static_assert(probe_reads_pairs());

// The probe with every corner twisted 3, which no turn makes: a twist of 3
// becomes a real one at the first step that changes it, and stays 3 where
// nothing did. Rows applied to both probes read as the row of all of them
// that compose() makes: folding a corner lane wherever any step changed its
// twist, which moves every cube, twists of 3 included, as the rows do.
inline constexpr Unpacked kTwistedProbe = [] {
    Unpacked cube = kProbe;
    for (unsigned i = 0; i < kCornerSlots; ++i) cube.lanes[i] = std::uint8_t(cube.lanes[i] | 0x18);
    return cube;
}();

constexpr TokenRow row_of(const Unpacked& probed, const Unpacked& twisted) {
    TokenRow row = row_of(probed);
    for (unsigned i = 0; i < kCornerSlots; ++i)
        row.add_fold[i] = std::uint8_t(row.add[i] - ((twisted.lanes[i] & 0x18) != 0x18 ? kProbeLanes.fold[i] : 0));
    return row;
}

// The probes' reading of every pair is the composed pair, but for folds of
// edge lanes whose flips cancel, which change nothing: a flip is an
// addition modulo 32 either way.
constexpr bool probes_read_pairs() {
    for (unsigned first = 0; first < kRows; ++first)
        for (unsigned second = 0; second < kRows; ++second) {
            const auto after = [&](const Unpacked& probe) {
                return apply_row(kTokenRows[second], apply_row(kTokenRows[first], probe));
            };
            const TokenRow read = row_of(after(kProbe), after(kTwistedProbe));
            const TokenRow& pair = kPairRows[first * kRows + second];
            for (unsigned i = 0; i < kLanes; ++i) {
                const bool cancelled_flips = i >= kEdgeLane && read.add[i] == 0;
                if (read.shuffle[i] != pair.shuffle[i] || read.add[i] != pair.add[i] ||
                    (read.add_fold[i] != pair.add_fold[i] && !cancelled_flips))
                    return false;
            }
        }
    return true;
}
static_assert(probes_read_pairs());

// Any cube whose corner twists are 0 to 2 is moved by row_of()'s row as by
// the rows it was read from.
constexpr bool twists_below_three(const Unpacked& cube) {
    unsigned highest = 0;
    for (unsigned i = 0; i < kCornerSlots; ++i) highest = cube.lanes[i] > highest ? cube.lanes[i] : highest;
    return highest < 24;
}

// Move codes, the numbers by which arrays of moves name the 18 face moves:
// 3 * face + 0 for the clockwise quarter turn, 1 for the half turn and 2
// for the counter-clockwise one, faces in the order of kFaceLetters.
inline constexpr unsigned kMoveCodes = 3 * kFaces;
inline constexpr std::array<std::uint8_t, kMoveCodes> kRowOfCode = [] {
    std::array<std::uint8_t, kMoveCodes> rows{};
    for (unsigned f = 0; f < kFaces; ++f) {
        rows[3 * f] = std::uint8_t(3 * f);
        rows[3 * f + 1] = std::uint8_t(3 * f + 2);
        rows[3 * f + 2] = std::uint8_t(3 * f + 1);
    }
    return rows;
}();
// The rows in code order, for arrays of cubes turned by codes.
inline constexpr std::array<TokenRow, kMoveCodes> kCodeRows = [] {
    std::array<TokenRow, kMoveCodes> rows{};
    for (unsigned code = 0; code < kMoveCodes; ++code) rows[code] = kTokenRows[kRowOfCode[code]];
    return rows;
}();
// Each lane of a row depends on one source lane alone, so a probe family
// that puts every 5-bit value in every slot (slot i holds (i + k) mod 32 for
// k = 0..31, high bits set too) checks a row against its turns on every
// possible input.
template <Move M, unsigned Times>
constexpr bool row_matches(unsigned row) {
    for (unsigned k = 0; k < 32; ++k) {
        State state{~kCornerSlotBits, ~kEdgeSlotBits};
        for (unsigned i = 0; i < kEdgeSlots; ++i) {
            const std::uint64_t value = (i + k) % 32;
            if (i < kCornerSlots) state.corners |= value << offset_of(i);
            state.edges |= value << offset_of(i);
        }
        const State by_row = pack(apply_row(kTokenRows[row], unpack(state)), state);
        for (unsigned t = 0; t < Times; ++t) whole_turn<M>(state);
        if (by_row.corners != state.corners || by_row.edges != state.edges) return false;
    }
    return true;
}

template <Move Clockwise, Move Counter>
constexpr bool face_matches(unsigned face) {
    return row_matches<Clockwise, 1>(3 * face) && row_matches<Counter, 1>(3 * face + 1) &&
           row_matches<Clockwise, 2>(3 * face + 2);
}

static_assert(face_matches<Move::U, Move::UPrime>(0) && face_matches<Move::D, Move::DPrime>(1) &&
              face_matches<Move::R, Move::RPrime>(2) && face_matches<Move::L, Move::LPrime>(3) &&
              face_matches<Move::F, Move::FPrime>(4) && face_matches<Move::B, Move::BPrime>(5));

}  // namespace turnwheel::cube3x3
