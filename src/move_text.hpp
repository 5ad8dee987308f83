// A move string as the interpreter stores it: a run of 1-, 2- or 4-byte code
// units (Latin-1, UCS-2 or UCS-4), read in place, never copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace turnwheel {

struct MoveText {
    const void* units = nullptr;
    std::size_t size = 0;  // in code units
    unsigned width = 1;    // bytes per code unit: 1, 2 or 4

    constexpr MoveText() = default;
    constexpr MoveText(const void* units_, std::size_t size_, unsigned width_)
        : units(units_), size(size_), width(width_) {}
    // Latin-1 text, one byte a character.
    constexpr MoveText(std::string_view text) : units(text.data()), size(text.size()), width(1) {}
    constexpr MoveText(std::u16string_view text) : units(text.data()), size(text.size()), width(2) {}
    constexpr MoveText(std::u32string_view text) : units(text.data()), size(text.size()), width(4) {}
};

// Calls `visit(units, size)` with the units typed by their width.
template <class Visitor>
constexpr auto visit_units(const MoveText& text, Visitor&& visit) {
    if (text.width == 4) return visit(static_cast<const std::uint32_t*>(text.units), text.size);
    if (text.width == 2) return visit(static_cast<const std::uint16_t*>(text.units), text.size);
    return visit(static_cast<const std::uint8_t*>(text.units), text.size);
}

// Separators are exactly the characters with the White_Space property.
constexpr bool is_separator(char32_t c) {
    if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

// A lone surrogate has no UTF-8 form, so a text holding one is refused.
constexpr bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace turnwheel
