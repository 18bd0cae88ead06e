// convert_batch and friends: read every text of the list as UTF-8, let the
// engine convert them on its worker pool, and fill the result list by index
// as texts finish.
#include <unistd.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arg_binding.hpp"
#include "boundary.hpp"
#include "collector_pause.hpp"
#include "merrow.hpp"
#include "py_pipeline.hpp"
#include "result_objects.hpp"

namespace merrow::py {
namespace {

const Parameter kTextsParam[] = {{"texts", true}};

// The UTF-8 text of every element, as views into the strs themselves or into
// copies (view_str). The views must outlive anything the list's owner may
// do meanwhile (making result objects can run a finaliser that empties the
// list), so they are taken from `held`, a new list of the same strs that the
// call keeps. The first bad element raises its own error, without a note.
int read_texts(PyObject* list, PyObject*& held, std::vector<std::string>& copies,
               std::vector<std::string_view>& views) {
    held = PyList_GetSlice(list, 0, PyList_Size(list));
    if (held == nullptr) return -1;
    Py_ssize_t n = PyList_Size(held);
    copies.resize(static_cast<std::size_t>(n));  // at its final size: views into copies stay put
    views.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        auto at = static_cast<std::size_t>(i);
        if (view_str(PyList_GetItem(held, i), copies[at], views[at]) < 0) return -1;
    }
    return 0;
}

// The Python object of one text's result; nullptr with the interpreter's
// error set on failure.
PyObject* result_object(PyObject* self, Flavour flavour, const TextResult& result) noexcept {
    try {
        if (flavour == Flavour::plain) return to_str(result.plain);
        return record_list(pipeline_of(self), shared_strs_of(self), result.records, flavour == Flavour::candidates);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// Converts the texts and makes the result list; nullptr with the
// interpreter's error set on failure.
PyObject* convert_texts(const char* display_name, PyObject* self, Flavour flavour,
                        std::span<const std::string_view> views) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(views.size()));
    if (list == nullptr) return nullptr;
    // Results become Python objects on this thread, which holds the
    // interpreter lock, as texts finish: the workers go on with the rest
    // meanwhile, so little is left to convert at the end. Between objects,
    // and every few milliseconds while it waits, the thread runs pending
    // signal handlers: Ctrl-C stops a long batch at once. The cycle
    // collector waits until a list of records is made.
    const pid_t owner = getpid();
    CollectorPause pause(flavour != Flavour::plain);  // plain results are strs, which it never walks
    bool stopped = false;
    auto failure = convert_batch(
        pipeline_of(self), flavour, views,
        [&](std::size_t i, TextResult& result) {
            PyObject* item = result_object(self, flavour, result);
            if (item == nullptr) {
                stopped = true;
                return false;
            }
            PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);
            stopped = check_signals() < 0;
            return !stopped;
        },
        [&] {
            stopped = check_signals() < 0;
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
}

PyObject* convert_many(const char* display_name, PyObject* self, const CallArgs& call, Flavour flavour) {
    return guarded([&]() -> PyObject* {
        const Signature sig{display_name, kTextsParam, 1};
        PyObject* slot;
        if (bind_arguments(sig, call, &slot) < 0) return nullptr;
        if (!(PyType_GetFlags(Py_TYPE(slot)) & Py_TPFLAGS_LIST_SUBCLASS)) {
            set_type_error(slot, "list");
            add_processing_note("texts");
            return nullptr;
        }
        PyObject* held = nullptr;
        std::vector<std::string> copies;
        std::vector<std::string_view> views;
        int status = read_texts(slot, held, copies, views);
        PyObject* result = status < 0 ? nullptr : convert_texts(display_name, self, flavour, views);
        Py_XDECREF(held);
        return result;
    });
}

}  // namespace

PyObject* method_convert_batch(PyObject* self, const CallArgs& call) {
    return convert_many("PyPipeline.convert_batch()", self, call, Flavour::plain);
}

PyObject* method_convert_detailed_batch(PyObject* self, const CallArgs& call) {
    return convert_many("PyPipeline.convert_detailed_batch()", self, call, Flavour::detailed);
}

PyObject* method_convert_candidates_batch(PyObject* self, const CallArgs& call) {
    return convert_many("PyPipeline.convert_candidates_batch()", self, call, Flavour::candidates);
}

}  // namespace merrow::py
