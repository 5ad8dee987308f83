// Many cubes at once, Plain's version (plain_ops.hpp).
#include "engine.hpp"

#define TURNWHEEL_ISA plain

#include "plain_ops.hpp"
#include "batch.hpp"
#include "target.hpp"

TURNWHEEL_ISA_BEGIN

extern const Batch kBatch;
constinit const Batch kBatch = batch_of<Plain>();

TURNWHEEL_ISA_END
