// The coloured net of the 3x3x3 cube: colour letters, their ANSI sequences,
// the sticker rule that reads a facelet's colour from the packed words, and
// the nine-line net.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "../text.hpp"
#include "state.hpp"

namespace turnwheel::cube3x3 {

// The Select Graphic Rendition sequence that shows a colour letter, or an
// empty view for a character that is not one.
constexpr std::string_view colour_sequence(char32_t letter) {
    switch (letter) {
        case U'W': return "\x1b[37;1m";
        case U'Y': return "\x1b[33;1m";
        case U'G': return "\x1b[32;1m";
        case U'B': return "\x1b[34;1m";
        case U'O': return "\x1b[38;5;208m";
        case U'R': return "\x1b[31;1m";
        default: return {};
    }
}

inline constexpr std::string_view kReset = "\x1b[0m";

// The text of one facelet; the longest (orange) is 16 bytes.
struct StickerText {
    char bytes[16]{};
    std::uint8_t size = 0;

    constexpr void put(char c) { bytes[size++] = c; }
    constexpr std::string_view view() const { return {bytes, size}; }
};

// A colour letter wrapped in its sequence and the reset; any other character
// alone, as UTF-8.
constexpr StickerText ansi_color(char32_t c) {
    StickerText text;
    const std::string_view sequence = colour_sequence(c);
    if (!sequence.empty()) {
        for (char b : sequence) text.put(b);
        text.put(char(c));
        for (char b : kReset) text.put(b);
    } else if (c < 0x80) {
        text.put(char(c));
    } else if (c < 0x800) {
        text.put(char(0xC0 | (c >> 6)));
        text.put(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        text.put(char(0xE0 | (c >> 12)));
        text.put(char(0x80 | ((c >> 6) & 0x3F)));
        text.put(char(0x80 | (c & 0x3F)));
    } else {
        text.put(char(0xF0 | (c >> 18)));
        text.put(char(0x80 | ((c >> 12) & 0x3F)));
        text.put(char(0x80 | ((c >> 6) & 0x3F)));
        text.put(char(0x80 | (c & 0x3F)));
    }
    return text;
}

// Colours of each piece's stickers in sticker-index order; row i matches the
// faces of slot i, so a piece at home shows every face in its own colour.
inline constexpr char32_t CORNER_COLORS[8][3] = {
    {U'W', U'B', U'O'}, {U'W', U'R', U'B'}, {U'W', U'G', U'R'}, {U'W', U'O', U'G'},
    {U'Y', U'O', U'B'}, {U'Y', U'B', U'R'}, {U'Y', U'R', U'G'}, {U'Y', U'G', U'O'},
};

inline constexpr char32_t EDGE_COLORS[12][2] = {
    {U'W', U'B'}, {U'W', U'R'}, {U'W', U'G'}, {U'W', U'O'}, {U'Y', U'B'}, {U'Y', U'R'},
    {U'Y', U'G'}, {U'Y', U'O'}, {U'B', U'O'}, {U'B', U'R'}, {U'G', U'R'}, {U'G', U'O'},
};

// A twist field of 3 shows like 0.
constexpr char32_t get_corner_sticker(std::uint64_t corners, unsigned slot, unsigned index) {
    const std::uint64_t value = field(corners, slot);
    return CORNER_COLORS[value & 7][((value >> 3) + index) % 3];
}

// No colour for a piece id of 12 to 15: such an id has no row.
constexpr std::optional<char32_t> get_edge_sticker(std::uint64_t edges, unsigned slot, unsigned index) {
    const std::uint64_t value = field(edges, slot);
    const std::uint64_t piece = value & 15;
    if (piece >= 12) return std::nullopt;
    return EDGE_COLORS[piece][(value >> 4) ^ (index & 1)];
}

// ---- Fast rendering ----------------------------------------------------------
// The net is drawn from compile-time tables derived from the ones above: the
// six sticker texts, and the colour of every sticker index for every value a
// 5-bit slot field can hold. Each facelet then costs two table reads and two
// fixed-size copies.

inline constexpr char32_t kColourLetters[6] = {U'W', U'Y', U'G', U'B', U'O', U'R'};

constexpr std::uint8_t colour_number(char32_t letter) {
    std::uint8_t n = 0;
    while (kColourLetters[n] != letter) ++n;
    return n;
}

inline constexpr StickerText kStickerTexts[6] = {ansi_color(U'W'), ansi_color(U'Y'), ansi_color(U'G'),
                                                 ansi_color(U'B'), ansi_color(U'O'), ansi_color(U'R')};

// Colour number of each sticker index of a corner slot, by the slot's field.
struct CornerColours {
    std::uint8_t by_field[32][3];
    constexpr CornerColours() : by_field{} {
        for (std::uint64_t v = 0; v < 32; ++v)
            for (unsigned k = 0; k < 3; ++k) by_field[v][k] = colour_number(get_corner_sticker(v, 0, k));
    }
};
inline constexpr CornerColours kCornerColours;

// The same for edges; rows for piece ids 12 to 15 are never read.
struct EdgeColours {
    std::uint8_t by_field[32][2];
    constexpr EdgeColours() : by_field{} {
        for (std::uint64_t v = 0; v < 32; ++v)
            for (unsigned k = 0; k < 2; ++k) by_field[v][k] = colour_number(get_edge_sticker(v, 0, k).value_or(U'W'));
    }
};
inline constexpr EdgeColours kEdgeColours;

// Copies `N` bytes whatever `size` is; the destination has room to spare.
template <std::size_t N>
constexpr char* put(char* out, const char* bytes, std::size_t size) {
    if (std::is_constant_evaluated()) {
        for (std::size_t i = 0; i < size; ++i) out[i] = bytes[i];
    } else {
        __builtin_memcpy(out, bytes, N);
    }
    return out + size;
}

constexpr char* put_sticker(char* out, std::uint8_t colour) {
    const StickerText& text = kStickerTexts[colour];
    return put<sizeof text.bytes>(out, text.bytes, text.size);
}

// What follows a facelet in the net: a space, the gap between faces, or the
// end of a line with the indent of the next.
struct Gap {
    char bytes[8]{};
    std::uint8_t size = 0;
    constexpr Gap() = default;
    constexpr Gap(std::string_view text) {
        for (char c : text) bytes[size++] = c;
    }
};

// Where a facelet takes its colour from, and the gap after it.
struct Facelet {
    enum class Kind : std::uint8_t { Corner, Edge, Centre };
    Kind kind;
    std::uint8_t slot;
    std::uint8_t index;
    std::uint8_t colour;  // for a centre
    Gap gap;
};

constexpr Facelet C(unsigned slot, unsigned index) {
    return {Facelet::Kind::Corner, std::uint8_t(slot), std::uint8_t(index), 0, {}};
}
constexpr Facelet E(unsigned slot, unsigned index) {
    return {Facelet::Kind::Edge, std::uint8_t(slot), std::uint8_t(index), 0, {}};
}
constexpr Facelet centre(char32_t colour) { return {Facelet::Kind::Centre, 0, 0, colour_number(colour), {}}; }

template <unsigned Size>
using Face = std::array<std::array<Facelet, Size>, Size>;

// The facelets of a net in print order with their gaps: U on top and D at
// the bottom, indented to stand over F, and L, F, R, B side by side. The
// indent of the first line is not part of it.
template <unsigned Size, unsigned FaceGap>
constexpr auto print_order(const Face<Size>& u, const Face<Size>& l, const Face<Size>& f, const Face<Size>& r,
                           const Face<Size>& b, const Face<Size>& d) {
    const std::string_view spaces = "        ";
    const Gap space(" "), between_faces(spaces.substr(0, FaceGap)), line_end("\n");
    Gap indented_line_end;
    indented_line_end.bytes[indented_line_end.size++] = '\n';
    for (unsigned i = 0; i < 2 * Size - 1 + FaceGap; ++i) indented_line_end.bytes[indented_line_end.size++] = ' ';

    std::array<Facelet, 6 * Size * Size> order{};
    std::size_t n = 0;
    const auto add = [&](const Facelet& facelet, const Gap& gap) {
        order[n] = facelet;
        order[n++].gap = gap;
    };
    // The line that follows row `row` of U or D is indented unless it is in
    // the middle band or there is none.
    const auto outer = [&](const Face<Size>& face) {
        for (unsigned row = 0; row < Size; ++row)
            for (unsigned col = 0; col < Size; ++col)
                add(face[row][col], col + 1 < Size ? space : row + 1 < Size ? indented_line_end : line_end);
    };
    outer(u);
    const Face<Size>* band[4] = {&l, &f, &r, &b};
    for (unsigned row = 0; row < Size; ++row)
        for (unsigned i = 0; i < 4; ++i)
            for (unsigned col = 0; col < Size; ++col)
                add((*band[i])[row][col], col + 1 < Size     ? space
                                          : i + 1 < 4        ? between_faces
                                          : row + 1 < Size   ? line_end
                                                             : indented_line_end);
    outer(d);
    return order;
}

// Rows top to bottom and facelets left to right as printed.
inline constexpr Face<3> kFaceU = {{{C(0, 0), E(0, 0), C(1, 0)}, {E(3, 0), centre(U'W'), E(1, 0)}, {C(3, 0), E(2, 0), C(2, 0)}}};
inline constexpr Face<3> kFaceL = {{{C(0, 2), E(3, 1), C(3, 1)}, {E(8, 1), centre(U'O'), E(11, 1)}, {C(4, 1), E(7, 1), C(7, 2)}}};
inline constexpr Face<3> kFaceF = {{{C(3, 2), E(2, 1), C(2, 1)}, {E(11, 0), centre(U'G'), E(10, 0)}, {C(7, 1), E(6, 1), C(6, 2)}}};
inline constexpr Face<3> kFaceR = {{{C(2, 2), E(1, 1), C(1, 1)}, {E(10, 1), centre(U'R'), E(9, 1)}, {C(6, 1), E(5, 1), C(5, 2)}}};
inline constexpr Face<3> kFaceB = {{{C(1, 2), E(0, 1), C(0, 1)}, {E(9, 0), centre(U'B'), E(8, 0)}, {C(5, 1), E(4, 1), C(4, 2)}}};
inline constexpr Face<3> kFaceD = {{{C(7, 0), E(6, 0), C(6, 0)}, {E(7, 0), centre(U'Y'), E(5, 0)}, {C(4, 0), E(4, 0), C(5, 0)}}};

inline constexpr auto kNet = print_order<3, 2>(kFaceU, kFaceL, kFaceF, kFaceR, kFaceB, kFaceD);
inline constexpr Gap kIndent("       ");

// The first edge slot holding a piece id of 12 to 15, if any.
constexpr std::optional<unsigned> first_bad_edge(std::uint64_t edges) {
    for (unsigned slot = 0; slot < kEdgeSlots; ++slot)
        if ((field(edges, slot) & 15) >= 12) return slot;
    return std::nullopt;
}

// Nine lines of twelve facelets at most, with room for the fixed-size copies.
inline constexpr std::size_t kNetCapacity = 1024;

template <std::size_t N>
constexpr char* draw(char* out, const std::array<Facelet, N>& net, std::uint64_t corners, std::uint64_t edges) {
    for (const Facelet& f : net) {
        std::uint8_t colour = f.colour;
        if (f.kind == Facelet::Kind::Corner) colour = kCornerColours.by_field[field(corners, f.slot)][f.index];
        if (f.kind == Facelet::Kind::Edge) colour = kEdgeColours.by_field[field(edges, f.slot)][f.index];
        out = put_sticker(out, colour);
        out = put<sizeof f.gap.bytes>(out, f.gap.bytes, f.gap.size);
    }
    return out;
}

// The whole net: the first line's indent, then every facelet with its gap.
template <std::size_t Capacity, std::size_t N>
constexpr void draw_net(Text<Capacity>& text, const Gap& indent, const std::array<Facelet, N>& net,
                        std::uint64_t corners, std::uint64_t edges) {
    char* out = put<sizeof indent.bytes>(text.bytes, indent.bytes, indent.size);
    out = draw(out, net, corners, edges);
    text.size = std::size_t(out - text.bytes);
}

// The net, or the fault of an edge piece id that has no colours.
constexpr TextOrFault<kNetCapacity> render(const State& state) {
    TextOrFault<kNetCapacity> result;
    if (const auto slot = first_bad_edge(state.edges)) {
        result.failed = true;
        result.fault = {std::size(EDGE_COLORS), std::size_t(field(state.edges, *slot) & 15)};
        return result;
    }
    draw_net(result.text, kIndent, kNet, state.corners, state.edges);
    return result;
}

}  // namespace turnwheel::cube3x3
