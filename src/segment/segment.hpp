// The segmenter: greedy forward maximum matching of a Han run against
// word.bin and the user dictionary. Tokens are views into the run that
// carry what the search found, so reading them needs no second search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "contracts.hpp"
#include "dict/lookup/mapped_dict.hpp"
#include "text/utf8.hpp"
#include "user_dict/user_dict.hpp"

namespace merrow {

// Longest word, in characters, that the segmenter matches in either dictionary.
inline constexpr std::size_t MAX_WORD_CHARS = contracts::kMaxWordChars;

struct TokenRef {
    std::string_view text;
    bool han;                                 // holds at least one Han character
    std::optional<std::uint64_t> word_entry;  // its entry in word.bin; none when it is no key there
    // The conversion's memo of key ranges, for the lookups that read it.
    PrefixRanges* ranges = nullptr;
};

// Calls visit(TokenRef) for every token of one Han run: at each position the
// longer of the word.bin and user-dictionary matches, else one character.
template <class Visit>
void segment_run(std::string_view run, const MappedDict& word, const UserDict& user_dict, Visit&& visit,
                 PrefixRanges* ranges = nullptr) {
    const bool use_user = !user_dict.empty() && user_dict.max_key_chars() > 0;
    while (!run.empty()) {
        auto word_match = word.longest_prefix(run, MAX_WORD_CHARS, ranges);
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

}  // namespace merrow
