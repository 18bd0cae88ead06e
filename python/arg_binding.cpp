#include "arg_binding.hpp"

#include <cstring>
#include <string_view>

#include "runtime_abi.hpp"

namespace merrow::py {
namespace {

// UTF-8 text of a str object, or nullopt-like false with an error set.
bool utf8_of(PyObject* str, std::string& out) {
    PyObject* bytes = PyUnicode_AsUTF8String(str);
    if (bytes == nullptr) return false;
    char* data = PyBytes_AsString(bytes);
    Py_ssize_t size = PyBytes_Size(bytes);
    if (data == nullptr || size < 0) {
        Py_DecRef(bytes);
        return false;
    }
    out.assign(data, static_cast<std::size_t>(size));
    Py_DecRef(bytes);
    return true;
}

bool is_str(PyObject* value) { return (PyType_GetFlags(Py_TYPE(value)) & Py_TPFLAGS_UNICODE_SUBCLASS) != 0; }

// A str attribute of a type object ("__qualname__", "__module__", ...).
bool type_attr(PyObject* type, const char* attr, std::string& out) {
    PyObject* value = PyObject_GetAttrString(type, attr);
    if (value == nullptr) return false;
    bool ok = is_str(value) && utf8_of(value, out);
    Py_DecRef(value);
    if (!ok) PyErr_Clear();
    return ok;
}

std::string quoted_list(const Signature& sig, const bool* missing, Py_ssize_t count) {
    std::string out;
    Py_ssize_t written = 0;
    for (Py_ssize_t i = 0; i < sig.count; ++i) {
        if (!missing[i]) continue;
        if (written > 0) {
            out += written == count - 1 ? " and " : ", ";
        }
        out += "'";
        out += sig.parameters[i].name;
        out += "'";
        ++written;
    }
    return out;
}

}  // namespace

void set_type_error(PyObject* value, const char* expected) {
    if (value == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    std::string name;
    bool known = type_attr(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__", name);
    PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'", known ? name.c_str() : "?", expected);
}

void add_processing_note(const char* name) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr) {
        PyObject* add_note = PyObject_GetAttrString(value, "add_note");
        if (add_note != nullptr) {
            PyObject* result = PyObject_CallFunction(add_note, "s", ("while processing '" + std::string(name) + "'").c_str());
            Py_XDECREF(result);
            Py_DecRef(add_note);
        }
        PyErr_Clear();  // interpreters without notes: keep the first exception as it is
    }
    PyErr_Restore(type, value, traceback);
}

int bind_arguments(const Signature& sig, const CallArgs& call, PyObject** slots) {
    for (Py_ssize_t i = 0; i < sig.count; ++i) slots[i] = nullptr;
    Py_ssize_t required = 0;
    for (Py_ssize_t i = 0; i < sig.count; ++i) required += sig.parameters[i].required;

    Py_ssize_t given = call.is_vector ? call.nargs : call.tuple != nullptr ? PyTuple_Size(call.tuple) : 0;
    if (given > sig.count) {
        const char* verb = given == 1 ? "was" : "were";
        if (required == sig.count) {
            PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given", sig.display_name,
                         sig.count, given, verb);
        } else {
            PyErr_Format(PyExc_TypeError, "%s takes from %zd to %zd positional arguments but %zd %s given",
                         sig.display_name, required, sig.count, given, verb);
        }
        return -1;
    }
    for (Py_ssize_t i = 0; i < given; ++i) {
        slots[i] = call.is_vector ? call.vector[i] : PyTuple_GetItem(call.tuple, i);
    }

    // One keyword argument; -1 with the error set.
    auto keyword = [&](PyObject* key, PyObject* value) -> int {
        std::string name;
        if (!is_str(key) || !utf8_of(key, name)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "%s keywords must be strings", sig.display_name);
            return -1;
        }
        Py_ssize_t index = -1;
        for (Py_ssize_t i = 0; i < sig.count; ++i) {
            if (name == sig.parameters[i].name) index = i;
        }
        if (index < 0) {
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%s'", sig.display_name,
                         name.c_str());
            return -1;
        }
        if (slots[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.display_name,
                         name.c_str());
            return -1;
        }
        slots[index] = value;
        return 0;
    };
    if (call.is_vector && call.kwnames != nullptr) {
        for (Py_ssize_t i = 0; i < PyTuple_Size(call.kwnames); ++i) {
            if (keyword(PyTuple_GetItem(call.kwnames, i), call.vector[call.nargs + i]) < 0) return -1;
        }
    } else if (call.dict != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(call.dict, &pos, &key, &value)) {
            if (keyword(key, value) < 0) return -1;
        }
    }

    bool missing[8] = {};
    Py_ssize_t missing_count = 0;
    for (Py_ssize_t i = 0; i < sig.count; ++i) {
        if (sig.parameters[i].required && slots[i] == nullptr) {
            missing[i] = true;
            ++missing_count;
        }
    }
    if (missing_count > 0) {
        std::string names = quoted_list(sig, missing, missing_count);
        PyErr_Format(PyExc_TypeError, "%s missing %zd required positional %s: %s", sig.display_name, missing_count,
                     missing_count == 1 ? "argument" : "arguments", names.c_str());
        return -1;
    }
    return 0;
}

int convert_str(PyObject* value, std::string& out) {
    if (!is_str(value)) {
        set_type_error(value, "str");
        return -1;
    }
    return utf8_of(value, out) ? 0 : -1;
}

int view_str(PyObject* value, std::string& storage, std::string_view& out) {
    Utf8Reader reader = cached_utf8_reader();
    if (reader == nullptr || !is_str(value)) {
        if (convert_str(value, storage) < 0) return -1;
        out = storage;
        return 0;
    }
    Py_ssize_t size = 0;
    const char* data = reader(value, &size);
    if (data == nullptr) return -1;
    out = std::string_view(data, static_cast<std::size_t>(size));
    return 0;
}

int view_str_param(PyObject* value, const char* name, std::string& storage, std::string_view& out) {
    if (view_str(value, storage, out) < 0) {
        add_processing_note(name);
        return -1;
    }
    return 0;
}

int convert_str_param(PyObject* value, const char* name, std::string& out) {
    if (convert_str(value, out) < 0) {
        add_processing_note(name);
        return -1;
    }
    return 0;
}

int convert_bool_param(PyObject* value, const char* name, bool& out) {
    if (value == Py_True || value == Py_False) {
        out = value == Py_True;
        return 0;
    }
    // NumPy's boolean scalar is accepted as well, through its __bool__.
    std::string module, type_name;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    if (value != Py_None && type_attr(type, "__module__", module) && module == "numpy" &&
        type_attr(type, "__name__", type_name) && (type_name == "bool_" || type_name == "bool")) {
        int truth = PyObject_IsTrue(value);
        if (truth >= 0) {
            out = truth == 1;
            return 0;
        }
    } else {
        set_type_error(value, "bool");
    }
    add_processing_note(name);
    return -1;
}

int convert_optional_str_param(PyObject* value, const char* name, std::string& out, bool& present) {
    present = false;
    if (value == nullptr || value == Py_None) return 0;
    if (convert_str_param(value, name, out) < 0) return -1;
    present = true;
    return 0;
}

int convert_user_dict_param(PyObject* value, const char* name, UserEntries& out) {
    out.clear();
    if (value == nullptr || value == Py_None) return 0;
    if (!(PyType_GetFlags(Py_TYPE(value)) & Py_TPFLAGS_DICT_SUBCLASS)) {
        set_type_error(value, "dict");
        add_processing_note(name);
        return -1;
    }
    Py_ssize_t size = PyDict_Size(value);
    if (size > 0) out.reserve(static_cast<std::size_t>(size));
    Py_ssize_t pos = 0;
    PyObject *key, *reading;
    while (PyDict_Next(value, &pos, &key, &reading)) {
        std::string k, v;
        if (convert_str(key, k) < 0 || convert_str(reading, v) < 0) {
            out.clear();
            add_processing_note(name);
            return -1;
        }
        out.insert_or_assign(std::move(k), std::move(v));
    }
    return 0;
}

}  // namespace merrow::py
