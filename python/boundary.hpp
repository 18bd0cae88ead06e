// The method boundary: no C++ exception may unwind into the interpreter.
#pragma once

#include <exception>
#include <new>

#include "limited_api.hpp"

namespace merrow::py {

// body()'s result; a C++ exception becomes MemoryError, or the exception
// that raise(message) sets, and nullptr.
template <class Raise, class Body>
PyObject* guarded_by(Raise&& raise, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise(e.what());
    } catch (...) {
        raise("unknown internal failure");
    }
    return nullptr;
}

}  // namespace merrow::py
