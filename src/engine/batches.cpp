// Which version of the kernels for many cubes at once runs: that of the
// version the reading of move strings runs (engine.cpp).
#include <atomic>

#include "../cube3x3/notation.hpp"
#include "../cube3x3/token_rows.hpp"
#include "engine.hpp"

namespace turnwheel::engine {

// Each version's kernels, in its own namespace (target.hpp).
namespace plain {
extern const Batch kBatch;
}
#if defined(__x86_64__) || defined(__i386__)
namespace ssse3 {
extern const Batch kBatch;
}
namespace avx2 {
extern const Batch kBatch;
}
#endif
#if defined(__ARM_NEON)
namespace neon {
extern const Batch kBatch;
}
#endif

const Batch* batch(Isa isa) {
    if (!runs(isa)) return nullptr;
    switch (isa) {
        case Isa::Plain: return &plain::kBatch;
#if defined(__x86_64__) || defined(__i386__)
        case Isa::Ssse3: return &ssse3::kBatch;
        case Isa::Avx2: return &avx2::kBatch;
#endif
#if defined(__ARM_NEON)
        case Isa::Neon: return &neon::kBatch;
#endif
        default: return nullptr;
    }
}

namespace {
std::atomic<const Batch*> best{nullptr};  // set as chosen() is (engine.cpp)
}  // namespace

const Batch& chosen_batch() {
    const Batch* found = best.load(std::memory_order_relaxed);
    if (found == nullptr) [[unlikely]] {
        found = batch(best_isa());
        best.store(found, std::memory_order_relaxed);
    }
    return *found;
}

// The text applied to the two probes: the solved cube, and the solved cube
// with every corner twisted 3 (see cube3x3::row_of).
bool text_row(const MoveText& text, cube3x3::TokenRow& row) {
    cube3x3::State probe = cube3x3::kSolved, twisted = cube3x3::kSolved;
    for (unsigned slot = 0; slot < cube3x3::kCornerSlots; ++slot)
        twisted.corners |= std::uint64_t{0x18} << cube3x3::offset_of(slot);
    if (!cube3x3::do_moves(probe, text) || !cube3x3::do_moves(twisted, text)) return false;
    row = cube3x3::row_of(cube3x3::unpack(probe), cube3x3::unpack(twisted));
    return true;
}

}  // namespace turnwheel::engine
