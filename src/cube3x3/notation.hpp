// Move strings: tokens separated by Unicode white space, each a face letter
// alone or followed by "'", "!" or "2". One pass over the UTF-8 bytes, with
// tokens as views into them; unknown tokens are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "moves.hpp"

namespace turnwheel::cube3x3 {

constexpr bool is_ascii_separator(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

// Length in bytes of the separator that starts at text[at], or 0 if the
// character there is not one. Separators are exactly the characters with the
// White_Space property: besides ASCII tab to carriage return and space, U+0085,
// U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
// Lead bytes never occur inside a character, so stepping through a token one
// byte at a time cannot mistake its middle for a separator.
constexpr std::size_t separator_length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return is_ascii_separator(lead) ? 1 : 0;
    const std::size_t left = text.size() - at;
    switch (lead) {
        case 0xC2:
            return left >= 2 && (byte(1) == 0x85 || byte(1) == 0xA0) ? 2 : 0;
        case 0xE1:
            return left >= 3 && byte(1) == 0x9A && byte(2) == 0x80 ? 3 : 0;
        case 0xE2: {
            if (left < 3) return 0;
            const unsigned char last = byte(2);
            if (byte(1) == 0x80)
                return (last >= 0x80 && last <= 0x8A) || last == 0xA8 || last == 0xA9 || last == 0xAF ? 3 : 0;
            return byte(1) == 0x81 && last == 0x9F ? 3 : 0;
        }
        case 0xE3:
            return left >= 3 && byte(1) == 0x80 && byte(2) == 0x80 ? 3 : 0;
        default:
            return 0;
    }
}

// A token of one or two bytes as one number; the length is folded in so that
// "U" and "U" followed by a NUL byte differ. Longer tokens map to 0.
constexpr std::uint32_t token_key(std::string_view token) {
    if (token.size() == 1) return static_cast<unsigned char>(token[0]);
    if (token.size() == 2)
        return 0x10000u | static_cast<unsigned char>(token[0]) | static_cast<unsigned char>(token[1]) << 8;
    return 0;
}

template <std::size_t N>
constexpr std::uint32_t key(const char (&token)[N]) {
    return token_key(std::string_view(token, N - 1));
}

// Turns is a class with `template <Move> static void apply(State&)`.
template <class Turns, class State>
constexpr void apply_token(State& state, std::string_view token) {
    using enum Move;
    switch (token_key(token)) {
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

// Applies every recognised token of `moves`, left to right, in place.
template <class Turns, class State>
constexpr void apply_moves(State& target, std::string_view moves) {
    // Bytes of the text may alias anything, the state included, so turning a
    // local copy is what lets the state live in registers during the scan.
    State state = target;
    const std::size_t size = moves.size();
    std::size_t at = 0;
    while (at < size) {
        if (const std::size_t skip = separator_length(moves, at)) {
            at += skip;
            continue;
        }
        const std::size_t start = at;
        do ++at;
        while (at < size && separator_length(moves, at) == 0);
        apply_token<Turns>(state, moves.substr(start, at - start));
    }
    target = state;
}

struct WholeTurns {
    template <Move M>
    static constexpr void apply(State& state) {
        whole_turn<M>(state);
    }
};

constexpr void do_moves(State& state, std::string_view moves) { apply_moves<WholeTurns>(state, moves); }

}  // namespace turnwheel::cube3x3
