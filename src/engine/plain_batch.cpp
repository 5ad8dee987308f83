// Many cubes at once in plain C++ (plain_ops.hpp).
#include "engine.hpp"

#define TURNWHEEL_ISA plain

#include "plain_ops.hpp"
#include "batch.hpp"
#include "target.hpp"

// The kernels are compiled for the version where batch.hpp defines them.
namespace turnwheel::engine::TURNWHEEL_ISA {

extern const Batch kBatch;
constinit const Batch kBatch = batch_of<Plain>();

}  // namespace turnwheel::engine::TURNWHEEL_ISA
