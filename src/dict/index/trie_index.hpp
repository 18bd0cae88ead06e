// The trie index that a CJYP file may carry after its string pool (written
// by merrow.cjyp_index): a double-array trie over dense character ids whose
// terminal states hold the table's entry index. One walk over the text finds
// every prefix that is a key, where the table itself needs a search per
// prefix.
//
// Version 2 adds the low byte of every unit's check in an array of its own:
// a transition that does not exist is told there, a few hundred kilobytes
// that stay in cache, without reading the unit it would lead to, which for
// the word table is one cache miss per failed step of a walk. Version 1
// trailers, without that array, are read as before.
//
// Opening checks the trailer's header and the bounds of its arrays against
// the bytes given, in constant time; a missing, malformed or foreign trailer
// (built for another entry count or pool size) leaves the index invalid, and
// the caller searches the table instead. Lookups never read outside those
// bytes whatever they hold: every array index is checked against its
// array's length, every transition against the check array, every entry
// index against the entry count, and a walk takes at most one step per
// character of its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace merrow {

class TrieIndex {
public:
    // The byte length of the longest matching prefix and its entry index.
    struct Match {
        std::size_t length;
        std::uint64_t entry;
    };

    // Bytes of the trailer's header: at most kHeaderSize (version 2), at
    // least kShortestHeaderSize (version 1). Opening reads the header alone.
    static constexpr std::size_t kHeaderSize = 52;
    static constexpr std::size_t kShortestHeaderSize = 44;

    // No index: valid() is false.
    TrieIndex() noexcept = default;
    // The index in `tail` (the file's bytes after the pool, which must
    // outlive it), for a table of `entry_count` entries and a pool of
    // `pool_size` bytes.
    TrieIndex(const unsigned char* tail, std::size_t length, std::uint64_t entry_count,
              std::uint64_t pool_size) noexcept;
    // The same, with the trailer's first kHeaderSize bytes read into
    // `header` beforehand (those past the trailer's end zero), so that
    // opening touches no page of the arrays.
    TrieIndex(const unsigned char (&header)[kHeaderSize], const unsigned char* tail, std::size_t length,
              std::uint64_t entry_count, std::uint64_t pool_size) noexcept;

    bool valid() const noexcept { return units_ != nullptr; }

    // The longest prefix of `text` of at most `max_chars` characters that is
    // a key, as MappedDict::longest_prefix_match finds it; nothing when no
    // prefix is, or the index is invalid.
    std::optional<Match> longest_prefix(std::string_view text, std::size_t max_chars) const noexcept;

    // Entry index of the key `key`, as MappedDict::find gives it.
    std::optional<std::uint64_t> find(std::string_view key) const noexcept { return find_from(kRoot, key); }

    // Where a walk stands after some of a key's characters, so that keys
    // sharing those are looked up from there: `walk` gives it for the
    // characters of `bytes` from `state` (nothing when no key continues so),
    // `find_from` the entry of the key made of that prefix and `rest`.
    static constexpr std::uint32_t kRoot = 0;
    std::optional<std::uint32_t> walk(std::uint32_t state, std::string_view bytes) const noexcept;
    std::optional<std::uint64_t> find_from(std::uint32_t state, std::string_view rest) const noexcept;

private:
    std::uint32_t id_of(char32_t cp) const noexcept;
    // The state reached from `state` on character `cp`, or nothing.
    std::optional<std::uint32_t> step(std::uint32_t state, char32_t cp) const noexcept;
    // The entry index that `state` holds, or nothing when it ends no key.
    std::optional<std::uint64_t> entry_at(std::uint32_t state) const noexcept;

    const unsigned char* block_index_ = nullptr;
    const unsigned char* blocks_ = nullptr;
    const unsigned char* units_ = nullptr;
    const unsigned char* check_bytes_ = nullptr;  // one per unit; nullptr in version 1
    std::uint64_t entry_count_ = 0;
    std::uint32_t block_index_count_ = 0;
    std::uint32_t block_count_ = 0;
    std::uint32_t unit_count_ = 0;
    std::uint32_t id_bytes_ = 0;
};

}  // namespace merrow
