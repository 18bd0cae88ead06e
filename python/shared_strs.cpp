#include "shared_strs.hpp"

#include <cstdint>
#include <cstring>

namespace merrow::py {

Py_ssize_t reading_count(std::string_view value) noexcept {
    Py_ssize_t n = 1;
    for (char c : value) n += c == '|';
    return n;
}

std::size_t SharedStrs::hash(const char* data, std::size_t size, Kind kind) noexcept {
    std::uint64_t h = reinterpret_cast<std::uintptr_t>(data) * 0x9E3779B97F4A7C15ull;
    h ^= (size * 2 + static_cast<std::uint64_t>(kind)) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<std::size_t>(h ^ (h >> 29));
}

SharedStrs::Slot* SharedStrs::find(std::string_view value, Kind kind) {
    // At most half full, so probes stay short and a free slot always exists.
    if ((used_ + 1) * 2 > mask_ + 1 && !grow()) return nullptr;
    for (std::size_t i = hash(value.data(), value.size(), kind) & mask_;; i = (i + 1) & mask_) {
        Slot& s = slots_[i];
        if (s.object == nullptr || (s.data == value.data() && s.size == value.size() && s.kind == kind)) return &s;
    }
}

PyObject* SharedStrs::get(std::string_view value) {
    if (value.size() > UINT32_MAX) return PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
    Slot* slot = find(value, Kind::str);
    if (slot == nullptr) return nullptr;
    if (slot->object == nullptr) {
        PyObject* str = PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
        if (str == nullptr) return nullptr;
        *slot = Slot{value.data(), static_cast<std::uint32_t>(value.size()), Kind::str, str};
        ++used_;
    }
    Py_INCREF(slot->object);
    return slot->object;
}

PyObject* SharedStrs::get_readings(std::string_view value) {
    if (value.size() > UINT32_MAX) return make_readings(value);
    Slot* slot = find(value, Kind::readings);
    if (slot == nullptr) return nullptr;
    if (slot->object == nullptr) {
        // Made before the slot is filled: making it adds the readings' strs,
        // which may grow the table and move the slot.
        PyObject* readings = make_readings(value);
        if (readings == nullptr) return nullptr;
        slot = find(value, Kind::readings);
        if (slot == nullptr) {
            Py_DECREF(readings);
            return nullptr;
        }
        *slot = Slot{value.data(), static_cast<std::uint32_t>(value.size()), Kind::readings, readings};
        ++used_;
    }
    Py_INCREF(slot->object);
    return slot->object;
}

PyObject* SharedStrs::make_readings(std::string_view value) {
    PyObject* tuple = PyTuple_New(reading_count(value));
    if (tuple == nullptr) return nullptr;
    // Strs only: it can be in no cycle, and the collector need not see it.
    PyObject_GC_UnTrack(tuple);
    Py_ssize_t i = 0;
    const bool made = for_each_reading(value, [&](std::string_view reading) {
        PyObject* str = get(reading);
        if (str != nullptr) PyTuple_SetItem(tuple, i++, str);
        return str != nullptr;
    });
    if (!made) Py_CLEAR(tuple);
    return tuple;
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
        if (slots_[j].object == nullptr) continue;
        std::size_t i = hash(slots_[j].data, slots_[j].size, slots_[j].kind) & (capacity - 1);
        while (fresh[i].object != nullptr) i = (i + 1) & (capacity - 1);
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
    for (std::size_t i = 0; i < capacity; ++i) Py_XDECREF(slots[i].object);
    PyMem_Free(slots);
}

}  // namespace merrow::py
