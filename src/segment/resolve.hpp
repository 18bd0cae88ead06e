// Reading resolution: the ranked candidates of one token, with the
// confidence and source labels, in a fixed order of lookups.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dict/dictionary_set.hpp"
#include "segment/label.hpp"
#include "segment/resolution_memo.hpp"
#include "segment/segment.hpp"
#include "user_dict/user_dict.hpp"

namespace merrow {

// A token's resolution as views into the mapped files, the user dictionary,
// the label table or its own `computed` reading, so callers copy only what
// they keep. Filled in place (its views may point into itself); valid while
// the tables and the token's text live.
struct Resolution {
    std::string_view value;  // one reading, or a candidates value when is_list
    bool is_list = false;    // value holds readings joined by '|'
    LabelText confidence;
    LabelText source;
    std::string computed;    // the character-by-character reading, when that was the answer
    // The token's own bytes in the character table that answered
    // (char_candidates or char), which live as long as the tables; else empty.
    std::string_view char_key;
};

// With a memo, a token resolved before is read from the entry it names, and
// a token resolved now is remembered there.
void resolve_token(const DictionarySet& tables, const UserDict& user_dict, const TokenRef& token, Resolution& out,
                   const ResolutionMemo* memo = nullptr);

// The candidates value that resolve_token gives a one-character token the
// user dictionary does not hold (from word_candidates.bin, or from
// char_candidates.bin when word.bin has no reading for it); nothing when the
// token resolves to one reading.
std::optional<std::string_view> one_char_candidates(const DictionarySet& tables, const TokenRef& token) noexcept;

// Splits a candidates value on '|', keeping empty pieces.
std::vector<std::string> split_candidates(std::string_view value);

}  // namespace merrow
