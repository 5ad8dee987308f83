// Many cubes at once, Neon's version (neon_ops.hpp).
#include "engine.hpp"

#if defined(__ARM_NEON)
#define TURNWHEEL_ISA neon

#include "neon_ops.hpp"
#include "batch.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN

extern const Batch kBatch;
constinit const Batch kBatch = batch_of<Neon>();

TURNWHEEL_ISA_END

#endif
