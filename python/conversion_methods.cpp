// convert, convert_detailed, convert_candidates: one text in, one result out.
#include "arg_binding.hpp"
#include "boundary.hpp"
#include "py_pipeline.hpp"
#include "result_objects.hpp"

namespace merrow::py {
namespace {

const Parameter kTextParam[] = {{"text", true}};

// flavour(self, text) -> the new result object, or nullptr with the
// interpreter's error set.
template <class Flavour>
PyObject* convert_one(const char* display_name, PyObject* self, const CallArgs& call, Flavour flavour) {
    return guarded([&]() -> PyObject* {
        const Signature sig{display_name, kTextParam, 1};
        PyObject* slot;
        if (bind_arguments(sig, call, &slot) < 0) return nullptr;
        std::string storage;
        std::string_view text;
        if (view_str_param(slot, "text", storage, text) < 0) return nullptr;
        return flavour(self, text);
    });
}

}  // namespace

PyObject* method_convert(PyObject* self, const CallArgs& call) {
    return convert_one("PyPipeline.convert()", self, call, [](PyObject* s, std::string_view text) {
        return to_str(merrow::convert(pipeline_of(s), text));
    });
}

PyObject* method_convert_detailed(PyObject* self, const CallArgs& call) {
    return convert_one("PyPipeline.convert_detailed()", self, call,
                       [](PyObject* s, std::string_view text) {
                           return record_list(pipeline_of(s), shared_strs_of(s), text, false);
                       });
}

PyObject* method_convert_candidates(PyObject* self, const CallArgs& call) {
    return convert_one("PyPipeline.convert_candidates()", self, call,
                       [](PyObject* s, std::string_view text) {
                           return record_list(pipeline_of(s), shared_strs_of(s), text, true);
                       });
}

}  // namespace merrow::py
