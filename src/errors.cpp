#include "errors.hpp"

#include <atomic>
#include <cstdio>

namespace turnwheel::errors {
namespace {

constexpr const char kPanicDoc[] =
    "Raised when the native code of the turnwheel extension fails.\n\n"
    "Like SystemExit, this exception derives from BaseException, so that it will "
    "typically propagate all the way through the stack and end the interpreter.";

// Created on first use and kept for the life of the process. Without the
// interpreter lock two threads may both create it: the first published wins
// and the other is dropped.
std::atomic<PyObject*> panic_type{nullptr};

PyObject* panic_exception() {
    PyObject* type = panic_type.load(std::memory_order_acquire);
    if (type != nullptr) return type;
    PyObject* made = PyErr_NewExceptionWithDoc("turnwheel_native.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
    if (made == nullptr) return nullptr;
    if (panic_type.compare_exchange_strong(type, made, std::memory_order_acq_rel)) return made;
    Py_DECREF(made);
    return type;
}

void panic(const char* message) {
    if (PyObject* type = panic_exception()) PyErr_SetString(type, message);
}

// The __qualname__ of an object's type, as an owned str.
PyObject* type_qualname(PyObject* object) {
    PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__");
    if (name == nullptr || !PyUnicode_Check(name)) {
        PyErr_Clear();
        Py_XDECREF(name);
        name = PyUnicode_FromString(Py_TYPE(object)->tp_name);
    }
    return name;
}

}  // namespace

PyObject* take_pending() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

void raise(PyObject* exception) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception));
    Py_INCREF(type);
    PyErr_Restore(type, exception, PyException_GetTraceback(exception));
#endif
}

void too_many_positional(const char* full_name, std::size_t least, std::size_t most, std::size_t given) {
    const char* verb = given == 1 ? "was" : "were";
    if (least == most) {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zu %s given", full_name, most, given, verb);
    } else {
        PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zu %s given", full_name, least,
                     most, given, verb);
    }
}

void unexpected_keyword(const char* full_name, PyObject* keyword) {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", full_name, keyword);
}

void multiple_values(const char* full_name, const char* parameter) {
    PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", full_name, parameter);
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'. Built in a fixed buffer: raising an
// error must not itself be able to fail with a C++ exception.
void missing_arguments(const char* full_name, const char* const* names, std::size_t count) {
    char list[256];
    std::size_t used = 0;
    const auto add = [&](const char* text) {
        for (; *text != '\0' && used + 1 < sizeof list; ++text) list[used++] = *text;
    };
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) add(count == 2 ? " and " : (i + 1 == count ? ", and " : ", "));
        add("'");
        add(names[i]);
        add("'");
    }
    list[used] = '\0';
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", full_name, count,
                 count == 1 ? "argument" : "arguments", list);
}

void cannot_cast(PyObject* object, const char* target) {
    PyObject* name = type_qualname(object);
    if (name == nullptr) return;
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be cast as '%s'", name, target);
    Py_DECREF(name);
}

void prefix_argument(const char* parameter) {
    ensure_set();
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject* cause = take_pending();
    if (Py_TYPE(cause) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        raise(cause);  // a subclass of TypeError passes unchanged
        return;
    }
    PyErr_Format(PyExc_TypeError, "argument '%s': %S", parameter, cause);
    PyObject* wrapped = take_pending();
    if (wrapped == nullptr) {  // str() of the cause failed; that error stands
        Py_DECREF(cause);
        return;
    }
    PyException_SetCause(wrapped, cause);
    raise(wrapped);
}

void not_an_acceptable_base(const char* qualified_name) {
    PyErr_Format(PyExc_TypeError, "type '%s' is not an acceptable base type", qualified_name);
}

void no_attribute(const char* qualified_name, PyObject* attribute) {
    PyErr_Format(PyExc_AttributeError, "'%s' object has no attribute '%U'", qualified_name, attribute);
}

void read_only_attribute(const char* qualified_name, PyObject* attribute) {
    PyErr_Format(PyExc_AttributeError, "'%s' object attribute '%U' is read-only", qualified_name, attribute);
}

void not_writable(const char* qualified_name, PyObject* attribute) {
    PyErr_Format(PyExc_AttributeError, "attribute '%U' of '%s' objects is not writable", attribute, qualified_name);
}

void attribute_name_not_a_string() { PyErr_SetString(PyExc_TypeError, "attribute name must be string"); }

void already_borrowed() { PyErr_SetString(PyExc_RuntimeError, "Already borrowed"); }

void already_mutably_borrowed() { PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed"); }

void sub_interpreters_unsupported() {
    PyErr_SetString(PyExc_ImportError,
                    "turnwheel does not support sub-interpreters: it can only be imported once per process, "
                    "by the interpreter that imported it first");
}

void ensure_set() {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
}

void api_call_failed() {
    ensure_set();
    PyErr_Print();
    panic("Python API call failed");
}

void index_out_of_bounds(const IndexOutOfBounds& fault) {
    char message[96];
    std::snprintf(message, sizeof message, "index out of bounds: the len is %zu but the index is %zu", fault.length,
                  fault.index);
    panic(message);
}

}  // namespace turnwheel::errors
