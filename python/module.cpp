// Module _merrow: multi-phase initialisation with one exec slot that adds
// PyPipeline to the module and to its __all__.
#include "arg_binding.hpp"
#include "limited_api.hpp"
#include "py_pipeline.hpp"

namespace merrow::py {
namespace {

int module_exec(PyObject* module) {
    if (!PyObject_TypeCheck(module, &PyModule_Type)) {
        PyErr_SetString(PyExc_TypeError, "_merrow can only initialise a module object");
        return -1;
    }
    PyObject* type = pipeline_type();
    if (type == nullptr) return -1;

    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr) return -1;
        if (PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_DecRef(all);
            return -1;
        }
    } else if (!(PyType_GetFlags(Py_TYPE(all)) & Py_TPFLAGS_LIST_SUBCLASS)) {
        set_type_error(all, "list");
        Py_DecRef(all);
        return -1;
    }
    PyObject* name = PyUnicode_FromString("PyPipeline");
    int status = name == nullptr ? -1 : PyList_Append(all, name);
    Py_XDECREF(name);
    Py_DecRef(all);
    if (status < 0) return -1;
    return PyObject_SetAttrString(module, "PyPipeline", type);
}

PyModuleDef_Slot kModuleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "_merrow", "", 0, nullptr, kModuleSlots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace merrow::py

PyMODINIT_FUNC PyInit__merrow(void) { return PyModuleDef_Init(&merrow::py::kModule); }
