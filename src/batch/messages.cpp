#include "messages.hpp"

#include <cstdio>

#include "../errors.hpp"
#include "arrays.hpp"

namespace turnwheel::batch::messages {
namespace {

// "(5, 2)", "(5,)", "()", as NumPy writes shapes.
struct ShapeText {
    char text[96];
    explicit ShapeText(const Shape& shape) {
        int used = std::snprintf(text, sizeof text, "(");
        for (int d = 0; d < shape.dimensions && used < int(sizeof text); ++d)
            used += std::snprintf(text + used, sizeof text - std::size_t(used), d + 1 < shape.dimensions ? "%zd, " : "%zd",
                                  shape.extent[d]);
        if (used < int(sizeof text))
            std::snprintf(text + used, sizeof text - std::size_t(used), shape.dimensions == 1 ? ",)" : ")");
    }
};

// The __qualname__ of an object's type, as an owned str.
PyObject* type_name(PyObject* object) {
    PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__");
    if (name == nullptr || !PyUnicode_Check(name)) {
        PyErr_Clear();
        Py_XDECREF(name);
        name = PyUnicode_FromString(Py_TYPE(object)->tp_name);
    }
    return name;
}

void with_type(PyObject* kind, const char* format, const Call& call, const char* name, PyObject* object) {
    PyObject* type = type_name(object);
    if (type == nullptr) return;
    PyErr_Format(kind, format, call.name, name, type);
    Py_DECREF(type);
}

const char* flaw_text(bool edges, const cube3x3::PositionFlaw& flaw, char (&buffer)[96]) {
    using cube3x3::Flaw;
    switch (flaw.flaw) {
        case Flaw::HighBits:
            std::snprintf(buffer, sizeof buffer, "its %s word has bits set above its slots", edges ? "edge" : "corner");
            break;
        case Flaw::CornerTwist:
            std::snprintf(buffer, sizeof buffer, "the corner in slot %u is twisted 3 (twists are 0 to 2)", flaw.slot);
            break;
        case Flaw::CornerTwice:
            std::snprintf(buffer, sizeof buffer, "corner piece %u stands in two slots (the second is %u)", flaw.value,
                          flaw.slot);
            break;
        case Flaw::EdgeId:
            std::snprintf(buffer, sizeof buffer, "the edge in slot %u has piece id %u (ids are 0 to 11)", flaw.slot,
                          flaw.value);
            break;
        case Flaw::EdgeTwice:
            std::snprintf(buffer, sizeof buffer, "edge piece %u stands in two slots (the second is %u)", flaw.value,
                          flaw.slot);
            break;
        case Flaw::TwistSum:
            std::snprintf(buffer, sizeof buffer, "its corner twists sum to %u, which no turns make (a multiple of 3)",
                          flaw.value);
            break;
        case Flaw::None: std::snprintf(buffer, sizeof buffer, "it is one"); break;
    }
    return buffer;
}

}  // namespace

void numpy_missing() {
    // NumPy's own ImportError stays as the cause.
    PyObject* cause = errors::take_pending();
    PyErr_SetString(PyExc_ImportError, "turnwheel_batch needs NumPy: pip install numpy");
    PyObject* raised = errors::take_pending();
    if (cause != nullptr) PyException_SetCause(raised, cause);
    errors::raise(raised);
}

void sub_interpreters_unsupported() {
    PyErr_SetString(PyExc_ImportError,
                    "turnwheel_batch does not support sub-interpreters: it can only be imported once per process, "
                    "by the interpreter that imported it first");
}

void not_an_array(const Call& call, const char* name, PyObject* object) {
    with_type(PyExc_TypeError, "%s: %s must be an array (NumPy's, or with the buffer protocol or DLPack), not '%U'",
              call, name, object);
}

void too_many_dimensions(const Call& call, const char* name, int dimensions) {
    PyErr_Format(PyExc_ValueError, "%s: %s has %d dimensions, more than any argument takes", call.name, name, dimensions);
}

void foreign_byte_order(const Call& call, const char* name) {
    PyErr_Format(PyExc_TypeError, "%s: %s must be in this machine's byte order", call.name, name);
}

void wrong_element(const Call& call, const char* name, const TypeName& found, const char* expected) {
    PyErr_Format(PyExc_TypeError, "%s: %s must hold %s, not %s", call.name, name, expected, found.text);
}

void wrong_shape(const Call& call, const char* name, const Shape& found, const char* expected) {
    PyErr_Format(PyExc_ValueError, "%s: %s must have shape %s, not %s", call.name, name, expected, ShapeText(found).text);
}

void wrong_out_shape(const Call& call, const Shape& found, const Shape& expected) {
    PyErr_Format(PyExc_ValueError, "%s: out must have shape %s, not %s", call.name, ShapeText(expected).text,
                 ShapeText(found).text);
}

void read_only_out(const Call& call) { PyErr_Format(PyExc_ValueError, "%s: out is read-only", call.name); }

void not_states(const Call& call, const char* name, const Shape& found) {
    wrong_shape(call, name, found, "(n, 2) for 3x3 cubes or (n,) for 2x2 cubes");
}

void not_3x3_states(const Call& call, const char* name, const Shape& found) {
    wrong_shape(call, name, found, "(n, 2): only 3x3 cubes have edges");
}

void codes_do_not_match(const Call& call, std::size_t codes, std::size_t states) {
    PyErr_Format(PyExc_ValueError, "%s: codes must have one code a state, (%zu,), not (%zu,)", call.name, states, codes);
}

void not_a_move_code(const Call& call, const char* name, std::size_t row, PyObject* value) {
    PyErr_Format(PyExc_ValueError, "%s: %s[%zu] is %S, not a move code (0 to 17)", call.name, name, row, value);
}

void index_out_of_range(const Call& call, const char* name, std::size_t row, PyObject* value, std::uint64_t count) {
    PyErr_Format(PyExc_ValueError, "%s: %s[%zu] is %S, outside 0 to %llu", call.name, name, row, value,
                 static_cast<unsigned long long>(count - 1));
}

void not_a_position(const Call& call, const char* name, std::size_t row, bool edges, const cube3x3::PositionFlaw& flaw) {
    char buffer[96];
    PyErr_Format(PyExc_ValueError, "%s: %s[%zu] is not a position: %s", call.name, name, row, flaw_text(edges, flaw, buffer));
}

void not_an_int(const Call& call, const char* name, PyObject* object) {
    with_type(PyExc_TypeError, "%s: %s must be an int, not '%U'", call, name, object);
}

void negative(const Call& call, const char* name, long long value) {
    PyErr_Format(PyExc_ValueError, "%s: %s must be 0 or more, not %lld", call.name, name, value);
}

void not_a_size(const Call& call, PyObject* object) {
    PyErr_Format(PyExc_ValueError, "%s: size must be 2 or 3 (the cube's edge length), not %R", call.name, object);
}

void not_a_thread_count(const Call& call, PyObject* object) {
    PyErr_Format(PyExc_ValueError, "%s: threads must be None (every core) or a count of 1 or more, not %R", call.name,
                 object);
}

void not_moves(const Call& call, const char* name, PyObject* object) {
    with_type(PyExc_TypeError, "%s: %s must be a move string or an array of move codes, not '%U'", call, name, object);
}

void not_a_str(const Call& call, const char* name, PyObject* object) {
    with_type(PyExc_TypeError, "%s: %s must be a str, not '%U'", call, name, object);
}

void not_an_edge_pattern(const Call& call, PyObject* object) {
    PyErr_Format(PyExc_ValueError,
                 "%s: edges must be a count k of 1 to 12 (pieces 0 to k - 1) or a sequence of distinct edge piece "
                 "ids 0 to 11, not %R",
                 call.name, object);
}

void not_a_flag(const Call& call, const char* name, PyObject* object) {
    with_type(PyExc_TypeError, "%s: %s must be a bool, not '%U'", call, name, object);
}

void too_large(const Call& call, const char* what) {
    PyErr_Format(PyExc_ValueError, "%s: %s would not fit in memory", call.name, what);
}

void not_a_pattern(const Call& call, const char* name, PyObject* object) {
    PyErr_Format(PyExc_ValueError, "%s: %s must be \"corners\" or a pattern of edges (a count or piece ids), not %R",
                 call.name, name, object);
}

void bad_range(const Call& call, std::uint64_t begin, std::uint64_t end, std::uint64_t size) {
    PyErr_Format(PyExc_ValueError, "%s: begin and end must be 0 <= begin <= end <= %llu, not %llu and %llu", call.name,
                 static_cast<unsigned long long>(size), static_cast<unsigned long long>(begin),
                 static_cast<unsigned long long>(end));
}

void wrong_bitmap(const Call& call, const char* name, std::size_t found, std::uint64_t bytes, std::uint64_t size) {
    PyErr_Format(PyExc_ValueError, "%s: %s must be a bitmap of the pattern's %llu positions, %llu bytes, not %zu", call.name,
                 name, static_cast<unsigned long long>(size), static_cast<unsigned long long>(bytes), found);
}

}  // namespace turnwheel::batch::messages
