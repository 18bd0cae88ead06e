// Module merrow._align: the aligned flavour of the engine, apart from
// _merrow so that PyPipeline stays as it is. AlignPipeline(data_dir,
// punc_norm=True, user_dict=None) with align(text) and align_batch(texts),
// which return one 9-tuple per syllable or passed-through token:
// (start, end, original, normalised, reading, lang, confidence, source,
// whole_word), start and end in code points of the text. Also the command
// line's plain path for blocks of lines (plain_lines.hpp).
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "arg_binding.hpp"
#include "boundary.hpp"
#include "limited_api.hpp"
#include "merrow.hpp"
#include "plain_lines.hpp"

namespace merrow::py {
namespace {

struct AlignPipelineObject {
    PyObject_HEAD
    Pipeline pipeline;
};

const Pipeline& pipeline_of(PyObject* self) { return reinterpret_cast<AlignPipelineObject*>(self)->pipeline; }

// A method body: a C++ exception becomes RuntimeError (this module has no
// internal-failure class of its own).
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    return guarded_by([](const char* message) { PyErr_SetString(PyExc_RuntimeError, message); },
                      std::forward<Body>(body));
}

bool continues(char b) { return (static_cast<unsigned char>(b) & 0xC0) == 0x80; }

// Characters of well-formed UTF-8: bytes that start one.
std::size_t count_chars(std::string_view s) {
    std::size_t n = 0;
    for (char b : s) n += !continues(b);
    return n;
}

PyObject* str_of(std::string_view s) { return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())); }

// The standard labels' str objects, made once and shared.
PyObject* label_str(const LabelText& label) {
    if (label.id == Label::other) return str_of(label.text);
    static PyObject* cache[kLabelCount] = {};
    PyObject*& shared = cache[static_cast<std::size_t>(label.id)];
    if (shared == nullptr) shared = PyUnicode_InternFromString(label_name(label.id).data());
    Py_XINCREF(shared);
    return shared;
}

// The tuple subclass that entries are made as (merrow.alignment.Alignment, set
// by set_entry_type), or nullptr for plain tuples. Holds a reference.
PyObject* g_entry_type = nullptr;

// A new entry of 9 empty items: made the way tuple.__new__ makes an
// instance of a subclass, through the type's allocator.
PyObject* new_entry() {
    if (g_entry_type == nullptr) return PyTuple_New(9);
    auto type = reinterpret_cast<PyTypeObject*>(g_entry_type);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    return alloc(type, 9);
}

// The str objects of short texts that repeat within one result (characters,
// syllables), made once per result: a direct-mapped table keyed by the text,
// whose views stay valid while the result is built.
class StrCache {
public:
    StrCache() = default;
    StrCache(const StrCache&) = delete;
    StrCache& operator=(const StrCache&) = delete;
    ~StrCache() {
        for (Slot& slot : slots_) Py_XDECREF(slot.object);
    }

    // A new reference to the str of `s`; nullptr with an error set.
    PyObject* get(std::string_view s) {
        std::size_t h = s.size();
        for (char c : s) h = h * 31 + static_cast<unsigned char>(c);
        Slot& slot = slots_[h % kSlots];
        if (slot.object == nullptr || slot.key != s) {
            PyObject* made = str_of(s);
            if (made == nullptr) return nullptr;
            Py_XDECREF(slot.object);
            slot = Slot{s, made};
        }
        Py_IncRef(slot.object);
        return slot.object;
    }

private:
    static constexpr std::size_t kSlots = 1024;
    struct Slot {
        std::string_view key;
        PyObject* object = nullptr;
    };
    Slot slots_[kSlots];
};

// Builds the entries of one text; nullptr with an error set on failure.
class EntryBuilder {
public:
    EntryBuilder(PyObject* text, const AlignedText& aligned) : text_(text), aligned_(aligned) {}
    EntryBuilder(const EntryBuilder&) = delete;
    EntryBuilder& operator=(const EntryBuilder&) = delete;
    ~EntryBuilder() {
        Py_XDECREF(last_.start);
        Py_XDECREF(last_.end);
        Py_XDECREF(last_.original);
    }

    PyObject* build() {
        PyObject* list = PyList_New(0);
        if (list == nullptr) return nullptr;
        const RecordList& records = aligned_.records;
        std::size_t span = 0;  // index of the current token's first character in aligned_.spans
        for (std::size_t i = 0; i < records.size(); ++i) {
            const RecordRef r = records[i];
            const RecordRef fields = r.earlier == RecordRef::kNoEarlier ? r : records[r.earlier];
            const std::size_t chars = count_chars(r.token);
            if (!add_token(list, r, fields, span, chars)) {
                Py_DecRef(list);
                return nullptr;
            }
            span += chars;
        }
        return list;
    }

private:
    std::uint32_t start(std::size_t c) const { return aligned_.spans[2 * c]; }
    std::uint32_t end(std::size_t c) const { return aligned_.spans[2 * c + 1]; }

    // A Han token gets one entry per character when its reading has one
    // syllable per character; any other token, one entry for the whole.
    bool add_token(PyObject* list, const RecordRef& r, const RecordRef& fields, std::size_t span,
                   std::size_t chars) {
        const std::string_view reading = fields.first_reading();
        if (r.lang == Label::yue) {
            std::size_t syllables = 1;
            for (char c : reading) syllables += c == ' ';
            if (syllables == chars) {
                std::size_t pos = 0, at = 0;
                for (std::size_t c = 0; c < chars; ++c) {
                    const std::size_t begin = pos;
                    do ++pos;
                    while (pos < r.token.size() && continues(r.token[pos]));
                    std::size_t space = reading.find(' ', at);
                    if (space == std::string_view::npos) space = reading.size();
                    if (!add(list, start(span + c), end(span + c), r.token.substr(begin, pos - begin),
                             reading.substr(at, space - at), r.lang, fields, false)) {
                        return false;
                    }
                    at = space + 1;
                }
                return true;
            }
            return add(list, start(span), end(span + chars - 1), r.token, reading, r.lang, fields, true);
        }
        return add(list, start(span), end(span + chars - 1), r.token, reading, r.lang, fields, false);
    }

    // Neighbouring entries share their offsets (one's end is the next one's
    // start) and, within a spelled-out number, their source: their objects
    // are reused.
    struct Last {
        std::size_t from = 0, to = 0;
        PyObject *start = nullptr, *end = nullptr, *original = nullptr;
    };

    PyObject* offset(std::size_t value) {
        PyObject* same = last_.start != nullptr && value == last_.from ? last_.start
                         : last_.end != nullptr && value == last_.to  ? last_.end
                                                                      : nullptr;
        if (same == nullptr) return PyLong_FromSize_t(value);
        Py_IncRef(same);
        return same;
    }

    // text[from:to]: the normalised character itself when that is what the
    // text holds there.
    PyObject* original(std::size_t from, std::size_t to, PyObject* normalised_str) {
        if (last_.original != nullptr && from == last_.from && to == last_.to) {
            Py_IncRef(last_.original);
            return last_.original;
        }
        if (to - from == 1 && normalised_str != nullptr && PyUnicode_GetLength(normalised_str) == 1 &&
            PyUnicode_ReadChar(normalised_str, 0) == PyUnicode_ReadChar(text_, static_cast<Py_ssize_t>(from))) {
            Py_IncRef(normalised_str);
            return normalised_str;
        }
        return PyUnicode_Substring(text_, static_cast<Py_ssize_t>(from), static_cast<Py_ssize_t>(to));
    }

    bool add(PyObject* list, std::size_t from, std::size_t to, std::string_view normalised,
             std::string_view reading, Label lang, const RecordRef& fields, bool whole_word) {
        PyObject* items[9] = {offset(from), offset(to), nullptr, strings_.get(normalised), strings_.get(reading),
                              label_str(LabelText::of(lang)), label_str(fields.confidence),
                              label_str(fields.source), whole_word ? Py_True : Py_False};
        Py_IncRef(items[8]);
        items[2] = original(from, to, items[3]);
        bool complete = true;
        for (PyObject* item : items) complete = complete && item != nullptr;
        PyObject* tuple = complete ? new_entry() : nullptr;
        if (tuple == nullptr) {
            for (PyObject* item : items) Py_XDECREF(item);
            return false;
        }
        Py_IncRef(items[0]);
        Py_IncRef(items[1]);
        Py_IncRef(items[2]);
        Py_XDECREF(last_.start);
        Py_XDECREF(last_.end);
        Py_XDECREF(last_.original);
        last_ = Last{from, to, items[0], items[1], items[2]};
        for (Py_ssize_t k = 0; k < 9; ++k) PyTuple_SetItem(tuple, k, items[k]);
        // Tuples of ints, str and bools are never part of a cycle.
        PyObject_GC_UnTrack(tuple);
        const bool ok = PyList_Append(list, tuple) == 0;
        Py_DecRef(tuple);
        return ok;
    }

    Last last_;
    StrCache strings_;
    PyObject* text_;
    const AlignedText& aligned_;
};

PyObject* entries_of(PyObject* text, const AlignedText& aligned) { return EntryBuilder(text, aligned).build(); }

const Parameter kTextParam[] = {{"text", true}};
const Signature kAlignSig{"AlignPipeline.align()", kTextParam, 1};

PyObject* method_align(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* slot;
        if (bind_arguments(kAlignSig, args, kwargs, &slot) < 0) return nullptr;
        std::string text;
        if (convert_str_param(slot, "text", text) < 0) return nullptr;
        AlignedText aligned;
        align_text(pipeline_of(self), text, aligned);
        return entries_of(slot, aligned);
    });
}

const Parameter kTextsParam[] = {{"texts", true}};
const Signature kAlignBatchSig{"AlignPipeline.align_batch()", kTextsParam, 1};

PyObject* method_align_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* slot;
        if (bind_arguments(kAlignBatchSig, args, kwargs, &slot) < 0) return nullptr;
        if (!(PyType_GetFlags(Py_TYPE(slot)) & Py_TPFLAGS_LIST_SUBCLASS)) {
            set_type_error(slot, "list");
            add_processing_note("texts");
            return nullptr;
        }
        const Py_ssize_t n = PyList_Size(slot);
        // The str objects are kept (their entries slice them) and copied out as UTF-8.
        std::vector<PyObject*> objects;
        std::vector<std::string> texts;
        objects.reserve(static_cast<std::size_t>(n));
        texts.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* item = PyList_GetItem(slot, i);
            texts.emplace_back();
            if (convert_str(item, texts.back()) < 0) {
                for (PyObject* o : objects) Py_DecRef(o);
                return nullptr;
            }
            Py_IncRef(item);
            objects.push_back(item);
        }
        std::vector<std::string_view> views(texts.begin(), texts.end());
        PyObject* list = PyList_New(n);
        bool object_failed = list == nullptr;
        std::optional<Error> failure;
        if (list != nullptr) {
            failure = align_batch(pipeline_of(self), views, [&](std::size_t i, AlignedText& aligned) {
                PyObject* item = entries_of(objects[i], aligned);
                if (item == nullptr) {
                    object_failed = true;
                    return false;
                }
                PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);
                return true;
            });
        }
        for (PyObject* o : objects) Py_DecRef(o);
        if (failure) PyErr_SetString(PyExc_RuntimeError, failure->message.c_str());
        if (failure || object_failed) {
            Py_XDECREF(list);
            return nullptr;
        }
        return list;
    });
}

PyObject* method_convert_plain_lines(PyObject* self, PyObject* data) {
    return guarded([&]() -> PyObject* { return convert_plain_lines(pipeline_of(self), data); });
}

const Parameter kNewParams[] = {{"data_dir", true}, {"punc_norm", false}, {"user_dict", false}};
const Signature kNewSig{"AlignPipeline.__new__()", kNewParams, 3};

PyObject* pipeline_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* slots[3];
        if (bind_arguments(kNewSig, args, kwargs, slots) < 0) return nullptr;
        bool punc_norm = true;
        std::string data_dir;
        UserEntries user_dict;
        if (convert_str_param(slots[0], "data_dir", data_dir) < 0) return nullptr;
        if (slots[1] != nullptr && convert_bool_param(slots[1], "punc_norm", punc_norm) < 0) return nullptr;
        if (convert_user_dict_param(slots[2], "user_dict", user_dict) < 0) return nullptr;
        Result<Pipeline> loaded = Pipeline::load(data_dir, punc_norm, std::move(user_dict));
        if (!loaded) {
            PyErr_SetString(PyExc_RuntimeError, loaded.error().message.c_str());
            return nullptr;
        }
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        PyObject* self = alloc(type, 0);
        if (self == nullptr) return nullptr;
        new (&reinterpret_cast<AlignPipelineObject*>(self)->pipeline) Pipeline(std::move(loaded).value());
        return self;
    });
}

void pipeline_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<AlignPipelineObject*>(self)->pipeline.~Pipeline();
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

#define MERROW_METHOD(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyObject* set_entry_type(PyObject*, PyObject* type) {
    if (!PyType_Check(type) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type), &PyTuple_Type) ||
        !(PyType_GetFlags(reinterpret_cast<PyTypeObject*>(type)) & Py_TPFLAGS_HEAPTYPE)) {
        PyErr_SetString(PyExc_TypeError, "set_entry_type() takes a class derived from tuple");
        return nullptr;
    }
    Py_IncRef(type);
    Py_XDECREF(g_entry_type);
    g_entry_type = type;
    Py_RETURN_NONE;
}

PyMethodDef kModuleMethods[] = {
    {"set_entry_type", set_entry_type, METH_O,
     "set_entry_type(cls)\n--\n\nMake entries as instances of cls, a class derived from tuple."},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef kMethods[] = {
    {"align", MERROW_METHOD(method_align), METH_VARARGS | METH_KEYWORDS,
     "align($self, text)\n--\n\nOne tuple per syllable or passed-through token of text."},
    {"align_batch", MERROW_METHOD(method_align_batch), METH_VARARGS | METH_KEYWORDS,
     "align_batch($self, texts)\n--\n\nalign() of every text of a list, in parallel."},
    {"convert_plain_lines", MERROW_METHOD(method_convert_plain_lines), METH_O,
     "convert_plain_lines($self, data, /)\n--\n\nThe LF-separated UTF-8 lines of data converted, each "
     "result ended by LF, as bytes; None when data is not valid UTF-8."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(pipeline_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(pipeline_dealloc)},
    {Py_tp_doc, const_cast<char*>("AlignPipeline(data_dir, punc_norm=True, user_dict=None)\n--\n\n"
                                  "A pipeline whose conversions report where each reading came from.")},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "merrow._align.AlignPipeline",
    static_cast<int>(sizeof(AlignPipelineObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    kSlots,
};

int module_exec(PyObject* module) {
    static PyObject* type = nullptr;
    if (type == nullptr) type = PyType_FromSpec(&kSpec);
    if (type == nullptr) return -1;
    Py_IncRef(type);
    if (PyModule_AddObject(module, "AlignPipeline", type) < 0) {
        Py_DecRef(type);
        return -1;
    }
    return 0;
}

PyModuleDef_Slot kModuleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "merrow._align", "", 0, kModuleMethods, kModuleSlots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace merrow::py

PyMODINIT_FUNC PyInit__align(void) { return PyModuleDef_Init(&merrow::py::kModule); }
