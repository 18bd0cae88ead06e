// The token stream with each token's neighbours, for readings that depend on
// context: every token is visited once the next one is known.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "normalizer/tokenize.hpp"
#include "segment/context_model.hpp"

namespace merrow {

// Calls visit(TokenRef, Neighbours) for every token of `expanded`, a text
// already normalised, in order, as for_each_run_token does. The views stay
// valid during each call only.
template <class Visit>
void for_each_run_token_around(std::string_view expanded, const MappedDict& word, const UserDict& user_dict,
                               Visit&& visit, PrefixRanges* ranges = nullptr) {
    std::optional<TokenRef> pending;
    std::string_view before;
    for_each_run_token(expanded, word, user_dict, [&](const TokenRef& t) {
        if (pending) {
            visit(static_cast<const TokenRef&>(*pending), Neighbours{before, t.text});
            before = pending->text;
        }
        pending = t;
    }, ranges);
    if (pending) {
        // The run split's own memo of key ranges ended with it: the last
        // token searches through the caller's memo, or none.
        pending->ranges = ranges;
        visit(static_cast<const TokenRef&>(*pending), Neighbours{before, {}});
    }
}

// As for_each_run_token_around, on `text` normalised as for_each_token does.
template <class Visit>
void for_each_token_around(bool punc_norm, const MappedDict& word, const UserDict& user_dict, std::string_view text,
                           Visit&& visit, PrefixRanges* ranges = nullptr) {
    std::string storage;
    std::string_view expanded = normalize_text(punc_norm, text, storage);
    for_each_run_token_around(expanded, word, user_dict, visit, ranges);
}

}  // namespace merrow
