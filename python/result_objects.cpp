#include "result_objects.hpp"

#include <cstring>
#include <iterator>

#include "pipeline/record_stream.hpp"
#include "pipeline/token_memo.hpp"

namespace merrow::py {
namespace {

// Language, confidence and source labels come from a small fixed vocabulary
// (a sidecar may hold others, which are made as usual). Their str objects are
// made once per process and shared, str being immutable: three fewer objects
// to allocate, fill and later collect for every token.
constexpr const char* kLabels[] = {
    "en",     "yue",     "rime",    "tied",      "punct",         "ranked",     "unihan",
    "certain", "unknown", "oral_hk", "user_dict", "tojyutping",    "unresolved", "passthrough",
    "char_fallback", "tojyutping_tiebreak",
};

// Index in kLabels of `s`, or -1. Labels of one length are few, so the
// length picks the candidates and one or two comparisons settle it.
int label_index(std::string_view s) noexcept {
    auto is = [&](int i) { return std::memcmp(s.data(), kLabels[i], s.size()) == 0 ? i : -1; };
    switch (s.size()) {
        case 2: return is(0);
        case 3: return is(1);
        case 4: return s[0] == 'r' ? is(2) : is(3);
        case 5: return is(4);
        case 6: return s[0] == 'r' ? is(5) : is(6);
        case 7: return s[0] == 'c' ? is(7) : s[0] == 'u' ? is(8) : is(9);
        case 9: return is(10);
        case 10: return s[0] == 't' ? is(11) : is(12);
        case 11: return is(13);
        case 13: return is(14);
        case 19: return is(15);
        default: return -1;
    }
}

PyObject* label_str(std::string_view s) {
    static PyObject* cache[std::size(kLabels)] = {};
    int i = label_index(s);
    if (i < 0) return to_str(s);
    if (cache[i] == nullptr) {
        cache[i] = PyUnicode_InternFromString(kLabels[i]);
        if (cache[i] == nullptr) return nullptr;
    }
    Py_IncRef(cache[i]);
    return cache[i];
}

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

// The readings of a candidates value (readings joined by '|') as a new list.
PyObject* candidates_str_list(const ResolvedView& r) {
    if (!r.is_list) {
        PyObject* list = PyList_New(1);
        PyObject* item = list == nullptr ? nullptr : to_str(r.value);
        if (item == nullptr) {
            Py_XDECREF(list);
            return nullptr;
        }
        PyList_SetItem(list, 0, item);
        return list;
    }
    Py_ssize_t n = 1;
    for (char c : r.value) n += c == '|';
    PyObject* list = PyList_New(n);
    if (list == nullptr) return nullptr;
    std::string_view rest = r.value;
    for (Py_ssize_t i = 0; i < n; ++i) {
        std::size_t bar = rest.find('|');
        PyObject* item = to_str(rest.substr(0, bar));
        if (item == nullptr) {
            Py_DecRef(list);
            return nullptr;
        }
        PyList_SetItem(list, i, item);
        rest.remove_prefix(bar == std::string_view::npos ? rest.size() : bar + 1);
    }
    return list;
}

// A new 5-tuple of the fields, whose references it takes over (also on
// failure: a nullptr field makes it release the others and fail).
PyObject* record_tuple(PyObject* const (&fields)[5]) {
    bool complete = true;
    for (PyObject* f : fields) complete = complete && f != nullptr;
    PyObject* tuple = complete ? PyTuple_New(5) : nullptr;
    if (tuple == nullptr) {
        for (PyObject* f : fields) Py_XDECREF(f);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < 5; ++i) PyTuple_SetItem(tuple, i, fields[i]);
    return tuple;
}

// A new tuple holding the same five objects as `first`, a tuple made by
// record_tuple; with fresh_second, its second element is a shallow copy (a
// list of readings must not be shared between records).
PyObject* repeat_tuple(PyObject* first, bool fresh_second) {
    PyObject* fields[5];
    for (Py_ssize_t i = 0; i < 5; ++i) {
        fields[i] = PyTuple_GetItem(first, i);
        Py_IncRef(fields[i]);
    }
    if (fresh_second) {
        PyObject* copy = PyList_GetSlice(fields[1], 0, PyList_Size(fields[1]));
        Py_DecRef(fields[1]);
        fields[1] = copy;
    }
    return record_tuple(fields);
}

// Collects the records' tuples, then hands them over to a list made at its
// final length; releases whatever it holds if the list is never made.
class TupleCollector {
public:
    ~TupleCollector() {
        for (PyObject* t : tuples_) Py_DecRef(t);
    }
    bool failed() const noexcept { return failed_; }
    PyObject* at(std::size_t i) const noexcept { return tuples_[i]; }
    void add(PyObject* tuple) {
        if (tuple == nullptr) {
            failed_ = true;
            return;
        }
        tuples_.push_back(tuple);
    }
    PyObject* release_list() {
        if (failed_) return nullptr;
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(tuples_.size()));
        if (list == nullptr) return nullptr;
        for (std::size_t i = 0; i < tuples_.size(); ++i) PyList_SetItem(list, static_cast<Py_ssize_t>(i), tuples_[i]);
        tuples_.clear();
        return list;
    }

private:
    std::vector<PyObject*> tuples_;
    bool failed_ = false;
};

// Tuples of str only are never part of a cycle: keeping them out of the
// collector's lists spares every later collection a walk over them.
PyObject* untracked(PyObject* tuple) {
    if (tuple != nullptr) PyObject_GC_UnTrack(tuple);
    return tuple;
}

}  // namespace

PyObject* to_str(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

PyObject* detailed_list(const Pipeline& pipeline, std::string_view text) {
    TupleCollector tuples;
    for_each_record(pipeline, text, [&](const RecordRef& r) {
        if (tuples.failed()) return;
        if (r.resolution == nullptr) {
            tuples.add(untracked(repeat_tuple(tuples.at(r.earlier), false)));
            return;
        }
        const ResolvedView& v = *r.resolution;
        tuples.add(untracked(record_tuple({to_str(r.token), to_str(v.first_candidate()), label_str(r.lang),
                                           label_str(v.confidence), label_str(v.source)})));
    });
    return tuples.release_list();
}

PyObject* candidates_list(const Pipeline& pipeline, std::string_view text) {
    TupleCollector tuples;
    for_each_record(pipeline, text, [&](const RecordRef& r) {
        if (tuples.failed()) return;
        if (r.resolution == nullptr) {
            tuples.add(repeat_tuple(tuples.at(r.earlier), true));
            return;
        }
        const ResolvedView& v = *r.resolution;
        tuples.add(record_tuple({to_str(r.token), candidates_str_list(v), label_str(r.lang),
                                 label_str(v.confidence), label_str(v.source)}));
    });
    return tuples.release_list();
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
        PyObject* tuple;
        if (const std::uint64_t* seen = first_record.find(r.token)) {
            tuple = repeat_tuple(PyList_GetItem(list, static_cast<Py_ssize_t>(*seen)), false);
        } else {
            tuple = record_tuple({to_str(r.token), take_str(r.jyutping), label_str(r.lang), label_str(r.confidence),
                                  label_str(r.source)});
            first_record.remember(r.token, static_cast<std::uint64_t>(i));  // r.token outlives the loop
        }
        if (tuple == nullptr) {
            Py_DecRef(list);
            return nullptr;
        }
        PyList_SetItem(list, i, untracked(tuple));
    }
    return list;
}

PyObject* to_list(std::vector<CandidateToken>& records) {
    const auto n = static_cast<Py_ssize_t>(records.size());
    PyObject* list = PyList_New(n);
    if (list == nullptr) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        CandidateToken& r = records[static_cast<std::size_t>(i)];
        PyObject* tuple = record_tuple({take_str(r.token), str_list(r.candidate_readings), label_str(r.lang),
                                        label_str(r.confidence), label_str(r.source)});
        if (tuple == nullptr) {
            Py_DecRef(list);
            return nullptr;
        }
        PyList_SetItem(list, i, tuple);
    }
    return list;
}

}  // namespace merrow::py
