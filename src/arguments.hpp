// Matching of Python call arguments against a member's parameter list, and
// conversion of single arguments to the values the cube operations take.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fixed_string.hpp"

namespace turnwheel {

// Binds fastcall arguments to `count` required positional-or-keyword
// parameters; `bound` receives borrowed references in parameter order.
// On a mismatch raises TypeError and returns false.
bool bind_arguments(const char* full_name, const char* const* names, std::size_t count, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, PyObject** bound);

// Refuses any argument, for a constructor without parameters.
bool bind_no_arguments(const char* full_name, PyObject* args, PyObject* kwargs);

// An int (or int subclass) directly, anything else through __index__.
struct U64 {
    using type = std::uint64_t;
    static bool convert(PyObject* object, std::uint64_t& out);
};

// A str (or str subclass) as a view of its UTF-8 form, which the str owns.
struct Utf8 {
    using type = std::string_view;
    static bool convert(PyObject* object, std::string_view& out);
};

template <FixedString Name, class Converter>
struct Parameter {
    static constexpr auto name = Name;
    using converter = Converter;
};

template <FixedString Name>
using U64Parameter = Parameter<Name, U64>;
template <FixedString Name>
using TextParameter = Parameter<Name, Utf8>;

}  // namespace turnwheel
