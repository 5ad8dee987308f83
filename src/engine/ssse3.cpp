// The reading of move strings with SSSE3 (ssse3_ops.hpp).
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define TURNWHEEL_ISA ssse3
#define TURNWHEEL_ISA_TARGET "ssse3"

#include "ssse3_ops.hpp"
#include "scan.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN

bool scan_moves(State& state, const MoveText& text) { return scan<Ssse3>(state, text); }

TURNWHEEL_ISA_END

#endif
