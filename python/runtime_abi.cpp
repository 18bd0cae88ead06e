#include "runtime_abi.hpp"

#include <dlfcn.h>

#include <cstdlib>

namespace merrow::py {
namespace {

// (major, minor) of the running interpreter, from its version text "3.11.7 (main, ...".
bool at_least(int major, int minor) {
    const char* text = Py_GetVersion();
    char* end = nullptr;
    long have_major = std::strtol(text, &end, 10);
    long have_minor = *end == '.' ? std::strtol(end + 1, nullptr, 10) : 0;
    return have_major > major || (have_major == major && have_minor >= minor);
}

}  // namespace

bool vector_calls() { return at_least(3, 10); }

Utf8Reader cached_utf8_reader() {
    static const Utf8Reader reader =
        at_least(3, 10) ? reinterpret_cast<Utf8Reader>(dlsym(RTLD_DEFAULT, "PyUnicode_AsUTF8AndSize")) : nullptr;
    return reader;
}

const CollectorSwitch* collector_switch() {
    static const CollectorSwitch* const found = []() -> const CollectorSwitch* {
        if (!at_least(3, 10)) return nullptr;
        using Call = int (*)();
        static CollectorSwitch calls{reinterpret_cast<Call>(dlsym(RTLD_DEFAULT, "PyGC_Enable")),
                                     reinterpret_cast<Call>(dlsym(RTLD_DEFAULT, "PyGC_Disable")),
                                     reinterpret_cast<Call>(dlsym(RTLD_DEFAULT, "PyGC_IsEnabled"))};
        if (calls.enable == nullptr || calls.disable == nullptr || calls.is_enabled == nullptr) return nullptr;
        return &calls;
    }();
    return found;
}

}  // namespace merrow::py
