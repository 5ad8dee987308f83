// Arrays in and out of turnwheel_batch. An argument is read through the
// buffer protocol: NumPy arrays and anything else that offers it directly,
// DLPack's exporters (PyTorch and JAX tensors) through numpy.from_dlpack,
// which shares their memory, and any other sequence through numpy.asarray.
// What is not C-contiguous and aligned is copied once. Results are new NumPy
// arrays, or an `out` array the caller gives.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace turnwheel::batch {

// The kinds of elements the functions read and write.
enum class Element : std::uint8_t { U8, I8, U16, I16, U32, I32, U64, I64, Bool, Other };

// A name for an element kind in messages: "uint64".
const char* element_name(Element element);

// What a buffer holds, named as NumPy names it ("float64", "uint8"), or by
// its format where no name fits.
struct TypeName {
    char text[24];
};
TypeName type_name(const Py_buffer& view);

bool is_integer(Element element);

// The NumPy functions and dtypes the module uses, imported with it.
struct NumPy {
    PyObject* empty = nullptr;
    PyObject* asarray = nullptr;
    PyObject* from_dlpack = nullptr;  // null before NumPy 1.22
    PyObject* default_rng = nullptr;
    PyObject* generator = nullptr;  // the class numpy.random.Generator
    PyObject* dtypes[9] = {};       // by Element, Other excepted
};
extern NumPy numpy;
bool import_numpy();

// The name of the call, as messages begin: "apply()".
struct Call {
    const char* name;
};

inline constexpr int kMostDimensions = 3;

struct Shape {
    int dimensions = 0;
    Py_ssize_t extent[kMostDimensions] = {};

    std::size_t count() const;
    bool operator==(const Shape& other) const;
};

// A read-only view of an array argument's elements, C-contiguous and
// aligned: the argument's own memory where it is, else a copy made once.
class ArrayIn {
  public:
    ArrayIn() = default;
    ArrayIn(const ArrayIn&) = delete;
    ArrayIn& operator=(const ArrayIn&) = delete;
    ~ArrayIn();

    // Raises TypeError naming the argument if the object is no array of
    // at most kMostDimensions dimensions.
    bool acquire(const Call& call, const char* name, PyObject* object);
    // Copies the elements if they lie in [begin, end), where a result is
    // about to be written.
    bool detach_from(const void* begin, const void* end);

    const char* name = "";
    Element element = Element::Other;
    Shape shape;
    const void* data = nullptr;
    std::size_t bytes = 0;
    PyObject* object = nullptr;  // borrowed: the argument

    template <class T>
    const T* as() const {
        return static_cast<const T*>(data);
    }

    // What it holds, for a message.
    TypeName type() const { return type_name(view_); }

  private:
    Py_buffer view_{};
    bool viewing_ = false;
    PyObject* converted_ = nullptr;  // from numpy.asarray or from_dlpack
    void* copy_ = nullptr;
};

// Where a result goes: a new NumPy array, or the caller's `out`, written in
// place where it is C-contiguous and aligned and through a copy otherwise.
class ArrayOut {
  public:
    ArrayOut() = default;
    ArrayOut(const ArrayOut&) = delete;
    ArrayOut& operator=(const ArrayOut&) = delete;
    ~ArrayOut();

    // A new array of the shape and element.
    bool make(const Shape& shape, Element element);
    // The caller's `out`, which must have the shape and one of the two
    // elements (the same bits either way); raises otherwise.
    bool adopt(const Call& call, PyObject* out, const Shape& shape, Element element, Element alternative);

    // Copies the result into `out` where it was written elsewhere; the
    // array to return, a new reference (or null with an exception).
    PyObject* finish();

    void* data = nullptr;
    std::size_t bytes = 0;
    Element element = Element::Other;

    template <class T>
    T* as() const {
        return static_cast<T*>(data);
    }

  private:
    PyObject* array_ = nullptr;  // owned
    Py_buffer view_{};
    bool viewing_ = false;
    void* copy_ = nullptr;
};

}  // namespace turnwheel::batch
