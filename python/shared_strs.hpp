// The str objects of one pipeline's dictionary values, made once and shared
// by every result: a value is a view into memory that lives as long as the
// pipeline, so its address and length name it, and str is immutable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "limited_api.hpp"

namespace merrow::py {

// The readings of a list value (readings joined by '|'): their number, and
// each in turn to visit(std::string_view), which returns false to stop;
// false when it did.
Py_ssize_t reading_count(std::string_view value) noexcept;
template <class Visit>
bool for_each_reading(std::string_view value, Visit&& visit) {
    for (;;) {
        const std::size_t bar = value.find('|');
        if (!visit(value.substr(0, bar))) return false;
        if (bar == std::string_view::npos) return true;
        value.remove_prefix(bar + 1);
    }
}

// An open-addressing table from (address, length) to a str. Used only with
// the interpreter lock held. Its storage comes from PyMem_Malloc, so that
// tracemalloc accounts for it along with the strs. It grows with the distinct
// values and keys converted, so it is bounded by the tables' values (and
// their '|'-separated pieces, and a tuple per list value), the keys of
// word.bin and of the character tables, and the user dictionary's readings.
class SharedStrs {
public:
    SharedStrs() = default;
    SharedStrs(const SharedStrs&) = delete;
    SharedStrs& operator=(const SharedStrs&) = delete;
    ~SharedStrs() { clear(); }

    // A new reference to the str of `value`, which must stay valid and
    // unchanged for as long as this table; made on first use. nullptr with
    // the interpreter's error set when it cannot be made.
    PyObject* get(std::string_view value);

    // A new reference to a tuple of the strs of the '|'-separated readings
    // of `value` (each the str get() gives for that reading), under the same
    // terms: a list value met again is one lookup, not one per reading.
    PyObject* get_readings(std::string_view value);

    // Releases every str and the storage.
    void clear() noexcept;

    std::size_t size() const noexcept { return used_; }

private:
    // What a slot holds for its bytes: their str, or the tuple of the strs
    // of their readings.
    enum class Kind : std::uint32_t { str, readings };
    struct Slot {
        const char* data;
        std::uint32_t size;
        Kind kind;
        PyObject* object;  // nullptr: the slot is free
    };
    static std::size_t hash(const char* data, std::size_t size, Kind kind) noexcept;
    // The slot of (value, kind): the one holding it, or the free one where
    // it belongs; nullptr with the error set when the table cannot grow.
    Slot* find(std::string_view value, Kind kind);
    PyObject* make_readings(std::string_view value);
    bool grow();

    Slot* slots_ = nullptr;
    std::size_t mask_ = 0;  // capacity - 1; the capacity is a power of two
    std::size_t used_ = 0;
};

}  // namespace merrow::py
