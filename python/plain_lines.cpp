#include "plain_lines.hpp"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/utf8.hpp"

namespace merrow::py {
namespace {

std::vector<std::string_view> split_lines(std::string_view data) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = data.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(data.substr(start));
            return lines;
        }
        lines.push_back(data.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace

PyObject* convert_plain_lines(const Pipeline& pipeline, PyObject* data) {
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(data, &bytes, &size) < 0) return nullptr;
    // The bytes object is immutable and the caller holds it: the views stay valid.
    const std::string_view text(bytes, static_cast<std::size_t>(size));
    if (!utf8::is_valid(text)) Py_RETURN_NONE;
    const std::vector<std::string_view> lines = split_lines(text);
    std::vector<std::string> results(lines.size());

    // Nothing here needs the interpreter: it is released for the whole
    // batch and taken back only to run pending signal handlers.
    bool interrupted = false;
    PyThreadState* state = PyEval_SaveThread();
    auto failure = convert_batch(
        pipeline, Flavour::plain, lines,
        [&](std::size_t i, TextResult& result) {
            results[i] = std::move(result.plain);
            return true;
        },
        [&] {
            PyEval_RestoreThread(state);
            interrupted = PyErr_CheckSignals() < 0;
            state = PyEval_SaveThread();
            return !interrupted;
        });
    PyEval_RestoreThread(state);
    if (interrupted) return nullptr;
    if (failure) {
        PyErr_SetString(PyExc_RuntimeError, failure->message.c_str());
        return nullptr;
    }

    std::size_t total = 0;
    for (const std::string& r : results) total += r.size() + 1;
    PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(total));
    if (out == nullptr) return nullptr;
    char* at = PyBytes_AsString(out);
    for (const std::string& r : results) {
        std::memcpy(at, r.data(), r.size());
        for (std::size_t k = 0; k < r.size(); ++k)
            if (at[k] == '\n' || at[k] == '\r') at[k] = ' ';
        at += r.size();
        *at++ = '\n';
    }
    return out;
}

}  // namespace merrow::py
