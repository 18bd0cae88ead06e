// convert_batch and friends: copy every text out of the list, convert them on
// the worker pool (each result into the slot of its index, each thread
// carrying its memo of key ranges from text to text), and fill the result
// list by index as ranges of results are ready.
#include <string>
#include <vector>

#include "arg_binding.hpp"
#include "boundary.hpp"
#include "pipeline/batch_prefix_ranges.hpp"
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

// The Python object of one text's result, whose engine copy is released;
// nullptr with the interpreter's error set on failure.
template <class Slot>
PyObject* result_object(Slot& result) noexcept {
    try {
        PyObject* item;
        if constexpr (std::is_same_v<Slot, std::string>) item = to_str(result);
        else item = to_list(result);
        Slot().swap(result);
        return item;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
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
        using Slot = decltype(flavour(pipeline, std::string_view(), nullptr));
        std::vector<Slot> results(texts.size());
        Result<WorkerPool*> pool = WorkerPool::global();
        if (!pool) {
            raise_internal_failure(pool.error().message.c_str());
            return nullptr;
        }
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(results.size()));
        if (list == nullptr) return nullptr;
        // Results become Python objects on this thread, which holds the
        // interpreter lock, as their ranges finish: the workers go on with
        // the rest meanwhile, so little is left to convert at the end.
        bool object_failed = false;
        BatchPrefixRanges ranges;
        auto failure = pool.value()->run(
            texts.size(),
            [&](std::size_t begin, std::size_t end) {
                MappedDict::PrefixRanges* memo = ranges.for_this_thread();
                for (std::size_t i = begin; i < end; ++i) results[i] = flavour(pipeline, texts[i], memo);
            },
            [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end && !object_failed; ++i) {
                    PyObject* item = result_object(results[i]);
                    if (item == nullptr) object_failed = true;
                    else PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);
                }
            });
        if (failure) {
            Py_DecRef(list);
            raise_internal_failure(failure->message.c_str());
            return nullptr;
        }
        if (object_failed) {
            Py_DecRef(list);
            return nullptr;
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
