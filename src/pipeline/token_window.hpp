// The token stream with the neighbours of the tokens that read them, for
// readings that depend on context: such a token is visited once the next
// one is known, every other token at once (after any token held back).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "normalizer/tokenize.hpp"
#include "segment/context_model.hpp"

namespace merrow {

// Calls visit(TokenRef, const Neighbours*) for every token of `expanded`, a
// text already normalised, in order, as for_each_run_token does: with its
// neighbours when wants(TokenRef) is true, else with nullptr. The views stay
// valid during each call only.
template <class Wants, class Visit>
void for_each_run_token_around(std::string_view expanded, const MappedDict& word, const UserDict& user_dict,
                               Wants&& wants, Visit&& visit, PrefixRanges* ranges = nullptr) {
    std::optional<TokenRef> pending;  // a token that waits for the next one
    std::string_view pending_before;
    std::string_view before;  // the token before the current one
    for_each_run_token(expanded, word, user_dict, [&](const TokenRef& t) {
        if (pending) {
            const Neighbours around{pending_before, t.text};
            visit(static_cast<const TokenRef&>(*pending), &around);
            pending.reset();
        }
        if (wants(t)) {
            pending = t;
            pending_before = before;
        } else {
            visit(t, static_cast<const Neighbours*>(nullptr));
        }
        before = t.text;
    }, ranges);
    if (pending) {
        // The run split's own memo of key ranges ended with it: the last
        // token searches through the caller's memo, or none.
        pending->ranges = ranges;
        const Neighbours around{pending_before, {}};
        visit(static_cast<const TokenRef&>(*pending), &around);
    }
}

// As for_each_run_token_around, on `text` normalised as for_each_token does.
template <class Wants, class Visit>
void for_each_token_around(bool punc_norm, const MappedDict& word, const UserDict& user_dict, std::string_view text,
                           Wants&& wants, Visit&& visit, PrefixRanges* ranges = nullptr) {
    std::string storage;
    std::string_view expanded = normalize_text(punc_norm, text, storage);
    for_each_run_token_around(expanded, word, user_dict, wants, visit, ranges);
}

}  // namespace merrow
