#pragma once

#include <Python.h>

#include "../fixed_string.hpp"
#include "moves.hpp"

namespace turnwheel {

struct Cube2x2Traits {
    static constexpr FixedString name = "Cube2x2";
    using State = cube2x2::State;
    static constexpr State solved = cube2x2::kSolved;
    static PyMethodDef methods[];
    static PyGetSetDef getset[];
    static PyObject* str(PyObject* self);
};

}  // namespace turnwheel
