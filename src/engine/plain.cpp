// The engine in plain C++, for any processor: the cube as 32 bytes, a turn
// as 20 look-ups and a sum and minimum a lane, separators tested a byte at a
// time into a mask.
#include "engine.hpp"
#include "scan.hpp"

namespace turnwheel::engine {
namespace {

struct Plain {
    using Cube = Unpacked;

    static Cube load(const Unpacked& cube) { return cube; }
    static void store(const Cube& cube, Unpacked& out) { out = cube; }
    static Cube turn(const Cube& cube, const cube3x3::TokenRow& row) { return cube3x3::apply_row(row, cube); }

    static std::uint64_t separators(const std::uint8_t* bytes) {
        std::uint64_t mask = 0;
        for (unsigned k = 0; k < kBlock; ++k) mask |= std::uint64_t{cube3x3::kEndOf[bytes[k]]} << k;
        return mask;
    }

    template <class Unit>
    static std::uint64_t narrow(const Unit* units, std::uint8_t* bytes) {
        std::uint64_t rare = 0;
        for (unsigned k = 0; k < kBlock; ++k) {
            const bool ascii = units[k] < 0x80, wide_space = units[k] == 0x3000;
            bytes[k] = ascii ? std::uint8_t(units[k]) : cube3x3::kNarrowedSeparator;
            rare |= std::uint64_t{!ascii && !wide_space} << k;
        }
        return rare;
    }
};

}  // namespace

bool scan_plain(State& state, const MoveText& text) { return scan<Plain>(state, text); }

}  // namespace turnwheel::engine
