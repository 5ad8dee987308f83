// The coloured net of the 3x3x3 cube: colour letters, their ANSI sequences,
// the sticker rule that reads a facelet's colour from the packed words, and
// the nine-line net.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

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

// Where a facelet of the net takes its colour from.
struct Facelet {
    enum class Kind : std::uint8_t { Corner, Edge, Centre };
    Kind kind;
    std::uint8_t slot;
    std::uint8_t index;
    char32_t centre;
};

constexpr Facelet C(unsigned slot, unsigned index) {
    return {Facelet::Kind::Corner, std::uint8_t(slot), std::uint8_t(index), 0};
}
constexpr Facelet E(unsigned slot, unsigned index) {
    return {Facelet::Kind::Edge, std::uint8_t(slot), std::uint8_t(index), 0};
}
constexpr Facelet centre(char32_t colour) { return {Facelet::Kind::Centre, 0, 0, colour}; }

using Face = Facelet[3][3];

// Rows top to bottom and facelets left to right as printed.
inline constexpr Face kFaceU = {{C(0, 0), E(0, 0), C(1, 0)}, {E(3, 0), centre(U'W'), E(1, 0)}, {C(3, 0), E(2, 0), C(2, 0)}};
inline constexpr Face kFaceL = {{C(0, 2), E(3, 1), C(3, 1)}, {E(8, 1), centre(U'O'), E(11, 1)}, {C(4, 1), E(7, 1), C(7, 2)}};
inline constexpr Face kFaceF = {{C(3, 2), E(2, 1), C(2, 1)}, {E(11, 0), centre(U'G'), E(10, 0)}, {C(7, 1), E(6, 1), C(6, 2)}};
inline constexpr Face kFaceR = {{C(2, 2), E(1, 1), C(1, 1)}, {E(10, 1), centre(U'R'), E(9, 1)}, {C(6, 1), E(5, 1), C(5, 2)}};
inline constexpr Face kFaceB = {{C(1, 2), E(0, 1), C(0, 1)}, {E(9, 0), centre(U'B'), E(8, 0)}, {C(5, 1), E(4, 1), C(4, 2)}};
inline constexpr Face kFaceD = {{C(7, 0), E(6, 0), C(6, 0)}, {E(7, 0), centre(U'Y'), E(5, 0)}, {C(4, 0), E(4, 0), C(5, 0)}};

// The first edge slot holding a piece id of 12 to 15, if any.
constexpr std::optional<unsigned> first_bad_edge(std::uint64_t edges) {
    for (unsigned slot = 0; slot < kEdgeSlots; ++slot)
        if ((field(edges, slot) & 15) >= 12) return slot;
    return std::nullopt;
}

// Nine lines of at most 12 facelets of 16 bytes, spaces and line feeds.
inline constexpr std::size_t kNetCapacity = 2048;

class NetWriter {
  public:
    constexpr NetWriter(const State& state, Text<kNetCapacity>& out) : state_(state), out_(out) {}

    constexpr void row(const Facelet (&facelets)[3]) {
        for (unsigned k = 0; k < 3; ++k) {
            if (k) out_.append(" ");
            out_.append(ansi_color(colour(facelets[k])).view());
        }
    }

    // U or D: three rows, each under F.
    constexpr void outer_face(const Face& face) {
        for (const auto& facelets : face) {
            out_.append("       ");
            row(facelets);
            out_.append("\n");
        }
    }

    constexpr void middle_band() {
        for (unsigned r = 0; r < 3; ++r) {
            row(kFaceL[r]);
            out_.append("  ");
            row(kFaceF[r]);
            out_.append("  ");
            row(kFaceR[r]);
            out_.append("  ");
            row(kFaceB[r]);
            out_.append("\n");
        }
    }

  private:
    constexpr char32_t colour(const Facelet& f) const {
        switch (f.kind) {
            case Facelet::Kind::Corner: return get_corner_sticker(state_.corners, f.slot, f.index);
            case Facelet::Kind::Edge: return get_edge_sticker(state_.edges, f.slot, f.index).value_or(U'?');
            case Facelet::Kind::Centre: break;
        }
        return f.centre;
    }

    const State& state_;
    Text<kNetCapacity>& out_;
};

// The net, or the fault of an edge piece id that has no colours.
constexpr TextOrFault<kNetCapacity> render(const State& state) {
    TextOrFault<kNetCapacity> result;
    if (const auto slot = first_bad_edge(state.edges)) {
        result.failed = true;
        result.fault = {std::size(EDGE_COLORS), std::size_t(field(state.edges, *slot) & 15)};
        return result;
    }
    NetWriter net(state, result.text);
    net.outer_face(kFaceU);
    net.middle_band();
    net.outer_face(kFaceD);
    return result;
}

static_assert(render(kSolved).text.size == 789);

}  // namespace turnwheel::cube3x3
