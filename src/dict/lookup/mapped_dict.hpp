// One opened CJYP file: a read-only memory mapping searched in place.
//
// Layout (little-endian): "CJYP", version 1, entry_count, pool_size, then
// entry_count 12-byte entries {key_offset u32, key_length u16,
// value_offset u32, value_length u16} sorted bytewise by key, then the pool.
// Opening checks only the header; entries are validated when they are read,
// so a corrupt entry never matches and never leads outside the mapping.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.hpp"

namespace merrow {

class MappedDict {
public:
    static Result<MappedDict> open(const std::string& path);

    MappedDict(MappedDict&& other) noexcept;
    MappedDict& operator=(MappedDict&& other) noexcept;
    MappedDict(const MappedDict&) = delete;
    MappedDict& operator=(const MappedDict&) = delete;
    ~MappedDict();

    // Value of the entry whose key is exactly `key`; nothing when there is
    // none, or when that entry's value lies outside the pool or is not UTF-8.
    std::optional<std::string_view> get(std::string_view key) const noexcept;

    // Byte length of the longest prefix of `text`, at most `max_chars`
    // characters long, that is a key of the table.
    std::optional<std::size_t> longest_prefix(std::string_view text, std::size_t max_chars) const noexcept;

    std::uint64_t entry_count() const noexcept { return entry_count_; }

    // The longest-prefix match together with the entry it found, so that a
    // caller can read the entry's value without searching for it again.
    struct PrefixMatch {
        std::size_t length;
        std::uint64_t entry;
    };
    // The key ranges that the first one and two characters of a search
    // select, remembered by a caller: text repeats its characters and their
    // pairs, and most searches end within two characters, so a repeated pair
    // needs no binary search at all. An empty range is remembered too. One
    // memo serves several tables, told apart by address, so a memo must
    // forget() before it serves a table that took the place of another.
    // Owned by the caller, so the dictionaries stay immutable; a slot taken
    // by another prefix is simply overwritten.
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

        // Forgets every prefix, without touching the slots (bar once in
        // four billion calls).
        void forget() noexcept;

    protected:
        // A memo over `count` slots at `slots` (a power of two), which it
        // marks empty; the storage must outlive the memo.
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
        explicit InlinePrefixRanges(std::size_t slots = Capacity) noexcept
            : PrefixRanges(this->data(), rounded(slots)) {}

    private:
        static constexpr std::size_t rounded(std::size_t slots) noexcept {
            std::size_t n = 1;
            while (n < slots && n < Capacity) n *= 2;
            return n;
        }
    };

    std::optional<PrefixMatch> longest_prefix_match(std::string_view text, std::size_t max_chars,
                                                    PrefixRanges* ranges = nullptr) const noexcept;

    // get() for a key that is likely the key of entry `hint` (a table with the
    // same key set as the one the hint came from): one comparison when it is.
    std::optional<std::string_view> get_hinted(std::string_view key, std::uint64_t hint,
                                               PrefixRanges* ranges = nullptr) const noexcept;

    // Index of the entry whose key is exactly `key`; with a memo, the range
    // of its first character is taken from there.
    std::optional<std::uint64_t> find(std::string_view key) const noexcept;
    std::optional<std::uint64_t> find(std::string_view key, PrefixRanges* ranges) const noexcept;
    std::optional<std::string_view> get(std::string_view key, PrefixRanges* ranges) const noexcept;
    // Value of entry `index` (< entry_count()), with the checks of get().
    std::optional<std::string_view> value_at(std::uint64_t index) const noexcept;

private:
    MappedDict(void* mapping, std::size_t length, std::uint64_t entry_count, std::uint64_t pool_size) noexcept;

    // Key bytes of entry i, or nothing when its range is outside the pool.
    std::optional<std::string_view> key_at(std::uint64_t i) const noexcept;
    // One character of the text (1 to 4 bytes), packed for comparison.
    struct Piece {
        std::uint32_t packed;
        std::uint32_t size;
        // The character of `text` at byte `pos`.
        static Piece at(std::string_view text, std::size_t pos) noexcept;
    };
    int compare_tail(std::uint64_t i, std::size_t from, Piece piece) const noexcept;
    // Narrows [lo, hi), whose keys share their first `from` bytes with the
    // text, to the keys that continue with `piece`; lo == hi when none.
    void narrow(std::uint64_t& lo, std::uint64_t& hi, std::size_t from, Piece piece) const noexcept;
    // narrow() through the caller's memo. `prefix` holds the `from` bytes
    // matched so far, packed; the piece's bytes are added to it.
    void narrow_memoised(std::uint64_t& lo, std::uint64_t& hi, std::size_t from, Piece piece, std::uint64_t& prefix,
                         PrefixRanges* ranges) const noexcept;

    void* mapping_ = nullptr;
    std::size_t length_ = 0;
    const unsigned char* entries_ = nullptr;
    const unsigned char* pool_ = nullptr;
    std::uint64_t entry_count_ = 0;
    std::uint64_t pool_size_ = 0;
};

}  // namespace merrow
