#include "shared_strs.hpp"

#include <cstdint>
#include <cstring>

namespace merrow::py {

std::size_t SharedStrs::hash(const char* data, std::size_t size) noexcept {
    std::uint64_t h = reinterpret_cast<std::uintptr_t>(data) * 0x9E3779B97F4A7C15ull;
    h ^= size * 0xC2B2AE3D27D4EB4Full;
    return static_cast<std::size_t>(h ^ (h >> 29));
}

PyObject* SharedStrs::get(std::string_view value) {
    if (slots_ != nullptr) {
        for (std::size_t i = hash(value.data(), value.size()) & mask_;; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (s.str == nullptr) break;
            if (s.data == value.data() && s.size == value.size()) {
                Py_IncRef(s.str);
                return s.str;
            }
        }
    }
    // At most half full, so probes stay short and a free slot always exists.
    if ((used_ + 1) * 2 > mask_ + 1 && !grow()) return nullptr;
    PyObject* str = PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
    if (str == nullptr) return nullptr;
    std::size_t i = hash(value.data(), value.size()) & mask_;
    while (slots_[i].str != nullptr) i = (i + 1) & mask_;
    slots_[i] = Slot{value.data(), value.size(), str};
    ++used_;
    Py_IncRef(str);
    return str;
}

bool SharedStrs::grow() {
    std::size_t capacity = slots_ == nullptr ? 256 : (mask_ + 1) * 2;
    auto* fresh = static_cast<Slot*>(PyMem_Malloc(capacity * sizeof(Slot)));
    if (fresh == nullptr) {
        PyErr_NoMemory();
        return false;
    }
    std::memset(static_cast<void*>(fresh), 0, capacity * sizeof(Slot));
    for (std::size_t j = 0; slots_ != nullptr && j <= mask_; ++j) {
        if (slots_[j].str == nullptr) continue;
        std::size_t i = hash(slots_[j].data, slots_[j].size) & (capacity - 1);
        while (fresh[i].str != nullptr) i = (i + 1) & (capacity - 1);
        fresh[i] = slots_[j];
    }
    PyMem_Free(slots_);
    slots_ = fresh;
    mask_ = capacity - 1;
    return true;
}

void SharedStrs::clear() noexcept {
    if (slots_ == nullptr) return;
    Slot* slots = slots_;
    std::size_t capacity = mask_ + 1;
    slots_ = nullptr;
    mask_ = used_ = 0;
    for (std::size_t i = 0; i < capacity; ++i) Py_XDECREF(slots[i].str);
    PyMem_Free(slots);
}

}  // namespace merrow::py
