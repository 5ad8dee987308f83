#include "converters.hpp"

#include "messages.hpp"

namespace turnwheel::batch {
namespace {

// An int, or an object with __index__ (NumPy's integers); not a bool.
bool as_long_long(const Call& call, const char* name, PyObject* given, long long& out) {
    if (PyBool_Check(given) || !PyIndex_Check(given)) {
        messages::not_an_int(call, name, given);
        return false;
    }
    PyObject* index = PyNumber_Index(given);
    if (index == nullptr) return false;
    int overflow = 0;
    out = PyLong_AsLongLongAndOverflow(index, &overflow);
    Py_DECREF(index);
    if (out == -1 && PyErr_Occurred()) return false;
    if (overflow != 0) out = overflow < 0 ? -1 : (1LL << 62);  // far out of any range taken
    return true;
}

}  // namespace

bool StatesArgument::convert(const Call& call, const char* name, PyObject* given, States& out) {
    if (!out.array.acquire(call, name, given)) return false;
    const Element element = out.array.element;
    if (element != Element::U64 && element != Element::I64) {
        messages::wrong_element(call, name, out.array.type(), "uint64 (or int64)");
        return false;
    }
    const Shape& shape = out.array.shape;
    if (shape.dimensions == 2 && shape.extent[1] == 2) {
        out.words = 2;
    } else if (shape.dimensions == 1) {
        out.words = 1;
    } else {
        messages::not_states(call, name, shape);
        return false;
    }
    out.n = std::size_t(shape.extent[0]);
    return true;
}

bool IntegersArgument::convert(const Call& call, const char* name, PyObject* given, Integers& out) {
    if (!out.array.acquire(call, name, given)) return false;
    if (!is_integer(out.array.element)) {
        messages::wrong_element(call, name, out.array.type(), "integers");
        return false;
    }
    if (out.array.shape.dimensions != 1) {
        messages::wrong_shape(call, name, out.array.shape, "(n,)");
        return false;
    }
    out.n = std::size_t(out.array.shape.extent[0]);
    return true;
}

bool MovesArgument::convert(const Call& call, const char* name, PyObject* given, Moves& out) {
    out.given = given != nullptr && given != Py_None;
    if (!out.given) return true;
    if (PyUnicode_Check(given)) {
        TextArgument::type text;
        if (!TextArgument::convert(call, name, given, text)) return false;
        out.is_text = true;
        out.text_object = given;
        out.text = text.text;
        return true;
    }
    if (PyBytes_Check(given) || PyByteArray_Check(given)) {
        messages::not_moves(call, name, given);
        return false;
    }
    return IntegersArgument::convert(call, name, given, out.codes);
}

bool TextArgument::convert(const Call& call, const char* name, PyObject* given, type& out) {
    if (!PyUnicode_Check(given)) {
        messages::not_a_str(call, name, given);
        return false;
    }
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(given) != 0) return false;
#endif
    out.object = given;
    out.text = MoveText(PyUnicode_DATA(given), static_cast<std::size_t>(PyUnicode_GET_LENGTH(given)),
                        static_cast<unsigned>(PyUnicode_KIND(given)));
    return true;
}

bool OutArgument::convert(const Call&, const char*, PyObject* given, PyObject*& out) {
    out = given == Py_None ? nullptr : given;
    return true;
}

bool ThreadsArgument::convert(const Call& call, const char* name, PyObject* given, unsigned& out) {
    out = 0;
    if (given == nullptr || given == Py_None) return true;
    long long value;
    if (!as_long_long(call, name, given, value)) return false;
    if (value < 1) {
        messages::not_a_thread_count(call, given);
        return false;
    }
    out = value > 1024 ? 1024 : unsigned(value);
    return true;
}

bool CountArgument::convert(const Call& call, const char* name, PyObject* given, std::size_t& out) {
    out = 0;
    if (given == nullptr) return true;  // an optional count (begin=0)
    long long value;
    if (!as_long_long(call, name, given, value)) return false;
    if (value < 0) {
        messages::negative(call, name, value);
        return false;
    }
    out = std::size_t(value);
    return true;
}

bool SizeArgument::convert(const Call& call, const char* name, PyObject* given, unsigned& out) {
    out = 2;
    if (given == nullptr) return true;
    long long value;
    if (!as_long_long(call, name, given, value)) return false;
    if (value != 2 && value != 3) {
        messages::not_a_size(call, given);
        return false;
    }
    out = value == 3 ? 2 : 1;
    return true;
}

bool SeedArgument::convert(const Call&, const char*, PyObject* given, PyObject*& out) {
    out = given == nullptr ? Py_None : given;
    return true;
}

bool FlagArgument::convert(const Call& call, const char* name, PyObject* given, bool& out) {
    out = false;
    if (given == nullptr) return true;
    const int truth = PyObject_IsTrue(given);
    if (truth < 0) {
        PyErr_Clear();
        messages::not_a_flag(call, name, given);
        return false;
    }
    out = truth != 0;
    return true;
}

bool EdgePatternArgument::convert(const Call& call, const char*, PyObject* given, cube3x3::EdgePattern& out) {
    out = cube3x3::first_edges(7);
    if (given == nullptr) return true;
    if (PyIndex_Check(given) && !PyBool_Check(given)) {
        const Py_ssize_t count = PyNumber_AsSsize_t(given, nullptr);
        if (count == -1 && PyErr_Occurred()) return false;
        if (count < 1 || count > Py_ssize_t(cube3x3::kEdgeSlots)) {
            messages::not_an_edge_pattern(call, given);
            return false;
        }
        out = cube3x3::first_edges(unsigned(count));
        return true;
    }
    PyObject* items = PyUnicode_Check(given) ? nullptr : PySequence_Fast(given, "");
    if (items == nullptr) {
        PyErr_Clear();
        messages::not_an_edge_pattern(call, given);
        return false;
    }
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items);
    bool good = count >= 1 && count <= Py_ssize_t(cube3x3::kEdgeSlots);
    unsigned seen = 0;
    for (Py_ssize_t k = 0; good && k < count; ++k) {
        PyObject* item = PySequence_Fast_GET_ITEM(items, k);
        const Py_ssize_t piece = PyIndex_Check(item) && !PyBool_Check(item) ? PyNumber_AsSsize_t(item, nullptr) : -1;
        if (piece == -1 && PyErr_Occurred()) PyErr_Clear();
        good = piece >= 0 && piece < Py_ssize_t(cube3x3::kEdgeSlots) && (seen >> piece & 1) == 0;
        seen |= good ? 1u << piece : 0;
        out.pieces[k] = std::uint8_t(piece);
    }
    Py_DECREF(items);
    if (!good) {
        messages::not_an_edge_pattern(call, given);
        return false;
    }
    out.count = unsigned(count);
    return true;
}

}  // namespace turnwheel::batch

namespace turnwheel::batch {

std::uint64_t size_of(const Pattern& pattern) {
    return pattern.corners ? cube3x3::kCornerPositions : cube3x3::edge_positions(pattern.edges.count);
}

bool PatternArgument::convert(const Call& call, const char* name, PyObject* given, Pattern& out) {
    out = Pattern{};
    if (given == nullptr || (PyUnicode_Check(given) && PyUnicode_CompareWithASCIIString(given, "corners") == 0))
        return true;
    if (PyUnicode_Check(given)) {
        messages::not_a_pattern(call, name, given);
        return false;
    }
    out.corners = false;
    return EdgePatternArgument::convert(call, name, given, out.edges);
}

bool BitmapArgument::convert(const Call& call, const char* name, PyObject* given, Bitmap& out) {
    if (!out.array.acquire(call, name, given)) return false;
    if (out.array.element != Element::U8) {
        messages::wrong_element(call, name, out.array.type(), "uint8 (a bitmap, as numpy.packbits makes)");
        return false;
    }
    if (out.array.shape.dimensions != 1) {
        messages::wrong_shape(call, name, out.array.shape, "(bytes,)");
        return false;
    }
    return true;
}

bool EndArgument::convert(const Call& call, const char* name, PyObject* given, std::size_t& out) {
    out = kToTheEnd;
    if (given == nullptr || given == Py_None) return true;
    return CountArgument::convert(call, name, given, out);
}

}  // namespace turnwheel::batch
