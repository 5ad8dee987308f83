// The reading of move strings with AVX2 (avx2_ops.hpp).
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define TURNWHEEL_ISA avx2
#define TURNWHEEL_ISA_TARGET "avx2"
#define TURNWHEEL_ISA_HAS_AVX2

#include "avx2_ops.hpp"
#include "scan.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN

bool scan_moves(State& state, const MoveText& text) { return scan<Avx2>(state, text); }

TURNWHEEL_ISA_END

#endif
