// The coloured net of the 2x2x2 cube: the 3x3 net without edges and centres,
// with the same colours and corner sticker rule.
#pragma once

#include <cstdint>

#include "../cube3x3/render.hpp"
#include "../text.hpp"
#include "moves.hpp"

namespace turnwheel::cube2x2 {

using cube3x3::StickerText;

// The text of one facelet: corner slot `slot`, sticker index `index`.
constexpr StickerText get_sticker(std::uint64_t corners, unsigned slot, unsigned index) {
    return cube3x3::ansi_color(cube3x3::get_corner_sticker(corners, slot, index));
}

// A facelet as corner slot and sticker index.
struct Facelet {
    std::uint8_t slot;
    std::uint8_t index;
};

using Face = Facelet[2][2];

inline constexpr Face kFaceU = {{{0, 0}, {1, 0}}, {{3, 0}, {2, 0}}};
inline constexpr Face kFaceL = {{{0, 2}, {3, 1}}, {{4, 1}, {7, 2}}};
inline constexpr Face kFaceF = {{{3, 2}, {2, 1}}, {{7, 1}, {6, 2}}};
inline constexpr Face kFaceR = {{{2, 2}, {1, 1}}, {{6, 1}, {5, 2}}};
inline constexpr Face kFaceB = {{{1, 2}, {0, 1}}, {{5, 1}, {4, 2}}};
inline constexpr Face kFaceD = {{{7, 0}, {6, 0}}, {{4, 0}, {5, 0}}};

inline constexpr std::size_t kNetCapacity = 1024;

constexpr void put_row(Text<kNetCapacity>& out, std::uint64_t corners, const Facelet (&row)[2]) {
    out.append(get_sticker(corners, row[0].slot, row[0].index).view());
    out.append(" ");
    out.append(get_sticker(corners, row[1].slot, row[1].index).view());
}

constexpr void put_outer_face(Text<kNetCapacity>& out, std::uint64_t corners, const Face& face) {
    for (const auto& row : face) {
        out.append("      ");
        put_row(out, corners, row);
        out.append("\n");
    }
}

constexpr Text<kNetCapacity> render(const State& state) {
    Text<kNetCapacity> out;
    put_outer_face(out, state.corners, kFaceU);
    for (unsigned r = 0; r < 2; ++r) {
        put_row(out, state.corners, kFaceL[r]);
        out.append("   ");
        put_row(out, state.corners, kFaceF[r]);
        out.append("   ");
        put_row(out, state.corners, kFaceR[r]);
        out.append("   ");
        put_row(out, state.corners, kFaceB[r]);
        out.append("\n");
    }
    put_outer_face(out, state.corners, kFaceD);
    return out;
}

static_assert(render(kSolved).size == 364);

}  // namespace turnwheel::cube2x2
