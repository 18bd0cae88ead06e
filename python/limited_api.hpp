// The one place that includes Python.h: the module is built on the stable ABI.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x03080000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
