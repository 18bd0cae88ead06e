#include "result_objects.hpp"

namespace merrow::py {
namespace {

// Releases the engine string once its Python copy exists.
PyObject* take_str(std::string& s) {
    PyObject* out = to_str(s);
    std::string().swap(s);
    return out;
}

PyObject* str_list(std::vector<std::string>& items) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
    if (list == nullptr) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = take_str(items[i]);
        if (item == nullptr || PyList_SetItem(list, static_cast<Py_ssize_t>(i), item) < 0) {
            Py_DecRef(list);
            return nullptr;
        }
    }
    return list;
}

// A 5-tuple from the record's fields; the second may already be an object.
PyObject* record_tuple(std::string& token, PyObject* second, std::string& lang, std::string& confidence,
                       std::string& source) {
    PyObject* tuple = second == nullptr ? nullptr : PyTuple_New(5);
    if (tuple == nullptr) {
        Py_XDECREF(second);
        return nullptr;
    }
    PyTuple_SetItem(tuple, 1, second);
    PyObject* fields[4] = {take_str(token), take_str(lang), take_str(confidence), take_str(source)};
    const Py_ssize_t positions[4] = {0, 2, 3, 4};
    bool ok = true;
    for (int i = 0; i < 4; ++i) {
        if (fields[i] == nullptr) {
            ok = false;
            continue;
        }
        PyTuple_SetItem(tuple, positions[i], fields[i]);
    }
    if (!ok) {
        Py_DecRef(tuple);
        return nullptr;
    }
    return tuple;
}

// `only_str`: the tuples hold nothing but str, so they can never be part of
// a reference cycle. The collector would untrack each such tuple at its first
// pass over it; untracking it at once spares every collection during a large
// conversion from walking it. (The candidates tuples hold a list and stay
// tracked.)
template <class Record, class Second>
PyObject* records_to_list(std::vector<Record>& records, Second second, bool only_str) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(records.size()));
    if (list == nullptr) return nullptr;
    for (std::size_t i = 0; i < records.size(); ++i) {
        Record& r = records[i];
        PyObject* tuple = record_tuple(r.token, second(r), r.lang, r.confidence, r.source);
        if (tuple == nullptr) {
            Py_DecRef(list);
            return nullptr;
        }
        if (only_str) PyObject_GC_UnTrack(tuple);
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), tuple);
    }
    return list;
}

}  // namespace

PyObject* to_str(const std::string& s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

PyObject* to_list(std::vector<DetailedToken>& records) {
    return records_to_list(records, [](DetailedToken& r) { return take_str(r.jyutping); }, true);
}

PyObject* to_list(std::vector<CandidateToken>& records) {
    return records_to_list(records, [](CandidateToken& r) { return str_list(r.candidate_readings); }, false);
}

}  // namespace merrow::py
