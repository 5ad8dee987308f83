// Which version of the engine runs: the best that this build holds and this
// processor runs, decided once.
#include "engine.hpp"

#include <atomic>

namespace turnwheel::engine {

bool scan_plain(cube3x3::State& state, const MoveText& text);
#if defined(__x86_64__) || defined(__i386__)
bool scan_ssse3(cube3x3::State& state, const MoveText& text);
bool scan_avx2(cube3x3::State& state, const MoveText& text);
#endif
#if defined(__ARM_NEON)
bool scan_neon(cube3x3::State& state, const MoveText& text);
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

Scanner scanner(Isa isa) {
    switch (isa) {
        case Isa::Plain: return scan_plain;
#if defined(__x86_64__) || defined(__i386__)
        case Isa::Ssse3: __builtin_cpu_init(); return __builtin_cpu_supports("ssse3") ? scan_ssse3 : nullptr;
        case Isa::Avx2: __builtin_cpu_init(); return __builtin_cpu_supports("avx2") ? scan_avx2 : nullptr;
#endif
#if defined(__ARM_NEON)
        case Isa::Neon: return scan_neon;
#endif
        default: return nullptr;
    }
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
    for (Isa isa : kIsas)
        if (Scanner candidate = scanner(isa)) found = candidate;
    best.store(found, std::memory_order_relaxed);
    return found;
}

}  // namespace turnwheel::engine
