// Which version of the engine runs: the best that this build holds and this
// processor runs, decided once.
#include "engine.hpp"

#include <atomic>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif


namespace turnwheel::engine {

// Each version's reading of move strings, in its own namespace (target.hpp).
namespace plain {
bool scan_moves(cube3x3::State& state, const MoveText& text);
}
#if defined(__x86_64__) || defined(__i386__)
namespace ssse3 {
bool scan_moves(cube3x3::State& state, const MoveText& text);
}
namespace avx2 {
bool scan_moves(cube3x3::State& state, const MoveText& text);
}
#endif
#if defined(__ARM_NEON)
namespace neon {
bool scan_moves(cube3x3::State& state, const MoveText& text);
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

}  // namespace

bool runs(Isa isa) {
    switch (isa) {
        case Isa::Plain: return true;
#if defined(__x86_64__) || defined(__i386__)
        case Isa::Ssse3: return has_ssse3();
        case Isa::Avx2: return has_avx2();
#endif
#if defined(__ARM_NEON)
        case Isa::Neon: return true;
#endif
        default: return false;
    }
}

Scanner scanner(Isa isa) {
    if (!runs(isa)) return nullptr;
    switch (isa) {
        case Isa::Plain: return plain::scan_moves;
#if defined(__x86_64__) || defined(__i386__)
        case Isa::Ssse3: return ssse3::scan_moves;
        case Isa::Avx2: return avx2::scan_moves;
#endif
#if defined(__ARM_NEON)
        case Isa::Neon: return neon::scan_moves;
#endif
        default: return nullptr;
    }
}

Isa best_isa() {
    Isa found = Isa::Plain;
    for (Isa isa : kIsas)
        if (runs(isa)) found = isa;
    return found;
}

// Every caller that finds it unset computes the same answer, so a race to
// set it is harmless; a function-local static would need the C++ runtime's
// guard, and with it the whole runtime linked into the module.
namespace {
std::atomic<Scanner> best{nullptr};
}  // namespace

Scanner chosen() {
    Scanner found = best.load(std::memory_order_relaxed);
    if (found != nullptr) [[likely]]
        return found;
    found = scanner(best_isa());
    best.store(found, std::memory_order_relaxed);
    return found;
}

}  // namespace turnwheel::engine
