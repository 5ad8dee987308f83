// Without the interpreter lock, a call's work on a cube runs inside the
// cube's own critical section (the per-object lock that the interpreter's
// own list and dict take), so that calls on one cube from several threads
// take turns, as they do under the lock. Like the lock, a section is let go
// while its thread blocks (in an argument's __index__, say), and the borrow
// flag then refuses any call that would overlap. With the lock the guard
// is empty.
#pragma once

#include <Python.h>

namespace turnwheel {

#ifdef Py_GIL_DISABLED
class CriticalSection {
  public:
    explicit CriticalSection(PyObject* object) { PyCriticalSection_Begin(&section_, object); }
    ~CriticalSection() { PyCriticalSection_End(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

  private:
    PyCriticalSection section_;
};
#else
class CriticalSection {
  public:
    explicit CriticalSection(PyObject*) {}
};
#endif

}  // namespace turnwheel
