// Creation of a cube class as a heap type, and its registration in the module.
#pragma once

#include <Python.h>

#include <cstring>

#include "binding.hpp"
#include "errors.hpp"
#include "pypy.hpp"

namespace turnwheel {

template <class Traits>
PyTypeObject* create_class() {
    static constexpr const char* qualified_name = join<"builtins.", Traits::name>;
    static constexpr const char* doc = join<Traits::name, "()\n--\n\n">;
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_new, reinterpret_cast<void*>(&construct<Traits>)},
        {Py_tp_str, reinterpret_cast<void*>(&Traits::str)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&deallocate)},
        {Py_tp_methods, Traits::methods},
        {Py_tp_getset, Traits::getset},
        {0, nullptr},
    };
    static PyType_Spec spec = {qualified_name, sizeof(ObjectOf<Traits>), 0, Py_TPFLAGS_DEFAULT, slots};

    PyObject* created = PyType_FromSpec(&spec);
    if (created == nullptr) {
        errors::ensure_set();
        return nullptr;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(created);
    if (!pypy::finish_class<Traits>(type)) {
        Py_DECREF(created);
        return nullptr;
    }
#if PY_VERSION_HEX < 0x030A0000 && !defined(PYPY_VERSION)
    // Before 3.10 CPython keeps the docstring without its text signature;
    // put the whole text back so __text_signature__ is "()". The type frees
    // tp_doc with PyObject_Free, so allocate to match. (PyPy owns the
    // buffer it made, and keeps no text signature at all.)
    const std::size_t size = std::strlen(doc) + 1;
    auto* copy = static_cast<char*>(PyObject_Malloc(size));
    if (copy == nullptr) {
        Py_DECREF(created);
        PyErr_NoMemory();
        return nullptr;
    }
    std::memcpy(copy, doc, size);
    PyObject_Free(const_cast<char*>(type->tp_doc));
    type->tp_doc = copy;
#endif
    return type;
}

// The class object, created on first need and kept for the process's life.
template <class Traits>
PyTypeObject* get_class() {
    if (class_object<Traits> == nullptr) class_object<Traits> = create_class<Traits>();
    return class_object<Traits>;
}

// Appends the class to the module's __all__ and sets it as an attribute.
template <class Traits>
bool add_class(PyObject* module) {
    PyTypeObject* type = get_class<Traits>();
    if (type == nullptr) return false;

    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            errors::ensure_set();
            return false;
        }
    } else if (!PyList_Check(all)) {
        Py_DECREF(all);
        PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
        return false;
    }
    PyObject* name = PyUnicode_FromString(Traits::name.c_str());
    const bool added = name != nullptr && PyList_Append(all, name) == 0 &&
                       PyObject_SetAttr(module, name, reinterpret_cast<PyObject*>(type)) == 0;
    Py_XDECREF(name);
    Py_DECREF(all);
    return added;
}

}  // namespace turnwheel
