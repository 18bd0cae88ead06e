#include "result_objects.hpp"

#include "collector_pause.hpp"

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

// A new list of one item, whose reference it takes.
PyObject* list_of(PyObject* item) {
    PyObject* list = PyList_New(1);
    if (list == nullptr) {
        Py_DECREF(item);
        return nullptr;
    }
    PyList_SetItem(list, 0, item);
    return list;
}

// The readings of a candidates value (readings joined by '|') as a new list.
// With the pipeline's shared strs, a list value's strs come from one lookup.
PyObject* reading_list(const RecordRef& r, SharedStrs* shared) {
    if (shared != nullptr && r.is_list) {
        PyObject* readings = shared->get_readings(r.reading);
        if (readings == nullptr) return nullptr;
        PyObject* list = PySequence_List(readings);
        Py_DECREF(readings);
        return list;
    }
    if (!r.is_list) {
        PyObject* item = reading_str(shared, r.reading);
        return item == nullptr ? nullptr : list_of(item);
    }
    PyObject* list = PyList_New(reading_count(r.reading));
    if (list == nullptr) return nullptr;
    Py_ssize_t i = 0;
    const bool made = for_each_reading(r.reading, [&](std::string_view reading) {
        PyObject* item = reading_str(shared, reading);
        if (item != nullptr) PyList_SetItem(list, i++, item);
        return item != nullptr;
    });
    if (!made) Py_CLEAR(list);
    return list;
}

// A tuple of str only is never part of a cycle: keeping it out of the cycle
// collector's lists spares every later collection a walk over it, which with
// many results kept dominates the cost of making them. A list of readings
// (and so a tuple that holds one) stays tracked: a caller may put into it an
// object that refers back to it, and that cycle must still be collected.
void untrack(PyObject* container) { PyObject_GC_UnTrack(container); }

// Builds the list of one result's tuples, appending as records come. A
// record of a token seen before reuses the objects of that token's first
// record, all immutable str (a list of readings is copied); they are read
// back from that record's tuple. Readings that are views into the
// pipeline's own memory, and tokens that are keys of its tables, come from its
// shared strs.
class RecordBuilder {
public:
    // as_list: the second field is the list of readings.
    RecordBuilder(const Pipeline& pipeline, SharedStrs& shared, bool as_list)
        : pipeline_(pipeline), shared_(shared), as_list_(as_list), list_(PyList_New(0)) {}
    RecordBuilder(const RecordBuilder&) = delete;
    RecordBuilder& operator=(const RecordBuilder&) = delete;
    ~RecordBuilder() { Py_XDECREF(list_); }

    void add(const RecordRef& r) {
        if (list_ == nullptr) return;
        // A text of millions of tokens takes seconds: pending signal handlers
        // run now and then, and an exception they raise ends the list.
        if (++added_ % kRecordsPerSignalCheck == 0 && check_signals() < 0) return fail();
        // A tuple that will hold a list of readings is made before the list:
        // the cycle collector walks new objects in the order they were made,
        // and reaching the list through its tuple first spares it being set
        // aside as unreachable and then taken back.
        PyObject* tuple = nullptr;
        if (as_list_ && (tuple = PyTuple_New(5)) == nullptr) return fail();
        // New references to the five fields.
        PyObject* items[5] = {};
        const bool made = r.earlier != RecordRef::kNoEarlier ? copy_earlier(r.earlier, items) : make_items(r, items);
        if (tuple != nullptr) {
            // PyTuple_SetItem takes each reference; a tuple left with empty
            // slots on failure is released as it is.
            for (Py_ssize_t i = 0; i < 5; ++i) {
                if (items[i] != nullptr) PyTuple_SetItem(tuple, i, items[i]);
            }
            if (!made) Py_CLEAR(tuple);
        } else {
            // One call instead of five; the tuple takes references of its own.
            if (made) tuple = PyTuple_Pack(5, items[0], items[1], items[2], items[3], items[4]);
            for (PyObject* item : items) Py_XDECREF(item);
        }
        if (tuple == nullptr) return fail();
        if (!as_list_) untrack(tuple);
        const int appended = PyList_Append(list_, tuple);
        Py_DECREF(tuple);
        if (appended < 0) fail();
    }

    // The fields of the record at index `earlier` of the list, the list of
    // readings copied; false with the error set on failure.
    bool copy_earlier(std::size_t earlier, PyObject* (&items)[5]) {
        PyObject* first = PyList_GetItem(list_, static_cast<Py_ssize_t>(earlier));
        for (Py_ssize_t i = 0; i < 5; ++i) {
            PyObject* item = first == nullptr ? nullptr : PyTuple_GetItem(first, i);
            if (item == nullptr) return false;
            if (i == 1 && as_list_) {
                item = PyList_GetSlice(item, 0, PyList_Size(item));
                if (item == nullptr) return false;
            } else {
                Py_INCREF(item);
            }
            items[i] = item;
        }
        return true;
    }

    // The fields of a record met first; false with the error set on failure.
    bool make_items(const RecordRef& r, PyObject* (&items)[5]) {
        SharedStrs* shared = pipeline_.holds(r.token, r.reading) ? &shared_ : nullptr;
        // A token that is a key of the tables shares that key's str.
        items[0] = r.key.empty() ? to_str(r.token) : shared_.get(r.key);
        if (items[0] != nullptr)
            items[1] = as_list_ ? reading_list(r, shared) : reading_str(shared, r.first_reading());
        if (items[1] != nullptr) items[2] = label_str(LabelText::of(r.lang));
        if (items[2] != nullptr) items[3] = label_str(r.confidence);
        if (items[3] != nullptr) items[4] = label_str(r.source);
        return items[4] != nullptr;
    }

    // The list, or nullptr with the error of the first failure set.
    PyObject* release_list() {
        PyObject* list = list_;
        list_ = nullptr;
        return list;
    }

private:
    void fail() {
        Py_XDECREF(list_);
        list_ = nullptr;
    }

    // About a millisecond of tuples.
    static constexpr std::size_t kRecordsPerSignalCheck = 4096;

    const Pipeline& pipeline_;
    SharedStrs& shared_;
    const bool as_list_;
    PyObject* list_;  // nullptr once anything failed
    std::size_t added_ = 0;
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
