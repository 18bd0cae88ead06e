// What the running interpreter offers beyond the 3.8 stable ABI that the
// module is built for.
#pragma once

#include "limited_api.hpp"

namespace merrow::py {

// PyUnicode_AsUTF8AndSize: the UTF-8 of a str, cached in the str itself.
using Utf8Reader = const char* (*)(PyObject*, Py_ssize_t*);

// The function when the running interpreter is 3.10 or later, else nullptr.
// The function exists in 3.8 and 3.9 as well, but joined the stable ABI only
// in 3.10: the one wheel built for 3.8 calls it only where the ABI promises
// it, and finds it by name at run time, so that the module does not even
// refer to it on older interpreters. Call with the interpreter lock held.
Utf8Reader cached_utf8_reader();

// PyGC_Enable, PyGC_Disable and PyGC_IsEnabled, which joined the stable ABI
// in 3.10: each returns whether the cycle collector was (or is) enabled.
struct CollectorSwitch {
    int (*enable)();
    int (*disable)();
    int (*is_enabled)();
};

// The three functions when the running interpreter is 3.10 or later, else
// nullptr. Call them with the interpreter lock held.
const CollectorSwitch* collector_switch();

// Whether methods may use the vector calling convention (METH_FASTCALL with
// METH_KEYWORDS), which joined the stable ABI in 3.10: there a call passes
// its arguments as they are, without a tuple and a dict made for it.
bool vector_calls();

// METH_FASTCALL's value in the 3.10 stable ABI; the 3.8 headers hide it.
inline constexpr int kMethFastcall = 0x0080;

}  // namespace merrow::py
