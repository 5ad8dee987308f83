// Many cubes at once with SSSE3 (ssse3_ops.hpp).
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define TURNWHEEL_ISA ssse3
#define TURNWHEEL_ISA_TARGET "ssse3"

#include "ssse3_ops.hpp"
#include "batch.hpp"
#include "target.hpp"

// The kernels are compiled for the version where batch.hpp defines them.
namespace turnwheel::engine::TURNWHEEL_ISA {

extern const Batch kBatch;
constinit const Batch kBatch = batch_of<Ssse3>();

}  // namespace turnwheel::engine::TURNWHEEL_ISA

#endif
