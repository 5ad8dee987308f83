// Matching of Python call arguments against a member's parameter list, and
// conversion of single arguments to the values the cube operations take.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "fixed_string.hpp"
#include "move_text.hpp"

namespace turnwheel {

// How a parameter may be given: by position or keyword, required or not,
// or by keyword only (and not required). Keyword-only ones come last.
enum class Pass : unsigned char { Required, Optional, KeywordOnly };

struct ParameterInfo {
    const char* name;
    Pass pass;
};

// Binds fastcall arguments to `count` parameters; `bound` receives borrowed
// references in parameter order, null for an optional one not given. On a
// mismatch raises TypeError and returns false.
bool bind_signature(const char* full_name, const ParameterInfo* parameters, std::size_t count, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, PyObject** bound);

// The same for `count` (at most 8) required positional-or-keyword parameters.
bool bind_arguments(const char* full_name, const char* const* names, std::size_t count, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, PyObject** bound);

// Refuses any argument, for a constructor without parameters.
bool bind_no_arguments(const char* full_name, PyObject* args, PyObject* kwargs);

// An int (or int subclass) directly, anything else through __index__.
struct U64 {
    using type = std::uint64_t;
    static constexpr bool runs_python = true;  // an __index__ method
    static bool convert(PyObject* object, std::uint64_t& out);
};

// A str (or str subclass) as a view of its own code units, which the str
// owns: nothing is copied or cached. An operation that finds the text cannot
// be encoded (a lone surrogate) calls `refuse`, which raises what encoding
// it raises.
struct Units {
    using type = MoveText;
    static constexpr bool runs_python = false;
    static bool convert(PyObject* object, MoveText& out);
    static void refuse(PyObject* object);
};

template <FixedString Name, class Converter>
struct Parameter {
    static constexpr auto name = Name;
    using converter = Converter;
};

template <FixedString Name>
using U64Parameter = Parameter<Name, U64>;
template <FixedString Name>
using TextParameter = Parameter<Name, Units>;

}  // namespace turnwheel
