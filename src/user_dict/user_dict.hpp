// The caller's own word -> reading map, consulted before the shipped data.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace merrow {

// Hash that accepts string views, so lookups need no temporary string.
struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

using UserEntries = std::unordered_map<std::string, std::string, StringHash, std::equal_to<>>;

class UserDict {
public:
    UserDict() = default;
    static UserDict build(UserEntries entries);

    std::optional<std::string_view> get(std::string_view text) const;
    // Byte length of the longest prefix of `text` (at most the word limit
    // of characters) that is a key.
    std::optional<std::size_t> longest_match(std::string_view text) const;

    // Whether `reading` is the very reading stored for `text` (not a copy).
    bool holds(std::string_view text, std::string_view reading) const {
        auto found = entries_.empty() ? std::nullopt : get(text);
        return found && found->data() == reading.data() && found->size() == reading.size();
    }

    bool empty() const noexcept { return entries_.empty(); }
    std::size_t max_key_chars() const noexcept { return max_key_chars_; }

private:
    UserEntries entries_;
    std::size_t max_key_chars_ = 0;
};

}  // namespace merrow
