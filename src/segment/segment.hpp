// Segmentation of runs into tokens, and the reading of a token.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace merrow {

class MappedDict;
class UserDict;
struct Pipeline;

// Longest word, in characters, that the segmenter matches in either dictionary.
inline constexpr std::size_t MAX_WORD_CHARS = 10;

enum class RunKind { Han, Latin, Other };

constexpr bool is_han(char32_t c) noexcept {
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x20000 && c <= 0x2A6DF) ||
           (c >= 0xF900 && c <= 0xFAFF);
}

bool contains_han(std::string_view token) noexcept;

// Appends the tokens of one run: greedy forward maximum matching for Han
// runs, the whole run for Latin runs, nothing for Other or empty runs.
void segment_run(std::string_view run, RunKind kind, const MappedDict& word, const UserDict& user_dict,
                 std::vector<std::string>& tokens);

// The reading the plain conversion prints for one token.
std::string plain_reading(std::string_view token, const MappedDict& word, const MappedDict& char_,
                          const UserDict& user_dict);

struct Resolution {
    std::vector<std::string> candidates;  // never empty
    std::string confidence;
    std::string source;
};

// Splits a candidates value on '|', keeping empty pieces.
std::vector<std::string> split_candidates(std::string_view value);

Resolution resolve_token(const Pipeline& pipeline, std::string_view token);

}  // namespace merrow
