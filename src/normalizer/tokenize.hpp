// Text -> token list: punctuation pass (when enabled), number pass, run split.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace merrow {

struct Pipeline;

std::vector<std::string> tokenize(const Pipeline& pipeline, std::string_view text);

// Stage 3: cuts the expanded text into runs, drops whitespace, and appends
// the tokens of every run (and every other character) to `tokens`.
void split_runs(std::string_view expanded, const Pipeline& pipeline, std::vector<std::string>& tokens);

// Unicode White_Space.
constexpr bool is_white_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

}  // namespace merrow
