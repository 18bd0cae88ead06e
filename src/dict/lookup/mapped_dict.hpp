// One opened CJYP file (dict/format/header.hpp): a read-only memory mapping
// searched in place. Opening checks only the header; entries are validated
// when they are read, so a corrupt entry never matches and never leads
// outside the mapping. When the file carries a trie index after its pool
// (dict/index/trie_index.hpp), searches walk it instead of bisecting the
// entries, and every entry it names is checked against the text searched
// for: an index that does not name the right key is not trusted for that
// search, which then bisects as without one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "dict/index/trie_index.hpp"
#include "dict/lookup/prefix_ranges.hpp"

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
    // With a memo, the range of the key's first character is taken from there.
    std::optional<std::string_view> get(std::string_view key, PrefixRanges* ranges = nullptr) const noexcept;

    // The longest prefix of `text`, at most `max_chars` characters long, that
    // is a key: its byte length and its entry, so that a caller can read the
    // entry's value without searching for it again. The first two
    // characters' key ranges go through the caller's memo, if any.
    struct PrefixMatch {
        std::size_t length;
        std::uint64_t entry;
    };
    std::optional<PrefixMatch> longest_prefix(std::string_view text, std::size_t max_chars,
                                              PrefixRanges* ranges = nullptr) const noexcept;
    // get() for a key that is likely the key of entry `hint` (a table with the
    // same key set as the one the hint came from): one comparison when it is.
    std::optional<std::string_view> get_hinted(std::string_view key, std::uint64_t hint,
                                               PrefixRanges* ranges = nullptr) const noexcept;

    std::uint64_t entry_count() const noexcept { return entry_count_; }

    // Whether searches use the file's trie index (they then ignore memos).
    bool indexed() const noexcept { return index_.valid(); }

    // Index of the entry whose key is exactly `key`; memo as for get().
    std::optional<std::uint64_t> find(std::string_view key, PrefixRanges* ranges = nullptr) const noexcept;
    // With the trie index, many keys that share their first characters are
    // looked up from where the walk stands after those: index_state() gives
    // that place for `prefix` (nothing without an index, or when no key
    // starts with it), find_after() the entry of `key`, whose first
    // `prefix_bytes` bytes are that prefix, as find() gives it.
    std::optional<std::uint32_t> index_state(std::string_view prefix) const noexcept {
        return index_.walk(TrieIndex::kRoot, prefix);
    }
    std::optional<std::uint64_t> find_after(std::uint32_t state, std::string_view key,
                                            std::size_t prefix_bytes) const noexcept;
    // Value of entry `index` (an index find() or longest_prefix() returned),
    // with the checks of get().
    std::optional<std::string_view> value_at(std::uint64_t index) const noexcept;

    // Key bytes of entry `index` (an index find() or longest_prefix()
    // returned, so the bytes searched for), in place; nothing when the
    // entry's range is outside the pool.
    std::optional<std::string_view> key_of(std::uint64_t index) const noexcept;

    // Whether `text` lies within this mapping, and so keeps its address and
    // bytes for as long as this object.
    bool holds(std::string_view text) const noexcept {
        auto begin = reinterpret_cast<std::uintptr_t>(mapping_), at = reinterpret_cast<std::uintptr_t>(text.data());
        return at >= begin && at - begin <= length_ && text.size() <= length_ - (at - begin);
    }

private:
    MappedDict(void* mapping, std::size_t length, std::uint64_t entry_count, std::uint64_t pool_size,
               TrieIndex index) noexcept;

    // Key bytes of entry i, or nothing when its range is outside the pool.
    std::optional<std::string_view> key_at(std::uint64_t i) const noexcept;
    // Whether entry i's key is exactly `bytes`, compared in place.
    bool key_is(std::uint64_t i, std::string_view bytes) const noexcept;
    // longest_prefix() by bisecting the entries.
    std::optional<PrefixMatch> search_prefix(std::string_view text, std::size_t max_chars,
                                             PrefixRanges* ranges) const noexcept;
    // find() by bisecting the entries.
    std::optional<std::uint64_t> search(std::string_view key, PrefixRanges* ranges) const noexcept;
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
    // find() without a memo.
    std::optional<std::uint64_t> bisect(std::string_view key) const noexcept;

    void* mapping_ = nullptr;
    std::size_t length_ = 0;
    const unsigned char* entries_ = nullptr;
    const unsigned char* pool_ = nullptr;
    std::uint64_t entry_count_ = 0;
    std::uint64_t pool_size_ = 0;
    TrieIndex index_;  // views into the mapping; invalid when the file has none
};

}  // namespace merrow
