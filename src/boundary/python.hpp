// The one include of the interpreter's header. The build picks the interface: the stable ABI from CPython 3.10
// on (the default), the free-threaded stable ABI from 3.15 on (Py_TARGET_ABI3T), or the full API of one
// free-threaded version (VELNOR_FULL_API: 3.13t and 3.14t have no stable ABI).
#pragma once

#if !defined(Py_LIMITED_API) && !defined(Py_TARGET_ABI3T) && !defined(VELNOR_FULL_API)
#define Py_LIMITED_API 0x030A0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
