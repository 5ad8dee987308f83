// The binding of turnwheel_batch's functions: each is declared by its
// parameters (name, converter, how it may be given, default), and one
// wrapper, instantiated per function, binds the arguments, converts them in
// order and calls the operation. A converter is a class with
//
//   using type = ...;   // what the operation takes; owns what it holds
//   static bool convert(const Call&, const char* name, PyObject* given, type& out);
//
// where `given` is null for an optional argument not given; on failure it
// raises, naming the argument.
#pragma once

#include <Python.h>

#include <cstddef>
#include <tuple>
#include <utility>

#include "../arguments.hpp"
#include "../fixed_string.hpp"
#include "arrays.hpp"

namespace turnwheel::batch {

template <FixedString Name, class Converter, Pass P = Pass::Required, FixedString Default = "">
struct Param {
    static constexpr auto name = Name;
    using converter = Converter;
    static constexpr Pass pass = P;
    static constexpr auto default_text = Default;
};

// "apply(states, moves, *, out=None, threads=None)\n--\n\n" and the
// documentation: the docstring with its text signature, made by the compiler.
template <FixedString Name, FixedString Doc, class... Params>
struct Docstring {
    static constexpr auto make() {
        FixedString<Name.length + Doc.length + 512> out;
        std::size_t at = 0;
        const auto put = [&](const char* text) {
            while (*text != '\0') out.data[at++] = *text++;
        };
        put(Name.c_str());
        put("(");
        bool first = true, starred = false;
        (
            [&] {
                if (!first) put(", ");
                first = false;
                if (Params::pass == Pass::KeywordOnly && !starred) {
                    put("*, ");
                    starred = true;
                }
                put(Params::name.c_str());
                if (Params::pass != Pass::Required) {
                    put("=");
                    put(Params::default_text.c_str());
                }
            }(),
            ...);
        put(")\n--\n\n");
        put(Doc.c_str());
        return out;
    }
    static constexpr auto value = make();
};

template <auto Operation, class... Params, std::size_t... I>
PyObject* convert_and_call(const Call& call, PyObject* const* bound, std::index_sequence<I...>) {
    std::tuple<typename Params::converter::type...> values;
    // The fold stops at the first argument that does not convert.
    if (!(Params::converter::convert(call, Params::name.c_str(), bound[I], std::get<I>(values)) && ...)) return nullptr;
    return Operation(call, std::get<I>(values)...);
}

template <FixedString Name, auto Operation, class... Params>
PyObject* function_wrapper(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr const char* full_name = join<Name, "()">;
    static constexpr ParameterInfo parameters[] = {{Params::name.c_str(), Params::pass}...};
    PyObject* bound[sizeof...(Params)];
    if (!bind_signature(full_name, parameters, sizeof...(Params), args, nargsf, kwnames, bound)) return nullptr;
    return convert_and_call<Operation, Params...>(Call{full_name}, bound, std::index_sequence_for<Params...>{});
}

// The method table's entry of a function.
template <FixedString Name, auto Operation, FixedString Doc, class... Params>
PyMethodDef function() {
    return {Name.c_str(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&function_wrapper<Name, Operation, Params...>)),
            METH_FASTCALL | METH_KEYWORDS, Docstring<Name, Doc, Params...>::value.c_str()};
}

}  // namespace turnwheel::batch
