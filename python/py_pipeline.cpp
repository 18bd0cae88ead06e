#include "py_pipeline.hpp"

#include <filesystem>
#include <new>
#include <string>

#include "arg_binding.hpp"
#include "boundary.hpp"
#include "runtime_abi.hpp"

namespace merrow::py {
namespace {

const char kClassDoc[] =
    "PyPipeline(punc_norm=True, data_dir=None, user_dict=None)\n--\n\n"
    "Cantonese G2P pipeline exposed to Python via PyO3.";

const char kConvertDoc[] =
    "convert($self, text)\n--\n\n"
    "Convert a single string to Jyutping-annotated output.";

const char kConvertBatchDoc[] =
    "convert_batch($self, texts)\n--\n\n"
    "Convert a list of strings in parallel (Rayon).";

const char kConvertDetailedDoc[] =
    "convert_detailed($self, text)\n--\n\n"
    "Convert text to a list of (token, jyutping, lang, confidence, source)\n"
    "tuples. lang is \"yue\" (Cantonese CJK), \"en\" (Latin/English), or\n"
    "\"punct\" (punctuation/symbol). jyutping is always the rank-0\n"
    "(most-likely) reading. confidence/source are described on\n"
    "convert_candidates().";

const char kConvertDetailedBatchDoc[] =
    "convert_detailed_batch($self, texts)\n--\n\n"
    "Convert a list of strings in parallel (Rayon); same per-text shape as\n"
    "`convert_detailed()`.";

const char kConvertCandidatesDoc[] =
    "convert_candidates($self, text)\n--\n\n"
    "Convert text to a list of (token, candidate_readings, lang,\n"
    "confidence, source) tuples. candidate_readings is rank-ordered\n"
    "(most-likely first); it has more than one entry only where the\n"
    "bundled data has 2+ known readings for that token (or, for OOV\n"
    "single chars, that character). confidence is \"certain\" (no\n"
    "ambiguity), \"ranked\" (ToJyutping's own context-aware ranking), or\n"
    "\"tied\" (rime-cantonese arbitrary tie-break \xE2\x80\x94 no real preference\n"
    "signal; also the default when the confidence sidecar has no entry\n"
    "for an ambiguous token). No numeric probability is exposed \xE2\x80\x94 no\n"
    "bundled source computes one honestly. source names the data layer\n"
    "that produced candidate_readings[0]: \"rime\", \"tojyutping\",\n"
    "\"tojyutping_tiebreak\", \"oral_hk\", \"unihan\", \"user_dict\",\n"
    "\"passthrough\", \"char_fallback\", \"unresolved\", or \"unknown\".";

const char kConvertCandidatesBatchDoc[] =
    "convert_candidates_batch($self, texts)\n--\n\n"
    "Convert a list of strings in parallel (Rayon); same per-text shape as\n"
    "`convert_candidates()`.";

const char kFromDirDoc[] =
    "from_dir(dir, punc_norm=True)\n--\n\n"
    "Create a Pipeline loading dict files from an explicit directory path.";

// Loads a pipeline and moves it into a new instance of `type`.
PyObject* make_instance(PyTypeObject* type, std::string_view dir, bool punc_norm, UserEntries user_dict) {
    Result<Pipeline> loaded = Pipeline::load(dir, punc_norm, std::move(user_dict));
    if (!loaded) {
        PyErr_SetString(PyExc_RuntimeError, loaded.error().message.c_str());
        return nullptr;
    }
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&reinterpret_cast<PyPipelineObject*>(self)->pipeline) Pipeline(std::move(loaded).value());
    new (&shared_strs_of(self)) SharedStrs();
    return self;
}

std::string default_data_dir() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) exe.clear();
    std::filesystem::path base = exe.parent_path();
    if (base.empty()) base = ".";
    std::filesystem::path candidate = base / "data";
    if (std::filesystem::exists(candidate, ec)) return candidate.string();
    return "data";
}

// A directory path goes to the operating system as a C string, where a NUL
// would silently cut it short: refuse it, as Python's own file functions do.
int check_path_param(const std::string& path, const char* name) {
    if (path.find('\0') == std::string::npos) return 0;
    PyErr_SetString(PyExc_ValueError, "embedded null byte");
    add_processing_note(name);
    return -1;
}

const Parameter kNewParams[] = {{"punc_norm", false}, {"data_dir", false}, {"user_dict", false}};
const Signature kNewSig{"PyPipeline.__new__()", kNewParams, 3};

PyObject* pipeline_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* slots[3];
        if (bind_arguments(kNewSig, args, kwargs, slots) < 0) return nullptr;
        bool punc_norm = true, has_dir = false;
        std::string data_dir;
        UserEntries user_dict;
        if (slots[0] != nullptr && convert_bool_param(slots[0], "punc_norm", punc_norm) < 0) return nullptr;
        if (convert_optional_str_param(slots[1], "data_dir", data_dir, has_dir) < 0) return nullptr;
        if (has_dir && check_path_param(data_dir, "data_dir") < 0) return nullptr;
        if (convert_user_dict_param(slots[2], "user_dict", user_dict) < 0) return nullptr;
        if (!has_dir) data_dir = default_data_dir();
        return make_instance(type, data_dir, punc_norm, std::move(user_dict));
    });
}

const Parameter kFromDirParams[] = {{"dir", true}, {"punc_norm", false}};
const Signature kFromDirSig{"PyPipeline.from_dir()", kFromDirParams, 2};

PyObject* pipeline_from_dir(PyObject*, const CallArgs& call) {
    return guarded([&]() -> PyObject* {
        PyObject* slots[2];
        if (bind_arguments(kFromDirSig, call, slots) < 0) return nullptr;
        std::string dir;
        bool punc_norm = true;
        if (convert_str_param(slots[0], "dir", dir) < 0) return nullptr;
        if (check_path_param(dir, "dir") < 0) return nullptr;
        if (slots[1] != nullptr && convert_bool_param(slots[1], "punc_norm", punc_norm) < 0) return nullptr;
        return make_instance(reinterpret_cast<PyTypeObject*>(pipeline_type()), dir, punc_norm, {});
    });
}

void pipeline_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    shared_strs_of(self).~SharedStrs();
    reinterpret_cast<PyPipelineObject*>(self)->pipeline.~Pipeline();
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

// Every method has one body and two entry points, one per calling
// convention; the method table names the one the running interpreter's
// stable ABI allows (runtime_abi.hpp).
using Body = PyObject* (*)(PyObject*, const CallArgs&);

template <Body body>
PyObject* tuple_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
    return body(self, CallArgs::of(args, kwargs));
}

template <Body body>
PyObject* vector_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return body(self, CallArgs::of(args, nargs, kwnames));
}

template <Body body>
PyMethodDef method(const char* name, const char* doc, int extra_flags = 0) {
    if (vector_calls()) {
        auto entry = vector_entry<body>;
        return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)),
                kMethFastcall | METH_KEYWORDS | extra_flags, doc};
    }
    auto entry = tuple_entry<body>;
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)),
            METH_VARARGS | METH_KEYWORDS | extra_flags, doc};
}

// Filled when the type is made.
PyMethodDef kMethods[8] = {};

void fill_methods() {
    kMethods[0] = method<method_convert>("convert", kConvertDoc);
    kMethods[1] = method<method_convert_batch>("convert_batch", kConvertBatchDoc);
    kMethods[2] = method<method_convert_detailed>("convert_detailed", kConvertDetailedDoc);
    kMethods[3] = method<method_convert_detailed_batch>("convert_detailed_batch", kConvertDetailedBatchDoc);
    kMethods[4] = method<method_convert_candidates>("convert_candidates", kConvertCandidatesDoc);
    kMethods[5] = method<method_convert_candidates_batch>("convert_candidates_batch", kConvertCandidatesBatchDoc);
    kMethods[6] = method<pipeline_from_dir>("from_dir", kFromDirDoc, METH_STATIC);
    kMethods[7] = {nullptr, nullptr, 0, nullptr};
}

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(pipeline_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(pipeline_dealloc)},
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "builtins.PyPipeline",
    static_cast<int>(sizeof(PyPipelineObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    kSlots,
};

PyObject* g_type = nullptr;
PyObject* g_internal_failure = nullptr;

}  // namespace

PyObject* pipeline_type() {
    if (g_type == nullptr) {
        fill_methods();
        g_type = PyType_FromSpec(&kSpec);
    }
    return g_type;
}

void raise_internal_failure(const char* message) {
    if (g_internal_failure == nullptr) {
        g_internal_failure = PyErr_NewExceptionWithDoc(
            "_merrow.InternalFailure",
            "A broken invariant inside the converter (never caused by the text or arguments\n"
            "it accepts). Derived from BaseException so ordinary handlers do not swallow it.",
            PyExc_BaseException, nullptr);
        if (g_internal_failure == nullptr) return;
    }
    PyErr_SetString(g_internal_failure, message);
}

}  // namespace merrow::py
