// Each version of the engine is compiled for an instruction set of its own
// and lives in a namespace of its own, turnwheel::engine::<version>, in the
// manner of Highway's per-target namespaces. Inline functions have external
// linkage, and the linker keeps one copy of each name: a function of one
// version with the same name as another's could stand in for it, and run
// AVX2 instructions where only SSSE3 was asked for. With a namespace each,
// no two versions share a name.
//
// A version's file defines TURNWHEEL_ISA (its namespace) and, where it is
// compiled for more than the build's own instruction set, TURNWHEEL_ISA_TARGET
// (the target attribute, such as "avx2"); then it includes what it needs.
// Code for a version stands between TURNWHEEL_ISA_BEGIN and
// TURNWHEEL_ISA_END, which open and close both the target region and the
// namespace. Headers with such code open the region themselves, below their
// own #includes, so that no #include stands inside a target region: what a
// header includes is compiled for the build's own instruction set, outside
// every version's namespace, and shared by all of them.
#pragma once

#define TURNWHEEL_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define TURNWHEEL_TARGET_BEGIN(isa) \
    TURNWHEEL_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define TURNWHEEL_TARGET_END TURNWHEEL_PRAGMA(clang attribute pop)
#else
#define TURNWHEEL_TARGET_BEGIN(isa) TURNWHEEL_PRAGMA(GCC push_options) TURNWHEEL_PRAGMA(GCC target(isa))
#define TURNWHEEL_TARGET_END TURNWHEEL_PRAGMA(GCC pop_options)
#endif

#ifndef TURNWHEEL_ISA
#error "a version of the engine defines TURNWHEEL_ISA, its namespace, before including target.hpp"
#endif

#ifdef TURNWHEEL_ISA_TARGET
#define TURNWHEEL_ISA_BEGIN \
    TURNWHEEL_TARGET_BEGIN(TURNWHEEL_ISA_TARGET) namespace turnwheel::engine::TURNWHEEL_ISA {
#define TURNWHEEL_ISA_END \
    }                     \
    TURNWHEEL_TARGET_END
#else
#define TURNWHEEL_ISA_BEGIN namespace turnwheel::engine::TURNWHEEL_ISA {
#define TURNWHEEL_ISA_END }
#endif
