// Many cubes at once on NEON (neon_ops.hpp).
#include "engine.hpp"

#if defined(__ARM_NEON)
#define TURNWHEEL_ISA neon

#include "neon_ops.hpp"
#include "batch.hpp"
#include "target.hpp"

// The kernels are compiled for the version where batch.hpp defines them.
namespace turnwheel::engine::TURNWHEEL_ISA {

extern const Batch kBatch;
constinit const Batch kBatch = batch_of<Neon>();

}  // namespace turnwheel::engine::TURNWHEEL_ISA

#endif
