#include "user_dict/user_dict.hpp"

#include <algorithm>

#include "text/utf8.hpp"
#include "contracts.hpp"

namespace merrow {

UserDict UserDict::build(UserEntries entries) {
    UserDict dict;
    for (const auto& [key, value] : entries) {
        dict.max_key_chars_ = std::max(dict.max_key_chars_, utf8::count_chars(key));
    }
    dict.entries_ = std::move(entries);
    return dict;
}

std::optional<std::string_view> UserDict::get(std::string_view text) const {
    auto it = entries_.find(text);
    if (it == entries_.end()) return std::nullopt;
    return std::string_view(it->second);
}

std::optional<std::size_t> UserDict::longest_match(std::string_view text) const {
    if (entries_.empty() || max_key_chars_ == 0) return std::nullopt;
    std::size_t limit = std::min<std::size_t>(max_key_chars_, contracts::kMaxWordChars);
    std::size_t ends[contracts::kMaxWordChars];
    std::size_t count = 0, pos = 0;
    while (count < limit && pos < text.size()) {
        pos += utf8::char_length(text, pos);
        ends[count++] = pos;
    }
    while (count > 0) {
        std::size_t end = ends[--count];
        if (entries_.find(text.substr(0, end)) != entries_.end()) return end;
    }
    return std::nullopt;
}

}  // namespace merrow
