// convert, convert_detailed, convert_candidates: one text in, one result out.
#include "arg_binding.hpp"
#include "boundary.hpp"
#include "py_pipeline.hpp"
#include "result_objects.hpp"

namespace merrow::py {
namespace {

const Parameter kTextParam[] = {{"text", true}};

template <class Flavour>
PyObject* convert_one(const char* display_name, PyObject* self, PyObject* args, PyObject* kwargs,
                      Flavour flavour) {
    return guarded([&]() -> PyObject* {
        const Signature sig{display_name, kTextParam, 1};
        PyObject* slot;
        if (bind_arguments(sig, args, kwargs, &slot) < 0) return nullptr;
        std::string text;
        if (convert_str_param(slot, "text", text) < 0) return nullptr;
        auto result = flavour(pipeline_of(self), text);
        if constexpr (std::is_same_v<decltype(result), std::string>) {
            return to_str(result);
        } else {
            return to_list(result);
        }
    });
}

}  // namespace

PyObject* method_convert(PyObject* self, PyObject* args, PyObject* kwargs) {
    return convert_one("PyPipeline.convert()", self, args, kwargs, merrow::convert);
}

PyObject* method_convert_detailed(PyObject* self, PyObject* args, PyObject* kwargs) {
    return convert_one("PyPipeline.convert_detailed()", self, args, kwargs, merrow::convert_detailed);
}

PyObject* method_convert_candidates(PyObject* self, PyObject* args, PyObject* kwargs) {
    return convert_one("PyPipeline.convert_candidates()", self, args, kwargs, merrow::convert_candidates);
}

}  // namespace merrow::py
