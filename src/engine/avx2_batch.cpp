// Many cubes at once, Avx2's version (avx2_ops.hpp).
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define TURNWHEEL_ISA avx2
#define TURNWHEEL_ISA_TARGET "avx2"
#define TURNWHEEL_ISA_HAS_AVX2

#include "avx2_ops.hpp"
#include "batch.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN

extern const Batch kBatch;
constinit const Batch kBatch = batch_of<Avx2>();

TURNWHEEL_ISA_END

#endif
