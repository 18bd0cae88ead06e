// convert_batch and friends: copy every text out of the list, let the engine
// convert them on its worker pool, and fill the result list by index as
// texts finish.
#include <unistd.h>

#include <string>
#include <vector>

#include "arg_binding.hpp"
#include "boundary.hpp"
#include "merrow.hpp"
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

// The Python object of one text's result; nullptr with the interpreter's
// error set on failure.
PyObject* result_object(Flavour flavour, const TextResult& result) noexcept {
    try {
        if (flavour == Flavour::plain) return to_str(result.plain);
        return record_list(result.records, flavour == Flavour::candidates);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

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
        std::vector<std::string_view> views(texts.begin(), texts.end());

        PyObject* list = PyList_New(static_cast<Py_ssize_t>(views.size()));
        if (list == nullptr) return nullptr;
        // Results become Python objects on this thread, which holds the
        // interpreter lock, as texts finish: the workers go on with the rest
        // meanwhile, so little is left to convert at the end. Between
        // objects, and every few milliseconds while it waits, the thread
        // runs pending signal handlers: Ctrl-C stops a long batch at once.
        const pid_t owner = getpid();
        bool stopped = false;
        auto failure = convert_batch(
            pipeline_of(self), flavour, views,
            [&](std::size_t i, TextResult& result) {
                PyObject* item = result_object(flavour, result);
                if (item == nullptr) {
                    stopped = true;
                    return false;
                }
                PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);
                stopped = PyErr_CheckSignals() < 0;
                return !stopped;
            },
            [&] {
                stopped = PyErr_CheckSignals() < 0;
                return !stopped;
            });
        if (getpid() != owner) {
            // A fork from Python code run meanwhile (a finaliser, a signal
            // handler): the child has none of the workers converting the rest.
            Py_DecRef(list);
            PyErr_Format(PyExc_RuntimeError, "%s cannot go on in a process forked during the call: "
                         "call it again in the child", display_name);
            return nullptr;
        }
        if (failure) {
            Py_DecRef(list);
            raise_internal_failure(failure->message.c_str());
            return nullptr;
        }
        if (stopped) {
            Py_DecRef(list);
            return nullptr;
        }
        return list;
    });
}

}  // namespace

PyObject* method_convert_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return convert_many("PyPipeline.convert_batch()", self, args, kwargs, Flavour::plain);
}

PyObject* method_convert_detailed_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return convert_many("PyPipeline.convert_detailed_batch()", self, args, kwargs, Flavour::detailed);
}

PyObject* method_convert_candidates_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return convert_many("PyPipeline.convert_candidates_batch()", self, args, kwargs, Flavour::candidates);
}

}  // namespace merrow::py
