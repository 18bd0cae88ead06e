// The key ranges that the first one and two characters of a search select,
// remembered by a caller: text repeats its characters and their pairs, and
// most searches end within two characters, so a repeated pair needs no
// binary search at all. An empty range is remembered too. One memo serves
// several tables, told apart by address, so a memo must forget() before it
// serves a table that took the place of another. Owned by the caller, so the
// dictionaries stay immutable; a slot taken by another prefix is simply
// overwritten.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace merrow {

class MappedDict;

class PrefixRanges {
public:
    // One remembered prefix; public only so that holders can store them.
    struct Slot {
        const MappedDict* table;  // nullptr = empty slot
        std::uint64_t bytes;      // the prefix's UTF-8 bytes, packed
        std::uint32_t length;     // their count
        std::uint32_t lo;
        std::uint32_t hi;
        std::uint32_t generation;  // the memo's generation when it was filled
    };

    PrefixRanges(const PrefixRanges&) = delete;
    PrefixRanges& operator=(const PrefixRanges&) = delete;

    // Forgets every prefix, without touching the slots (bar once in four
    // billion calls).
    void forget() noexcept;

protected:
    // A memo over `count` slots at `slots` (a power of two), which it marks
    // empty; the storage must outlive the memo.
    PrefixRanges(Slot* slots, std::size_t count) noexcept;
    ~PrefixRanges() = default;

private:
    friend class MappedDict;
    Slot* lookup(const MappedDict* table, std::uint64_t bytes, std::uint32_t length) noexcept;
    Slot* slots_;
    std::size_t mask_;
    std::uint32_t generation_ = 1;
};

// A memo whose slots live inside it, so that one on the stack costs no
// allocation; it uses about `slots` of them (a power of two, at most
// Capacity) and clears only those.
template <std::size_t Capacity>
class InlinePrefixRanges : private std::array<PrefixRanges::Slot, Capacity>, public PrefixRanges {
public:
    explicit InlinePrefixRanges(std::size_t slots = Capacity) noexcept : PrefixRanges(this->data(), rounded(slots)) {}

private:
    static constexpr std::size_t rounded(std::size_t slots) noexcept {
        std::size_t n = 1;
        while (n < slots && n < Capacity) n *= 2;
        return n;
    }
};

}  // namespace merrow
