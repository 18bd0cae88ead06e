// A token as a view into the normalised text, with what the segmenter
// already knows about it, so that reading it needs no second search.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.hpp"
#include "dict/lookup/mapped_dict.hpp"
#include "segment/label.hpp"
#include "segment/segment.hpp"
#include "user_dict/user_dict.hpp"

namespace merrow {

struct TokenRef {
    std::string_view text;
    bool han;                                 // holds at least one Han character
    std::optional<std::uint64_t> word_entry;  // its entry in word.bin; none when it is no key there
    // The conversion's memo of key ranges, for the lookups that read it.
    MappedDict::PrefixRanges* ranges = nullptr;
};

// A token seen from outside the segmenter: its facts are looked up.
inline TokenRef describe_token(std::string_view token, const MappedDict& word) {
    bool han = contains_han(token);
    return TokenRef{token, han, han ? word.find(token) : std::nullopt};
}

// Greedy forward maximum matching over one Han run: at each position the
// longer of the word.bin and user-dictionary matches, else one character.
template <class Visit>
void for_each_han_token(std::string_view run, const MappedDict& word, const UserDict& user_dict, Visit&& visit,
                        MappedDict::PrefixRanges* ranges = nullptr) {
    const bool use_user = !user_dict.empty() && user_dict.max_key_chars() > 0;
    while (!run.empty()) {
        auto word_match = word.longest_prefix_match(run, MAX_WORD_CHARS, ranges);
        std::size_t word_length = word_match ? word_match->length : 0;
        std::size_t length = word_length;
        if (use_user) {
            if (auto user_match = user_dict.longest_match(run); user_match && *user_match > length) {
                length = *user_match;
            }
        }
        if (length == 0) length = utf8::char_length(run, 0);
        std::optional<std::uint64_t> entry;
        if (word_match && length == word_length) entry = word_match->entry;
        visit(TokenRef{run.substr(0, length), true, entry, ranges});
        run.remove_prefix(length);
    }
}

// Appends the plain reading of `token` to `out`.
void append_plain_reading(std::string& out, const TokenRef& token, const MappedDict& word, const MappedDict& char_,
                          const UserDict& user_dict);

struct Pipeline;
Resolution resolve_token(const Pipeline& pipeline, const TokenRef& token);

// A resolution as views into the mapped files, the user dictionary, static
// labels or its own `computed` reading, for callers that copy only what they
// keep. Filled in place (its views may point into itself); valid while the
// pipeline and the token's text live.
struct ResolvedView {
    std::string_view value;       // one reading, or a candidates value when is_list
    bool is_list = false;         // value holds readings joined by '|'
    LabelText confidence;
    LabelText source;
    std::string computed;         // the character-by-character reading, when that was the answer

    std::string_view first_candidate() const noexcept;
    std::vector<std::string> candidates() const;
};

void resolve_view(const Pipeline& pipeline, const TokenRef& token, ResolvedView& out);

}  // namespace merrow
