// A level of a breadth-first search over the perfect index of a pattern (the
// corners, or a pattern of edges), on bitmaps of the index space: the
// search's own table, addressed by index, with no words kept and no
// hashing. Forward, the children of the frontier that are not yet seen;
// backward, the positions not yet seen that have a child in the frontier
// (which, as every move has an inverse, is the same set), the cheaper way
// once the frontier is larger than what is left.
#include <atomic>
#include <cstring>

#include "../cube3x3/positions.hpp"
#include "../cube3x3/token_rows.hpp"
#include "../engine/engine.hpp"
#include "functions.hpp"
#include "messages.hpp"
#include "parallel.hpp"

namespace turnwheel::batch {
namespace {

// A bitmap of the index space: bit i in bit i % 8 of byte i / 8, as
// numpy.packbits(..., bitorder="little") lays out an array of bools.
class Bits {
  public:
    explicit Bits(std::uint8_t* bytes) : bytes_(bytes) {}

    bool test(std::uint64_t i) const { return (bytes_[i >> 3] >> (i & 7) & 1) != 0; }
    // Threads may set bits of one byte at once.
    void set(std::uint64_t i) const {
        std::atomic_ref<std::uint8_t>(bytes_[i >> 3]).fetch_or(std::uint8_t(1u << (i & 7)), std::memory_order_relaxed);
    }
    // The 64 bits from position `at` (a multiple of 64), as one word.
    std::uint64_t word(std::uint64_t at, std::uint64_t size) const {
        std::uint64_t value = 0;
        const std::uint64_t bytes = (size + 7) / 8, first = at / 8;
        std::memcpy(&value, bytes_ + first, bytes - first < 8 ? bytes - first : 8);
#if PY_BIG_ENDIAN
        value = __builtin_bswap64(value);  // byte k of the bitmap is bits 8k to 8k + 7
#endif
        return value;
    }

  private:
    std::uint8_t* bytes_;
};

// What a level's step reads and writes, and how.
struct Level {
    const Pattern& pattern;
    Bits frontier, seen, out;
    std::uint64_t size;
    bool backward;
};

// The positions of a pattern's index turned into states, and their
// children's indexes.
struct Expansion {
    const Pattern& pattern;
    const engine::BatchKernels& kernels;
    unsigned words;

    explicit Expansion(const Pattern& of)
        : pattern(of), kernels(of.corners ? engine::chosen_batch().cube2x2 : engine::chosen_batch().cube3x3),
          words(of.corners ? 1 : 2) {}

    void state(std::uint64_t index, std::uint64_t* out) const {
        if (pattern.corners) {
            out[0] = cube3x3::corners_at_index(std::uint32_t(index));
        } else {
            out[0] = cube3x3::kSolvedCorners;
            out[1] = cube3x3::edges_at_index(index, pattern.edges);
        }
    }
    std::uint64_t index(const std::uint64_t* state) const {
        return pattern.corners ? cube3x3::corner_index(state[0]) : cube3x3::edge_index(state[1], pattern.edges);
    }
};

constexpr unsigned kMoves = cube3x3::kMoveCodes;
constexpr std::uint8_t kEveryMove[kMoves] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
// Positions expanded at once: the kernel's children for a batch, on the stack.
constexpr unsigned kBatch = 64;

// The step over positions [from, to), a batch at a time: the positions it
// reads (in the frontier, forward; not seen, backward), their children, and
// the bits it sets.
void step_range(const Level& level, const Expansion& expansion, std::uint64_t from, std::uint64_t to) {
    std::uint64_t positions[kBatch], states[2 * kBatch], children[2 * kBatch * kMoves];
    unsigned count = 0;
    const unsigned w = expansion.words;
    const auto flush = [&] {
        for (unsigned k = 0; k < count; ++k) expansion.state(positions[k], states + w * k);
        expansion.kernels.children(states, children, count, kEveryMove, kMoves);
        for (unsigned k = 0; k < count; ++k) {
            const std::uint64_t* own = children + w * kMoves * k;
            for (unsigned m = 0; m < kMoves; ++m) {
                const std::uint64_t child = expansion.index(own + w * m);
                if (level.backward) {
                    if (level.frontier.test(child)) {
                        level.out.set(positions[k]);
                        break;
                    }
                } else if (!level.seen.test(child) && !level.out.test(child)) {
                    level.out.set(child);
                }
            }
        }
        count = 0;
    };
    const Bits& read = level.backward ? level.seen : level.frontier;
    for (std::uint64_t at = from & ~std::uint64_t{63}; at < to; at += 64) {
        std::uint64_t bits = read.word(at, level.size);
        if (level.backward) bits = ~bits;
        // Only the positions in [from, to).
        if (at < from) bits &= ~std::uint64_t{0} << (from - at);
        if (to - at < 64) bits &= (std::uint64_t{1} << (to - at)) - 1;
        for (; bits != 0; bits &= bits - 1) {
            positions[count++] = at + unsigned(__builtin_ctzll(bits));
            if (count == kBatch) flush();
        }
    }
    if (count > 0) flush();
}

}  // namespace

PyObject* pattern_size(const Call&, const Pattern& pattern) { return PyLong_FromUnsignedLongLong(size_of(pattern)); }


PyObject* next_level(const Call& call, Bitmap& frontier, Bitmap& seen, const Pattern& pattern, const std::size_t& begin,
                     const std::size_t& end_given, const bool& backward, PyObject* const& out, const unsigned& threads) {
    const std::uint64_t size = size_of(pattern), bytes = (size + 7) / 8;
    const std::uint64_t end = end_given == kToTheEnd ? size : end_given;
    if (begin > end || end > size) {
        messages::bad_range(call, begin, end, size);
        return nullptr;
    }
    for (const Bitmap* bitmap : {&frontier, &seen})
        if (bitmap->array.bytes != bytes) {
            messages::wrong_bitmap(call, bitmap->array.name, bitmap->array.bytes, bytes, size);
            return nullptr;
        }
    ArrayOut result;
    const Shape shape{1, {Py_ssize_t(bytes)}};
    if (out != nullptr) {
        if (!result.adopt(call, out, shape, Element::U8, Element::U8)) return nullptr;
    } else {
        if (!result.make(shape, Element::U8)) return nullptr;
        std::memset(result.data, 0, bytes);
    }
    const Level level{pattern, Bits(const_cast<std::uint8_t*>(frontier.array.as<std::uint8_t>())),
                      Bits(const_cast<std::uint8_t*>(seen.array.as<std::uint8_t>())), Bits(result.as<std::uint8_t>()),
                      size, backward};
    const Expansion expansion(pattern);
    // Threads take runs of 64 positions, each a word of the bitmaps.
    const std::uint64_t blocks = (end - begin + 63) / 64;
    Py_BEGIN_ALLOW_THREADS parallel_for(blocks, threads_for(end - begin, threads), [&](std::size_t b, std::size_t e) {
        step_range(level, expansion, begin + 64 * b, 64 * e < end - begin ? begin + 64 * e : end);
    });
    Py_END_ALLOW_THREADS
    return result.finish();
}

}  // namespace turnwheel::batch
