// Fixed-capacity text built on the stack, and the result type of an operation
// that builds text but may meet an internal fault.
#pragma once

#include <cstddef>
#include <string_view>

namespace turnwheel {

template <std::size_t Capacity>
struct Text {
    char bytes[Capacity];
    std::size_t size = 0;

    constexpr std::string_view view() const { return {bytes, size}; }
};

// An index that fell outside a table of `length` rows.
struct IndexOutOfBounds {
    std::size_t length;
    std::size_t index;
};

template <std::size_t Capacity>
struct TextOrFault {
    Text<Capacity> text;
    bool failed = false;
    IndexOutOfBounds fault{};
};

}  // namespace turnwheel
