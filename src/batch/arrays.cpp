#include "arrays.hpp"

#include <cstdio>
#include <cstring>

#include "messages.hpp"

namespace turnwheel::batch {

NumPy numpy;

namespace {

constexpr const char* kElementNames[] = {"uint8", "int8", "uint16", "int16", "uint32",
                                         "int32", "uint64", "int64",  "bool"};

// The element a buffer's format names: one native integer or a bool.
Element element_of(const Py_buffer& view, bool& foreign_order) {
    const char* format = view.format == nullptr ? "B" : view.format;
    foreign_order = false;
    switch (*format) {
        case '@':
        case '=': ++format; break;
#if PY_BIG_ENDIAN
        case '>':
        case '!': ++format; break;
        case '<': foreign_order = view.itemsize > 1; ++format; break;
#else
        case '<': ++format; break;
        case '>':
        case '!': foreign_order = view.itemsize > 1; ++format; break;
#endif
        default: break;
    }
    if (format[0] == '\0' || format[1] != '\0') return Element::Other;
    const bool is_signed = std::strchr("bhilqn", format[0]) != nullptr;
    if (format[0] == '?') return view.itemsize == 1 ? Element::Bool : Element::Other;
    if (!is_signed && std::strchr("BHILQN", format[0]) == nullptr) return Element::Other;
    switch (view.itemsize) {
        case 1: return is_signed ? Element::I8 : Element::U8;
        case 2: return is_signed ? Element::I16 : Element::U16;
        case 4: return is_signed ? Element::I32 : Element::U32;
        case 8: return is_signed ? Element::I64 : Element::U64;
        default: return Element::Other;
    }
}

// (Not const: PyPy declares PyBuffer_IsContiguous without it.)
bool contiguous_and_aligned(Py_buffer& view) {
    const auto address = reinterpret_cast<std::uintptr_t>(view.buf);
    return PyBuffer_IsContiguous(&view, 'C') && (view.itemsize == 0 || address % std::uintptr_t(view.itemsize) == 0);
}

// Where the elements of a view lie, from the lowest byte to past the highest.
void extent(const Py_buffer& view, const char*& begin, const char*& end) {
    begin = end = static_cast<const char*>(view.buf);
    Py_ssize_t low = 0, high = view.itemsize;
    for (int d = 0; d < view.ndim; ++d) {
        if (view.shape[d] == 0) return;
        const Py_ssize_t stride = view.strides != nullptr ? view.strides[d] : 0, span = (view.shape[d] - 1) * stride;
        (span < 0 ? low : high) += span;
    }
    begin += low;
    end += high;
}

PyObject* call1(PyObject* function, PyObject* argument) { return PyObject_CallOneArg(function, argument); }

}  // namespace

TypeName type_name(const Py_buffer& view) {
    TypeName name{};
    const char* format = view.format == nullptr ? "B" : view.format;
    while (*format == '@' || *format == '=' || *format == '<' || *format == '>' || *format == '!') ++format;
    const int bits = int(view.itemsize) * 8;
    const char* kind = *format == '?' ? "bool" : std::strchr("efdg", *format) != nullptr ? "float"
                       : *format == 'Z' ? "complex" : *format == 'O' ? "object"
                       : std::strchr("bhilqn", *format) != nullptr ? "int"
                       : std::strchr("BHILQN", *format) != nullptr ? "uint" : nullptr;
    if (kind == nullptr || format[0] == '\0' || format[1] != '\0') {
        std::snprintf(name.text, sizeof name.text, "format '%.12s'", view.format == nullptr ? "B" : view.format);
    } else if (*format == '?' || *format == 'O') {
        std::snprintf(name.text, sizeof name.text, "%s", kind);
    } else {
        std::snprintf(name.text, sizeof name.text, "%s%d", kind, bits);
    }
    return name;
}

const char* element_name(Element element) {
    return element == Element::Other ? "another type" : kElementNames[static_cast<int>(element)];
}

bool is_integer(Element element) { return element != Element::Bool && element != Element::Other; }

bool import_numpy() {
    PyObject* module = PyImport_ImportModule("numpy");
    if (module == nullptr) {
        messages::numpy_missing();
        return false;
    }
    PyObject* random = PyImport_ImportModule("numpy.random");
    bool ok = random != nullptr;
    const auto get = [&](PyObject* from, const char* name, PyObject*& into, bool required) {
        if (!ok) return;
        into = PyObject_GetAttrString(from, name);
        if (into == nullptr && !required) PyErr_Clear();
        ok = into != nullptr || !required;
    };
    get(module, "empty", numpy.empty, true);
    get(module, "asarray", numpy.asarray, true);
    get(module, "from_dlpack", numpy.from_dlpack, false);
    get(random, "default_rng", numpy.default_rng, true);
    get(random, "Generator", numpy.generator, true);
    for (int k = 0; ok && k < 9; ++k) {
        PyObject* name = PyUnicode_FromString(kElementNames[k]);
        PyObject* dtype = PyObject_GetAttrString(module, "dtype");
        numpy.dtypes[k] = name != nullptr && dtype != nullptr ? call1(dtype, name) : nullptr;
        Py_XDECREF(name);
        Py_XDECREF(dtype);
        ok = numpy.dtypes[k] != nullptr;
    }
    Py_XDECREF(random);
    Py_DECREF(module);
    return ok;
}

std::size_t Shape::count() const {
    std::size_t n = 1;
    for (int d = 0; d < dimensions; ++d) n *= std::size_t(extent[d]);
    return n;
}

bool Shape::operator==(const Shape& other) const {
    if (dimensions != other.dimensions) return false;
    for (int d = 0; d < dimensions; ++d)
        if (extent[d] != other.extent[d]) return false;
    return true;
}

// ---- In -----------------------------------------------------------------------------

ArrayIn::~ArrayIn() {
    if (viewing_) PyBuffer_Release(&view_);
    Py_XDECREF(converted_);
    PyMem_Free(copy_);
}

namespace {

// A view of an argument's elements: its own buffer, or that of what
// numpy.from_dlpack (which shares the exporter's memory) or, where
// `any_sequence`, numpy.asarray makes of it. False, with nothing raised, if
// there is none.
bool view_of(PyObject* object, Py_buffer& view, PyObject*& converted, bool any_sequence) {
    PyObject* source = object;
    if (!PyObject_CheckBuffer(source)) {
        PyObject* dlpack = numpy.from_dlpack != nullptr ? PyObject_GetAttrString(source, "__dlpack__") : nullptr;
        if (dlpack == nullptr) PyErr_Clear();
        if (dlpack == nullptr && !any_sequence) return false;
        converted = call1(dlpack != nullptr ? numpy.from_dlpack : numpy.asarray, source);
        Py_XDECREF(dlpack);
        if (converted == nullptr) {
            PyErr_Clear();
            return false;
        }
        source = converted;
    }
    if (PyObject_GetBuffer(source, &view, PyBUF_RECORDS_RO) < 0) {
        PyErr_Clear();
        return false;
    }
    return true;
}

// What the view holds, checked: at most kMostDimensions dimensions of
// integers (or bools) in the machine's byte order.
bool read_layout(const Call& call, const char* name, const Py_buffer& view, Element& element, Shape& shape) {
    if (view.ndim > kMostDimensions) {
        messages::too_many_dimensions(call, name, view.ndim);
        return false;
    }
    bool foreign_order;
    element = element_of(view, foreign_order);
    if (foreign_order) {
        messages::foreign_byte_order(call, name);
        return false;
    }
    shape.dimensions = view.ndim;
    for (int d = 0; d < view.ndim; ++d) shape.extent[d] = view.shape[d];
    return true;
}

}  // namespace

bool ArrayIn::acquire(const Call& call, const char* argument, PyObject* argument_object) {
    name = argument;
    object = argument_object;
    if (!view_of(object, view_, converted_, true)) {
        messages::not_an_array(call, name, object);
        return false;
    }
    viewing_ = true;
    if (!read_layout(call, name, view_, element, shape)) return false;
    bytes = std::size_t(view_.len);
    data = view_.buf;
    if (!contiguous_and_aligned(view_)) {
        copy_ = PyMem_Malloc(bytes == 0 ? 1 : bytes);
        if (copy_ == nullptr) {
            PyErr_NoMemory();
            return false;
        }
        if (PyBuffer_ToContiguous(copy_, &view_, view_.len, 'C') < 0) return false;
        data = copy_;
    }
    return true;
}

bool ArrayIn::detach_from(const void* begin, const void* end) {
    const char *low, *high;
    if (copy_ != nullptr) return true;  // already a copy of our own
    extent(view_, low, high);
    if (high <= static_cast<const char*>(begin) || low >= static_cast<const char*>(end)) return true;
    copy_ = PyMem_Malloc(bytes == 0 ? 1 : bytes);
    if (copy_ == nullptr) {
        PyErr_NoMemory();
        return false;
    }
    std::memcpy(copy_, data, bytes);
    data = copy_;
    return true;
}

// ---- Out ----------------------------------------------------------------------------

ArrayOut::~ArrayOut() {
    if (viewing_) PyBuffer_Release(&view_);
    Py_XDECREF(array_);
    PyMem_Free(copy_);
}

bool ArrayOut::make(const Shape& shape, Element made) {
    PyObject* extents = PyTuple_New(shape.dimensions);
    if (extents == nullptr) return false;
    for (int d = 0; d < shape.dimensions; ++d) {
        PyObject* extent = PyLong_FromSsize_t(shape.extent[d]);
        if (extent == nullptr) {
            Py_DECREF(extents);
            return false;
        }
        PyTuple_SET_ITEM(extents, d, extent);
    }
    array_ = PyObject_CallFunctionObjArgs(numpy.empty, extents, numpy.dtypes[static_cast<int>(made)], nullptr);
    Py_DECREF(extents);
    if (array_ == nullptr || PyObject_GetBuffer(array_, &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0) return false;
    viewing_ = true;
    element = made;
    data = view_.buf;
    bytes = std::size_t(view_.len);
    return true;
}

bool ArrayOut::adopt(const Call& call, PyObject* out, const Shape& shape, Element wanted, Element alternative) {
    PyObject* converted = nullptr;
    const bool viewed = view_of(out, view_, converted, false);
    Py_XDECREF(converted);  // the view keeps what it views
    if (!viewed) {
        messages::not_an_array(call, "out", out);
        return false;
    }
    viewing_ = true;
    Shape found;
    if (!read_layout(call, "out", view_, element, found)) return false;
    if (element != wanted && element != alternative) {
        messages::wrong_element(call, "out", type_name(view_), wanted == alternative ? element_name(wanted) : "uint64 (or int64)");
        return false;
    }
    if (!(found == shape)) {
        messages::wrong_out_shape(call, found, shape);
        return false;
    }
    if (view_.readonly) {
        messages::read_only_out(call);
        return false;
    }
    Py_INCREF(out);
    array_ = out;
    bytes = std::size_t(view_.len);
    data = view_.buf;
    if (!contiguous_and_aligned(view_)) {
        copy_ = PyMem_Malloc(bytes == 0 ? 1 : bytes);
        if (copy_ == nullptr) {
            PyErr_NoMemory();
            return false;
        }
        data = copy_;
    }
    return true;
}

PyObject* ArrayOut::finish() {
    if (copy_ != nullptr && PyBuffer_FromContiguous(&view_, copy_, view_.len, 'C') < 0) return nullptr;
    if (viewing_) PyBuffer_Release(&view_);
    viewing_ = false;
    PyObject* result = array_;
    array_ = nullptr;
    return result;
}

}  // namespace turnwheel::batch
