// Which version of the engine runs: the best that this build holds and this
// processor runs, decided once.
#include "engine.hpp"

#include <atomic>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "../cube3x3/notation.hpp"
#include "../cube3x3/token_rows.hpp"

namespace turnwheel::engine {

// What each version provides, in its own namespace (target.hpp).
#define TURNWHEEL_VERSION_ENTRIES                                   \
    bool scan_moves(cube3x3::State& state, const MoveText& text); \
    extern const Batch kBatch;

namespace plain {
TURNWHEEL_VERSION_ENTRIES
}
#if defined(__x86_64__) || defined(__i386__)
namespace ssse3 {
TURNWHEEL_VERSION_ENTRIES
}
namespace avx2 {
TURNWHEEL_VERSION_ENTRIES
}
#endif
#if defined(__ARM_NEON)
namespace neon {
TURNWHEEL_VERSION_ENTRIES
}
#endif

const char* name(Isa isa) {
    switch (isa) {
        case Isa::Plain: return "plain";
        case Isa::Ssse3: return "ssse3";
        case Isa::Avx2: return "avx2";
        case Isa::Neon: return "neon";
    }
    return "?";
}

namespace {

#if defined(__x86_64__) || defined(__i386__)
// The processor is asked directly: __builtin_cpu_supports needs the
// compiler's runtime to have filled in its table, which a module built by
// zig never has (it answered no to everything, and the plain version ran).
bool has_ssse3() {
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSSE3) != 0;
}

// AVX2 needs the operating system to save the vector registers too.
bool has_avx2() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return false;
    unsigned xcr0, xcr0_high;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
    const unsigned xmm_and_ymm_state = 0x6;
    return (xcr0 & xmm_and_ymm_state) == xmm_and_ymm_state && __get_cpuid_count(7, 0, &a, &b, &c, &d) &&
           (b & bit_AVX2) != 0;
}
#endif

struct Version {
    Scanner scan;
    const Batch* batch;
};

Version version(Isa isa) {
    switch (isa) {
        case Isa::Plain: return {plain::scan_moves, &plain::kBatch};
#if defined(__x86_64__) || defined(__i386__)
        case Isa::Ssse3: return has_ssse3() ? Version{ssse3::scan_moves, &ssse3::kBatch} : Version{};
        case Isa::Avx2: return has_avx2() ? Version{avx2::scan_moves, &avx2::kBatch} : Version{};
#endif
#if defined(__ARM_NEON)
        case Isa::Neon: return {neon::scan_moves, &neon::kBatch};
#endif
        default: return {};
    }
}

// Every caller that finds them unset computes the same answer, so a race to
// set them is harmless; a function-local static would need the C++ runtime's
// guard, and with it the whole runtime linked into the module.
std::atomic<Scanner> best{nullptr};
std::atomic<const Batch*> best_batch{nullptr};

void choose() {
    Version found{};
    for (Isa isa : kIsas)
        if (const Version candidate = version(isa); candidate.scan != nullptr) found = candidate;
    best_batch.store(found.batch, std::memory_order_relaxed);
    best.store(found.scan, std::memory_order_release);
}

}  // namespace

Scanner scanner(Isa isa) { return version(isa).scan; }

const Batch* batch(Isa isa) { return version(isa).batch; }

Scanner chosen() {
    Scanner found = best.load(std::memory_order_relaxed);
    if (found != nullptr) [[likely]]
        return found;
    choose();
    return best.load(std::memory_order_relaxed);
}

const Batch& chosen_batch() {
    const Batch* found = best_batch.load(std::memory_order_relaxed);
    if (found == nullptr) {
        choose();
        found = best_batch.load(std::memory_order_relaxed);
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
