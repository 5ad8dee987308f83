// Builds the functions between TURNWHEEL_TARGET_BEGIN("isa") and
// TURNWHEEL_TARGET_END for that instruction set, whatever the rest of the
// file and the build are built for. Headers included before the BEGIN keep
// the build's own instruction set.
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
