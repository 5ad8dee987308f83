// An extension module built once, in the first interpreter of the process
// that imports it, and handed out again on every later import there; an
// import from any other interpreter is refused. Both of the distribution's
// modules are made this way:
//
//     constexpr ModuleBuilder kBuilder{"name", "documentation", build, refuse};
//     PyMODINIT_FUNC PyInit_name() { return SingleInterpreter<kBuilder>::init(); }
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "errors.hpp"

namespace turnwheel {

struct ModuleBuilder {
    const char* name;
    const char* doc;       // the module's __doc__, which the import sets from here on 3.12 and PyPy
    PyObject* (*build)();  // the module, or null with an exception set
    void (*refuse)();      // raises ImportError for another interpreter's import
};

template <const ModuleBuilder& Builder>
class SingleInterpreter {
  public:
    // What PyInit returns.
    static PyObject* init() {
#if PY_VERSION_HEX >= 0x030C0000 || defined(PYPY_VERSION)
        return PyModuleDef_Init(&loader_definition);
#else
        return initialise();
#endif
    }

  private:
    // The interpreter that imports the module. PyPy has no
    // PyInterpreterState_Get (and only ever one interpreter).
    static PyInterpreterState* importing_interpreter() {
#ifdef PYPY_VERSION
        return PyThreadState_Get()->interp;
#else
        return PyInterpreterState_Get();
#endif
    }

    // The import system runs one import of a name at a time, but the
    // module's creation can still be called from two threads at once (two
    // loaders of one spec); without the interpreter lock, the cache and what
    // the module holds are built under a lock of their own.
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

    static PyObject* initialise() {
        const std::int64_t interpreter = PyInterpreterState_GetID(importing_interpreter());
        if (interpreter == -1) {
            errors::ensure_set();
            return nullptr;
        }
        std::int64_t expected = -1;
        if (!owner.compare_exchange_strong(expected, interpreter) && expected != interpreter) {
            Builder.refuse();
            return nullptr;
        }
        [[maybe_unused]] BuildLock lock;
        if (cache == nullptr) {
            cache = Builder.build();
            if (cache == nullptr) return nullptr;
        }
        Py_INCREF(cache);
        return cache;
    }

    static inline std::atomic<std::int64_t> owner{-1};
    static inline PyObject* cache = nullptr;

#if PY_VERSION_HEX >= 0x030C0000 || defined(PYPY_VERSION)
    // From 3.12 the import goes through a create slot, so that the
    // interpreter can refuse an isolated sub-interpreter by the slot below
    // before any of the module's code runs: a refused import must not claim
    // the process. (3.12 runs a single-phase initialisation first and
    // refuses afterwards.) The slot hands out the same module object as
    // ever, which on PyPy only a create slot can do: it makes a new module
    // on every single-phase import.
    static PyObject* create_module(PyObject*, PyModuleDef*) { return initialise(); }

    static inline PyModuleDef_Slot loader_slots[] = {
        {Py_mod_create, reinterpret_cast<void*>(create_module)},
#ifdef Py_mod_multiple_interpreters
        {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#ifdef Py_GIL_DISABLED
        // Every call is safe without the interpreter lock.
        {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
        {0, nullptr},
    };

    static inline PyModuleDef loader_definition = {
        PyModuleDef_HEAD_INIT, Builder.name, Builder.doc, 0, nullptr, loader_slots, nullptr, nullptr, nullptr,
    };
#endif
};

}  // namespace turnwheel
