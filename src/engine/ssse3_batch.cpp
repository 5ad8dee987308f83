// Many cubes at once, Ssse3's version (ssse3_ops.hpp).
#include "engine.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define TURNWHEEL_ISA ssse3
#define TURNWHEEL_ISA_TARGET "ssse3"

#include "ssse3_ops.hpp"
#include "batch.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN

extern const Batch kBatch;
constinit const Batch kBatch = batch_of<Ssse3>();

TURNWHEEL_ISA_END

#endif
