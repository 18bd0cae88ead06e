// convert_batch and friends: copy every text out of the list, convert them on
// the worker pool (each result into the slot of its index), then build the
// result list in input order.
#include <string>
#include <vector>

#include "arg_binding.hpp"
#include "boundary.hpp"
#include "pipeline/worker_pool.hpp"
#include "py_pipeline.hpp"
#include "result_objects.hpp"

namespace merrow::py {
namespace {

const Parameter kTextsParam[] = {{"texts", true}};

// UTF-8 copies of the list's elements; the first bad element raises its own
// error, without a note.
int copy_texts(PyObject* list, std::vector<std::string>& texts) {
    Py_ssize_t n = PyList_Size(list);
    if (n < 0) return -1;
    texts.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n && i < PyList_Size(list); ++i) {
        texts.emplace_back();
        if (convert_str(PyList_GetItem(list, i), texts.back()) < 0) return -1;
    }
    return 0;
}

template <class Flavour>
PyObject* convert_many(const char* display_name, PyObject* self, PyObject* args, PyObject* kwargs,
                       Flavour flavour) {
    return guarded([&]() -> PyObject* {
        const Signature sig{display_name, kTextsParam, 1};
        PyObject* slot;
        if (bind_arguments(sig, args, kwargs, &slot) < 0) return nullptr;
        if (!(PyType_GetFlags(Py_TYPE(slot)) & Py_TPFLAGS_LIST_SUBCLASS)) {
            set_type_error(slot, "list");
            add_processing_note("texts");
            return nullptr;
        }
        std::vector<std::string> texts;
        if (copy_texts(slot, texts) < 0) return nullptr;

        const Pipeline& pipeline = pipeline_of(self);
        using Slot = decltype(flavour(pipeline, std::string_view()));
        std::vector<Slot> results(texts.size());
        Result<WorkerPool*> pool = WorkerPool::global();
        if (!pool) {
            raise_internal_failure(pool.error().message.c_str());
            return nullptr;
        }
        auto failure = pool.value()->run(texts.size(), [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) results[i] = flavour(pipeline, texts[i]);
        });
        if (failure) {
            raise_internal_failure(failure->message.c_str());
            return nullptr;
        }
        std::vector<std::string>().swap(texts);

        PyObject* list = PyList_New(static_cast<Py_ssize_t>(results.size()));
        if (list == nullptr) return nullptr;
        for (std::size_t i = 0; i < results.size(); ++i) {
            PyObject* item;
            if constexpr (std::is_same_v<Slot, std::string>) {
                item = to_str(results[i]);
            } else {
                item = to_list(results[i]);
            }
            if (item == nullptr) {
                Py_DecRef(list);
                return nullptr;
            }
            PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);
        }
        return list;
    });
}

}  // namespace

PyObject* method_convert_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return convert_many("PyPipeline.convert_batch()", self, args, kwargs, merrow::convert);
}

PyObject* method_convert_detailed_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return convert_many("PyPipeline.convert_detailed_batch()", self, args, kwargs, merrow::convert_detailed);
}

PyObject* method_convert_candidates_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return convert_many("PyPipeline.convert_candidates_batch()", self, args, kwargs, merrow::convert_candidates);
}

}  // namespace merrow::py
