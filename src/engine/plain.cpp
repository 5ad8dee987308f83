// The reading of move strings in plain C++ (plain_ops.hpp).
#include "engine.hpp"

#define TURNWHEEL_ISA plain

#include "plain_ops.hpp"
#include "scan.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN

bool scan_moves(State& state, const MoveText& text) { return scan<Plain>(state, text); }

TURNWHEEL_ISA_END
