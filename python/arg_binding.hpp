// Table-driven argument binding and value conversion shared by every method.
#pragma once

#include <string>
#include <string_view>

#include "limited_api.hpp"
#include "merrow.hpp"

namespace merrow::py {

struct Parameter {
    const char* name;
    bool required;
};

struct Signature {
    const char* display_name;  // e.g. "PyPipeline.convert()"
    const Parameter* parameters;
    Py_ssize_t count;
};

// The arguments of one call in either calling convention: a tuple and a
// dict (each may be nullptr), or a vector of the positional values followed
// by the keyword values, whose names are in the tuple kwnames (or nullptr).
struct CallArgs {
    PyObject* tuple = nullptr;
    PyObject* dict = nullptr;
    PyObject* const* vector = nullptr;
    Py_ssize_t nargs = 0;
    PyObject* kwnames = nullptr;
    bool is_vector = false;

    static CallArgs of(PyObject* tuple, PyObject* dict) { return CallArgs{tuple, dict}; }
    static CallArgs of(PyObject* const* vector, Py_ssize_t nargs, PyObject* kwnames) {
        return CallArgs{nullptr, nullptr, vector, nargs, kwnames, true};
    }
};

// Fills slots[0..count) from the call's arguments (borrowed references,
// nullptr for an unfilled optional parameter). Keywords are taken in the
// order they were passed. Returns -1 with a TypeError set.
int bind_arguments(const Signature& sig, const CallArgs& call, PyObject** slots);
inline int bind_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots) {
    return bind_arguments(sig, CallArgs::of(args, kwargs), slots);
}

// Value conversions. Each returns -1 with an exception set on failure; the
// *_param forms also attach the note "while processing '<name>'".
int convert_str(PyObject* value, std::string& out);
int convert_str_param(PyObject* value, const char* name, std::string& out);
// The UTF-8 text of a str as a view: into the str's own cached UTF-8 where
// the running interpreter offers it (runtime_abi.hpp), valid as long as the
// str; otherwise into a copy made in `storage`. Same errors as convert_str.
int view_str(PyObject* value, std::string& storage, std::string_view& out);
int view_str_param(PyObject* value, const char* name, std::string& storage, std::string_view& out);
int convert_bool_param(PyObject* value, const char* name, bool& out);
// None (or nullptr) leaves `present` false.
int convert_optional_str_param(PyObject* value, const char* name, std::string& out, bool& present);
int convert_user_dict_param(PyObject* value, const char* name, UserEntries& out);

// Sets TypeError "'<type>' object is not an instance of '<expected>'" (or the
// None form) for `value`.
void set_type_error(PyObject* value, const char* expected);

// Adds the note "while processing '<name>'" to the pending exception, when
// the interpreter supports notes; otherwise leaves the exception unchanged.
void add_processing_note(const char* name);

}  // namespace merrow::py
