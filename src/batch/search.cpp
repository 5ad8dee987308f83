// A level of a breadth-first search over the perfect index of a pattern (the
// corners, or a pattern of edges), on bitmaps of the index space: the
// search's own table, addressed by index, with no words kept and no
// hashing. Forward, the children of the frontier that are not yet seen;
// backward, the positions not yet seen that have a child in the frontier
// (which, as every move has an inverse, is the same set), the cheaper way
// once the frontier is larger than what is left.
#include <atomic>
#include <cstring>
#include <utility>

#include "../cube3x3/edge_blocks.hpp"
#include "../cube3x3/positions.hpp"
#include "../cube3x3/token_rows.hpp"
#include "../engine/engine.hpp"
#include "functions.hpp"
#include "messages.hpp"
#include "parallel.hpp"

namespace turnwheel::batch {
namespace {

// A bitmap of the index space: bit i in bit i % 8 of byte i / 8, as
// numpy.packbits(..., bitorder="little") lays out an array of bools. Seen
// as words, word w holds positions 64w to 64w + 63 in bits 0 to 63, on
// either byte order; its last word may be short.
class Bits {
  public:
    Bits(std::uint8_t* bytes, std::uint64_t size)
        : bytes_(bytes), count_((size + 7) / 8), aligned_(reinterpret_cast<std::uintptr_t>(bytes) % 8 == 0) {}

    bool test(std::uint64_t i) const { return (bytes_[i >> 3] >> (i & 7) & 1) != 0; }
    // Threads may set bits of one byte at once.
    void set(std::uint64_t i) const {
        std::atomic_ref<std::uint8_t>(bytes_[i >> 3]).fetch_or(std::uint8_t(1u << (i & 7)), std::memory_order_relaxed);
    }

    // Asks for the memory of position i, to be read soon.
    void prefetch(std::uint64_t i) const { __builtin_prefetch(bytes_ + (i >> 3)); }

    // Word w of a bitmap that no thread writes.
    std::uint64_t word(std::uint64_t w) const {
        std::uint64_t value = 0;
        std::memcpy(&value, bytes_ + 8 * w, whole(w) ? 8 : count_ - 8 * w);
        return ordered(value);
    }
    // Word w of the bitmap the threads write.
    std::uint64_t shared_word(std::uint64_t w) const {
        if (aligned_ && whole(w))
            return ordered(std::atomic_ref<std::uint64_t>(at(w)).load(std::memory_order_relaxed));
        std::uint64_t value = 0;
        for (std::uint64_t k = 8 * w; k < 8 * w + 8 && k < count_; ++k)
            value |= std::uint64_t{std::atomic_ref<std::uint8_t>(bytes_[k]).load(std::memory_order_relaxed)}
                     << 8 * (k - 8 * w);
        return value;
    }
    // ORs bits into word w, atomically, as other threads may set bits of it too.
    void set_word(std::uint64_t w, std::uint64_t bits) const {
        if (aligned_ && whole(w)) {
            std::atomic_ref<std::uint64_t>(at(w)).fetch_or(ordered(bits), std::memory_order_relaxed);
            return;
        }
        for (std::uint64_t k = 8 * w; k < 8 * w + 8 && k < count_; ++k)
            if (const auto byte = std::uint8_t(bits >> 8 * (k - 8 * w)); byte != 0)
                std::atomic_ref<std::uint8_t>(bytes_[k]).fetch_or(byte, std::memory_order_relaxed);
    }

  private:
    bool whole(std::uint64_t w) const { return 8 * w + 8 <= count_; }
    std::uint64_t& at(std::uint64_t w) const { return *reinterpret_cast<std::uint64_t*>(bytes_ + 8 * w); }
    // A word as loaded from memory, bits in position order, and back.
    static std::uint64_t ordered(std::uint64_t value) {
#if PY_BIG_ENDIAN
        return __builtin_bswap64(value);
#else
        return value;
#endif
    }

    std::uint8_t* bytes_;
    std::uint64_t count_;
    bool aligned_;
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
        std::uint64_t bits = read.word(at / 64);
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


// A block of a pattern of edges in a bitmap: the 2^k positions from `at`, a
// multiple of 2^k.
template <unsigned K>
using Block = cube3x3::FlipBlock<K>;

template <unsigned K>
Block<K> block_at(const Bits& bits, std::uint64_t at, bool shared = false) {
    Block<K> block;
    const auto word = [&](std::uint64_t w) { return shared ? bits.shared_word(w) : bits.word(w); };
    if constexpr (K < 6)
        block.words[0] = word(at / 64) >> (at % 64) & Block<K>::kLowBits;
    else
        for (unsigned w = 0; w < Block<K>::kWords; ++w) block.words[w] = word(at / 64 + w);
    return block;
}

template <unsigned K>
void set_block(const Bits& bits, std::uint64_t at, const Block<K>& block) {
    if constexpr (K < 6)
        bits.set_word(at / 64, block.words[0] << (at % 64));
    else
        for (unsigned w = 0; w < Block<K>::kWords; ++w)
            if (block.words[w] != 0) bits.set_word(at / 64 + w, block.words[w]);
}

// The positions of the block from `at` that lie in [from, to).
template <unsigned K>
Block<K> in_range(std::uint64_t at, std::uint64_t from, std::uint64_t to) {
    const std::uint64_t low = from > at ? from - at : 0, high = to - at < Block<K>::kBits ? to - at : Block<K>::kBits;
    Block<K> block;
    for (unsigned w = 0; w < Block<K>::kWords; ++w) {
        const std::uint64_t first = 64 * w, lo = low > first ? low - first : 0, hi = high - first;
        if (high <= first || lo >= 64) continue;
        const std::uint64_t below_hi = hi >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << hi) - 1;
        block.words[w] = below_hi & ~((std::uint64_t{1} << lo) - 1);
    }
    return block;
}

// The step of a pattern of k edges over positions [from, to), a rank's block
// at a time. Backward: the block's unseen positions with a child in the
// frontier, found by the 18 moves' images of the block in turn until every
// one is (mostly by the first few).
template <unsigned K>
void edge_range_backward(const Level& level, std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t rank = from >> K; rank << K < to; ++rank) {
        const std::uint64_t at = rank << K;
        const Block<K> own = ~block_at<K>(level.seen, at) & in_range<K>(at, from, to);
        if (!own.any()) continue;
        const cube3x3::EdgePlaces places = cube3x3::places_at_rank(rank, K);
        Block<K> found;
        for (unsigned code = 0; code < kMoves && !found.covers(own); ++code) {
            const cube3x3::BlockImage image = cube3x3::block_image(places, K, code);
            found |= block_at<K>(level.frontier, image.rank << K).xor_positions(image.flips);
        }
        if ((found = found & own).any()) set_block<K>(level.out, at, found);
    }
}

// A block of the frontier and its 18 images.
template <unsigned K>
struct Images {
    Block<K> own;
    cube3x3::BlockImage of[kMoves];
};

// Forward: the frontier's positions in the block moved by each move to
// their children's block. The images land all over the bitmaps, so a
// block's are worked out, and their memory asked for, a block ahead of
// their use: the waits for memory overlap instead of following each other.
template <unsigned K>
void edge_range_forward(const Level& level, std::uint64_t from, std::uint64_t to) {
    const auto step = [&level](const Images<K>& images) {
        for (const cube3x3::BlockImage& image : images.of) {
            const std::uint64_t there = image.rank << K;
            Block<K> children = images.own.xor_positions(image.flips) & ~block_at<K>(level.seen, there);
            if (children.any()) children = children & ~block_at<K>(level.out, there, true);
            if (children.any()) set_block<K>(level.out, there, children);
        }
    };
    Images<K> blocks[2];
    unsigned taken = 0;  // blocks[taken & 1] is the last one taken
    for (std::uint64_t rank = from >> K; rank << K < to; ++rank) {
        const std::uint64_t at = rank << K;
        const Block<K> own = block_at<K>(level.frontier, at) & in_range<K>(at, from, to);
        if (!own.any()) continue;
        Images<K>& next = blocks[++taken & 1];
        next.own = own;
        const cube3x3::EdgePlaces places = cube3x3::places_at_rank(rank, K);
        for (unsigned code = 0; code < kMoves; ++code) {
            next.of[code] = cube3x3::block_image(places, K, code);
            level.seen.prefetch(next.of[code].rank << K);
            level.out.prefetch(next.of[code].rank << K);
        }
        if (taken > 1) step(blocks[(taken - 1) & 1]);
    }
    if (taken > 0) step(blocks[taken & 1]);
}

template <unsigned K>
void edge_range(const Level& level, std::uint64_t from, std::uint64_t to) {
    level.backward ? edge_range_backward<K>(level, from, to) : edge_range_forward<K>(level, from, to);
}

template <unsigned... K>
void edge_ranges(const Level& level, std::uint64_t from, std::uint64_t to, std::integer_sequence<unsigned, K...>) {
    ((level.pattern.edges.count == K + 1 ? edge_range<K + 1>(level, from, to) : void()), ...);
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
    const Level level{pattern, Bits(const_cast<std::uint8_t*>(frontier.array.as<std::uint8_t>()), size),
                      Bits(const_cast<std::uint8_t*>(seen.array.as<std::uint8_t>()), size),
                      Bits(result.as<std::uint8_t>(), size), size, backward};
    Py_BEGIN_ALLOW_THREADS
    if (end == begin) {
    } else if (pattern.corners) {
        const Expansion expansion(pattern);
        // Threads take runs of 64 positions, each a word of the bitmaps.
        parallel_for((end - begin + 63) / 64, threads_for(end - begin, threads), [&](std::size_t b, std::size_t e) {
            step_range(level, expansion, begin + 64 * b, 64 * e < end - begin ? begin + 64 * e : end);
        });
    } else {
        // Threads take runs of ranks, each a block of the bitmaps.
        const unsigned k = pattern.edges.count;
        const std::uint64_t first = begin >> k, ranks = ((end - 1) >> k) - first + 1;
        parallel_for(ranks, threads_for(end - begin, threads), [&](std::size_t b, std::size_t e) {
            const std::uint64_t from = (first + b) << k, to = (first + e) << k;
            edge_ranges(level, from > begin ? from : begin, to < end ? to : end,
                        std::make_integer_sequence<unsigned, cube3x3::kEdgeSlots>{});
        });
    }
    Py_END_ALLOW_THREADS
    return result.finish();
}

}  // namespace turnwheel::batch
