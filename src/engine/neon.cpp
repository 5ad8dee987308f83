// The reading of move strings on NEON (neon_ops.hpp).
#include "engine.hpp"

#if defined(__ARM_NEON)
#define TURNWHEEL_ISA neon

#include "neon_ops.hpp"
#include "scan.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN

bool scan_moves(State& state, const MoveText& text) { return scan<Neon>(state, text); }

TURNWHEEL_ISA_END

#endif
