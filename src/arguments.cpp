#include "arguments.hpp"

#include "errors.hpp"

namespace turnwheel {

bool bind_signature(const char* full_name, const ParameterInfo* parameters, std::size_t count, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, PyObject** bound) {
    std::size_t by_position = 0, required = 0;
    for (std::size_t i = 0; i < count; ++i) {
        by_position += parameters[i].pass != Pass::KeywordOnly;
        required += parameters[i].pass == Pass::Required;
    }
    const auto positional = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
    if (positional > by_position) {
        errors::too_many_positional(full_name, required, by_position, positional);
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) bound[i] = i < positional ? args[i] : nullptr;

    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        std::size_t i = 0;
        while (i < count && PyUnicode_CompareWithASCIIString(keyword, parameters[i].name) != 0) ++i;
        if (i == count) {
            errors::unexpected_keyword(full_name, keyword);
            return false;
        }
        if (bound[i] != nullptr) {
            errors::multiple_values(full_name, parameters[i].name);
            return false;
        }
        bound[i] = args[positional + static_cast<std::size_t>(k)];
    }

    const char* missing[8];
    std::size_t missing_count = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (bound[i] == nullptr && parameters[i].pass == Pass::Required && missing_count < std::size(missing))
            missing[missing_count++] = parameters[i].name;
    if (missing_count > 0) {
        errors::missing_arguments(full_name, missing, missing_count);
        return false;
    }
    return true;
}

bool bind_arguments(const char* full_name, const char* const* names, std::size_t count, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, PyObject** bound) {
    ParameterInfo parameters[8];
    for (std::size_t i = 0; i < count && i < std::size(parameters); ++i) parameters[i] = {names[i], Pass::Required};
    return bind_signature(full_name, parameters, count, args, nargsf, kwnames, bound);
}

bool bind_no_arguments(const char* full_name, PyObject* args, PyObject* kwargs) {
    const Py_ssize_t positional = args == nullptr ? 0 : PyTuple_GET_SIZE(args);
    if (positional > 0) {
        errors::too_many_positional(full_name, 0, 0, static_cast<std::size_t>(positional));
        return false;
    }
    Py_ssize_t at = 0;
    PyObject *keyword, *value;
    if (kwargs != nullptr && PyDict_Next(kwargs, &at, &keyword, &value)) {
        errors::unexpected_keyword(full_name, keyword);
        return false;
    }
    return true;
}

bool U64::convert(PyObject* object, std::uint64_t& out) {
    unsigned long long value;
    if (PyLong_Check(object)) {
        value = PyLong_AsUnsignedLongLong(object);
    } else {
        PyObject* index = PyNumber_Index(object);
        if (index == nullptr) return false;
        value = PyLong_AsUnsignedLongLong(index);
        Py_DECREF(index);
    }
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool Units::convert(PyObject* object, MoveText& out) {
    if (!PyUnicode_Check(object)) {
        errors::cannot_cast(object, "str");
        return false;
    }
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(object) != 0) return false;
#endif
    out = MoveText(PyUnicode_DATA(object), static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)),
                   static_cast<unsigned>(PyUnicode_KIND(object)));
    return true;
}

void Units::refuse(PyObject* object) {
    // Encoding raises the interpreter's own UnicodeEncodeError; the bytes it
    // would make are not kept.
    PyObject* encoded = PyUnicode_AsUTF8String(object);
    if (encoded == nullptr) return;
    Py_DECREF(encoded);
    errors::api_call_failed();
}

}  // namespace turnwheel
