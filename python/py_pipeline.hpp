// The PyPipeline type: a Python object holding one Pipeline inline.
#pragma once

#include <utility>

#include "arg_binding.hpp"
#include "boundary.hpp"
#include "limited_api.hpp"
#include "merrow.hpp"
#include "shared_strs.hpp"

namespace merrow::py {

// `shared` holds the str objects of the dictionary values that results
// have used so far; it refers to the pipeline's mappings, so it goes first.
struct PyPipelineObject {
    PyObject_HEAD
    Pipeline pipeline;
    SharedStrs shared;
};

inline const Pipeline& pipeline_of(PyObject* self) {
    return reinterpret_cast<PyPipelineObject*>(self)->pipeline;
}

inline SharedStrs& shared_strs_of(PyObject* self) {
    return reinterpret_cast<PyPipelineObject*>(self)->shared;
}

// The type object, created on first use and shared by every module object.
PyObject* pipeline_type();

// Raises the internal-failure exception (a BaseException subclass) with `message`.
void raise_internal_failure(const char* message);

// A method body of PyPipeline: a C++ exception becomes the internal failure.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    return guarded_by(raise_internal_failure, std::forward<Body>(body));
}

// Method bodies, for either calling convention (py_pipeline.cpp picks one).
PyObject* method_convert(PyObject* self, const CallArgs& call);
PyObject* method_convert_detailed(PyObject* self, const CallArgs& call);
PyObject* method_convert_candidates(PyObject* self, const CallArgs& call);
PyObject* method_convert_batch(PyObject* self, const CallArgs& call);
PyObject* method_convert_detailed_batch(PyObject* self, const CallArgs& call);
PyObject* method_convert_candidates_batch(PyObject* self, const CallArgs& call);

}  // namespace merrow::py
