#include "segment/plain_reading.hpp"

namespace merrow {

void plain_reading(std::string& out, const TokenRef& token, const MappedDict& word, const MappedDict& character,
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
        if (!piece) piece = character.get(c, token.ranges);
        if (!empty) out.push_back(' ');
        std::size_t before = out.size();
        out.append(piece ? *piece : c);
        empty = empty && out.size() == before;
    }
}

}  // namespace merrow
