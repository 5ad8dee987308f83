#pragma once

#include <Python.h>

#include "../fixed_string.hpp"
#include "state.hpp"

namespace turnwheel {

struct Cube3x3Traits {
    static constexpr FixedString name = "Cube3x3";
    using State = cube3x3::State;
    static constexpr State solved = cube3x3::kSolved;
    static PyMethodDef methods[];
    static PyGetSetDef getset[];
    static PyObject* str(PyObject* self);
};

}  // namespace turnwheel
