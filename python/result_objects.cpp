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

// The shared str of a standard label (a borrowed reference), or nullptr for
// any other text; nullptr with an error set if the shared str cannot be made.
PyObject* shared_label(std::string_view s) {
    static PyObject* cache[std::size(kLabels)] = {};
    int i = label_index(s);
    if (i < 0) return nullptr;
    if (cache[i] == nullptr) cache[i] = PyUnicode_InternFromString(kLabels[i]);
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

// Builds the tuples of one result's records, then hands them over to a list
// made at its final length; releases whatever it holds if the list is never
// made. A record of a token seen before reuses the objects of that token's
// first record, all immutable str (a list of readings is copied).
class RecordBuilder {
public:
    // track: whether the tuples are left to the cycle collector. Tuples of
    // str only are never part of a cycle: keeping them out of its lists
    // spares every later collection a walk over them.
    explicit RecordBuilder(bool track) : track_(track) {}
    RecordBuilder(const RecordBuilder&) = delete;
    RecordBuilder& operator=(const RecordBuilder&) = delete;
    ~RecordBuilder() {
        for (PyObject* t : tuples_) Py_DecRef(t);
    }

    bool failed() const noexcept { return failed_; }

    // A new record; token and second are new references it takes over
    // (nullptr: their creation failed).
    void add(PyObject* token, PyObject* second, std::string_view lang, std::string_view confidence,
             std::string_view source) {
        Fields fields{{token, second, shared_label(lang), shared_label(confidence), shared_label(source)}};
        unsigned owned = 0b00011;
        const std::string_view labels[3] = {lang, confidence, source};
        for (int i = 0; i < 3; ++i) {
            if (fields.items[2 + i] != nullptr || PyErr_Occurred()) continue;
            fields.items[2 + i] = to_str(labels[i]);
            owned |= 1u << (2 + i);
        }
        push(fields, owned);
    }

    // A record equal to record `earlier`; with copy_second, its second field
    // is a new list with the same items.
    void add_repeat(std::size_t earlier, bool copy_second) {
        Fields fields = fields_[earlier];
        unsigned owned = 0;
        if (copy_second) {
            fields.items[1] = PyList_GetSlice(fields.items[1], 0, PyList_Size(fields.items[1]));
            owned = 0b00010;
        }
        push(fields, owned);
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
        PyObject* items[5];  // borrowed once the record's tuple holds them
    };

    // Packs the fields into a tuple; the fields flagged in `owned` are new
    // references, released once the tuple holds them (or on failure).
    void push(const Fields& fields, unsigned owned) {
        bool complete = !failed_;
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
        if (!track_) PyObject_GC_UnTrack(tuple);
        tuples_.push_back(tuple);
        fields_.push_back(fields);
    }

    const bool track_;
    bool failed_ = false;
    std::vector<PyObject*> tuples_;
    std::vector<Fields> fields_;
};

}  // namespace

PyObject* to_str(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

namespace {

// The records of one text; second(resolution) makes a new record's second
// field. A list of readings (a mutable second field) keeps its tuples
// tracked by the cycle collector and is copied for a repeated token.
template <class Second>
PyObject* record_list(const Pipeline& pipeline, std::string_view text, bool second_is_list, Second second) {
    RecordBuilder records(second_is_list);
    for_each_record(pipeline, text, [&](const RecordRef& r) {
        if (records.failed()) return;
        if (r.resolution == nullptr) {
            records.add_repeat(r.earlier, second_is_list);
            return;
        }
        PyObject* token = to_str(r.token);
        PyObject* field = token == nullptr ? nullptr : second(*r.resolution);
        records.add(token, field, r.lang, r.resolution->confidence, r.resolution->source);
    });
    return records.release_list();
}

}  // namespace

PyObject* detailed_list(const Pipeline& pipeline, std::string_view text) {
    return record_list(pipeline, text, false, [](const ResolvedView& v) { return to_str(v.first_candidate()); });
}

PyObject* candidates_list(const Pipeline& pipeline, std::string_view text) {
    return record_list(pipeline, text, true, candidates_str_list);
}

PyObject* to_list(std::vector<DetailedToken>& records) {
    RecordBuilder built(false);
    // Tokens repeat within a text, and equal tokens have equal records.
    TokenMemo first_record(records.size() * 8);
    for (std::size_t i = 0; i < records.size() && !built.failed(); ++i) {
        DetailedToken& r = records[i];
        if (const std::uint64_t* seen = first_record.find(r.token)) {
            built.add_repeat(static_cast<std::size_t>(*seen), false);
            continue;
        }
        first_record.remember(r.token, i);  // r.token outlives the loop
        PyObject* token = to_str(r.token);
        PyObject* reading = token == nullptr ? nullptr : take_str(r.jyutping);
        built.add(token, reading, r.lang, r.confidence, r.source);
    }
    return built.release_list();
}

PyObject* to_list(std::vector<CandidateToken>& records) {
    RecordBuilder built(true);
    for (std::size_t i = 0; i < records.size() && !built.failed(); ++i) {
        CandidateToken& r = records[i];
        PyObject* token = take_str(r.token);
        PyObject* readings = token == nullptr ? nullptr : str_list(r.candidate_readings);
        built.add(token, readings, r.lang, r.confidence, r.source);
    }
    return built.release_list();
}

}  // namespace merrow::py
