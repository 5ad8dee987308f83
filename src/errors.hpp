// Every exception the module raises is built here, so that each message text
// lives in one place.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string_view>

#include "text.hpp"

namespace turnwheel::errors {

// Argument matching.
// "takes 2 positional arguments", or "from 1 to 2" where some are optional.
void too_many_positional(const char* full_name, std::size_t least, std::size_t most, std::size_t given);
void unexpected_keyword(const char* full_name, PyObject* keyword);
void multiple_values(const char* full_name, const char* parameter);
void missing_arguments(const char* full_name, const char* const* names, std::size_t count);

// "'int' object cannot be cast as 'str'".
void cannot_cast(PyObject* object, const char* target);

// Replaces a pending TypeError by "argument '<parameter>': <message>" caused
// by it; any other pending exception is left as it is.
void prefix_argument(const char* parameter);

// Classes that PyPy's emulation does not close by itself (pypy.hpp).
void not_an_acceptable_base(const char* qualified_name);
void no_attribute(const char* qualified_name, PyObject* attribute);
void read_only_attribute(const char* qualified_name, PyObject* attribute);
void not_writable(const char* qualified_name, PyObject* attribute);
void attribute_name_not_a_string();

void already_borrowed();
void already_mutably_borrowed();
void sub_interpreters_unsupported();

// An interpreter call failed: makes sure an exception is set.
void ensure_set();

// The pending exception, normalised, as one owned reference (or null), and
// raising one again, consuming the reference: on every supported version.
PyObject* take_pending();
void raise(PyObject* exception);

// The interpreter could not build a result: prints its error, then panics.
void api_call_failed();

// Internal faults of a cube operation, raised as PanicException.
void index_out_of_bounds(const IndexOutOfBounds& fault);

}  // namespace turnwheel::errors
