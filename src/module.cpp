// The module turnwheel: its two classes, built once, in the interpreter that
// imports it first, and handed out again on every later import.
#include <Python.h>

#include "cube2x2/members.hpp"
#include "cube3x3/members.hpp"
#include "engine/engine.hpp"
#include "errors.hpp"
#include "registration.hpp"
#include "pyconfig_checks.hpp"
#include "single_interpreter.hpp"

namespace turnwheel {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "turnwheel", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* build_module() {
    engine::chosen();  // the processor check, once, at import rather than in the first call
    PyObject* module = PyModule_Create2(&module_definition, PYTHON_API_VERSION);
    if (module == nullptr) return nullptr;
#ifdef PYPY_VERSION
    // PyPy sets no __doc__ from an empty m_doc.
    if (PyModule_AddStringConstant(module, "__doc__", "") < 0) {
        Py_DECREF(module);
        return nullptr;
    }
#endif
    if (!add_class<Cube2x2Traits>(module) || !add_class<Cube3x3Traits>(module)) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

constexpr ModuleBuilder kBuilder{"turnwheel", "", build_module, errors::sub_interpreters_unsupported};

}  // namespace
}  // namespace turnwheel

PyMODINIT_FUNC PyInit_turnwheel() { return turnwheel::SingleInterpreter<turnwheel::kBuilder>::init(); }
