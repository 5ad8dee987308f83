// Many cubes at once with AVX2 (avx2_ops.hpp).
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define TURNWHEEL_ISA avx2
#define TURNWHEEL_ISA_TARGET "avx2"
#define TURNWHEEL_ISA_HAS_AVX2

#include "avx2_ops.hpp"
#include "batch.hpp"
#include "target.hpp"

// The kernels are compiled for the version where batch.hpp defines them.
namespace turnwheel::engine::TURNWHEEL_ISA {

extern const Batch kBatch;
constinit const Batch kBatch = batch_of<Avx2>();

}  // namespace turnwheel::engine::TURNWHEEL_ISA

#endif
