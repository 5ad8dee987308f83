// The module turnwheel: built once, in the interpreter that imports it first,
// and handed out again on every later import.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "cube2x2/members.hpp"
#include "cube3x3/members.hpp"
#include "engine/engine.hpp"
#include "errors.hpp"
#include "registration.hpp"

// Built against a pyconfig.h of another platform, the module would compile,
// load and pass for working while Py_INCREF counted in the wrong half of a
// reference count (another byte order) or objects were laid out for another
// word size. Such a build stops here instead.
#ifdef SIZEOF_VOID_P
static_assert(SIZEOF_VOID_P == sizeof(void*), "pyconfig.h is of another word size than the target");
#endif
#ifdef __BYTE_ORDER__
#ifdef WORDS_BIGENDIAN
static_assert(__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__, "pyconfig.h is big-endian, the target is not");
#else
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pyconfig.h is little-endian, the target is not");
#endif
#endif

namespace turnwheel {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "turnwheel", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* module_cache = nullptr;

// The import system runs one import of a name at a time, but the module's
// creation can still be called from two threads at once (two loaders of one
// spec); without the interpreter lock, the cache and the class objects are
// built under a lock of their own.
#ifdef Py_GIL_DISABLED
class BuildLock {
  public:
    BuildLock() { PyMutex_Lock(&mutex); }
    ~BuildLock() { PyMutex_Unlock(&mutex); }

  private:
    static inline PyMutex mutex{};
};
#else
struct BuildLock {};
#endif

PyObject* build_module() {
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

// The interpreter that imports the module. PyPy has no PyInterpreterState_Get
// (and only ever one interpreter).
PyInterpreterState* importing_interpreter() {
#ifdef PYPY_VERSION
    return PyThreadState_Get()->interp;
#else
    return PyInterpreterState_Get();
#endif
}

PyObject* initialise() {
    const std::int64_t interpreter = PyInterpreterState_GetID(importing_interpreter());
    if (interpreter == -1) {
        errors::ensure_set();
        return nullptr;
    }
    std::int64_t expected = -1;
    if (!owner_interpreter.compare_exchange_strong(expected, interpreter) && expected != interpreter) {
        errors::sub_interpreters_unsupported();
        return nullptr;
    }
    [[maybe_unused]] BuildLock lock;
    if (module_cache == nullptr) {
        engine::chosen();  // the processor check, once, at import rather than in the first call
        module_cache = build_module();
        if (module_cache == nullptr) return nullptr;
    }
    Py_INCREF(module_cache);
    return module_cache;
}

}  // namespace
}  // namespace turnwheel

#if PY_VERSION_HEX >= 0x030C0000 || defined(PYPY_VERSION)
// From 3.12 the import goes through a create slot, so that the interpreter
// can refuse an isolated sub-interpreter by the slot below before any of the
// module's code runs: a refused import must not claim the process. (3.12
// runs a single-phase initialisation first and refuses afterwards.) The
// slot hands out the same module object as ever, which on PyPy only a create
// slot can do: it makes a new module on every single-phase import.
namespace turnwheel {
namespace {

PyObject* create_module(PyObject*, PyModuleDef*) { return initialise(); }

PyModuleDef_Slot loader_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
#ifdef Py_mod_multiple_interpreters
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#ifdef Py_GIL_DISABLED
    // Every call is safe without the interpreter lock (critical_section.hpp).
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef loader_definition = {
    PyModuleDef_HEAD_INIT, "turnwheel", "", 0, nullptr, loader_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace turnwheel

PyMODINIT_FUNC PyInit_turnwheel() { return PyModuleDef_Init(&turnwheel::loader_definition); }
#else
PyMODINIT_FUNC PyInit_turnwheel() { return turnwheel::initialise(); }
#endif
