// What PyPy's emulation of the C API leaves undone for the classes and the
// module, done by hand there and only there: a class that may not be
// subclassed, instances that take no new attributes, and empty documentation
// strings. (PyPy gives every object a __dict__ and a weak-reference slot, and
// ignores the class flags that refuse them.)
#pragma once

#include <Python.h>

#include "errors.hpp"
#include "fixed_string.hpp"

namespace turnwheel::pypy {

#ifdef PYPY_VERSION
// __init_subclass__ of a class that is no base: the new class is refused.
template <class Traits>
PyObject* refuse_subclass(PyObject*, PyObject*, PyObject*) {
    errors::not_an_acceptable_base(join<"builtins.", Traits::name>);
    return nullptr;
}

// __setattr__ and __delattr__: every attribute of these classes is a method
// or a getter without a setter, and no other name may be added, so every
// write is refused as it is on CPython.
template <class Traits>
PyObject* refuse_attribute(PyObject* self, PyObject* args) {
    PyObject* name = PyTuple_Size(args) > 0 ? PyTuple_GetItem(args, 0) : nullptr;
    if (name == nullptr || !PyUnicode_Check(name)) {
        errors::attribute_name_not_a_string();
        return nullptr;
    }
    // The getters are known by name: PyPy crashes handing one to C.
    for (const PyGetSetDef* getter = Traits::getset; getter->name != nullptr; ++getter) {
        if (PyUnicode_CompareWithASCIIString(name, getter->name) == 0) {
            errors::not_writable(join<"builtins.", Traits::name>, name);
            return nullptr;
        }
    }
    if (_PyType_Lookup(Py_TYPE(self), name) != nullptr)
        errors::read_only_attribute(join<"builtins.", Traits::name>, name);
    else
        errors::no_attribute(join<"builtins.", Traits::name>, name);
    return nullptr;
}

// The setter of a read-only attribute, where PyPy needs one.
template <class Traits, FixedString Name>
int refuse_write(PyObject*, PyObject*, void*) {
    PyObject* name = PyUnicode_FromString(Name.c_str());
    if (name == nullptr) return -1;
    errors::not_writable(join<"builtins.", Traits::name>, name);
    Py_DECREF(name);
    return -1;
}

// After the class is made: the methods above and an empty __doc__.
template <class Traits>
bool finish_class(PyTypeObject* type) {
    static PyMethodDef methods[] = {
        {"__init_subclass__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&refuse_subclass<Traits>)),
         METH_VARARGS | METH_KEYWORDS | METH_CLASS, nullptr},
        {"__setattr__", &refuse_attribute<Traits>, METH_VARARGS, nullptr},
        {"__delattr__", &refuse_attribute<Traits>, METH_VARARGS, nullptr},
    };
    auto* object = reinterpret_cast<PyObject*>(type);
    bool done = true;
    for (PyMethodDef& method : methods) {
        PyObject* descriptor = method.ml_flags & METH_CLASS ? PyDescr_NewClassMethod(type, &method)
                                                            : PyDescr_NewMethod(type, &method);
        done = done && descriptor != nullptr && PyObject_SetAttrString(object, method.ml_name, descriptor) == 0;
        Py_XDECREF(descriptor);
    }
    PyObject* empty = PyUnicode_FromString("");
    done = done && empty != nullptr && PyObject_SetAttrString(object, "__doc__", empty) == 0;
    Py_XDECREF(empty);
    return done;
}

template <class Traits, FixedString Name>
inline constexpr setter read_only_setter = &refuse_write<Traits, Name>;

#else
template <class Traits>
bool finish_class(PyTypeObject*) {
    return true;
}

template <class Traits, FixedString Name>
inline constexpr setter read_only_setter = nullptr;
#endif

}  // namespace turnwheel::pypy
