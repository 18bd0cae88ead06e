// The method boundary: no C++ exception may unwind into the interpreter.
#pragma once

#include <exception>
#include <new>

#include "limited_api.hpp"
#include "py_pipeline.hpp"

namespace merrow::py {

template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_internal_failure(e.what());
    } catch (...) {
        raise_internal_failure("unknown internal failure");
    }
    return nullptr;
}

}  // namespace merrow::py
