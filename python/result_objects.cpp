#include "result_objects.hpp"

#include <vector>

namespace merrow::py {
namespace {

// Language, confidence and source labels come from a small fixed vocabulary
// (a sidecar may hold others, which are made as usual). Their str objects are
// made once per process and shared, str being immutable: three fewer objects
// to allocate, fill and later collect for every token. Returns a new
// reference to the str of `label`; nullptr with an error set on failure.
PyObject* label_str(const LabelText& label) {
    if (label.id == Label::other) return to_str(label.text);
    static PyObject* cache[kLabelCount] = {};
    PyObject*& shared = cache[static_cast<std::size_t>(label.id)];
    // The names are string literals, so their views end in a NUL.
    if (shared == nullptr) shared = PyUnicode_InternFromString(label_name(label.id).data());
    Py_XINCREF(shared);
    return shared;
}

// The str of a reading: the pipeline's shared one when the reading is a
// view into its tables or user dictionary, else a new one.
PyObject* reading_str(SharedStrs* shared, std::string_view reading) {
    return shared != nullptr ? shared->get(reading) : to_str(reading);
}

// The readings of a candidates value (readings joined by '|') as a new list.
PyObject* reading_list(const RecordRef& r, SharedStrs* shared) {
    Py_ssize_t n = 1;
    if (r.is_list) {
        for (char c : r.reading) n += c == '|';
    }
    PyObject* list = PyList_New(n);
    if (list == nullptr) return nullptr;
    std::string_view rest = r.reading;
    for (Py_ssize_t i = 0; i < n; ++i) {
        std::size_t bar = r.is_list ? rest.find('|') : std::string_view::npos;
        PyObject* item = reading_str(shared, rest.substr(0, bar));
        if (item == nullptr) {
            Py_DecRef(list);
            return nullptr;
        }
        PyList_SetItem(list, i, item);
        rest.remove_prefix(bar == std::string_view::npos ? rest.size() : bar + 1);
    }
    return list;
}

// A tuple of str only is never part of a cycle: keeping it out of the cycle
// collector's lists spares every later collection a walk over it, which with
// many results kept dominates the cost of making them. A list of readings
// (and so a tuple that holds one) stays tracked: a caller may put into it an
// object that refers back to it, and that cycle must still be collected.
void untrack(PyObject* container) { PyObject_GC_UnTrack(container); }

// Builds the tuples of one result, then hands them over to a list made at
// its final length; releases whatever it holds if the list is never made. A
// record of a token seen before reuses the objects of that token's first
// record, all immutable str (a list of readings is copied). Readings that
// are views into the pipeline's own memory come from its shared strs.
class RecordBuilder {
public:
    // as_list: the second field is the list of readings.
    RecordBuilder(const Pipeline& pipeline, SharedStrs& shared, bool as_list)
        : pipeline_(pipeline), shared_(shared), as_list_(as_list) {}
    RecordBuilder(const RecordBuilder&) = delete;
    RecordBuilder& operator=(const RecordBuilder&) = delete;
    ~RecordBuilder() {
        for (PyObject* t : tuples_) Py_DecRef(t);
    }

    void add(const RecordRef& r) {
        if (failed_) return;
        // A text of millions of tokens takes seconds: pending signal handlers
        // run now and then, and an exception they raise ends the list.
        if (++added_ % kRecordsPerSignalCheck == 0 && PyErr_CheckSignals() < 0) {
            failed_ = true;
            return;
        }
        Fields fields;
        if (r.earlier != RecordRef::kNoEarlier) {
            fields = fields_[r.earlier];
            if (!as_list_) return push(fields, 0);
            fields.items[1] = PyList_GetSlice(fields.items[1], 0, PyList_Size(fields.items[1]));
            return push(fields, 0b00010);
        }
        // Every field a new reference, nullptr once one fails.
        SharedStrs* shared = pipeline_.holds(r.token, r.reading) ? &shared_ : nullptr;
        PyObject*& token = fields.items[0];
        token = to_str(r.token);
        if (token != nullptr) {
            fields.items[1] = as_list_ ? reading_list(r, shared) : reading_str(shared, r.first_reading());
        }
        fields.items[2] = fields.items[1] == nullptr ? nullptr : label_str(LabelText::of(r.lang));
        fields.items[3] = fields.items[2] == nullptr ? nullptr : label_str(r.confidence);
        fields.items[4] = fields.items[3] == nullptr ? nullptr : label_str(r.source);
        push(fields, 0b11111);
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
    struct Fields {
        PyObject* items[5] = {};  // borrowed once the record's tuple holds them
    };

    // Packs the fields into a tuple; the fields flagged in `owned` are new
    // references, released once the tuple holds them (or on failure).
    void push(const Fields& fields, unsigned owned) {
        bool complete = true;
        for (PyObject* f : fields.items) complete = complete && f != nullptr;
        PyObject* tuple = nullptr;
        if (complete) {
            const auto& f = fields.items;
            tuple = PyTuple_Pack(5, f[0], f[1], f[2], f[3], f[4]);
        }
        for (int i = 0; i < 5; ++i) {
            if (owned >> i & 1) Py_XDECREF(fields.items[i]);
        }
        if (tuple == nullptr) {
            failed_ = true;
            return;
        }
        if (!as_list_) untrack(tuple);
        tuples_.push_back(tuple);
        fields_.push_back(fields);
    }

    // About a millisecond of tuples.
    static constexpr std::size_t kRecordsPerSignalCheck = 4096;

    const Pipeline& pipeline_;
    SharedStrs& shared_;
    const bool as_list_;
    bool failed_ = false;
    std::size_t added_ = 0;
    std::vector<PyObject*> tuples_;
    std::vector<Fields> fields_;
};

}  // namespace

PyObject* to_str(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

PyObject* record_list(const Pipeline& pipeline, SharedStrs& shared, std::string_view text, bool as_list) {
    RecordBuilder records(pipeline, shared, as_list);
    visit_records(pipeline, text, [&](const RecordRef& r) { records.add(r); });
    return records.release_list();
}

PyObject* record_list(const Pipeline& pipeline, SharedStrs& shared, const RecordList& list, bool as_list) {
    RecordBuilder records(pipeline, shared, as_list);
    for (std::size_t i = 0; i < list.size(); ++i) records.add(list[i]);
    return records.release_list();
}

}  // namespace merrow::py
