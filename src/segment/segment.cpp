#include "segment/segment.hpp"

#include "common/utf8.hpp"
#include "dict/lookup/mapped_dict.hpp"
#include "user_dict/user_dict.hpp"

namespace merrow {

bool contains_han(std::string_view token) noexcept {
    for (std::size_t pos = 0; pos < token.size();) {
        if (is_han(utf8::decode(token, pos))) return true;
    }
    return false;
}

void segment_run(std::string_view run, RunKind kind, const MappedDict& word, const UserDict& user_dict,
                 std::vector<std::string>& tokens) {
    if (run.empty() || kind == RunKind::Other) return;
    if (kind == RunKind::Latin) {
        tokens.emplace_back(run);
        return;
    }
    const bool use_user = !user_dict.empty() && user_dict.max_key_chars() > 0;
    std::string_view rest = run;
    while (!rest.empty()) {
        std::size_t length;
        auto word_match = word.longest_prefix(rest, MAX_WORD_CHARS);
        auto user_match = use_user ? user_dict.longest_match(rest) : std::nullopt;
        if (user_match) {
            length = word_match && *word_match > *user_match ? *word_match : *user_match;
        } else if (word_match) {
            length = *word_match;
        } else {
            length = utf8::char_length(rest, 0);
        }
        tokens.emplace_back(rest.substr(0, length));
        rest.remove_prefix(length);
    }
}

std::string plain_reading(std::string_view token, const MappedDict& word, const MappedDict& char_,
                          const UserDict& user_dict) {
    if (!contains_han(token)) return std::string(token);
    if (auto reading = user_dict.get(token)) return std::string(*reading);
    if (auto reading = word.get(token)) return std::string(*reading);

    std::string out;
    out.reserve(token.size() * 3);
    for (std::size_t pos = 0; pos < token.size();) {
        std::size_t start = pos;
        pos += utf8::char_length(token, pos);
        std::string_view c = token.substr(start, pos - start);
        std::optional<std::string_view> piece = user_dict.get(c);
        if (!piece) piece = word.get(c);
        if (!piece) piece = char_.get(c);
        if (!out.empty()) out.push_back(' ');
        out.append(piece ? *piece : c);
    }
    return out;
}

}  // namespace merrow
