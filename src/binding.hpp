// The generic binding layer: one wrapper per kind of member (turn, call with
// arguments, text reader, getter, constructor, str), instantiated per member
// from the cube operation it carries. A class is described by a traits type:
//
//   struct Traits {
//       static constexpr FixedString name = "Cube3x3";
//       using State = ...;                       // the packed words
//       static constexpr State solved = ...;
//       static PyMethodDef methods[];            // member tables
//       static PyGetSetDef getset[];
//       static PyObject* str(PyObject*);         // tp_str
//   };
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

#include "arguments.hpp"
#include "borrow.hpp"
#include "critical_section.hpp"
#include "errors.hpp"
#include "fixed_string.hpp"
#include "pypy.hpp"
#include "text.hpp"

namespace turnwheel {

// Header, cube state, borrow flag: nothing else lives in an instance.
template <class State>
struct CubeObject {
    PyObject_HEAD
    State state;
    std::uintptr_t borrow;
};

template <class Traits>
using ObjectOf = CubeObject<typename Traits::State>;

// The one class object of each traits type, created at module initialisation.
template <class Traits>
inline PyTypeObject* class_object = nullptr;

// "Cube3x3.do_moves()", as messages name a member.
template <class Traits, FixedString Member>
inline constexpr const char* full_name = join<Traits::name, ".", Member, "()">;

// Out of line, so that the common path of every call keeps no register
// across a call.
template <class Traits>
[[gnu::noinline, gnu::cold]] ObjectOf<Traits>* receiver_of_other_type(PyObject* self) {
    if (PyType_IsSubtype(Py_TYPE(self), class_object<Traits>)) return reinterpret_cast<ObjectOf<Traits>*>(self);
    errors::cannot_cast(self, Traits::name.c_str());
    return nullptr;
}

template <class Traits>
ObjectOf<Traits>* receiver(PyObject* self) {
    if (Py_TYPE(self) == class_object<Traits>) [[likely]]
        return reinterpret_cast<ObjectOf<Traits>*>(self);
    return receiver_of_other_type<Traits>(self);
}

// Results. Failing to build one is the interpreter's fault, not the caller's.
inline PyObject* to_python(std::uint64_t value) {
    PyObject* result = PyLong_FromUnsignedLongLong(value);
    if (result == nullptr) errors::api_call_failed();
    return result;
}

template <std::size_t N>
PyObject* to_python(const Text<N>& text) {
    PyObject* result = PyUnicode_FromStringAndSize(text.bytes, static_cast<Py_ssize_t>(text.size));
    if (result == nullptr) errors::api_call_failed();
    return result;
}

template <std::size_t N>
PyObject* to_python(const TextOrFault<N>& result) {
    if (result.failed) {
        errors::index_out_of_bounds(result.fault);
        return nullptr;
    }
    return to_python(result.text);
}

// ---- Wrappers ---------------------------------------------------------------

template <class Traits, auto Turn>
PyObject* turn_wrapper(PyObject* self, PyObject*) {
    auto* cube = receiver<Traits>(self);
    if (cube == nullptr) return nullptr;
    CriticalSection section(self);
    UnobservedExclusiveBorrow borrow(cube->borrow);
    if (!borrow) return nullptr;
    Turn(cube->state);
    Py_RETURN_NONE;
}

// Reads the state under a shared borrow and returns what `Read` makes of it.
template <class Traits, auto Read>
PyObject* read_wrapper(PyObject* self) {
    auto* cube = receiver<Traits>(self);
    if (cube == nullptr) return nullptr;
    CriticalSection section(self);
    UnobservedSharedBorrow borrow(cube->borrow);
    if (!borrow) return nullptr;
    return to_python(Read(cube->state));
}

template <class Traits, auto Read>
PyObject* noargs_read_wrapper(PyObject* self, PyObject*) {
    return read_wrapper<Traits, Read>(self);
}

template <class Traits, auto Read>
PyObject* getter_wrapper(PyObject* self, void*) {
    return read_wrapper<Traits, Read>(self);
}

template <class Param>
bool convert_argument(PyObject* object, typename Param::converter::type& out) {
    if (Param::converter::convert(object, out)) return true;
    errors::prefix_argument(Param::name.c_str());
    return false;
}

template <auto Operation, class... Params, class Object, std::size_t... I>
PyObject* convert_and_apply(Object* cube, PyObject* const* bound, std::index_sequence<I...>) {
    std::tuple<typename Params::converter::type...> values;
    // The fold stops at the first argument that does not convert.
    if (!(convert_argument<Params>(bound[I], std::get<I>(values)) && ...)) return nullptr;
    if constexpr (std::is_void_v<decltype(Operation(cube->state, std::get<I>(values)...))>) {
        Operation(cube->state, std::get<I>(values)...);
    } else if (!Operation(cube->state, std::get<I>(values)...)) {
        // An operation that can refuse its one argument leaves the cube as it was.
        static_assert(sizeof...(Params) == 1);
        (Params::converter::refuse(bound[I]), ...);
        return nullptr;
    }
    Py_RETURN_NONE;
}

// Binds, checks the receiver, borrows exclusively, converts in parameter
// order, applies. Argument conversion may run Python code (__index__) while
// the borrow is held; that is what refuses re-entrant calls on this cube.
// A call whose conversions run no Python code only checks the borrow, as
// turns do.
template <class Traits, FixedString Member, auto Operation, class... Params>
PyObject* arguments_wrapper(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static_assert(sizeof...(Params) > 0 && sizeof...(Params) <= 8);
    static constexpr const char* names[] = {Params::name.c_str()...};
    PyObject* bound[sizeof...(Params)];
    // Every argument by position, the usual call, needs no matching.
    if (kwnames == nullptr && PyVectorcall_NARGS(nargsf) == sizeof...(Params)) {
        for (std::size_t i = 0; i < sizeof...(Params); ++i) bound[i] = args[i];
    } else if (!bind_arguments(full_name<Traits, Member>, names, sizeof...(Params), args, nargsf, kwnames, bound)) {
        return nullptr;
    }
    auto* cube = receiver<Traits>(self);
    if (cube == nullptr) return nullptr;
    CriticalSection section(self);
    // Only a conversion that can run Python code makes the borrow visible.
    using Borrow = std::conditional_t<(Params::converter::runs_python || ...), ExclusiveBorrow,
                                      UnobservedExclusiveBorrow>;
    Borrow borrow(cube->borrow);
    if (!borrow) return nullptr;
    return convert_and_apply<Operation, Params...>(cube, bound, std::index_sequence_for<Params...>{});
}

template <class Traits>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    if (!bind_no_arguments(full_name<Traits, "__new__">, args, kwargs)) return nullptr;
    allocfunc alloc = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
    auto* cube = reinterpret_cast<ObjectOf<Traits>*>(alloc(type, 0));
    if (cube == nullptr) return nullptr;
    cube->state = Traits::solved;
    cube->borrow = 0;
    return reinterpret_cast<PyObject*>(cube);
}

// Every instance of a heap type holds a reference to its class.
inline void deallocate(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// ---- Member table entries ---------------------------------------------------

template <class Function>
PyCFunction as_cfunction(Function* function) {
    // The interpreter calls through the signature that the flags name.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

template <class Traits, FixedString Name, auto Turn>
PyMethodDef turn_method() {
    return {Name.c_str(), &turn_wrapper<Traits, Turn>, METH_NOARGS, join<Name, "($self)\n--\n\n">};
}

template <class Traits, FixedString Name, auto Read>
PyMethodDef text_method() {
    return {Name.c_str(), &noargs_read_wrapper<Traits, Read>, METH_NOARGS, join<Name, "($self)\n--\n\n">};
}

template <class Traits, FixedString Name, auto Operation, class... Params>
PyMethodDef arguments_method() {
    return {Name.c_str(), as_cfunction(&arguments_wrapper<Traits, Name, Operation, Params...>),
            METH_FASTCALL | METH_KEYWORDS, join<Name, "($self", Joined<", ", Params::name>::value..., ")\n--\n\n">};
}

template <class Traits, FixedString Name, auto Read>
PyGetSetDef getter() {
    return {Name.c_str(), &getter_wrapper<Traits, Read>, pypy::read_only_setter<Traits, Name>, nullptr, nullptr};
}

inline constexpr PyMethodDef kEndOfMethods{nullptr, nullptr, 0, nullptr};
inline constexpr PyGetSetDef kEndOfGetSet{nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace turnwheel
