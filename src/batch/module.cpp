// The module turnwheel_batch: many cubes at once, as NumPy arrays of the
// words the classes of turnwheel hold. Its function table, and its
// constants, made once in the interpreter that imports it first.
#include <Python.h>

#include <cstddef>

#include "../errors.hpp"
#include "../pyconfig_checks.hpp"
#include "../single_interpreter.hpp"
#include "arrays.hpp"
#include "binding.hpp"
#include "converters.hpp"
#include "functions.hpp"
#include "messages.hpp"
#include "names.hpp"

namespace turnwheel::batch {
namespace {

using States_ = Param<"states", StatesArgument>;
using Out = Param<"out", OutArgument, Pass::KeywordOnly, "None">;
using Threads = Param<"threads", ThreadsArgument, Pass::KeywordOnly, "None">;
using Count = Param<"n", CountArgument>;
using Edges = Param<"edges", EdgePatternArgument, Pass::Optional, "7">;
using Index = Param<"index", IntegersArgument>;

PyMethodDef methods[] = {
    function<"solved", solved, "n solved states of the cube of the given size.", Count,
             Param<"size", SizeArgument, Pass::Optional, "3">>(),
    function<"apply", apply, "Every state turned by a move string or an array of move codes.", States_,
             Param<"moves", MovesArgument>, Out, Threads>(),
    function<"step", step, "Each state turned by a move of its own: codes[i] turns states[i].", States_,
             Param<"codes", IntegersArgument>, Out, Threads>(),
    function<"children", children, "Every state turned by each move: all 18 in code order, or those given.", States_,
             Param<"moves", MovesArgument, Pass::Optional, "None">, Out, Threads>(),
    function<"scramble", scramble, "n random walks of `length` moves from solved: (states, codes).", Count,
             Param<"length", CountArgument>, Param<"size", SizeArgument, Pass::KeywordOnly, "3">,
             Param<"seed", SeedArgument, Pass::KeywordOnly, "None">, Threads>(),
    function<"corner_index", corner_index, "The index of each state's corners, 0 to 8! * 3^7 - 1.", States_, Threads>(),
    function<"corner_words", corner_words, "The corner word of each corner index.", Index, Threads>(),
    function<"edge_index", edge_index, "The index of a pattern of edges in each 3x3 state.", States_, Edges, Threads>(),
    function<"edge_words", edge_words, "An edge word with the pattern of edges of each index.", Index, Edges, Threads>(),
    function<"facelets", facelets, "The colour number of every facelet, in the order str() prints them.", States_,
             Param<"one_hot", FlagArgument, Pass::KeywordOnly, "False">, Threads>(),
    function<"is_solved", is_solved, "Whether each state is the solved cube.", States_, Threads>(),
    function<"inverse", inverse, "The position that undoes each state.", States_, Out, Threads>(),
    function<"move_codes", move_codes, "The codes of the moves of a move string, as do_moves reads it.",
             Param<"text", TextArgument>>(),
    function<"move_text", move_text, "A move string of move codes.", Param<"codes", IntegersArgument>>(),
    function<"pattern_size", pattern_size, "The positions of a pattern's index: 8! * 3^7, or 12!/(12-k)! * 2^k.",
             Param<"pattern", PatternArgument, Pass::Optional, "'corners'">>(),
    function<"next_level", next_level,
             "The next level of a breadth-first search over a pattern's index, as a bitmap: the positions not seen "
             "with a child in the frontier.",
             Param<"frontier", BitmapArgument>, Param<"seen", BitmapArgument>,
             Param<"pattern", PatternArgument, Pass::Optional, "'corners'">,
             Param<"begin", CountArgument, Pass::KeywordOnly, "0">, Param<"end", EndArgument, Pass::KeywordOnly, "None">,
             Param<"backward", FlagArgument, Pass::KeywordOnly, "False">, Out, Threads>(),
    {nullptr, nullptr, 0, nullptr},
};

constexpr const char kDoc[] =
    "Many cubes at once: NumPy arrays of the words that turnwheel's classes hold, turned, expanded, indexed\n"
    "and drawn by the same move engine, on every core.";

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "turnwheel_batch", kDoc, 0, methods, nullptr, nullptr, nullptr, nullptr,
};

template <std::size_t N>
PyObject* tuple_of(const char* const (&names)[N]) {
    PyObject* tuple = PyTuple_New(N);
    for (std::size_t k = 0; tuple != nullptr && k < N; ++k) {
        PyObject* name = PyUnicode_FromString(names[k]);
        if (name == nullptr) {
            Py_CLEAR(tuple);
            break;
        }
        PyTuple_SET_ITEM(tuple, Py_ssize_t(k), name);
    }
    return tuple;
}

bool add(PyObject* module, PyObject* all, const char* name, PyObject* value) {
    PyObject* key = PyUnicode_FromString(name);
    const bool added = value != nullptr && key != nullptr && PyList_Append(all, key) == 0 &&
                       PyObject_SetAttr(module, key, value) == 0;
    Py_XDECREF(key);
    Py_XDECREF(value);
    return added;
}

PyObject* build_module() {
    if (!import_numpy()) return nullptr;
    engine::chosen_batch();  // the processor check, once, at import rather than in the first call
    PyObject* module = PyModule_Create2(&module_definition, PYTHON_API_VERSION);
    PyObject* all = module != nullptr ? PyList_New(0) : nullptr;
    bool built = all != nullptr && add(module, all, "MOVES", tuple_of(kMoveNames)) &&
                 add(module, all, "COLORS", tuple_of(kColourNames));
    for (const PyMethodDef* method = methods; built && method->ml_name != nullptr; ++method) {
        PyObject* name = PyUnicode_FromString(method->ml_name);
        built = name != nullptr && PyList_Append(all, name) == 0;
        Py_XDECREF(name);
    }
    built = built && PyObject_SetAttrString(module, "__all__", all) == 0;
    Py_XDECREF(all);
    if (!built) Py_CLEAR(module);
    return module;
}

constexpr ModuleBuilder kBuilder{"turnwheel_batch", kDoc, build_module, messages::sub_interpreters_unsupported};

}  // namespace
}  // namespace turnwheel::batch

PyMODINIT_FUNC PyInit_turnwheel_batch() { return turnwheel::SingleInterpreter<turnwheel::batch::kBuilder>::init(); }
