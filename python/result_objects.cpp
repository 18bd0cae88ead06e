#include "result_objects.hpp"

#include <iterator>

#include "pipeline/token_memo.hpp"

namespace merrow::py {
namespace {

// Releases the engine string once its Python copy exists.
PyObject* take_str(std::string& s) {
    PyObject* out = to_str(s);
    std::string().swap(s);
    return out;
}

// Language, confidence and source labels come from a small fixed vocabulary
// (a sidecar may hold others, which are made as usual). Their str objects are
// made once per process and shared, str being immutable: three fewer objects
// to allocate, fill and later collect for every token.
PyObject* take_label(std::string& s) {
    static const char* const kLabels[] = {
        "yue",       "certain",       "punct",      "en",      "tojyutping", "rime",   "ranked",
        "tied",      "passthrough",   "unknown",    "oral_hk", "unihan",     "tojyutping_tiebreak",
        "user_dict", "char_fallback", "unresolved",
    };
    static PyObject* cache[std::size(kLabels)] = {};
    for (std::size_t i = 0; i < std::size(kLabels); ++i) {
        if (s != kLabels[i]) continue;
        if (cache[i] == nullptr) {
            cache[i] = PyUnicode_InternFromString(kLabels[i]);
            if (cache[i] == nullptr) return nullptr;
        }
        Py_IncRef(cache[i]);
        std::string().swap(s);
        return cache[i];
    }
    return take_str(s);
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

// A 5-tuple of the record's fields; token and second are already objects,
// whose references it takes over (also on failure).
PyObject* record_tuple(PyObject* token, PyObject* second, std::string& lang, std::string& confidence,
                       std::string& source) {
    PyObject* tuple = token == nullptr || second == nullptr ? nullptr : PyTuple_New(5);
    if (tuple == nullptr) {
        Py_XDECREF(token);
        Py_XDECREF(second);
        return nullptr;
    }
    PyTuple_SetItem(tuple, 0, token);
    PyTuple_SetItem(tuple, 1, second);
    PyObject* fields[3] = {take_label(lang), take_label(confidence), take_label(source)};
    bool ok = true;
    for (int i = 0; i < 3; ++i) {
        if (fields[i] == nullptr) {
            ok = false;
            continue;
        }
        PyTuple_SetItem(tuple, 2 + i, fields[i]);
    }
    if (!ok) {
        Py_DecRef(tuple);
        return nullptr;
    }
    return tuple;
}

template <class Record, class Second>
PyObject* records_to_list(std::vector<Record>& records, Second second) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(records.size()));
    if (list == nullptr) return nullptr;
    for (std::size_t i = 0; i < records.size(); ++i) {
        Record& r = records[i];
        PyObject* token = take_str(r.token);
        PyObject* tuple = record_tuple(token, token == nullptr ? nullptr : second(r), r.lang, r.confidence, r.source);
        if (tuple == nullptr) {
            Py_DecRef(list);
            return nullptr;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), tuple);
    }
    return list;
}

}  // namespace

PyObject* to_str(const std::string& s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

PyObject* to_list(std::vector<DetailedToken>& records) {
    const auto n = static_cast<Py_ssize_t>(records.size());
    PyObject* list = PyList_New(n);
    if (list == nullptr) return nullptr;
    // Tokens repeat within a text, and equal tokens have equal records: a
    // repeated token shares the str objects of its first record's tuple.
    TokenMemo first_record(records.size() * 8);
    for (Py_ssize_t i = 0; i < n; ++i) {
        DetailedToken& r = records[static_cast<std::size_t>(i)];
        PyObject *token, *reading;
        if (const std::uint64_t* seen = first_record.find(r.token)) {
            PyObject* first = PyList_GetItem(list, static_cast<Py_ssize_t>(*seen));
            token = PyTuple_GetItem(first, 0);
            reading = PyTuple_GetItem(first, 1);
            Py_IncRef(token);
            Py_IncRef(reading);
        } else {
            token = to_str(r.token);
            reading = token == nullptr ? nullptr : take_str(r.jyutping);
            if (reading == nullptr) {
                Py_XDECREF(token);
                Py_DecRef(list);
                return nullptr;
            }
            first_record.remember(r.token, static_cast<std::uint64_t>(i));  // r.token outlives the loop
        }
        PyObject* tuple = record_tuple(token, reading, r.lang, r.confidence, r.source);
        if (tuple == nullptr) {
            Py_DecRef(list);
            return nullptr;
        }
        PyObject_GC_UnTrack(tuple);  // five str: never part of a cycle
        PyList_SetItem(list, i, tuple);
    }
    return list;
}

PyObject* to_list(std::vector<CandidateToken>& records) {
    return records_to_list(records, [](CandidateToken& r) { return str_list(r.candidate_readings); });
}

}  // namespace merrow::py
