#include "segment/segment.hpp"

#include "segment/token_ref.hpp"

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
    for_each_han_token(run, word, user_dict, [&](const TokenRef& t) { tokens.emplace_back(t.text); });
}

void append_plain_reading(std::string& out, const TokenRef& token, const MappedDict& word, const MappedDict& char_,
                          const UserDict& user_dict) {
    if (!token.han) {
        out.append(token.text);
        return;
    }
    const bool use_user = !user_dict.empty();
    if (use_user) {
        if (auto reading = user_dict.get(token.text)) {
            out.append(*reading);
            return;
        }
    }
    if (token.word_entry) {
        if (auto reading = word.value_at(*token.word_entry)) {
            out.append(*reading);
            return;
        }
    }
    // Character by character. For a one-character token the user and word
    // lookups of its only character were just made above.
    const bool single = utf8::char_length(token.text, 0) == token.text.size();
    bool empty = true;
    for (std::size_t pos = 0; pos < token.text.size();) {
        std::size_t start = pos;
        pos += utf8::char_length(token.text, pos);
        std::string_view c = token.text.substr(start, pos - start);
        std::optional<std::string_view> piece;
        if (!single) {
            if (use_user) piece = user_dict.get(c);
            if (!piece) piece = word.get(c, token.ranges);
        }
        if (!piece) piece = char_.get(c, token.ranges);
        if (!empty) out.push_back(' ');
        std::size_t before = out.size();
        out.append(piece ? *piece : c);
        empty = empty && out.size() == before;
    }
}

std::string plain_reading(std::string_view token, const MappedDict& word, const MappedDict& char_,
                          const UserDict& user_dict) {
    std::string out;
    append_plain_reading(out, describe_token(token, word), word, char_, user_dict);
    return out;
}

}  // namespace merrow
