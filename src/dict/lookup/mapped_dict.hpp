// One opened CJYP file: a read-only memory mapping searched in place.
//
// Layout (little-endian): "CJYP", version 1, entry_count, pool_size, then
// entry_count 12-byte entries {key_offset u32, key_length u16,
// value_offset u32, value_length u16} sorted bytewise by key, then the pool.
// Opening checks only the header; entries are validated when they are read,
// so a corrupt entry never matches and never leads outside the mapping.
#pragma once

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
    // The key range that each first character selects, remembered by a
    // caller for the length of one conversion: text repeats its characters,
    // and the first character's range is the costly part of a search over
    // the whole table. Owned by the caller, so the dictionary stays immutable.
    struct FirstCharRanges {
        struct Slot {
            std::uint32_t character = 0;  // the character's UTF-8 bytes, packed; 0 = empty slot
            std::uint32_t lo = 0;
            std::uint32_t hi = 0;
        };
        static constexpr std::size_t kSlots = 256;
        Slot slots[kSlots];
    };

    std::optional<PrefixMatch> longest_prefix_match(std::string_view text, std::size_t max_chars,
                                                    FirstCharRanges* ranges = nullptr) const noexcept;

    // get() for a key that is likely the key of entry `hint` (a table with the
    // same key set as the one the hint came from): one comparison when it is.
    std::optional<std::string_view> get_hinted(std::string_view key, std::uint64_t hint) const noexcept;

    // Index of the entry whose key is exactly `key`.
    std::optional<std::uint64_t> find(std::string_view key) const noexcept;
    // Value of entry `index` (< entry_count()), with the checks of get().
    std::optional<std::string_view> value_at(std::uint64_t index) const noexcept;

private:
    MappedDict(void* mapping, std::size_t length, std::uint64_t entry_count, std::uint64_t pool_size) noexcept;

    // Key bytes of entry i, or nothing when its range is outside the pool.
    std::optional<std::string_view> key_at(std::uint64_t i) const noexcept;
    int compare_tail(std::uint64_t i, std::size_t from, std::string_view piece) const noexcept;
    // [lo, hi) of the keys that start with `piece`; lo == hi when none.
    void first_char_range(std::string_view piece, std::uint64_t& lo, std::uint64_t& hi) const noexcept;
    std::uint64_t narrow_upper(std::uint64_t lo, std::uint64_t hi, std::size_t from,
                               std::string_view piece) const noexcept;

    void* mapping_ = nullptr;
    std::size_t length_ = 0;
    const unsigned char* entries_ = nullptr;
    const unsigned char* pool_ = nullptr;
    std::uint64_t entry_count_ = 0;
    std::uint64_t pool_size_ = 0;
};

}  // namespace merrow
