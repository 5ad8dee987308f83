// The headers a module is built against must be of the platform it is built
// for: checked in each module's own file.
#pragma once

#include <Python.h>

// Built against a pyconfig.h of another platform, the module would compile,
// load and pass for working while Py_INCREF counted in the wrong half of a
// reference count (another byte order) or objects were laid out for another
// word size. Such a build stops here instead.
#ifdef SIZEOF_VOID_P
static_assert(SIZEOF_VOID_P == sizeof(void*), "pyconfig.h is of another word size than the target");
#endif
#ifdef __BYTE_ORDER__
#ifdef WORDS_BIGENDIAN
static_assert(__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__, "pyconfig.h is big-endian, the target is not");
#else
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pyconfig.h is little-endian, the target is not");
#endif
#endif
