// The coloured net of the 2x2x2 cube: the 3x3 net without edges and centres,
// with the same colours, corner sticker rule and drawing.
#pragma once

#include <cstdint>

#include "../cube3x3/render.hpp"
#include "../text.hpp"
#include "moves.hpp"

namespace turnwheel::cube2x2 {

using cube3x3::C;
using cube3x3::StickerText;

// The text of one facelet: corner slot `slot`, sticker index `index`.
constexpr const StickerText& get_sticker(std::uint64_t corners, unsigned slot, unsigned index) {
    return cube3x3::kStickerTexts[cube3x3::kCornerColours.by_field[cube3x3::field(corners, slot)][index]];
}

using Face = cube3x3::Face<2>;

// Rows top to bottom and facelets left to right as printed.
inline constexpr Face kFaceU = {{{C(0, 0), C(1, 0)}, {C(3, 0), C(2, 0)}}};
inline constexpr Face kFaceL = {{{C(0, 2), C(3, 1)}, {C(4, 1), C(7, 2)}}};
inline constexpr Face kFaceF = {{{C(3, 2), C(2, 1)}, {C(7, 1), C(6, 2)}}};
inline constexpr Face kFaceR = {{{C(2, 2), C(1, 1)}, {C(6, 1), C(5, 2)}}};
inline constexpr Face kFaceB = {{{C(1, 2), C(0, 1)}, {C(5, 1), C(4, 2)}}};
inline constexpr Face kFaceD = {{{C(7, 0), C(6, 0)}, {C(4, 0), C(5, 0)}}};

inline constexpr auto kNet = cube3x3::print_order<2, 3>(kFaceU, kFaceL, kFaceF, kFaceR, kFaceB, kFaceD);
inline constexpr cube3x3::Gap kIndent("      ");
inline constexpr std::size_t kNetCapacity = 512;

constexpr Text<kNetCapacity> render(const State& state) {
    Text<kNetCapacity> text;
    cube3x3::draw_net(text, kIndent, kNet, state.corners, 0);
    return text;
}

}  // namespace turnwheel::cube2x2
