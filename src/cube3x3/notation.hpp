// Move strings: tokens separated by Unicode white space, each a face letter
// alone or followed by "'", "!" or "2"; every other token is skipped.
//
// This is the straightforward reading: one pass over the code units, each
// token dispatched to its turn on the packed words. It serves short strings,
// whose cost is the call itself, and is the reference the move engine is
// checked against.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../engine/engine.hpp"
#include "../move_text.hpp"
#include "moves.hpp"

namespace turnwheel::cube3x3 {

// A token of one or two characters as one number; the length is folded in,
// and a character beyond ASCII stands for all of them, since no token holds
// one. Longer tokens map to 0.
template <class Unit>
constexpr std::uint32_t token_key(const Unit* token, std::size_t length) {
    const auto ascii = [](Unit unit) { return std::uint32_t(unit < 0x80 ? unit : 0x80); };
    if (length == 1) return ascii(token[0]);
    if (length == 2) return 0x10000u | ascii(token[0]) | ascii(token[1]) << 8;
    return 0;
}

template <std::size_t N>
constexpr std::uint32_t key(const char (&token)[N]) {
    return token_key(token, N - 1);
}

// Turns is a class with `template <Move> static void apply(State&)`.
template <class Turns, class State, class Unit>
constexpr void apply_token(State& state, const Unit* token, std::size_t length) {
    using enum Move;
    switch (token_key(token, length)) {
        // clang-format off
        case key("U"): Turns::template apply<U>(state); break;
        case key("U'"): case key("U!"): Turns::template apply<UPrime>(state); break;
        case key("U2"): Turns::template apply<U>(state); Turns::template apply<U>(state); break;
        case key("D"): Turns::template apply<D>(state); break;
        case key("D'"): case key("D!"): Turns::template apply<DPrime>(state); break;
        case key("D2"): Turns::template apply<D>(state); Turns::template apply<D>(state); break;
        case key("R"): Turns::template apply<R>(state); break;
        case key("R'"): case key("R!"): Turns::template apply<RPrime>(state); break;
        case key("R2"): Turns::template apply<R>(state); Turns::template apply<R>(state); break;
        case key("L"): Turns::template apply<L>(state); break;
        case key("L'"): case key("L!"): Turns::template apply<LPrime>(state); break;
        case key("L2"): Turns::template apply<L>(state); Turns::template apply<L>(state); break;
        case key("F"): Turns::template apply<F>(state); break;
        case key("F'"): case key("F!"): Turns::template apply<FPrime>(state); break;
        case key("F2"): Turns::template apply<F>(state); Turns::template apply<F>(state); break;
        case key("B"): Turns::template apply<B>(state); break;
        case key("B'"): case key("B!"): Turns::template apply<BPrime>(state); break;
        case key("B2"): Turns::template apply<B>(state); Turns::template apply<B>(state); break;
        // clang-format on
        default: break;
    }
}

// Calls visit(token, length) for every token, left to right. Returns false
// where the text holds a lone surrogate, having visited the tokens before it.
template <class Unit, class Visit>
constexpr bool for_each_token(const Unit* units, std::size_t size, Visit&& visit) {
    // Characters are tested one at a time; none is a separator unless
    // is_separator says so, and only wide text can hold a surrogate.
    const auto refused = [](Unit unit) {
        if constexpr (sizeof(Unit) > 1) return is_surrogate(char32_t(unit));
        return false;
    };
    std::size_t at = 0;
    while (at < size) {
        if (refused(units[at])) return false;
        if (is_separator(char32_t(units[at]))) {
            ++at;
            continue;
        }
        const std::size_t start = at;
        while (++at < size && !is_separator(char32_t(units[at])))
            if (refused(units[at])) return false;
        visit(units + start, at - start);
    }
    return true;
}

// Applies every recognised token, left to right. Returns false, with
// `target` unchanged, if the text holds a lone surrogate.
template <class Turns, class State, class Unit>
constexpr bool apply_units(State& target, const Unit* units, std::size_t size) {
    // Turning a local copy keeps the state in registers during the scan, and
    // leaves the target untouched if the text is refused.
    State state = target;
    if (!for_each_token(units, size, [&](const Unit* token, std::size_t length) { apply_token<Turns>(state, token, length); }))
        return false;
    target = state;
    return true;
}

// The move code of a token (face * 3 + 0 clockwise, 1 half turn, 2
// counter-clockwise), or 18 for a token that is skipped.
inline constexpr unsigned kSkippedToken = 18;

template <class Unit>
constexpr unsigned token_code(const Unit* token, std::size_t length) {
    if (length == 0 || length > 2) return kSkippedToken;
    unsigned face = 0;
    while (face < 6 && token[0] != Unit("UDRLFB"[face])) ++face;
    if (face == 6) return kSkippedToken;
    if (length == 1) return 3 * face;
    if (token[1] == Unit('2')) return 3 * face + 1;
    if (token[1] == Unit('\'') || token[1] == Unit('!')) return 3 * face + 2;
    return kSkippedToken;
}

template <class Turns, class State>
constexpr bool apply_moves(State& state, const MoveText& text) {
    return visit_units(text, [&](const auto* units, std::size_t size) { return apply_units<Turns>(state, units, size); });
}

struct WholeTurns {
    template <Move M>
    static constexpr void apply(State& state) {
        whole_turn<M>(state);
    }
};

// The packed, token-by-token reading of a whole move string.
constexpr bool reference_moves(State& state, const MoveText& text) { return apply_moves<WholeTurns>(state, text); }

// Below this many characters a string costs what the call costs, and the
// engine's unpacking and packing of the cube would be most of it.
inline constexpr std::size_t kShortText = 16;

// Applies a move string; false, with the cube unchanged, if the text holds a
// lone surrogate.
inline bool do_moves(State& state, const MoveText& text) {
    return text.size < kShortText ? reference_moves(state, text) : engine::apply(state, text);
}

}  // namespace turnwheel::cube3x3
