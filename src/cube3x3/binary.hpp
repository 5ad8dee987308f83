// The corner word as 64 binary digits, most significant bit first.
#pragma once

#include <cstdint>

#include "../text.hpp"

namespace turnwheel::cube3x3 {

constexpr Text<64> binary_digits(std::uint64_t word) {
    Text<64> text;
    for (unsigned i = 0; i < 64; ++i) text.bytes[i] = char('0' + ((word >> (63 - i)) & 1));
    text.size = 64;
    return text;
}

// The corner word of either cube.
template <class AnyState>
constexpr Text<64> to_binary(const AnyState& state) {
    return binary_digits(state.corners);
}

}  // namespace turnwheel::cube3x3
